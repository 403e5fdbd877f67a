#!/usr/bin/env bash
# Checks what an installation of the console gives a desktop and Debian: installs the build into
# a staging folder and runs the validators on it, then builds the Debian package and runs lintian.
# Needs no display. Fails on any validator error, on a missing file, on the simulator or the
# test-network scripts in the console's installation, and on a lintian error.
#
#   scripts/check-package.sh [BUILD_DIR]      (default: $NMS_BUILD_DIR, else ./build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${NMS_BUILD_DIR:-$here/build}}" && pwd)
"$here/scripts/install-deps.sh"

id=example.kestrion.orbilane_nms
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

cmake --build "$build" -j"$(nproc)" --target orbilane-nms orbilanectl orbilane-watch packaging-files >/dev/null
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null

# The console's files, and nothing of the developer tools.
icons=()
for size in 16 22 24 32 48 64 128 256; do
  icons+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in bin/orbilane-nms bin/orbilanectl share/man/man1/orbilanectl.1.gz \
  share/bash-completion/completions/orbilanectl "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
  "share/icons/hicolor/scalable/apps/$id.svg" "${icons[@]}" share/man/man1/orbilane-nms.1.gz \
  share/doc/orbilane-nms/copyright share/doc/orbilane-nms/changelog.gz sbin/orbilane-watch \
  share/man/man8/orbilane-watch.8.gz lib/systemd/system/orbilane-watch.service lib/sysusers.d/orbilane-watch.conf \
  share/orbilane-nms/orbilane-nms.conf share/orbilane-nms/grafana-dashboard.json \
  share/orbilane-nms/prometheus-alerts.yml share/orbilane-nms/prometheus-scrape.yml \
  share/snmp/mibs/ORBILANE-NMS-MIB.txt; do
  [[ -s "$stage/$file" ]] || fail "the installation lacks $file"
done
unwanted=$(find "$stage" -name 'orbilane-element-sim*' -o -name 'testnet-*')
[[ -z "$unwanted" ]] || fail "developer tools in the console's installation: ${unwanted//$stage\//}"

# The MIB as installed passes smilint.
if [[ -s "$stage/share/snmp/mibs/ORBILANE-NMS-MIB.txt" ]]; then
  "$here/scripts/check-mib.sh" "$stage/share/snmp/mibs/ORBILANE-NMS-MIB.txt" || fail "ORBILANE-NMS-MIB does not pass smilint"
fi

# Each PNG is drawn at its folder's size, and the scalable one is an SVG.
for icon in "${icons[@]}"; do
  size=${icon#share/icons/hicolor/}
  size=${size%%x*}
  file -b "$stage/$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon: $(file -b "$stage/$icon")"
done
file -b "$stage/share/icons/hicolor/scalable/apps/$id.svg" | grep -q '^SVG' || fail "the scalable icon is no SVG"

# The desktop entry: valid, and naming the program, its icon and the window class Qt gives it.
desktop=$stage/share/applications/$id.desktop
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [[ -n "$out" ]]; then
  fail "desktop-file-validate: $out"
fi
for line in Exec=orbilane-nms "Icon=$id" StartupWMClass=orbilane-nms; do
  grep -qx "$line" "$desktop" || fail "the desktop entry lacks $line"
done

# The metainfo: no error or warning (its one info, an unknown top-level domain, is the
# stand-in domain's), launching the desktop entry, and the newest release is this version.
metainfo=$stage/share/metainfo/$id.metainfo.xml
if ! out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
  fail "appstreamcli validate: $out"
fi
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  || fail "the metainfo does not launch $id.desktop"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[[ "$newest" == "$version" ]] || fail "the metainfo's newest release is $newest, the project's version $version"

# The manual pages render without a warning.
for page in man1/orbilane-nms.1 man1/orbilanectl.1 man8/orbilane-watch.8; do
  if ! out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 \
    "$stage/share/man/$page.gz" 2>&1 >/dev/null) || [[ -n "$out" ]]; then
    fail "the manual page $page: $out"
  fi
done

# The watch service's unit: systemd-analyze verify passes on it (with ExecStart pointed at the
# staged program, which verify wants to exist, and its manual page found in the staging), and
# its exposure stays under 2.0. The alert rules and the scrape job pass promtool; the dashboard
# is JSON.
unit=$work/orbilane-watch.service
sed "s|/usr/sbin/orbilane-watch|$stage/sbin/orbilane-watch|" "$stage/lib/systemd/system/orbilane-watch.service" >"$unit"
if ! out=$(MANPATH="$stage/share/man" systemd-analyze verify "$unit" 2>&1) || [[ -n "$out" ]]; then
  fail "systemd-analyze verify orbilane-watch.service: $out"
fi
exposure=$(systemd-analyze security --offline=yes "$unit" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
awk -v e="${exposure:-99}" 'BEGIN { exit !(e < 2.0) }' || fail "orbilane-watch.service's exposure is ${exposure:-unknown}, not under 2.0"
grep -qx 'AmbientCapabilities=CAP_NET_RAW' "$unit" || fail "the unit does not give the watch CAP_NET_RAW"
out=$(promtool check rules "$stage/share/orbilane-nms/prometheus-alerts.yml" 2>&1) || fail "promtool check rules: $out"
out=$(promtool check config "$stage/share/orbilane-nms/prometheus-scrape.yml" 2>&1) || fail "promtool check config: $out"
python3 -m json.tool "$stage/share/orbilane-nms/grafana-dashboard.json" >/dev/null || fail "the Grafana dashboard is no JSON"

# orbilanectl's bash completion is valid bash, and the program needs neither Qt Gui nor Widgets.
bash -n "$stage/share/bash-completion/completions/orbilanectl" || fail "the bash completion of orbilanectl"
! ldd "$stage/bin/orbilanectl" | grep -q 'libQt6\(Gui\|Widgets\)' || fail "orbilanectl links Qt Gui or Widgets"
! ldd "$stage/sbin/orbilane-watch" | grep -q 'libQt6\(Gui\|Widgets\)' || fail "orbilane-watch links Qt Gui or Widgets"
"$stage/sbin/orbilane-watch" --version | grep -qx "orbilane-watch $version" || fail "orbilane-watch --version"
"$stage/bin/orbilanectl" --version | grep -qx "orbilanectl $version" || fail "orbilanectl --version"

# The Debian package, as `cmake --build BUILD --target package` makes it; cpack brings the build
# up to date itself, and the target would first go over every target once more for nothing.
rm -f "$build"/packages/orbilane-nms_*.deb
if ! out=$(cd "$build" && cpack --config CPackConfig.cmake 2>&1); then
  echo "$out" >&2
  fail "cpack could not build the package"
  exit 1
fi
deb=$(ls "$build"/packages/orbilane-nms_"$version"_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/orbilane-nms ./usr/bin/orbilanectl ./usr/share/man/man1/orbilanectl.1.gz \
  ./usr/share/bash-completion/completions/orbilanectl "./usr/share/applications/$id.desktop" "./usr/share/metainfo/$id.metainfo.xml" \
  ./usr/share/man/man1/orbilane-nms.1.gz ./usr/share/doc/orbilane-nms/copyright ./usr/sbin/orbilane-watch \
  ./usr/lib/systemd/system/orbilane-watch.service ./usr/lib/sysusers.d/orbilane-watch.conf \
  ./usr/share/orbilane-nms/grafana-dashboard.json ./usr/share/orbilane-nms/prometheus-alerts.yml; do
  grep -qx -- "$file" <<<"$contents" || fail "the package lacks $file"
done
! grep -q 'orbilane-element-sim\|testnet-' <<<"$contents" || fail "developer tools in the package"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libcap2-bin libqt6widgets6 libqt6network6 libqt6httpserver6 libsystemd0; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# Its postinst grants the capability with setcap and survives a setcap that fails; it makes the
# watch service's user, folders and settings (stand-ins record what it asks of the system).
dpkg-deb -e "$deb" "$work/control"
mkdir "$work/bin"
# shellcheck disable=SC2016 # the stub's own $@, expanded when it runs
printf '#!/bin/sh\necho "$@" >>"%s"\nexit "${SETCAP_STATUS:-0}"\n' "$work/setcap-calls" >"$work/bin/setcap"
for stub in systemd-sysusers install systemctl; do
  # shellcheck disable=SC2016
  printf '#!/bin/sh\necho "%s $@" >>"%s"\n' "$stub" "$work/system-calls" >"$work/bin/$stub"
done
chmod +x "$work/bin/"*
PATH="$work/bin:$PATH" sh "$work/control/postinst" configure \
  || fail "postinst failed with setcap working"
for program in orbilane-nms orbilanectl; do
  grep -qx "cap_net_raw+ep /usr/bin/$program" "$work/setcap-calls" \
    || fail "postinst called setcap with: $(cat "$work/setcap-calls")"
done
for call in "systemd-sysusers orbilane-watch.conf" \
  "install -d -m 0750 -o orbilane-watch -g orbilane-watch /var/lib/orbilane-nms" "install -d -m 0755 /etc/orbilane-nms"; do
  grep -qxF "$call" "$work/system-calls" || fail "postinst did not run: $call ($(cat "$work/system-calls"))"
done
out=$(SETCAP_STATUS=1 PATH="$work/bin:$PATH" sh "$work/control/postinst" configure 2>&1) \
  || fail "postinst failed where setcap fails"
grep -q 'setcap failed' <<<"$out" || fail "postinst said nothing where setcap fails: $out"

# lintian: errors fail; warnings and infos are shown. (It warns that it runs as root: CI does.)
status=0
lint=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$lint" || true
((status == 0)) || fail "lintian reports errors on $(basename "$deb")"

if ((failures)); then
  echo "check-package: $failures failed" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") and its installation pass the checks"
