#!/usr/bin/env bash
# The Debian packages as a user gets them: made by CPack from this build, unpacked into a
# temporary root with dpkg-deb -x and run from there, and checked by lintian and
# systemd-analyze. Arguments: the build folder, the product version, the folder of the
# stand-in device libraries below the prefix.
set -euo pipefail
BUILD=$1 VERSION=$2 STANDIN=$3
WORK=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/vexline-packages.XXXXXX")")
trap 'rm -rf "$WORK"' EXIT
fail() { printf 'packaging check: %s\n' "$*" >&2; exit 1; }
for tool in cpack dpkg-deb lintian; do
    command -v "$tool" >/dev/null || fail "$tool is missing (make deps installs it)"
done

cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/debs" >"$WORK/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$WORK/cpack.log")"
debs=("$WORK"/debs/*.deb)
((${#debs[@]} == 4)) || fail "expected 4 packages, got: ${debs[*]}"
ROOT=$WORK/root
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$ROOT"; done

[[ $("$ROOT/usr/bin/VexServer" --version) == "VexServer (Vexline) $VERSION" ]] ||
    fail "VexServer --version: $("$ROOT/usr/bin/VexServer" --version)"
# tactus-ipp links the host stand-in: its answer shows the run path to the private folder.
[[ $("$ROOT/usr/bin/tactus-ipp" --version) == "tactus-ipp (Vexline) $VERSION" ]] ||
    fail "tactus-ipp --version: $("$ROOT/usr/bin/tactus-ipp" --version 2>&1)"
for page in man1/VexServer.1 man1/qlnrun.1 man1/tactus-tool.1 man1/tactus-ipp.1 man5/VEX.XML.5; do
    [[ -s $ROOT/usr/share/man/$page.gz ]] || fail "man page $page is missing"
done
# Nothing beside VexServer, nothing on the system's library path: every library of the
# product lies in its own folders.
left=$(find "$ROOT" -name '*.so*' ! -path '*/vexline/*' -print)
[[ -z $left ]] || fail "libraries outside the product's folders: $left"

# The demo chain from the unpacked files; the server takes the stand-in it is pointed at.
out=$(env -u VEX_BIN_DIR -u LD_LIBRARY_PATH DEMO_SECONDS=12 DEMO_HEADLESS=1 \
    "$ROOT/usr/share/vexline/demo.sh" 2>&1) || fail "the demo failed: $out"
grep -q '>>> hit 1 ' <<<"$out" || fail "the demo saw no hit: $out"
grep -q "library $ROOT/usr/$STANDIN/libVexSimulator.so," <<<"$out" ||
    fail "the demo's server did not load the stand-in folder's library: $out"

# A library beside the installed server is never taken: it looks on the system's library
# path only (where this machine has no card library, so it stops, naming the library).
mkdir "$WORK/run"
cp "$ROOT/usr/$STANDIN/libENC7480.so" "$ROOT/usr/bin/"
printf '<VEX><INTERFACE>ENC7480</INTERFACE><TCPPortNumber>0</TCPPortNumber></VEX>\n' >"$WORK/run/VEX.XML"
(cd "$WORK/run" && env -u VEX_DEVICE_LIBRARY_DIR -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen \
    timeout 5 "$ROOT/usr/bin/VexServer" >"$WORK/server.log" 2>&1) || true
grep -q "library $ROOT/usr/bin/libENC7480.so" "$WORK/server.log" &&
    fail "the installed server took the library beside it: $(cat "$WORK/server.log")"
rm "$ROOT/usr/bin/libENC7480.so"

lintian --fail-on error "${debs[@]}" ||
    fail "lintian reports errors"

if command -v systemd-analyze >/dev/null; then
    # The unit is checked inside the unpacked root, with the system's own units beside it.
    cp -rn /lib/systemd/system/. "$ROOT/lib/systemd/system/" 2>/dev/null || true
    report=$(systemd-analyze verify --man=no --root="$ROOT" vexserver.service 2>&1) &&
        [[ -z $report ]] || fail "systemd-analyze verify: $report"
fi
echo "packaging check: 4 packages, demo, library search, lintian and unit all good"
