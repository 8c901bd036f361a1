#!/usr/bin/env bash
# Creates the project's Wine prefix when it is missing, and starts a virtual
# display when none is running. Idempotent.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

if [ -z "${VELMORIX_KEEP_DISPLAY:-}" ] && ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
  echo "wine-prefix: no display at $DISPLAY, starting a virtual one (Xvfb)"
  nohup Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-prefix: creating $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# Progress bars repaint far faster without the default theme; tests run without it
# unless VELMORIX_THEME=1 asks for the themed look.
if [ "${VELMORIX_THEME:-0}" = 1 ]; then theme=1; else theme=0; fi
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /t REG_SZ /d "$theme" /f >/dev/null 2>&1
