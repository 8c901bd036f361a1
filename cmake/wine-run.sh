#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's test environment
# (Russian locale for code page 1251, the build's own prefix, a display).
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/wine-env.sh
. "$here/scripts/wine-env.sh"
exec wine "$@"
