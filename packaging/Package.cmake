# The Debian package of the console, built by `cmake --build BUILD --target package`. Only the
# component "console" is packed: the simulator and the test-network scripts (component
# "devtools") are developer tools and stay out of it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbilane-nms)
set(CPACK_PACKAGE_VENDOR Kestrion)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrion Support <support@kestrion.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network management console for an MPX-over-IP STL")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL console)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Files and folders get the modes Debian expects whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME orbilane-nms)
set(CPACK_DEBIAN_CONSOLE_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.kestrion.example/orbilane-nms/)
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop console for the engineer who runs an MPX-over-IP
studio-to-transmitter link. With one UDP broadcast it finds the link's Network
Elements (encoders and decoders) and keeps what they report in a local
database. It pings them, edits and sends their network and audio
configuration, sets a decoder's output attenuation and shows an encoder's live
audio level.")
# The libraries come from the binary (dpkg-shlibdeps); setcap for the postinst comes first,
# as a Depends so that dpkg configures it before this package. Qt SQL's SQLite driver is a
# plugin, loaded at run time, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "libcap2-bin, libqt6sql6-sqlite")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
cpack_add_component(console DISPLAY_NAME "Orbilane NMS console" REQUIRED)
cpack_add_component(devtools DISPLAY_NAME "Element simulator and test network" DISABLED)
