# Sourced: the Wine environment every project command uses.
# WINEPREFIX defaults to a prefix inside the build folder ($VELMORIX_BUILD when set);
# nothing touches ~/.wine.
_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-${VELMORIX_BUILD:-$_root/build}/wineprefix}
export WINEARCH=${WINEARCH:-win64}
export LANG=ru_RU.UTF-8
export LC_ALL=ru_RU.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=${DISPLAY:-:99}
unset _root

# Starts a virtual display (Xvfb) at $DISPLAY when nothing answers there, and puts
# its process id in VELMORIX_DISPLAY_PID (left empty when a display was already
# running). The display is a child of the calling shell: stop it with
# velmorix_stop_display, which ends that one process and nothing else.
velmorix_start_display() {
  VELMORIX_DISPLAY_PID=
  if xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  VELMORIX_DISPLAY_PID=$!
  local _
  for _ in $(seq 100); do
    xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
    kill -0 "$VELMORIX_DISPLAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-env: no virtual display came up at $DISPLAY" >&2
  velmorix_stop_display
  return 1
}

velmorix_stop_display() {
  if [ -n "${VELMORIX_DISPLAY_PID:-}" ]; then
    kill "$VELMORIX_DISPLAY_PID" 2>/dev/null || true
    wait "$VELMORIX_DISPLAY_PID" 2>/dev/null || true
    VELMORIX_DISPLAY_PID=
  fi
}

# Keeps one Wine server of $WINEPREFIX, its services and its desktop process
# running until velmorix_stop_wineserver. Without it every program starts them
# anew, and whoever reads that program's output (ctest) waits until they end:
# seconds after the program itself.
velmorix_start_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  # A console waiting on a pipe keeps the desktop in use, so its process does not
  # end between two programs; the pipe closes in velmorix_stop_wineserver.
  exec {VELMORIX_KEEPER_FD}> >(exec wine cmd.exe >/dev/null 2>&1)
  # A GUI program starts the desktop process here, not inside the first test.
  local reg
  reg=$(mktemp --suffix=.reg)
  printf 'REGEDIT4\r\n\r\n' >"$reg"
  wine regedit /S "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1 || true
  rm -f "$reg"
}

velmorix_stop_wineserver() {
  if [ -n "${VELMORIX_KEEPER_FD:-}" ]; then
    exec {VELMORIX_KEEPER_FD}>&-
    VELMORIX_KEEPER_FD=
  fi
  wineserver -k 2>/dev/null || true
}
