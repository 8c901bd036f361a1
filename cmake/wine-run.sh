#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's test environment
# (Russian locale for code page 1251, the build's own prefix, a display).
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/wine-env.sh
. "$here/scripts/wine-env.sh"
# A prefix made here (ctest run by hand) gets the project's settings too; the lock
# keeps two test programs started at once from making it together.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" bash "$here/scripts/wine-prefix.sh" </dev/null >&2
fi
exec wine "$@"
