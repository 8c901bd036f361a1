#!/usr/bin/env bash
# Creates the project's Wine prefix when it is missing and sets what every run
# needs; starts a virtual display when none is running. Idempotent.
#   VELMORIX_THEME=1   Wine's default theme (the default here is the theme off)
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

if [ -z "${VELMORIX_KEEP_DISPLAY:-}" ]; then
  velmorix_start_display
  if [ -n "$VELMORIX_DISPLAY_PID" ]; then
    # Left running for the commands that follow; the project's scripts start their
    # own display before calling this one and stop it by its id.
    echo "wine-prefix: no display at $DISPLAY, started a virtual one (Xvfb, process $VELMORIX_DISPLAY_PID)"
  fi
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
# Xvfb has no window manager: Wine waits up to 2 s for one whenever a managed
# window is hidden. Unmanaged windows are hidden at once and get their caption
# drawn by Wine itself.
reg_file=$(mktemp --suffix=.reg)
trap 'rm -f "$reg_file"' EXIT
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\ThemeManager]' "\"ThemeActive\"=\"$theme\"" '' \
  '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '' > "$reg_file"
wine regedit /S "Z:${reg_file//\//\\}" >/dev/null 2>&1
