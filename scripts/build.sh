#!/usr/bin/env bash
# Sets up what is missing, then builds the packing tool and host tests (native)
# and the installer and its Windows tests (mingw). Output: dist/VelmorixSetup.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}
jobs=${VELMORIX_JOBS:-$(nproc)}

[ "${VELMORIX_SKIP_SETUP:-}" = 1 ] || bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build/host" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build/host" -j "$jobs"

cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DVELMORIX_PACKER="$build/host/tools/packer/velmorix-pack" >/dev/null
cmake --build "$build/win" -j "$jobs"

mkdir -p "$root/dist"
cp "$build/win/dist/VelmorixSetup.exe" "$root/dist/VelmorixSetup.exe"
echo "build: $root/dist/VelmorixSetup.exe"
