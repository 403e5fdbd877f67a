#!/usr/bin/env bash
# Installs the Debian 12 packages the console needs to build, run and be tested, when missing.
set -euo pipefail

packages=(
  cmake make g++ pkgconf            # the build
  qt6-base-dev                      # Qt 6 Widgets, Network and Test
  libgl-dev                         # the OpenGL headers Qt's CMake files look for
  fonts-dejavu-core fonts-liberation # the nearest faces to the window's Tahoma and Arial (Narrow)
  iproute2                          # network namespaces: the test network and the demo
  xvfb xauth x11-utils xdotool trayer imagemagick # a headless desktop with a real tray for GUI tests
  procps                            # ps/pgrep-free process checks in the scripts
  qt6-svg-dev                       # build only: the scalable application icon (packaging/); the console does not link it
  dpkg-dev                          # the Debian package: dpkg-shlibdeps computes its Depends from the binary
  desktop-file-utils appstream      # check-package.sh: desktop-file-validate and appstreamcli validate
  man-db file                       # check-package.sh: the manual page renders without warnings; the icons' sizes
  lintian                           # check-package.sh: Debian's checks on the package
  weston qt6-wayland                # the Wayland test: a compositor (nested in Xvfb) and Qt's Wayland platform plugin
  libcurl4-openssl-dev              # e-mail alarms: SMTP with STARTTLS or SMTPS through libcurl
  libsnmp-dev                       # SNMP trap and INFORM alarms through net-snmp's library
  libsystemd-dev                    # the watch service: the notify protocol and the journal
  qt6-httpserver-dev                # the metrics endpoint for Prometheus
  qt6-websockets-dev                # Qt HTTP Server's CMake package asks for it (Debian 12 does not pull it in)
  libqt6sql6-sqlite                 # the history of round trips and audio (SQLite through Qt SQL)
  qt6-charts-dev libqt6opengl6-dev  # the history drawn in the Network status window (Qt Charts' CMake files need Qt OpenGL's)
  python3-aiosmtpd snmptrapd        # tests: a real SMTP server and a real trap receiver on the test network
  openssl                           # tests: the receivers' self-signed certificates (STARTTLS, HTTPS)
  smitools                          # CI: the MIB passes smilint
  prometheus                        # tests: promtool checks the metrics' exposition format
)
if [[ "${NMS_EXTRA_PACKAGES:-}" != "" ]]; then
  read -r -a extra <<<"$NMS_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
