#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
# Safe to run again: it installs only what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  NEED_UPDATE=1
fi

for p in g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64 xvfb x11-utils locales imagemagick \
         cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev python3 osslsigncode openssl nsis \
         libzstd-dev pkg-config dpkg-dev xz-utils; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in mid-sync fails one index now and then: try again, and let the install
  # itself decide (it fails clearly when a package really cannot be had).
  for try in 1 2 3; do
    apt-get update -qq && break
    echo "setup: package lists incomplete (try $try of 3)"
    sleep $((try * 5))
  done
  if ! apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    # When the security index of one architecture is the one missing, the two halves of
    # a multi-arch library (wine32's i386 ones) come at different versions and cannot be
    # installed together; the release's own versions always match.
    . /etc/os-release
    echo "setup: installing from $VERSION_CODENAME's own versions"
    apt-get install -y -qq --no-install-recommends -t "$VERSION_CODENAME" "${need[@]}" >/dev/null
  fi
fi

# Russian locale: Wine picks ANSI code page 1251 only when LANG names a generated Russian locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "setup: generating ru_RU.UTF-8"
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
# The installer's zstd decoder, built from Debian's source package (once per release).
bash "$(dirname "$0")/build-zstd-decoder.sh"
echo "setup: toolchain ready"
