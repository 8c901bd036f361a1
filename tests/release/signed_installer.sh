#!/usr/bin/env bash
# The build's signing step (scripts/sign.sh) on a copy of the built installer, with a
# throwaway self-signed certificate whose key has a passphrase: the signature
# verifies, and a byte changed after signing makes it fail; the payload inside still
# passes `velmorix-pack verify` (the signature goes after every resource); the packing
# step signs the project's uninstaller; and the signed installer still installs: the
# demo driver runs a whole default installation with it under Wine, in a prefix of its
# own, and the installed program starts.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELMORIX_BUILD:-$root/build}
echo "== signed installer"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/O=Tarkweller/CN=Velmorix test signing" \
  -addext "extendedKeyUsage=codeSigning" -passout pass:velmorix-test \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
installer="$work/VelmorixSetup.exe"
cp "$build/win/dist/VelmorixSetup.exe" "$installer"

fail() { echo "signed installer: $*" >&2; exit 1; }
osslsigncode verify -CAfile "$work/cert.pem" -in "$installer" >/dev/null 2>&1 &&
  fail "an unsigned file passes verification"
VELMORIX_SIGN_CERT="$work/cert.pem" VELMORIX_SIGN_KEY="$work/key.pem" VELMORIX_SIGN_PASS=velmorix-test \
  bash "$root/scripts/sign.sh" "$installer"
osslsigncode verify -CAfile "$work/cert.pem" -in "$installer" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; fail "the signature does not verify"; }
grep -q "Signature verification: ok" "$work/verify.txt" || { cat "$work/verify.txt"; fail "no verified signature"; }
echo "signed installer: signature verified"
cp "$installer" "$work/tampered.exe"
printf '\x5a' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc status=none
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >/dev/null 2>&1 &&
  fail "a file changed after signing passes verification"
"$build/host/tools/packer/velmorix-pack" verify "$installer" | tail -n 1

# The packing step signs the project's uninstaller once staged, and leaves alone a
# publisher's own Uninstall.exe that bin/ carries.
sign_env=(VELMORIX_SIGN_CERT="$work/cert.pem" VELMORIX_SIGN_KEY="$work/key.pem" VELMORIX_SIGN_PASS=velmorix-test)
mkdir -p "$work/stage" "$work/publisher"
env "${sign_env[@]}" cmake -DSTAGE="$work/stage" -DSAMPLES="$build/win/uninstaller/Uninstall.exe" \
  -DSIGN_SCRIPT="$root/scripts/sign.sh" -P "$root/cmake/stage_samples.cmake"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/stage/Uninstall.exe" 2>&1 | grep -q "Signature verification: ok" ||
  fail "the staged uninstaller is not signed"
printf 'publisher' >"$work/publisher/Uninstall.exe"
env "${sign_env[@]}" cmake -DSTAGE="$work/publisher" -DSAMPLES="$build/win/uninstaller/Uninstall.exe" \
  -DSIGN_SCRIPT="$root/scripts/sign.sh" -P "$root/cmake/stage_samples.cmake"
[ "$(cat "$work/publisher/Uninstall.exe")" = publisher ] || fail "a publisher's own uninstaller was replaced or signed"
echo "signed installer: the staged uninstaller is signed, a publisher's own left alone"

# A prefix of this script's own, so that the installation it leaves touches no other test.
export WINEPREFIX="$build/wineprefix-signing"
. "$root/scripts/wine-env.sh"
bash "$root/scripts/wine-prefix.sh"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
wine "$build/win/velmorix_demo.exe" "$(winepath -w "$installer")" "$(winepath -w "$work/screenshots")" ||
  fail "the signed installer did not install"
echo "signed installer: OK"
