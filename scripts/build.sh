#!/usr/bin/env bash
# Sets up what is missing, then builds the packing tool and host tests (native)
# and the installer and its Windows tests (mingw). Output: dist/VelmorixSetup.exe,
# signed (and the Uninstall.exe it carries) when VELMORIX_SIGN_CERT and VELMORIX_SIGN_KEY
# name the publisher's certificate and key (see scripts/sign.sh). VELMORIX_INSTALLER_ONLY=1 builds only
# the packing tool and the installer. VELMORIX_PAYLOAD_COMPRESSION=zstd gives the
# installer the compressed payload (empty: stored, the default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}
jobs=${VELMORIX_JOBS:-$(nproc)}
# With the publisher's certificate the packed Uninstall.exe is signed too (before packing).
sign=OFF
if [ -n "${VELMORIX_SIGN_CERT:-}" ] && [ -n "${VELMORIX_SIGN_KEY:-}" ]; then sign=ON; fi

[ "${VELMORIX_SKIP_SETUP:-}" = 1 ] || bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build/host" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
only_host=()
only_win=()
if [ "${VELMORIX_INSTALLER_ONLY:-}" = 1 ]; then
  only_host=(--target velmorix-pack)
  only_win=(--target VelmorixSetup)
fi
cmake --build "$build/host" -j "$jobs" "${only_host[@]}"

cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DVELMORIX_PACKER="$build/host/tools/packer/velmorix-pack" \
  -DVELMORIX_PAYLOAD_COMPRESSION="${VELMORIX_PAYLOAD_COMPRESSION:-}" \
  -DVELMORIX_SIGN_UNINSTALLER="$sign" >/dev/null
cmake --build "$build/win" -j "$jobs" "${only_win[@]}"

mkdir -p "$root/dist"
cp "$build/win/dist/VelmorixSetup.exe" "$root/dist/VelmorixSetup.exe"
# The very last step, after every resource is final: the signature covers them all.
if [ "$sign" = ON ]; then
  bash "$root/scripts/sign.sh" "$root/dist/VelmorixSetup.exe"
  echo "build: signed with $VELMORIX_SIGN_CERT"
fi
echo "build: $root/dist/VelmorixSetup.exe"
