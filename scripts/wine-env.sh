# Sourced: the Wine environment every project command uses.
# WINEPREFIX defaults to a prefix inside the build folder; nothing touches ~/.wine.
_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$_root/build/wineprefix}
export WINEARCH=${WINEARCH:-win64}
export LANG=ru_RU.UTF-8
export LC_ALL=ru_RU.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=${DISPLAY:-:99}
unset _root
