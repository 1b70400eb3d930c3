#!/usr/bin/env bash
# The Windows Installer package under Wine, with the setup round trip's
# helpers: a failed install rolled back; installed silently, an older package
# starts the guard, which locks the stored list, and registers the logon
# task; repaired, it leaves the guard running and the folder shut to a
# reader trying it all the while; an upgrade that fails leaves it installed
# and locking; this package upgrades it keeping the list,
# the folder as shut all through; the older one is refused
# over it, and so is the setup program; removed silently, nothing is left and
# nothing locked, the list and password kept; over setup's installation the
# package is refused; with REMOVESETTINGS=1 the list goes too.
# Usage: package.sh PACKAGE OLDER_PACKAGE SETUP_EXE PROGRAM_EXE GUARD_EXE OUTSIDER_EXE KEEPER_EXE SERVICEINFO_EXE
#        GUARD_WINDOWS_TESTS_EXE KEYACCESS_EXE
set -uo pipefail

package_msi="$(realpath "$1")"
older_msi="$(realpath "$2")"
shift 2
ROUNDTRIP_HELPERS_ONLY=1 . "$(dirname "$0")/roundtrip.sh" "$@"
check_name="package round trip"

product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
package_code="$(product_code "$package_msi")" older_code="$(product_code "$older_msi")"
entry_key() { echo "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"; }
# msi VERB PACKAGE [PROPERTY=VALUE...]: msiexec's exit code, silent.
msi() { wine msiexec "/$1" "$(windows_path "$2")" /qn "${@:3}" > "$work/msiexec.out" 2>&1 < /dev/null; }
# Wine's Windows Installer makes the Start menu entry in the user's own menu.
menu_entry() {
  ls "$WINEPREFIX"/drive_c/{ProgramData,users/*/AppData/Roaming}/Microsoft/Windows/"Start Menu"/Programs/Vaultmere.lnk \
    2> /dev/null
}

eval "roundtrip_$(declare -f cleanup)"
cleanup() { msi x "$package_msi"; msi x "$older_msi"; roundtrip_cleanup; }

# check_package VERSION PRODUCT_CODE
check_package() {
  cmp -s "$install_unix/brwaddon.exe" "$program_exe" || fail "the installed brwaddon.exe is not this build's"
  [ -f "$install_unix/vaultmere.exe" ] || fail "vaultmere.exe not installed"
  grep -qaF "$install_dir\\brwaddon.exe" "$(menu_entry)" 2> /dev/null ||
    fail "no Start menu entry starting the program"
  check_task
  check_guard
  store_protected || fail "the stored list's key is not kept from other users: $(tr -d '\r' < "$work/keyaccess.out")"
  [ "$(reg_value "$event_source_key" EventMessageFile)" = "$install_dir\VaultmereGuard.exe" ] ||
    fail "the guard's event source does not name its program file"
  reg_query "$(entry_key "$2")" || { fail "no entry in Apps for version $1"; return; }
  local expected
  for expected in "DisplayName    REG_SZ    Vaultmere" "DisplayVersion    REG_SZ    $1" \
    "Publisher    REG_SZ    Brackwater Software" "InstallLocation    REG_SZ    $install_dir\\"; do
    grep -qF -- "$expected" "$work/reg.out" || fail "the entry in Apps lacks: $expected"
  done
}
check_removed() {
  check_uninstalled
  [ -z "$(menu_entry)" ] || fail "Start menu entry left"
  reg_query "$(entry_key "$package_code")" && fail "the package's entry in Apps is left"
  is_free "$folder/notes.txt" || fail "the folder stayed locked after the package was removed"
}

[ -f "$package_msi" ] && [ -f "$older_msi" ] || { fail "no package at $package_msi (is wixl installed?)"; exit 1; }

echo "== a failure rolls back: a folder in the way of the task's definition"
mkdir -p "$install_unix/vaultmere-task.xml"
msi i "$package_msi"
rc=$?
# Windows says 1603 (fatal error), Wine's installer 1627 (function failed).
[ $rc -eq $((1603 & 255)) ] || [ $rc -eq $((1627 & 255)) ] || fail "the failed install exited with $rc"
[ ! -e "$install_unix/brwaddon.exe" ] && no_service && [ ! -e "$task_unix" ] &&
  ! reg_query "$(entry_key "$package_code")" || fail "the failed install was not rolled back"
rm -rf "$install_unix"

echo "== the older package installed silently: the guard locks the stored list"
store_item "$item"
msi i "$older_msi" || fail "installing the older package exited with $?"
check_package 1.0.0.0 "$older_code"
wait_until 20 is_locked "$folder/notes.txt" || fail "the guard did not lock the stored folder"

echo "== repaired, as any user may: the guard runs on and the folder never opens"
guard_before="$(installed_copies VaultmereGuard.exe)"
watch_start "$folder/notes.txt"
msi i "$older_msi" REINSTALL=ALL REINSTALLMODE=omus || fail "the repair exited with $?"
watch_stopped || fail "the stored folder opened during the repair"
[ "$guard_before" = "$(installed_copies VaultmereGuard.exe)" ] || fail "the repair stopped the guard"

echo "== an upgrade made to fail, after the installation began, leaves the older package installed and locking"
# Failed by an error action placed between the start of the installation and
# the removal of the older product, which must not come before it.
failing_msi="$work/failing.msi"
cp "$package_msi" "$failing_msi"
msibuild "$failing_msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Target\`) VALUES ('FailAsTold', 19, 'Made to fail')" &&
  msibuild "$failing_msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('FailAsTold', 1505)" ||
  fail "could not make a failing package"
watch_start "$folder/notes.txt"
msi i "$failing_msi"
rc=$?
watch_stopped || fail "the stored folder opened during the failed upgrade"
[ $rc -eq $((1603 & 255)) ] || [ $rc -eq $((1627 & 255)) ] || fail "the failing upgrade exited with $rc"
reg_query "$(entry_key "$older_code")" || fail "the failed upgrade left the older package uninstalled"
[ "$guard_before" = "$(installed_copies VaultmereGuard.exe)" ] || fail "the failed upgrade stopped the guard"
is_locked "$folder/notes.txt" || fail "the folder is not locked after the failed upgrade"

echo "== upgraded: the list kept, the folder shut all through; the older package refused over it"
guard_before="$(installed_copies VaultmereGuard.exe)"
watch_start "$folder/notes.txt"
msi i "$package_msi" || fail "the upgrade exited with $?"
watch_stopped || fail "the stored folder opened during the upgrade"
[ ! -e "$install_unix/VaultmereHold.exe" ] || fail "the holder's copy of the guard is left after the upgrade"
reg_query "$(entry_key "$older_code")" && fail "the older package is still installed beside the new one"
check_package 1.4.0.2 "$package_code"
[ "$guard_before" != "$(installed_copies VaultmereGuard.exe)" ] || fail "the upgrade did not restart the guard"
[ "$(reg_value "$store_key\\Files" File0)" = "$item" ] || fail "the upgrade did not keep the stored list"
wait_until 20 is_locked "$folder/notes.txt" || fail "the upgraded guard did not lock the stored folder"
msi i "$older_msi"
[ $? -eq $((1603 & 255)) ] || fail "the older package was not refused over the newer one"
reg_query "$(entry_key "$older_code")" && fail "the refused older package was installed"
guard_runs || fail "the guard does not run after the refused downgrade"

echo "== removed silently: nothing left, nothing locked, the list and password kept"
msi x "$package_msi" || fail "removing the package exited with $?"
check_removed
[ "$(reg_value "$store_key\\Files" File0)" = "$item" ] || fail "removing the package did not keep the stored list"
[ "$(reg_value "$store_key\\Settings" UserPassword)" = "secret" ] || fail "removing the package lost the password"
store_protected || fail "removing the package did not keep the list's descriptor"

echo "== REMOVESETTINGS=1 removes the list"
msi i "$package_msi" || fail "installing the package exited with $?"
wait_until 20 is_locked "$folder/notes.txt" || fail "the guard did not lock the list kept by the package"
msi x "$package_msi" REMOVESETTINGS=1 || fail "removing the package with REMOVESETTINGS=1 exited with $?"
check_removed
reg_query "$store_key" && fail "REMOVESETTINGS=1 left the stored list and password"
reg_query 'HKLM\SOFTWARE\Brackwater' && fail "REMOVESETTINGS=1 left the empty Brackwater key"

needs_32bit "the rest runs the setup program"
echo "== the setup program refused over the package; over its installation the package refused, the list it keeps locked"
store_item "$item"
msi i "$package_msi" || fail "installing the package exited with $?"
install_rc
[ $? -eq $((1638 & 255)) ] || fail "the setup program did not refuse to install over the package"
[ ! -e "$install_unix/uninstall.exe" ] && ! reg_query "$uninstall_key" || fail "the refused setup installed"
msi x "$package_msi" || fail "removing the package exited with $?"
install
msi i "$package_msi"
[ $? -eq $((1603 & 255)) ] || fail "the package was not refused over the setup program's installation"
reg_query "$(entry_key "$package_code")" && fail "the refused package was installed"
[ -f "$install_unix/uninstall.exe" ] || fail "the refused package changed the setup program's installation"
uninstall
msi i "$package_msi" || fail "installing the package exited with $?"
wait_until 20 is_locked "$folder/notes.txt" || fail "the guard did not lock the list kept by the setup's uninstaller"
msi x "$package_msi" REMOVESETTINGS=1 || fail "removing the package with REMOVESETTINGS=1 exited with $?"
check_removed
reg_query "$store_key" && fail "REMOVESETTINGS=1 left the stored list and password"
reg_query 'HKLM\SOFTWARE\Brackwater' && fail "REMOVESETTINGS=1 left the empty Brackwater key"
finish
