#!/usr/bin/env bash
# Builds the installer's zstd decoder: the decompressor and common files of Debian's
# own zstd source package (libzstd), compiled for i686 mingw into a static library
# (libzstd.a and its headers) under $VELMORIX_DEPS (default /opt/velmorix-deps). The
# upstream release built is that of the host's libzstd-dev, so the packing tool and
# the installer use one release (the newest Debian revision of it that the archive
# serves). Does nothing when that release is already built. Called by setup.sh.
set -euo pipefail
deps=${VELMORIX_DEPS:-/opt/velmorix-deps}
prefix="$deps/zstd-i686-w64-mingw32"
upstream=$(dpkg-query -W -f='${Version}' libzstd-dev)
upstream=${upstream%-*}
# Raised whenever the files or options below change, so that setup builds again.
recipe=3
if [ -f "$prefix/stamp" ] && [ "$(cat "$prefix/stamp")" = "$upstream recipe $recipe" ] &&
   [ -f "$prefix/lib/libzstd.a" ]; then
  exit 0
fi

# Source packages come from the same archive as the binary ones: a deb-src entry
# beside each deb entry of the system's sources.
src_list=/etc/apt/sources.list.d/velmorix-deb-src.sources
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
  : >"$src_list.new"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$src_list" ] && continue
    grep -q '^Types:.*\bdeb\b' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$src_list.new"
    echo >>"$src_list.new"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/velmorix-deb-src.list
  fi
  mv "$src_list.new" "$src_list"
  # One index missing (a mirror in mid-sync) still leaves the source lists that are needed.
  apt-get update -qq || echo "setup: some package lists could not be read; going on with the rest"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velmorix-zstd.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Newest revision first; a suite whose mirror lacks the source files is passed over.
version=
for candidate in $(apt-cache showsrc libzstd | sed -n 's/^Version: //p' | sort -r -V); do
  [ "${candidate%-*}" = "$upstream" ] || continue
  if (cd "$work" && apt-get source -qq "libzstd=$candidate" >"$work/source.log" 2>&1); then
    version=$candidate
    break
  fi
  rm -rf "${work:?}"/*
done
[ -n "$version" ] || { cat "$work/source.log" >&2; echo "setup: no source of libzstd $upstream" >&2; exit 1; }
echo "setup: building the zstd decoder $version for i686-w64-mingw32"
lib=$(find "$work" -maxdepth 3 -type d -path '*/libzstd-*/lib' | head -n 1)
[ -n "$lib" ] || { echo "setup: zstd source has no lib folder" >&2; exit 1; }

# Only what decoding needs: no compressor, no dictionary builder, no legacy formats,
# no assembly (the x86-64 Huffman loop does not apply to i686), no unwind tables (C
# code that nothing unwinds through), and only the short-offset sequence decoder:
# zstd takes the long-offset one only for windows above 16 MiB, and the installer's
# frames are at most 8 MiB. SSE2 (-march=pentium4) decodes a quarter faster than the
# compiler's default i686 code; the installer checks the processor for it before it
# decodes (engine/entry_data.cpp).
mkdir -p "$work/obj"
for c in "$lib"/common/debug.c "$lib"/common/entropy_common.c "$lib"/common/error_private.c \
         "$lib"/common/fse_decompress.c "$lib"/common/xxhash.c "$lib"/common/zstd_common.c \
         "$lib"/decompress/huf_decompress.c "$lib"/decompress/zstd_ddict.c \
         "$lib"/decompress/zstd_decompress.c "$lib"/decompress/zstd_decompress_block.c; do
  i686-w64-mingw32-gcc -O3 -march=pentium4 -mtune=generic -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables \
    -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -DZSTD_NO_TRACE -DZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT \
    -DZSTD_STRIP_ERROR_STRINGS -DNDEBUG -ffile-prefix-map="$work"=/zstd -c "$c" -o "$work/obj/$(basename "$c" .c).o"
done
rm -rf "$prefix"
mkdir -p "$prefix/lib" "$prefix/include"
i686-w64-mingw32-ar rcsD "$prefix/lib/libzstd.a" "$work"/obj/*.o
cp "$lib/zstd.h" "$lib/zstd_errors.h" "$prefix/include/"
echo "$version" >"$prefix/version"
echo "$upstream recipe $recipe" >"$prefix/stamp"
echo "setup: zstd decoder in $prefix"
