#!/usr/bin/env bash
# Whole-installer benchmark, on two payloads:
#   generated  84 files of incompressible bytes shaped like the shipped payload (packed,
#              the two archives are 101,777,317 bytes);
#   binaries   real 32-bit Windows binaries: the largest PE libraries of Debian's Wine
#              package (/usr/lib/i386-linux-gnu/wine/i386-windows) that fit in
#              100,000,000 bytes, taken by size and then name, so every run has the
#              same files; the sample work folder beside them.
# For each it builds this installer carrying the payload (the normal pack and link, in
# a build folder of its own: bin/ and work/ stay untouched), with the stored payload
# and (binaries) the compressed one, and NSIS installers of the same tree as
# yardsticks: store mode, and (binaries) zlib, NSIS's default, and LZMA solid. In one
# Wine prefix it times alternating rounds of each, this installer driven through its
# pages, with Wine's theme on and off, then each removal: this installer's with the
# project's Uninstall.exe /S (the generated tree's own Uninstall.exe is random bytes),
# NSIS's with an uninstaller that removes both folders (RMDir /r), silent. It prints
# sizes, medians and ratios.
#   VELMORIX_BENCH_ROUNDS    measured rounds per theme (default 5, after one warm-up)
#   VELMORIX_BENCH_THEMES    which theme settings to measure (default "1 0": on, off)
#   VELMORIX_BENCH_PAYLOADS  which payloads (default "generated binaries")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}
jobs=${VELMORIX_JOBS:-$(nproc)}
rounds=${VELMORIX_BENCH_ROUNDS:-5}
themes=${VELMORIX_BENCH_THEMES:-1 0}
payloads=${VELMORIX_BENCH_PAYLOADS:-generated binaries}
bench="$build/bench"
pack="$build/host/tools/packer/velmorix-pack"

bash "$root/scripts/setup.sh"
VELMORIX_SKIP_SETUP=1 bash "$root/scripts/build.sh"

generate_tree() {
  local tree="$bench/tree"
# The generated payload tree: program files in tree/bin, the work folder in tree/work.
# Sizes and layout follow the extraction benchmark (tests/bench/extract_bench.cpp);
# the bytes come from a seeded generator, so every run packs the same tree.
python3 - "$tree" <<'EOF'
import os, random, shutil, sys

tree = sys.argv[1]
version = "velmorix-bench-tree 1"
stamp = tree + ".stamp"
if os.path.isfile(stamp) and open(stamp).read() == version and os.path.isdir(tree):
    sys.exit(0)

def spread(count, total, largest, smallest):
    # The largest and the smallest file, the rest growing linearly between them.
    sizes = [largest, smallest]
    rest = total - largest - smallest
    others = count - 2
    weights = others * (others + 1) // 2
    given = 0
    for k in range(others):
        size = rest - given if k + 1 == others else rest * (k + 1) // weights
        sizes.append(size)
        given += size
    return sizes

files = []
for i, size in enumerate(spread(16, 27184765, 6550603, 30208)):
    # 11 files at the top (the program and its uninstaller among them), 5 in two sub-folders.
    folder = "" if i < 11 else ("platforms" if i < 14 else "imageformats")
    name = {2: "Velmorix.exe", 3: "Uninstall.exe"}.get(i, "program_file_%d.dll" % i)
    files.append(("bin", folder, name, size))
for i, size in enumerate(spread(68, 74548192, 21304146, 35)):
    # One file in workdir, the rest three to five levels down.
    if i == 0:
        folder = "workdir"
    elif i % 3 == 0:
        folder = "workdir/packages/package_%d" % (i % 7)
    elif i % 3 == 1:
        folder = "workdir/libs/windows/x86"
    else:
        folder = "workdir/libs/linux/x86_64/release"
    files.append(("work", folder, "work_file_%d.dat" % i, size))

if os.path.exists(stamp):
    os.remove(stamp)
shutil.rmtree(tree, ignore_errors=True)
generator = random.Random(version)
for top, folder, name, size in files:
    path = os.path.join(tree, top, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as out:
        out.write(generator.randbytes(size))
with open(stamp, "w") as out:
    out.write(version)
print("bench: generated %d files, %d bytes, in %s" % (len(files), sum(f[3] for f in files), tree))
EOF
}

# The real binaries as program files, the repository's sample work folder as the work
# folder, and the sample Velmorix.exe and Uninstall.exe among the program files, so
# that NSIS installs exactly what this installer carries.
binaries_tree() {
  python3 - "$bench/binaries/tree" "$root/work" "$build/win/samples" "$build/win/uninstaller" <<'EOF'
import os, shutil, sys

tree, work, samples, uninstaller = sys.argv[1:5]
source = "/usr/lib/i386-linux-gnu/wine/i386-windows"
found = [(os.path.getsize(os.path.join(source, name)), name) for name in os.listdir(source) if name.endswith(".dll")]
chosen, total = [], 0
for size, name in sorted(found, key=lambda item: (-item[0], item[1])):
    if total + size <= 100000000:
        chosen.append(name)
        total += size
stamp = tree + ".stamp"
version = "velmorix-bench-binaries 2\n" + "\n".join(sorted(chosen))
if os.path.isfile(stamp) and open(stamp).read() == version and os.path.isdir(tree):
    sys.exit(0)
if os.path.exists(stamp):
    os.remove(stamp)
shutil.rmtree(tree, ignore_errors=True)
os.makedirs(os.path.join(tree, "bin"))
for name in chosen:
    shutil.copyfile(os.path.join(source, name), os.path.join(tree, "bin", name))
for name, built in (("Velmorix.exe", samples), ("Uninstall.exe", uninstaller)):
    shutil.copyfile(os.path.join(built, name), os.path.join(tree, "bin", name))
shutil.copytree(work, os.path.join(tree, "work"))
with open(stamp, "w") as out:
    out.write(version)
print("bench: %d Wine libraries, %d bytes, in %s" % (len(chosen), total, tree))
EOF
}

# This installer carrying a tree, built like dist/: stored (VelmorixSetup) and, when
# asked, compressed (VelmorixSetupCompressed: the same link with the zstd payload).
build_installer() {
  local name=$1 tree=$2
  shift 2
  cmake -S "$root" -B "$bench/$name/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DVELMORIX_PACKER="$pack" \
    -DVELMORIX_BIN_DIR="$tree/bin" -DVELMORIX_WORK_DIR="$tree/work" >/dev/null
  local target
  for target in "$@"; do cmake --build "$bench/$name/win" --target "$target" -j "$jobs" >/dev/null; done
}

# An NSIS installer of a tree: one page that closes itself when done, installing into
# C:\velmorix-bench\nsis (the folder velmorix_bench clears), and its uninstaller,
# which removes both folders. Made again only when the tree or the script changed.
build_nsis() {
  local folder=$1 tree=$2 label=$3 compressor=$4
  mkdir -p "$folder"
  local script="$folder/$label.nsi" out="$folder/$label.exe"
  cat >"$script.new" <<EOF
Name "Velmorix benchmark tree"
OutFile "$out"
InstallDir "C:\\velmorix-bench\\nsis"
RequestExecutionLevel admin
$compressor
AutoCloseWindow true
Page instfiles
Section
  SetOutPath "\$INSTDIR\\program"
  File /r "$tree/bin/*"
  SetOutPath "\$INSTDIR\\work"
  File /r "$tree/work/*"
  WriteUninstaller "\$INSTDIR\uninst.exe"
SectionEnd
Section Uninstall
  RMDir /r "\$INSTDIR\program"
  RMDir /r "\$INSTDIR\work"
  Delete "\$INSTDIR\uninst.exe"
  RMDir "\$INSTDIR"
SectionEnd
EOF
  if cmp -s "$script.new" "$script" && [ -f "$out" ] && [ "$out" -nt "$tree.stamp" ]; then
    rm "$script.new"
  else
    mv "$script.new" "$script"
    echo "bench: makensis $label"
    makensis -V1 "$script"
  fi
}

wine_path() { local p=$1; echo "Z:${p//\//\\}"; }
sizes="$bench/sizes.tsv"
mkdir -p "$bench"
: >"$sizes"
size_of() { printf '%s\t%s\t%s\n' "$1" "$2" "$(stat -c %s "$3")" >>"$sizes"; }
declare -A candidates trees
for payload in $payloads; do
  n="$bench/$payload/nsis"
  case $payload in
    generated)
      tree="$bench/tree"
      generate_tree
      build_installer generated "$tree" VelmorixSetup
      build_nsis "$n" "$tree" nsis-store "SetCompress off"
      list="wizard:stored=$(wine_path "$bench/generated/win/dist/VelmorixSetup.exe")"
      list+=" nsis:nsis-store=$(wine_path "$n/nsis-store.exe") xcopy"
      ;;
    binaries)
      tree="$bench/binaries/tree"
      binaries_tree
      build_installer binaries "$tree" VelmorixSetup VelmorixSetupCompressed
      build_nsis "$n" "$tree" nsis-store "SetCompress off"
      build_nsis "$n" "$tree" nsis-zlib "SetCompressor zlib"
      build_nsis "$n" "$tree" nsis-lzma-solid "SetCompressor /SOLID lzma"
      compressed="$bench/binaries/win/test-dist/VelmorixSetupCompressed.exe"
      "$pack" verify "$compressed" >/dev/null
      size_of "$payload" compressed "$compressed"
      size_of "$payload" nsis-zlib "$n/nsis-zlib.exe"
      size_of "$payload" nsis-lzma-solid "$n/nsis-lzma-solid.exe"
      list="wizard:stored=$(wine_path "$bench/binaries/win/dist/VelmorixSetup.exe")"
      list+=" wizard:compressed=$(wine_path "$compressed") nsis:nsis-store=$(wine_path "$n/nsis-store.exe")"
      list+=" nsis:nsis-zlib=$(wine_path "$n/nsis-zlib.exe") nsis:nsis-lzma-solid=$(wine_path "$n/nsis-lzma-solid.exe")"
      list+=" xcopy"
      ;;
    *) echo "bench: unknown payload $payload" >&2; exit 2 ;;
  esac
  "$pack" verify "$bench/$payload/win/dist/VelmorixSetup.exe" >/dev/null
  size_of "$payload" stored "$bench/$payload/win/dist/VelmorixSetup.exe"
  size_of "$payload" nsis-store "$n/nsis-store.exe"
  printf '%s\ttree\t%s\n' "$payload" "$(du -sb --apparent-size "$tree" | cut -f1)" >>"$sizes"
  candidates[$payload]=$list
  trees[$payload]=$tree
done

# One prefix for every run; the display and the Wine server are this script's own.
export WINEPREFIX="$bench/wineprefix"
. "$root/scripts/wine-env.sh"
cleanup() {
  velmorix_stop_wineserver
  velmorix_stop_display
}
trap cleanup EXIT
velmorix_start_display
for theme in $themes; do
  VELMORIX_THEME=$theme bash "$root/scripts/wine-prefix.sh"
  velmorix_start_wineserver
  for payload in $payloads; do
    echo "bench: $payload, theme $theme, $rounds rounds after a warm-up"
    # shellcheck disable=SC2086
    wine "$build/win/velmorix_bench.exe" "--uninstaller=$(wine_path "$build/win/uninstaller/Uninstall.exe")" \
      "$(wine_path "${trees[$payload]}")" "$rounds" ${candidates[$payload]} |
      tr -d '\r' >"$bench/times-$payload-theme$theme.tsv"
  done
  velmorix_stop_wineserver
done

# Medians of the measured rounds (round 0 is the warm-up), sizes and ratios.
python3 - "$bench" "$payloads" $themes <<'EOF'
import collections, statistics, sys

bench, payloads, themes = sys.argv[1], sys.argv[2].split(), sys.argv[3:]
sizes = collections.defaultdict(dict)
for line in open(bench + "/sizes.tsv"):
    payload, kind, size = line.rstrip("\n").split("\t")
    sizes[payload][kind] = int(size)
names = {"stored": "this installer, stored", "compressed": "this installer, compressed (zstd)",
         "nsis-store": "NSIS, store mode", "nsis-zlib": "NSIS, zlib (its default)",
         "nsis-lzma-solid": "NSIS, LZMA solid", "xcopy": "xcopy of the tree"}
theme_name = lambda theme: "on" if theme == "1" else "off"
print()
print("Medians in seconds: this installer visible, driven through its pages with the default")
print("choices, launch to \"Готово\"; NSIS (one page that closes itself) and xcopy, launch to exit.")
for payload in payloads:
    tree = sizes[payload]["tree"]
    medians = collections.defaultdict(dict)
    for theme in themes:
        runs = collections.defaultdict(list)
        for line in open("%s/times-%s-theme%s.tsv" % (bench, payload, theme)):
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 3 and fields[1] != "0":
                runs[fields[0]].append(float(fields[-1]))
        for kind, values in runs.items():
            medians[kind][theme] = (statistics.median(values), len(values))
    print()
    print("Payload %s: %s bytes in the tree." % (payload, format(tree, ",")))
    print("| | file size | of the tree |" + "".join(" theme %s |" % theme_name(t) for t in themes))
    print("|---|---|---|" + "---|" * len(themes))
    for kind in ["stored", "compressed", "nsis-store", "nsis-zlib", "nsis-lzma-solid", "xcopy"]:
        if kind not in medians:
            continue
        size = sizes[payload].get(kind)
        cells = (format(size, ","), "%.1f %%" % (100.0 * size / tree)) if size else ("", "")
        print("| %s | %s | %s |" % ((names[kind],) + cells) + "".join(" %.3f |" % medians[kind][t][0] for t in themes))
    print("(%d rounds each)" % medians["stored"][themes[0]][1])
    print("| removal, launch to exit |" + "".join(" theme %s |" % theme_name(t) for t in themes))
    print("|---|" + "---|" * len(themes))
    for kind in ["stored", "compressed", "nsis-store", "nsis-zlib", "nsis-lzma-solid"]:
        if kind + ":removal" in medians:
            print("| %s |" % names[kind] + "".join(" %.3f |" % medians[kind + ":removal"][t][0] for t in themes))
    s = sizes[payload]
    for theme in themes:
        time = lambda kind: medians[kind][theme][0]
        line = "theme %s: stored / NSIS store %.2f" % (theme_name(theme), time("stored") / time("nsis-store"))
        line += "; removal / NSIS's %.2f (target 1.00 at most)" % (time("stored:removal") / time("nsis-store:removal"))
        if "compressed" in medians:
            line += ("; compressed: time / stored %.2f (target 1.25 at most), time / NSIS LZMA solid %.2f (0.35)"
                     % (time("compressed") / time("stored"), time("compressed") / time("nsis-lzma-solid")))
        print(line)
    if "compressed" in s:
        print("compressed: size / NSIS LZMA solid %.2f (target 1.35 at most), size / NSIS zlib %.2f (0.70)"
              % (s["compressed"] / s["nsis-lzma-solid"], s["compressed"] / s["nsis-zlib"]))
EOF
