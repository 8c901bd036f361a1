#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the installer under Wine.
# With a display, the wizard opens there for you to use. Without one, a virtual
# display (Xvfb) is started and a complete installation of the payload is driven
# through the wizard, with a screenshot of every page kept in build/screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}

bash "$root/scripts/setup.sh"
VELMORIX_SKIP_SETUP=1 bash "$root/scripts/build.sh"

had_display=${DISPLAY:-}
. "$root/scripts/wine-env.sh"
if [ -n "$had_display" ] && xdpyinfo -display "$had_display" >/dev/null 2>&1; then
  bash "$root/scripts/wine-prefix.sh"
  echo "run: opening the installer on $DISPLAY"
  exec wine "$root/dist/VelmorixSetup.exe"
fi

echo "run: no display found; using a virtual display (Xvfb) at $DISPLAY"
cleanup() {
  wineserver -w 2>/dev/null || true
  velmorix_stop_display
}
trap cleanup EXIT
velmorix_start_display
bash "$root/scripts/wine-prefix.sh"

shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
wine "$build/win/velmorix_demo.exe" "$(winepath -w "$root/dist/VelmorixSetup.exe")" "$(winepath -w "$shots")"
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "run: screenshots of every page: $shots"
