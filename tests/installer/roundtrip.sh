#!/usr/bin/env bash
# The setup program's round trip under Wine: silent install, what it leaves
# on the machine (the logon task and the definition it keeps, the guard
# service running as registered), the installed program relocking a stored
# folder, the guard alone keeping it locked and letting it go when stopped,
# an update over the running program and guard and over a version that
# started through the Run entry, an update over a program file another
# program holds (with and without delete sharing), uninstall and setup while
# another program keeps the service open, a folder outside Program Files
# refused, a folder whose name holds "&", an earlier install outside Program
# Files moved into it, and silent uninstall keeping or removing the stored
# list and removing the service. Wine keeps neither the trigger, the principal
# nor the action in its own copy of a task, so the kept definition is what is
# checked (with xmllint). Runs inside the Wine environment of scripts/test.sh
# (WINEPREFIX, DISPLAY, a persistent wineserver).
# Wine keeps no failure actions of a service, so those are checked only
# where the system reports them.
# The stored list's key is checked for the descriptor that keeps other users
# out (keyaccess.exe), on a key left before setup, after an uninstall that
# keeps it and on a new install.
# Usage: roundtrip.sh SETUP_EXE PROGRAM_EXE GUARD_EXE OUTSIDER_EXE KEEPER_EXE SERVICEINFO_EXE GUARD_WINDOWS_TESTS_EXE
#        KEYACCESS_EXE
set -uo pipefail

setup_exe="$(realpath "$1")"
program_exe="$(realpath "$2")"
guard_exe="$(realpath "$3")"
outsider_exe="$(realpath "$4")"
keeper_exe="$(realpath "$5")"
serviceinfo_exe="$(realpath "$6")"
windows_tests_exe="$(realpath "$7")"
keyaccess_exe="$(realpath "$8")"
check_name="setup round trip"
. "$(dirname "$0")/wine-checks.sh"

command -v xmllint > /dev/null || { echo "FAIL: xmllint is missing (scripts/deps.sh installs libxml2-utils)"; exit 1; }

# The 32-bit setup's default folder: Program Files (x86) under WOW64.
if [ "${WINEARCH:-win32}" = win64 ]; then program_files='Program Files (x86)'; else program_files='Program Files'; fi
default_dir="C:\\$program_files\\Vaultmere"
# Where the round under way installs; install_to changes both.
install_dir="$default_dir"
install_unix="$WINEPREFIX/drive_c/$program_files/Vaultmere"
task_unix="$WINEPREFIX/drive_c/windows/system32/tasks/Vaultmere"
start_menu_entry="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vaultmere.lnk"
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vaultmere'
store_key='HKLM\SOFTWARE\Brackwater\Addon'
event_source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VaultmereGuard'

started=()
last_started=""

# Z: maps the host's root in every Wine prefix.
windows_path() {
  local path="${1//\//\\}"
  printf 'Z:%s' "$path"
}

alive() {
  [ -r "/proc/$1/stat" ] || return 1
  local state
  state="$(sed 's/^.*) //' "/proc/$1/stat" 2> /dev/null | cut -d' ' -f1)"
  [ "$state" != Z ] && [ "$state" != X ]
}
ended() {
  ! alive "$1"
}

# Copies of the installed program (or of FILE in the install folder)
# running in this prefix, whoever started them (the setup starts one after
# an update, the service manager the guard).
installed_copies() {
  local proc exe="$install_dir\\${1:-brwaddon.exe}"
  for proc in /proc/[0-9]*; do
    [ "$(tr '\0' '\n' 2> /dev/null < "$proc/cmdline" | head -n 1)" = "$exe" ] &&
      tr '\0' '\n' 2> /dev/null < "$proc/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      alive "${proc#/proc/}" && echo "${proc#/proc/}"
  done
}

# wait_until SECONDS COMMAND...: polls the command until it succeeds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

open_from_outside() {
  w "$outsider_exe" "$(windows_path "$1")"
}
is_locked() {
  open_from_outside "$1"
  [ $? -eq 32 ]  # ERROR_SHARING_VIOLATION
}
is_free() {
  open_from_outside "$1"
}

# watch_start FILE: a reader tries to open the locked FILE every 2 ms until
# watch_stopped, which fails when it ever opened it; what it saw in
# $work/watch.out.
watch_start() {
  rm -f "$work/watch.stop" "$work/watch.out"
  wine "$outsider_exe" --watch "$(windows_path "$1")" "$(windows_path "$work/watch.stop")" \
    "$(windows_path "$work/watch.out")" > /dev/null 2>&1 < /dev/null &
  watcher=$!
  wait_until 20 test -s "$work/watch.out" || fail "the reader did not start"
}
watch_stopped() {
  touch "$work/watch.stop"
  wait "$watcher"
  echo "reader: $(cat "$work/watch.out")"
  grep -q '^opened 0 times' "$work/watch.out"
}

# reg_query KEY [reg options]: the key's listing in $work/reg.out; fails when absent.
reg_query() {
  wine reg query "$@" "${reg_view[@]}" > "$work/reg.out" 2>&1 < /dev/null
}
reg_has() {
  reg_query "$1" && grep -qF -- "$2" "$work/reg.out"
}
reg_value() {
  reg_query "$1" /v "$2" || return 1
  sed -n "s/^ *$2 *REG_[A-Z_]* *\(.*\)$/\1/p" "$work/reg.out" | tr -d '\r'
}

# task_value XPATH: text in the task definition the setup keeps, by element
# names without their namespace.
task_value() {
  local path="" step
  for step in ${1//\// }; do path+="/*[local-name()='$step']"; done
  xmllint --xpath "string($path)" "$install_unix/vaultmere-task.xml" 2> /dev/null
}
task_count() {
  local path="" step
  for step in ${1//\// }; do path+="/*[local-name()='$step']"; done
  xmllint --xpath "count($path)" "$install_unix/vaultmere-task.xml" 2> /dev/null
}

# service_info [hold FLAG]: the guard service as the service manager keeps
# it, in $work/service.out; fails when there is none (exit 36, the low byte
# of ERROR_SERVICE_DOES_NOT_EXIST).
service_info() {
  wine "$serviceinfo_exe" VaultmereGuard "$@" > "$work/service.out" 2>&1 < /dev/null
}
service_value() {
  sed -n "s/^$1=//p" "$work/service.out" | tr -d '\r'
}
guard_runs() {
  service_info && [ "$(service_value state)" = 4 ]  # SERVICE_RUNNING
}
no_service() {
  service_info
  [ $? -eq $((1060 & 255)) ]
}

start_installed() {
  local command
  command="$(task_value Task/Actions/Exec/Command)"
  # Started exactly as the logon task says: one quoted path.
  if [[ "$command" != \"*\" ]]; then
    fail "the logon task's command is not a quoted path: [$command]"
    return 1
  fi
  command="${command#\"}"
  command="${command%\"}"
  wine "$command" > "$work/program.out" 2>&1 < /dev/null &
  last_started=$!
  started+=($!)
  echo "started the installed program (pid $!)"
}

# Runs the uninstaller the way deployment tools wait for one: a copy run with
# _?=<install folder> does the work itself instead of handing it to a copy
# in the temporary folder. The arguments come from QuietUninstallString.
# Returns the uninstaller's exit code.
uninstall_rc() {
  local quiet location exe args copy
  quiet="$(reg_value "$uninstall_key" QuietUninstallString)" || { fail "no QuietUninstallString"; return 1; }
  location="$(reg_value "$uninstall_key" InstallLocation)"
  exe="${quiet#\"}"
  exe="${exe%%\"*}"
  args="${quiet#\"}"
  args="${args#"$exe"}"
  args="${args#\"}"
  [ "$args" = " /S" ] || fail "QuietUninstallString does not ask for a silent run: [$quiet]"
  local exe_unix="$WINEPREFIX/drive_c/${exe#C:\\}"
  exe_unix="${exe_unix//\\//}"
  copy="$work/uninstall-copy.exe"
  cp "$exe_unix" "$copy" || { fail "uninstaller missing: $exe"; return 1; }
  # cmd passes the line on as it is: _?= must not be quoted, even with blanks;
  # only "&" needs cmd's escape.
  wine cmd /c "$(windows_path "$copy")$args $* _?=${location//&/^&}" > "$work/uninstall.out" 2>&1 < /dev/null
  local rc=$?
  rm -f "$copy"
  return $rc
}
uninstall() {
  uninstall_rc "$@"
  local rc=$?
  [ $rc -eq 0 ] || fail "uninstaller exited with $rc"
}

# install [FOLDER]: a silent install, into FOLDER when given (/D= goes
# unquoted, so through cmd). Returns the setup's exit code.
install_rc() {
  if [ $# -eq 0 ]; then
    w "$(windows_path "$setup_exe")" /S
  else
    w cmd /c "$(windows_path "$setup_exe") /S /D=${1//&/^&}"
  fi
}
install() {
  install_rc "$@"
  local rc=$?
  [ $rc -eq 0 ] || fail "setup exited with $rc"
}

# install_to FOLDER: where the next checks look.
install_to() {
  install_dir="$1"
  local rest="${1#C:\\}"
  install_unix="$WINEPREFIX/drive_c/${rest//\\//}"
}

nothing_installed() {
  [ ! -e "$install_unix" ] && [ ! -e "$start_menu_entry" ] && ! reg_query "$uninstall_key" &&
    ! reg_value "$run_key" Vaultmere > /dev/null && [ ! -e "$task_unix" ] && no_service
}

# The stored list's key and every key below it only for the system and
# administrators; what each carries in $work/keyaccess.out.
store_protected() {
  wine "$keyaccess_exe" 'SOFTWARE\Brackwater\Addon' > "$work/keyaccess.out" 2>&1 < /dev/null
}

store_item() {
  w reg add "$store_key\\Files" /v File0 /t REG_SZ /d "$1" /f || fail "cannot store File0"
  w reg add "$store_key\\Settings" /v UserPassword /t REG_SZ /d "secret" /f || fail "cannot store the password"
}

cleanup() {
  local pid
  for pid in "${started[@]}" $(installed_copies); do
    alive "$pid" && kill -KILL "$pid" 2> /dev/null
  done
  # A service left behind would start with every later test in this prefix.
  if ! no_service; then
    w sc stop VaultmereGuard
    wait_until 10 test -z "$(installed_copies VaultmereGuard.exe)"
    w sc delete VaultmereGuard
  fi
  if [ $failures -ne 0 ] || [ -e "$install_unix" ]; then
    # Whatever a failed round left behind.
    rm -rf "$install_unix" "$start_menu_entry"
    w schtasks /Delete /F /TN Vaultmere
    w reg delete "$run_key" /v Vaultmere /f
    w reg delete "$uninstall_key" /f
    reg_has 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' Vaultmere &&
      w reg delete 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations /f
  fi
  reg_query "$store_key" && w reg delete "$store_key" /f
  rm -rf "$work"
}
trap cleanup EXIT

check_installed() {
  [ -f "$install_unix/brwaddon.exe" ] || fail "brwaddon.exe not installed"
  [ -f "$install_unix/uninstall.exe" ] || fail "uninstall.exe not installed"
  [ -f "$install_unix/vaultmere.exe" ] || fail "vaultmere.exe not installed"
  cmp -s "$install_unix/brwaddon.exe" "$program_exe" ||
    fail "the installed brwaddon.exe is not this build's"
  grep -qaF "$install_dir\\brwaddon.exe" "$start_menu_entry" 2> /dev/null ||
    fail "no Start menu entry starting the program"
  reg_value "$run_key" Vaultmere > /dev/null && fail "a Run entry starts the program besides the logon task"
  check_task
  check_guard
  store_protected || fail "the stored list's key is not kept from other users: $(tr -d '\r' < "$work/keyaccess.out")"
  [ "$(reg_value "$event_source_key" EventMessageFile)" = "$install_dir\VaultmereGuard.exe" ] ||
    fail "the guard's event source does not name its program file"
  reg_query "$uninstall_key" || fail "no uninstall entry"
  local expected
  for expected in "DisplayName    REG_SZ    Vaultmere" "DisplayVersion    REG_SZ    1.4.0.2" \
    "Publisher    REG_SZ    Brackwater Software" "InstallLocation    REG_SZ    $install_dir" \
    "UninstallString    REG_SZ    \"$install_dir\\uninstall.exe\"" \
    "QuietUninstallString    REG_SZ    \"$install_dir\\uninstall.exe\" /S" \
    "DisplayIcon    REG_SZ    \"$install_dir\\brwaddon.exe\",0" \
    "NoModify    REG_DWORD    0x1" "NoRepair    REG_DWORD    0x1"; do
    grep -qF -- "$expected" "$work/reg.out" || fail "uninstall entry lacks: $expected"
  done
}

check_task() {
  local kept="$install_unix/vaultmere-task.xml"
  [ -f "$task_unix" ] || fail "no task Vaultmere in the system's Tasks folder"
  [ -f "$kept" ] || { fail "the setup kept no task definition"; return; }
  [ "$(head -c 2 "$kept" | od -An -tx1 | tr -d ' \n')" = fffe ] || fail "the task definition is not UTF-16LE with a BOM"
  xmllint --noout "$kept" 2> "$work/xmllint.out" || fail "the task definition is no well-formed XML: $(cat "$work/xmllint.out")"
  local expected path value
  while IFS='=' read -r path expected; do
    value="$(task_value "$path")"
    [ "$value" = "$expected" ] || fail "task $path is [$value], not [$expected]"
  done <<EOF2
Task/Principals/Principal/GroupId=S-1-5-32-545
Task/Principals/Principal/RunLevel=LeastPrivilege
Task/Settings/MultipleInstancesPolicy=Parallel
Task/Settings/ExecutionTimeLimit=PT0S
Task/Settings/DisallowStartIfOnBatteries=false
Task/Settings/StopIfGoingOnBatteries=false
Task/Settings/Priority=4
Task/Actions/Exec/Command="$install_dir\brwaddon.exe"
Task/Actions/Exec/WorkingDirectory=%USERPROFILE%
EOF2
  [ "$(task_count Task/Triggers/LogonTrigger)" = 1 ] || fail "the task has not exactly one logon trigger"
  [ "$(task_count Task/Triggers/LogonTrigger/UserId)" = 0 ] || fail "the logon trigger is limited to one user"
  [ "$(task_count Task/Principals/Principal/UserId)" = 0 ] || fail "the task runs as one user, not the Users group"
  [ "$(xmllint --xpath "string(/*[local-name()='Task']/*[local-name()='Actions']/@Context)" "$kept")" = \
    "$(xmllint --xpath "string(//*[local-name()='Principal']/@id)" "$kept")" ] ||
    fail "the action does not run as the task's principal"
}

# The guard service runs, registered as setup registers it.
check_guard() {
  cmp -s "$install_unix/VaultmereGuard.exe" "$guard_exe" || fail "the installed VaultmereGuard.exe is not this build's"
  service_info || { fail "no service VaultmereGuard ($?)"; return; }
  local key expected value
  while IFS='=' read -r key expected; do
    value="$(service_value "$key")"
    [ "$value" = "$expected" ] || fail "service $key is [$value], not [$expected]"
  done <<EOF2
state=4
type=16
start=2
binary="$install_dir\VaultmereGuard.exe"
account=LocalSystem
display=Vaultmere Guard
description=Keeps the folders chosen in Vaultmere locked for every user of this computer and checks the password before any of them is unlocked.
EOF2
  # Restarted after 5 s, 30 s and 60 s (SC_ACTION_RESTART is 1), failures
  # counted afresh after a day.
  if [ "$(service_value failure)" != "not kept" ]; then
    [ "$(service_value reset)" = 86400 ] || fail "service failures are counted afresh after [$(service_value reset)] s"
    [ "$(service_value actions)" = "1/5000 1/30000 1/60000" ] ||
      fail "service failure actions are [$(service_value actions)]"
  fi
  [ -n "$(installed_copies VaultmereGuard.exe)" ] || fail "the guard does not run from $install_dir"
}

check_uninstalled() {
  [ ! -e "$install_unix" ] || fail "files left in the install folder: $(ls -A "$install_unix")"
  [ ! -e "$start_menu_entry" ] || fail "Start menu entry left"
  reg_value "$run_key" Vaultmere > /dev/null && fail "start-at-logon entry left"
  [ ! -e "$task_unix" ] || fail "the logon task is left"
  reg_query "$uninstall_key" && fail "uninstall entry left"
  no_service || fail "the service VaultmereGuard is left"
  reg_query "$event_source_key" && fail "the guard's event source is left"
  [ -z "$(installed_copies VaultmereGuard.exe)" ] || fail "the guard still runs"
}

[ -f "$setup_exe" ] || { fail "no setup program at $setup_exe (is makensis installed? scripts/deps.sh)"; exit 1; }
reg_query "$store_key" && w reg delete "$store_key" /f
nothing_installed || { fail "Vaultmere is installed in this prefix already"; exit 1; }

folder="$work/private"
mkdir -p "$folder"
echo "secret notes" > "$folder/notes.txt"
item="$(windows_path "$folder")\\*.*"
item="${item,,}"
# Sourced by package.sh for the helpers and the folder above.
[ -n "${ROUNDTRIP_HELPERS_ONLY:-}" ] && return 0
needs_32bit "every round runs the setup program"

echo "== round 1: install, relock, uninstall (of a guard whose process was killed) keeping the stored list"
# Stored first: the guard reads the list when it starts.
store_item "$item"
install
check_installed
start_installed
resident=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the installed program did not lock the stored folder"
# A guard whose process ended unasked (Wine goes on reporting it running):
# the uninstaller removes the service all the same.
for pid in $(installed_copies VaultmereGuard.exe); do kill -KILL "$pid"; done
uninstall
wait_until 10 ended "$resident" ||
  fail "the uninstaller did not end the running program"
is_free "$folder/notes.txt" || fail "the folder stayed locked after uninstall"
check_uninstalled
[ "$(reg_value "$store_key\\Files" File0)" = "$item" ] || fail "silent uninstall did not keep the stored list"
[ "$(reg_value "$store_key\\Settings" UserPassword)" = "secret" ] || fail "silent uninstall did not keep the password"
store_protected || fail "silent uninstall did not keep the stored list's descriptor: $(tr -d '\r' < "$work/keyaccess.out")"

echo "== round 2: install over a version that started through the Run entry, update over the running program and guard, the guard alone, uninstall with /REMOVESETTINGS"
w reg add "$run_key" /v Vaultmere /t REG_SZ /d "\"$install_dir\\brwaddon.exe\"" /f || fail "cannot write the old Run entry"
install
check_installed
start_installed
first=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the installed program did not relock the kept list"
guard_before="$(installed_copies VaultmereGuard.exe)"
guard_file_before="$(stat -c %i "$install_unix/VaultmereGuard.exe")"
watch_start "$folder/notes.txt"
install
watch_stopped || fail "the stored folder opened during the update"
wait_until 5 ended "$first" || fail "setup did not end the running program before replacing it"
# The guard was stopped, its process gone and its file replaced; it runs again.
for pid in $guard_before; do
  wait_until 2 ended "$pid" || fail "the guard that ran before the update still runs"
done
[ "$(stat -c %i "$install_unix/VaultmereGuard.exe")" != "$guard_file_before" ] ||
  fail "the update did not replace VaultmereGuard.exe"
check_installed
# The silent update starts the new program again, so the folder is locked again.
wait_until 20 is_locked "$folder/notes.txt" || fail "the program was not started again after the update"
restarted="$(installed_copies)"
[ -n "$restarted" ] || fail "no copy of the installed program runs after the update"
# With every copy of the program ended the guard alone keeps the stored
# folder locked; stopped, it lets go; started again, it locks it again.
for pid in $restarted; do
  kill -KILL "$pid"
  wait_until 10 ended "$pid" || fail "a copy of the program could not be ended"
done
is_locked "$folder/notes.txt" || fail "the stored folder is not locked with every copy of the program ended"
w sc stop VaultmereGuard || fail "the guard could not be stopped"
wait_until 10 is_free "$folder/notes.txt" || fail "the stored folder stays locked with the guard stopped"
wait_until 10 test -z "$(installed_copies VaultmereGuard.exe)" || fail "the stopped guard's process stays"
w sc start VaultmereGuard || fail "the guard could not be started again"
wait_until 10 is_locked "$folder/notes.txt" || fail "the guard started again did not lock the stored folder"
# The installed program as the guard's window: a second start, the password,
# Unlock Item and Relock Item through the guard, an unlock ending with its
# copy, the guard stopped and started again under an open window. The test
# stores a list of its own and removes it, and /REMOVESETTINGS follows.
VAULTMERE_INSTALLED_FOLDER="$install_dir" wine "$windows_tests_exe" --gtest_filter='GuardWindowsTest.TheGuard*' \
  > "$work/windows.out" 2>&1 < /dev/null ||
  fail "the installed program did not work as the guard's window: $(grep -A4 Failure "$work/windows.out" | head -20)"
grep -qF "[  PASSED  ] 1 test" "$work/windows.out" || fail "the window scenario did not run: $(tail -5 "$work/windows.out")"
start_installed
restarted=$last_started
uninstall /REMOVESETTINGS
for pid in $restarted; do
  wait_until 10 ended "$pid" || fail "the uninstaller did not end the program the update started"
done
is_free "$folder/notes.txt" || fail "the folder stayed locked after uninstall"
check_uninstalled
reg_query "$store_key" && fail "/REMOVESETTINGS left the stored list and password"
reg_query 'HKLM\SOFTWARE\Brackwater' && fail "/REMOVESETTINGS left the empty Brackwater key"

echo "== round 3: an update over a program file another program holds; a service another program holds open"
install
check_installed
# An older version: its own file and version number.
old_version=1.4.0.1
mark_old() {
  echo "the old program" > "$install_unix/brwaddon.exe"
  w reg add "$uninstall_key" /v DisplayVersion /t REG_SZ /d "$old_version" /f || fail "cannot write the old version"
}
# hold SHARING [FILE]: another program holds the program file (or FILE in
# the install folder) until release.
hold() {
  rm -f "$work/held"
  wine "$keeper_exe" "$(windows_path "$install_unix/${2:-brwaddon.exe}")" "$1" "$(windows_path "$work/held")" \
    > "$work/keeper.out" 2>&1 < /dev/null &
  keeper=$!
  started+=($keeper)
  wait_until 30 test -e "$work/held" || fail "the keeper did not hold the program file"
}
release() {
  rm -f "$work/held"
  wait_until 10 ended $keeper || fail "the keeper did not let go of the program file"
}
mark_old
# Held as Windows holds a running program: read and delete sharing.
hold delete
install
cmp -s "$install_unix/brwaddon.exe" "$program_exe" || fail "the held program file was not replaced"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 1.4.0.2 ] || fail "the update did not record its version"
release
# Deleted while held: gone once the holder lets go (at once where deleting
# removes the name), or at the next restart.
! ls "$install_unix"/*.old > /dev/null 2>&1 ||
  reg_has 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' brwaddon.exe ||
  fail "the old program file stays beside the new one: $(ls -A "$install_unix")"
# Held with no delete sharing: setup says so, exits non-zero and keeps the
# old version.
mark_old
hold none
service_info
guard_before="$(service_value process)"
install_rc && fail "setup reported success over a program file it could not replace"
grep -qF "the old program" "$install_unix/brwaddon.exe" || fail "the refused update changed the program file"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$old_version" ] || fail "the refused update recorded its version"
[ -f "$install_unix/uninstall.exe" ] || fail "the refused update lost the uninstaller"
ls "$install_unix"/*.old > /dev/null 2>&1 && fail "the refused update left files aside: $(ls -A "$install_unix")"
guard_runs && [ "$(service_value process)" = "$guard_before" ] || fail "the refused update stopped the guard"
release
# The guard's program file held the same way: the same refusal.
hold none VaultmereGuard.exe
service_info
guard_before="$(service_value process)"
install_rc && fail "setup reported success over a guard program file it could not replace"
grep -qF "the old program" "$install_unix/brwaddon.exe" || fail "the refused update changed the program file"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$old_version" ] || fail "the refused update recorded its version"
ls "$install_unix"/*.old > /dev/null 2>&1 && fail "the refused update left files aside: $(ls -A "$install_unix")"
guard_runs && [ "$(service_value process)" = "$guard_before" ] || fail "the refused update stopped the guard"
release
install
check_installed
uninstall /REMOVESETTINGS
check_uninstalled

# Another program keeps the service open (as the Services window does): the
# uninstaller stops it and removes everything, but says the service stays
# registered until that program lets go, with ERROR_SUCCESS_REBOOT_REQUIRED;
# setup refuses to install meanwhile, having changed nothing.
install
rm -f "$work/service-held"
wine "$serviceinfo_exe" VaultmereGuard hold "$(windows_path "$work/service-held")" > /dev/null 2>&1 < /dev/null &
service_holder=$!
started+=($service_holder)
wait_until 30 test -e "$work/service-held" || fail "the service was not held open"
uninstall_rc
[ $? -eq $((3010 & 255)) ] || fail "the uninstaller did not say that the service stays until it is let go"
[ -z "$(installed_copies VaultmereGuard.exe)" ] || fail "the guard still runs after uninstall"
[ ! -e "$install_unix" ] || fail "files left in the install folder: $(ls -A "$install_unix")"
service_info && [ "$(service_value state)" = 1 ] || fail "the held service is not there, stopped"
install_rc
[ $? -eq 2 ] || fail "setup did not refuse to install while the service is marked for deletion"
[ ! -e "$install_unix" ] && ! reg_query "$uninstall_key" || fail "the refused install left something behind"
rm -f "$work/service-held"
wait_until 10 ended $service_holder || fail "the service holder did not let go"
wait_until 10 no_service || fail "the service stays registered once nothing holds it"
check_uninstalled

echo "== round 4: a folder outside Program Files is refused; one with \"&\" inside it is taken"
outside='C:\Tools & Co\Vaultmere'
install_rc "$outside" && fail "setup installed outside Program Files"
[ ! -e "$WINEPREFIX/drive_c/Tools & Co" ] || fail "the refused install wrote into $outside"
nothing_installed || fail "the refused install left something behind"
w cmd /c "$(windows_path "$setup_exe") /S /D=C:\\$program_files\\..\\Tools ^& Co\\Vaultmere"
[ $? -ne 0 ] || fail "setup installed outside Program Files through \"..\""
nothing_installed || fail "the refused install left something behind"

install_to "C:\\$program_files\\Tools & Co\\Vaultmere"
store_item "$item"
install "$install_dir"
check_installed
start_installed
resident=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the program installed in a folder named with \"&\" did not lock the folder"

# An earlier version installed outside Program Files, running from there: an
# update moves it into Program Files and ends the copy.
old_unix="$WINEPREFIX/drive_c/Tools & Co/Vaultmere"
mkdir -p "$old_unix"
cp "$install_unix/brwaddon.exe" "$install_unix/VaultmereGuard.exe" "$install_unix/uninstall.exe" \
  "$install_unix/vaultmere-task.xml" "$old_unix/"
uninstall
wait_until 10 ended "$resident" || fail "the uninstaller did not end the running program"
check_uninstalled
install_to "$outside"
w reg add "$uninstall_key" /v InstallLocation /t REG_SZ /d "$outside" /f || fail "cannot record the old install"
w reg add "$uninstall_key" /v DisplayVersion /t REG_SZ /d "$old_version" /f
start_installed_at() {
  wine "$1" > "$work/program.out" 2>&1 < /dev/null &
  last_started=$!
  started+=($!)
}
start_installed_at "$outside\\brwaddon.exe"
old_copy=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the program outside Program Files did not lock the folder"
install
wait_until 5 ended "$old_copy" || fail "the update did not end the copy running outside Program Files"
[ ! -e "$old_unix/brwaddon.exe" ] && [ ! -e "$old_unix/VaultmereGuard.exe" ] && [ ! -e "$old_unix/uninstall.exe" ] &&
  [ ! -e "$old_unix/vaultmere-task.xml" ] ||
  fail "the update left the old folder's files: $(ls -A "$old_unix")"
[ ! -e "$old_unix" ] || fail "the update left the old, empty folder"
install_to "$default_dir"
check_installed
wait_until 20 is_locked "$folder/notes.txt" || fail "the program was not started again after the move"
uninstall /REMOVESETTINGS
check_uninstalled
rmdir "$WINEPREFIX/drive_c/Tools & Co" 2> /dev/null
finish
