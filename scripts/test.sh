#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: host tests and the fuzzer
# (native), then the Windows unit tests and the end-to-end tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}

bash "$root/scripts/setup.sh"
VELMORIX_SKIP_SETUP=1 bash "$root/scripts/build.sh"

# The tests get a Wine prefix of their own, so a run of the installer by hand never
# leaves state they would see.
export WINEPREFIX=${VELMORIX_TEST_PREFIX:-$build/wineprefix-tests}
. "$root/scripts/wine-env.sh"
started_display=
if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then started_display=1; fi
bash "$root/scripts/wine-prefix.sh"
# A full disk on demand: a 1 MiB tmpfs as drive T: of the test prefix (needs root;
# the extraction test that writes to it skips when T: is absent).
smalldisk="$build/smalldisk"
mounted_smalldisk=
if [ "$(id -u)" = 0 ] && ! mountpoint -q "$smalldisk"; then
  mkdir -p "$smalldisk"
  if mount -t tmpfs -o size=1m tmpfs "$smalldisk"; then mounted_smalldisk=1; fi
fi
if mountpoint -q "$smalldisk"; then ln -sfn "$smalldisk" "$WINEPREFIX/dosdevices/t:"; fi
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$started_display" ]; then pkill -f "Xvfb $DISPLAY" 2>/dev/null || true; fi
  if [ -n "$mounted_smalldisk" ]; then
    rm -f "$WINEPREFIX/dosdevices/t:"
    umount "$smalldisk" 2>/dev/null || true
  fi
}
trap cleanup EXIT
wineserver -p 60 || true   # keep the server up between test programs

status=0
echo "== host tests"
ctest --test-dir "$build/host" --output-on-failure -j "$(nproc)" || status=1
echo "== Windows tests under Wine"
ctest --test-dir "$build/win" --output-on-failure ${VELMORIX_CTEST_ARGS:-} || status=1
bash "$root/tests/release/signed_installer.sh" || status=1
exit $status
