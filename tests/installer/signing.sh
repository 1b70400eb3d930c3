#!/usr/bin/env bash
# Release signing with a throwaway self-signed certificate made here: the
# program, the guard service, the command line and the package signed by scripts/sign.sh, the setup and its uninstaller signed as
# makensis writes them, each signature checked by osslsigncode against that
# certificate. The uninstaller exists only once the setup has written it, so
# the setup is installed silently under Wine and uninstalled again. Runs
# inside the Wine environment of scripts/test.sh.
# Usage: signing.sh PROGRAM_EXE MAKENSIS HELPER_EXE GUARD_EXE PACKAGE_MSI CLI_EXE
set -uo pipefail
program_exe="$(realpath "$1")"
makensis="$2"
helper_exe="$(realpath "$3")"
guard_exe="$(realpath "$4")"
package_msi="$(realpath "$5")"
cli_exe="$(realpath "$6")"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
check_name=signing
. "$(dirname "$0")/wine-checks.sh"

# Setup installs only in Program Files: Program Files (x86) under WOW64.
if [ "${WINEARCH:-win32}" = win64 ]; then program_files='Program Files (x86)'; else program_files='Program Files'; fi
install_dir="C:\\$program_files\\Vaultmere signing test"
install_unix="$WINEPREFIX/drive_c/$program_files/Vaultmere signing test"
cleanup() {
  # The service setup registers, should the uninstaller not have removed it.
  if w sc query VaultmereGuard; then
    w sc stop VaultmereGuard
    sleep 1
    w sc delete VaultmereGuard
  fi
  if [ -e "$install_unix" ]; then
    w schtasks /Delete /F /TN Vaultmere
    w reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vaultmere' /f
    rm -rf "$install_unix" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vaultmere.lnk"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

for tool in osslsigncode openssl; do
  command -v $tool > /dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)"; exit 1; }
done

# verify FILE: signed, and by the certificate made here.
verify() {
  if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$1" > "$work/verify.out" 2>&1; then
    fail "$(basename "$1") carries no valid signature: $(grep -iE 'error|fail|no signature' "$work/verify.out" | head -3)"
  elif ! grep -qF "Vaultmere Test Signing $$" "$work/verify.out"; then
    fail "$(basename "$1") is signed, but not with the test certificate"
  fi
}

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Vaultmere Test Signing $$" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2> "$work/openssl.out" &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:'throw away' \
    -out "$work/cert.pfx" 2>> "$work/openssl.out" ||
  { echo "FAIL: cannot make the test certificate: $(cat "$work/openssl.out")"; exit 1; }
export VAULTMERE_SIGN_PFX="$work/cert.pfx" VAULTMERE_SIGN_PASSWORD='throw away'

cp "$program_exe" "$work/brwaddon.exe"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/brwaddon.exe" > /dev/null 2>&1 &&
  fail "the unsigned program passes verification: the checks below would prove nothing"
bash "$source_dir/scripts/sign.sh" "$work/brwaddon.exe" > "$work/sign.out" 2>&1 || fail "sign.sh failed: $(cat "$work/sign.out")"
verify "$work/brwaddon.exe"
# The helper setup runs is signed with the program.
cp "$helper_exe" "$work/setuphelper.exe"
bash "$source_dir/scripts/sign.sh" "$work/setuphelper.exe" > "$work/sign.out" 2>&1 ||
  fail "sign.sh failed on the helper: $(cat "$work/sign.out")"
verify "$work/setuphelper.exe"
cp "$guard_exe" "$work/VaultmereGuard.exe"
bash "$source_dir/scripts/sign.sh" "$work/VaultmereGuard.exe" > "$work/sign.out" 2>&1 ||
  fail "sign.sh failed on the guard: $(cat "$work/sign.out")"
verify "$work/VaultmereGuard.exe"
cp "$cli_exe" "$work/vaultmere.exe"
bash "$source_dir/scripts/sign.sh" "$work/vaultmere.exe" > "$work/sign.out" 2>&1 ||
  fail "sign.sh failed on the command line: $(cat "$work/sign.out")"
verify "$work/vaultmere.exe"
cp "$package_msi" "$work/Vaultmere.msi"
bash "$source_dir/scripts/sign.sh" "$work/Vaultmere.msi" > "$work/sign.out" 2>&1 ||
  fail "sign.sh failed on the package: $(cat "$work/sign.out")"
verify "$work/Vaultmere.msi"

"$makensis" -V2 -WX -INPUTCHARSET UTF8 -DEXE="$work/brwaddon.exe" -DGUARD="$work/VaultmereGuard.exe" \
  -DCLI="$work/vaultmere.exe" -DHELPER="$work/setuphelper.exe" \
  -DOUTFILE="$work/Vaultmere-signed.exe" \
  -DSIGN_SCRIPT="$source_dir/scripts/sign.sh" "$source_dir/installer/vaultmere.nsi" > "$work/makensis.out" 2>&1 ||
  { echo "FAIL: makensis failed: $(cat "$work/makensis.out")"; exit 1; }
verify "$work/Vaultmere-signed.exe"

needs_32bit "the uninstaller's signature is checked only once the signed setup has written it"
[ ! -e "$install_unix" ] || { echo "FAIL: $install_dir exists already"; exit 1; }
w cmd /c "Z:${work//\//\\}\\Vaultmere-signed.exe /S /D=$install_dir" || fail "the signed setup failed to install"
[ -f "$install_unix/uninstall.exe" ] && verify "$install_unix/uninstall.exe" || fail "no uninstaller installed"
[ -f "$install_unix/brwaddon.exe" ] && verify "$install_unix/brwaddon.exe" || fail "no program installed"
[ -f "$install_unix/VaultmereGuard.exe" ] && verify "$install_unix/VaultmereGuard.exe" || fail "no guard installed"
[ -f "$install_unix/vaultmere.exe" ] && verify "$install_unix/vaultmere.exe" || fail "no command line installed"

cp "$install_unix/uninstall.exe" "$work/uninstall-copy.exe" &&
  w cmd /c "Z:${work//\//\\}\\uninstall-copy.exe /S /REMOVESETTINGS _?=$install_dir" || fail "the signed uninstaller failed"
[ ! -e "$install_unix" ] || fail "the uninstaller left $install_dir"
finish
