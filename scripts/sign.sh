#!/usr/bin/env bash
# Signs a Windows executable with Authenticode, in place: scripts/sign.sh <file>.
# The certificate and its private key are PEM files named by VELMORIX_SIGN_CERT and
# VELMORIX_SIGN_KEY; VELMORIX_SIGN_PASS is the key's passphrase when it has one
# (handed to osslsigncode on standard input, never on a command line). SHA-256 and
# no time stamp: no time-stamp server can be reached from the build machine. The
# file is replaced only when signing succeeded.
set -euo pipefail
file=${1:?usage: sign.sh <file>}
: "${VELMORIX_SIGN_CERT:?VELMORIX_SIGN_CERT names the certificate (PEM)}"
: "${VELMORIX_SIGN_KEY:?VELMORIX_SIGN_KEY names the private key (PEM)}"

signed="$file.signing"
rm -f "$signed"
trap 'rm -f "$signed"' EXIT
args=(sign -certs "$VELMORIX_SIGN_CERT" -key "$VELMORIX_SIGN_KEY" -h sha256 -n "Velmorix" -in "$file" -out "$signed")
if [ -n "${VELMORIX_SIGN_PASS:-}" ]; then
  printf '%s' "$VELMORIX_SIGN_PASS" | osslsigncode "${args[@]}" -readpass - >/dev/null
else
  osslsigncode "${args[@]}" >/dev/null
fi
mv -f "$signed" "$file"
