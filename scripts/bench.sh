#!/usr/bin/env bash
# Whole-installer benchmark. Generates a payload shaped like the shipped one (84
# files of incompressible bytes; packed, the two archives are 101,777,317 bytes),
# builds an installer carrying it (the normal pack and link, in a build folder of
# its own: bin/ and work/ stay untouched), builds an NSIS installer of the same tree
# in store mode as a yardstick, and in one Wine prefix times alternating rounds of
# this installer driven through its pages, the NSIS installer and xcopy of the tree,
# with Wine's theme on and off. Prints the medians and the ratios.
#   VELMORIX_BENCH_ROUNDS   measured rounds per theme (default 5, after one warm-up)
#   VELMORIX_BENCH_THEMES   which theme settings to measure (default "1 0": on, off)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORIX_BUILD:-$root/build}
jobs=${VELMORIX_JOBS:-$(nproc)}
rounds=${VELMORIX_BENCH_ROUNDS:-5}
themes=${VELMORIX_BENCH_THEMES:-1 0}
bench="$build/bench"
tree="$bench/tree"

bash "$root/scripts/setup.sh"
VELMORIX_SKIP_SETUP=1 bash "$root/scripts/build.sh"

# 1. The payload tree: program files in tree/bin, the work folder in tree/work.
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

# 2. This installer, carrying the tree: the same build as dist/, packed from tree/.
cmake -S "$root" -B "$bench/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DVELMORIX_PACKER="$build/host/tools/packer/velmorix-pack" \
  -DVELMORIX_BIN_DIR="$tree/bin" -DVELMORIX_WORK_DIR="$tree/work" >/dev/null
cmake --build "$bench/win" --target VelmorixSetup -j "$jobs" >/dev/null
installer="$bench/win/dist/VelmorixSetup.exe"
"$build/host/tools/packer/velmorix-pack" verify "$bench/win/payload/program.bin" >/dev/null
"$build/host/tools/packer/velmorix-pack" verify "$bench/win/payload/work.bin" >/dev/null
echo "bench: $installer (archives $(($(stat -c %s "$bench/win/payload/program.bin") + $(stat -c %s "$bench/win/payload/work.bin"))) bytes)"

# 3. The yardstick: NSIS, no compression, one page that closes itself when done,
# installing into C:\velmorix-bench\nsis (the folder velmorix_bench clears).
mkdir -p "$bench/nsis"
nsis="$bench/nsis/TreeSetupNsisStore.exe"
cat >"$bench/nsis/store.nsi" <<EOF
Name "Velmorix benchmark tree"
OutFile "$nsis"
InstallDir "C:\\velmorix-bench\\nsis"
RequestExecutionLevel admin
SetCompress off
AutoCloseWindow true
Page instfiles
Section
  SetOutPath "\$INSTDIR\\program"
  File /r "$tree/bin/*"
  SetOutPath "\$INSTDIR\\work"
  File /r "$tree/work/*"
SectionEnd
EOF
if [ ! -f "$nsis" ] || [ "$nsis" -ot "$tree.stamp" ] || [ "$nsis" -ot "$bench/nsis/store.nsi" ]; then
  makensis -V1 "$bench/nsis/store.nsi"
fi

# 4. One prefix for every run; the display and the Wine server are this script's own.
export WINEPREFIX="$bench/wineprefix"
. "$root/scripts/wine-env.sh"
cleanup() {
  velmorix_stop_wineserver
  velmorix_stop_display
}
trap cleanup EXIT
velmorix_start_display
wine_path() { local p=$1; echo "Z:${p//\//\\}"; }
for theme in $themes; do
  VELMORIX_THEME=$theme bash "$root/scripts/wine-prefix.sh"
  velmorix_start_wineserver
  echo "bench: theme $theme, $rounds rounds after a warm-up"
  wine "$build/win/velmorix_bench.exe" "$(wine_path "$installer")" "$(wine_path "$nsis")" "$(wine_path "$tree")" \
    "$rounds" | tr -d '\r' >"$bench/times-theme$theme.tsv"
  velmorix_stop_wineserver
done

# 5. Medians of the measured rounds (round 0 is the warm-up) and the ratios.
python3 - "$bench" $themes <<'EOF'
import statistics, sys

bench, themes = sys.argv[1], sys.argv[2:]
rows = []
for theme in themes:
    runs = {"installer": [], "nsis": [], "xcopy": []}
    for line in open("%s/times-theme%s.tsv" % (bench, theme)):
        fields = line.split("\t")
        if len(fields) >= 3 and fields[1] != "0":
            runs[fields[0]].append([float(x) for x in fields[2:]])
    median = lambda kind, column=0: statistics.median(run[column] for run in runs[kind])
    first, next_to_finish, finish = (median("installer", c) for c in range(3))
    nsis, xcopy = median("nsis"), median("xcopy")
    rows.append((("on" if theme == "1" else "off"), len(runs["installer"]), first, next_to_finish, finish, nsis, xcopy))

print()
print("Medians in seconds; this installer visible, driven through its pages with the default choices.")
print("| Wine theme | rounds | launch to first page | settings Next to \"Готово\" | launch to \"Готово\" "
      "| NSIS store mode, launch to exit | xcopy of the tree | \"Готово\" / NSIS | \"Готово\" / xcopy |")
print("|---|---|---|---|---|---|---|---|---|")
for theme, count, first, next_to_finish, finish, nsis, xcopy in rows:
    print("| %s | %d | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f |"
          % (theme, count, first, next_to_finish, finish, nsis, xcopy, finish / nsis, finish / xcopy))
EOF
