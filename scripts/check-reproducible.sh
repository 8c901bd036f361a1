#!/usr/bin/env bash
# Builds one commit (HEAD by default, or the one given) twice, from two clones in two
# unrelated folders, and compares the unsigned dist/VelmorixSetup.exe byte for byte.
# Prints both SHA-256 sums; exit 0 when they are equal. Only the packing tool and the
# installer are built, but that is two full builds: slow, so not part of test.sh.
# VELMORIX_PAYLOAD_COMPRESSION=zstd checks the installer with the compressed payload.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse "${1:-HEAD}")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmorix-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

sums=()
for folder in "$scratch/first" "$scratch/second/a/deeper/checkout-with-another-name"; do
  mkdir -p "$(dirname "$folder")"
  git clone -q --no-checkout "$root" "$folder"
  git -C "$folder" checkout -q --detach "$commit"
  echo "check-reproducible: building $commit in $folder (payload: ${VELMORIX_PAYLOAD_COMPRESSION:-stored})"
  VELMORIX_SKIP_SETUP=1 VELMORIX_INSTALLER_ONLY=1 VELMORIX_JOBS="${VELMORIX_JOBS:-2}" \
    VELMORIX_SIGN_CERT= VELMORIX_SIGN_KEY= VELMORIX_BUILD="$folder/build" \
    bash "$folder/scripts/build.sh" >"$folder.log" 2>&1 || { tail -n 20 "$folder.log"; exit 1; }
  sums+=("$(sha256sum "$folder/dist/VelmorixSetup.exe" | cut -d' ' -f1)")
  echo "check-reproducible: ${sums[-1]}  $folder/dist/VelmorixSetup.exe"
done
if [ "${sums[0]}" != "${sums[1]}" ]; then
  cmp -l "$scratch/first/dist/VelmorixSetup.exe" \
    "$scratch/second/a/deeper/checkout-with-another-name/dist/VelmorixSetup.exe" | head -n 20 || true
  echo "check-reproducible: the two builds differ" >&2
  exit 1
fi
echo "check-reproducible: identical"
