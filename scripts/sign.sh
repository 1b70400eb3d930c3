#!/usr/bin/env bash
# sign.sh FILE...: signs each Windows program in place (Authenticode, SHA-256)
# with osslsigncode. The certificate comes from the
# environment: VAULTMERE_SIGN_PFX (a PKCS#12 file) and VAULTMERE_SIGN_PASSWORD;
# VAULTMERE_SIGN_TIMESTAMP_URL adds a timestamp, so that the signature
# outlives the certificate. Fails when no certificate is given.
set -euo pipefail
: "${VAULTMERE_SIGN_PFX:?no certificate: set VAULTMERE_SIGN_PFX (and VAULTMERE_SIGN_PASSWORD)}"
[ -r "$VAULTMERE_SIGN_PFX" ] || { echo "cannot read the certificate $VAULTMERE_SIGN_PFX" >&2; exit 1; }

timestamp=()
[ -n "${VAULTMERE_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$VAULTMERE_SIGN_TIMESTAMP_URL")

for file in "$@"; do
  signed="$file.signed"
  # The password goes through a pipe, never on a command line others can read.
  osslsigncode sign -pkcs12 "$VAULTMERE_SIGN_PFX" -readpass <(printf '%s' "${VAULTMERE_SIGN_PASSWORD:-}") \
    -n "Vaultmere" -h sha256 "${timestamp[@]}" \
    -in "$file" -out "$signed" > /dev/null
  mv -f "$signed" "$file"
  echo "signed $(basename "$file")"
done
