#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: host tests and the fuzzer
# (native), and the Windows unit tests and the end-to-end tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}

bash "$root/scripts/setup.sh"
VELMORIX_SKIP_SETUP=1 bash "$root/scripts/build.sh"

# The tests get a Wine prefix of their own, so a run of the installer by hand never
# leaves state they would see.
export WINEPREFIX=${VELMORIX_TEST_PREFIX:-$build/wineprefix-tests}
. "$root/scripts/wine-env.sh"
smalldisk="$build/smalldisk"
mounted_smalldisk=
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
  velmorix_stop_wineserver
  velmorix_stop_display
  if [ -n "$mounted_smalldisk" ]; then
    rm -f "$WINEPREFIX/dosdevices/t:"
    umount "$smalldisk" 2>/dev/null || true
  fi
}
trap cleanup EXIT
velmorix_start_display
bash "$root/scripts/wine-prefix.sh"
# A full disk on demand: a 1 MiB tmpfs as drive T: of the test prefix (needs root;
# the extraction test that writes to it skips when T: is absent).
if [ "$(id -u)" = 0 ] && ! mountpoint -q "$smalldisk"; then
  mkdir -p "$smalldisk"
  if mount -t tmpfs -o size=1m tmpfs "$smalldisk"; then mounted_smalldisk=1; fi
fi
if mountpoint -q "$smalldisk"; then ln -sfn "$smalldisk" "$WINEPREFIX/dosdevices/t:"; fi
velmorix_start_wineserver   # one server for every test program

# The host tests (mostly the 30-second fuzzer run, one core) share nothing with the
# Windows tests: they run side by side, and their output follows the Windows tests'.
status=0
host_log="$build/host-tests.log"
ctest --test-dir "$build/host" --output-on-failure -j "$(nproc)" >"$host_log" 2>&1 &
host_pid=$!
echo "== Windows tests under Wine"
# Cases that share machine state hold the same RESOURCE_LOCK (tests/shared_state.cmake),
# so VELMORIX_CTEST_ARGS may add -j N.
ctest --test-dir "$build/win" --output-on-failure ${VELMORIX_CTEST_ARGS:-} || status=1
echo "== host tests"
wait "$host_pid" || status=1
host_pid=
cat "$host_log"
bash "$root/tests/release/signed_installer.sh" || status=1
exit $status
