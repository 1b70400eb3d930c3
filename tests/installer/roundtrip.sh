#!/usr/bin/env bash
# The setup program's round trip under Wine: silent install, what it leaves
# on the machine (the logon task and the definition it keeps), the installed
# program relocking a stored folder, an update over the running program and
# over a version that started through the Run entry, an update over a
# program file another program holds (with and without delete sharing), a
# folder outside Program Files refused, a folder whose name holds "&", an
# earlier install outside Program Files moved into it, and silent uninstall
# keeping or removing the stored list. Wine keeps neither the trigger, the principal
# nor the action in its own copy of a task, so the kept definition is what is
# checked (with xmllint). Runs inside the Wine environment of scripts/test.sh
# (WINEPREFIX, DISPLAY, a persistent wineserver).
# Usage: roundtrip.sh SETUP_EXE PROGRAM_EXE OUTSIDER_EXE KEEPER_EXE
set -uo pipefail

setup_exe="$(realpath "$1")"
program_exe="$(realpath "$2")"
outsider_exe="$(realpath "$3")"
keeper_exe="$(realpath "$4")"
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

# Copies of the installed program running in this prefix, whoever started
# them (the setup starts one after an update).
installed_copies() {
  local proc exe="$install_dir\\brwaddon.exe"
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

# reg_query KEY [reg options]: the key's listing in $work/reg.out; fails when absent.
reg_query() {
  wine reg query "$@" > "$work/reg.out" 2>&1 < /dev/null
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
uninstall() {
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
    ! reg_value "$run_key" Vaultmere > /dev/null && [ ! -e "$task_unix" ]
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
  cmp -s "$install_unix/brwaddon.exe" "$program_exe" ||
    fail "the installed brwaddon.exe is not this build's"
  grep -qaF "$install_dir\\brwaddon.exe" "$start_menu_entry" 2> /dev/null ||
    fail "no Start menu entry starting the program"
  reg_value "$run_key" Vaultmere > /dev/null && fail "a Run entry starts the program besides the logon task"
  check_task
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
Task/Principals/Principal/RunLevel=HighestAvailable
Task/Settings/MultipleInstancesPolicy=Parallel
Task/Settings/ExecutionTimeLimit=PT0S
Task/Settings/DisallowStartIfOnBatteries=false
Task/Settings/StopIfGoingOnBatteries=false
Task/Settings/Priority=4
Task/Actions/Exec/Command="$install_dir\brwaddon.exe"
Task/Actions/Exec/WorkingDirectory=$install_dir
EOF2
  [ "$(task_count Task/Triggers/LogonTrigger)" = 1 ] || fail "the task has not exactly one logon trigger"
  [ "$(task_count Task/Triggers/LogonTrigger/UserId)" = 0 ] || fail "the logon trigger is limited to one user"
  [ "$(task_count Task/Principals/Principal/UserId)" = 0 ] || fail "the task runs as one user, not the Users group"
  [ "$(xmllint --xpath "string(/*[local-name()='Task']/*[local-name()='Actions']/@Context)" "$kept")" = \
    "$(xmllint --xpath "string(//*[local-name()='Principal']/@id)" "$kept")" ] ||
    fail "the action does not run as the task's principal"
}

check_uninstalled() {
  [ ! -e "$install_unix" ] || fail "files left in the install folder: $(ls -A "$install_unix")"
  [ ! -e "$start_menu_entry" ] || fail "Start menu entry left"
  reg_value "$run_key" Vaultmere > /dev/null && fail "start-at-logon entry left"
  [ ! -e "$task_unix" ] || fail "the logon task is left"
  reg_query "$uninstall_key" && fail "uninstall entry left"
}

[ -f "$setup_exe" ] || { fail "no setup program at $setup_exe (is makensis installed? scripts/deps.sh)"; exit 1; }
reg_query "$store_key" && w reg delete "$store_key" /f
nothing_installed || { fail "Vaultmere is installed in this prefix already"; exit 1; }

folder="$work/private"
mkdir -p "$folder"
echo "secret notes" > "$folder/notes.txt"
item="$(windows_path "$folder")\\*.*"
item="${item,,}"

echo "== round 1: install, relock, uninstall keeping the stored list"
install
check_installed
store_item "$item"
start_installed
resident=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the installed program did not lock the stored folder"
uninstall
wait_until 10 ended "$resident" ||
  fail "the uninstaller did not end the running program"
is_free "$folder/notes.txt" || fail "the folder stayed locked after uninstall"
check_uninstalled
[ "$(reg_value "$store_key\\Files" File0)" = "$item" ] || fail "silent uninstall did not keep the stored list"
[ "$(reg_value "$store_key\\Settings" UserPassword)" = "secret" ] || fail "silent uninstall did not keep the password"

echo "== round 2: install over a version that started through the Run entry, update over the running program, uninstall with /REMOVESETTINGS"
w reg add "$run_key" /v Vaultmere /t REG_SZ /d "\"$install_dir\\brwaddon.exe\"" /f || fail "cannot write the old Run entry"
install
check_installed
start_installed
first=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the installed program did not relock the kept list"
install
wait_until 5 ended "$first" || fail "setup did not end the running program before replacing it"
check_installed
# The silent update starts the new program again, so the folder is locked again.
wait_until 20 is_locked "$folder/notes.txt" || fail "the program was not started again after the update"
restarted="$(installed_copies)"
[ -n "$restarted" ] || fail "no copy of the installed program runs after the update"
uninstall /REMOVESETTINGS
for pid in $restarted; do
  wait_until 10 ended "$pid" || fail "the uninstaller did not end the program the update started"
done
is_free "$folder/notes.txt" || fail "the folder stayed locked after uninstall"
check_uninstalled
reg_query "$store_key" && fail "/REMOVESETTINGS left the stored list and password"
reg_query 'HKLM\SOFTWARE\Brackwater' && fail "/REMOVESETTINGS left the empty Brackwater key"

echo "== round 3: an update over a program file another program holds"
install
check_installed
# An older version: its own file and version number.
old_version=1.4.0.1
mark_old() {
  echo "the old program" > "$install_unix/brwaddon.exe"
  w reg add "$uninstall_key" /v DisplayVersion /t REG_SZ /d "$old_version" /f || fail "cannot write the old version"
}
# hold SHARING: another program holds the program file until release.
hold() {
  rm -f "$work/held"
  wine "$keeper_exe" "$(windows_path "$install_unix/brwaddon.exe")" "$1" "$(windows_path "$work/held")" \
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
install_rc && fail "setup reported success over a program file it could not replace"
grep -qF "the old program" "$install_unix/brwaddon.exe" || fail "the refused update changed the program file"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$old_version" ] || fail "the refused update recorded its version"
[ -f "$install_unix/uninstall.exe" ] || fail "the refused update lost the uninstaller"
ls "$install_unix"/*.old > /dev/null 2>&1 && fail "the refused update left files aside: $(ls -A "$install_unix")"
release
install
check_installed
uninstall /REMOVESETTINGS
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
install "$install_dir"
check_installed
store_item "$item"
start_installed
resident=$last_started
wait_until 20 is_locked "$folder/notes.txt" || fail "the program installed in a folder named with \"&\" did not lock the folder"

# An earlier version installed outside Program Files, running from there: an
# update moves it into Program Files and ends the copy.
old_unix="$WINEPREFIX/drive_c/Tools & Co/Vaultmere"
mkdir -p "$old_unix"
cp "$install_unix/brwaddon.exe" "$install_unix/uninstall.exe" "$install_unix/vaultmere-task.xml" "$old_unix/"
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
[ ! -e "$old_unix/brwaddon.exe" ] && [ ! -e "$old_unix/uninstall.exe" ] && [ ! -e "$old_unix/vaultmere-task.xml" ] ||
  fail "the update left the old folder's files: $(ls -A "$old_unix")"
[ ! -e "$old_unix" ] || fail "the update left the old, empty folder"
install_to "$default_dir"
check_installed
wait_until 20 is_locked "$folder/notes.txt" || fail "the program was not started again after the move"
uninstall /REMOVESETTINGS
check_uninstalled
rmdir "$WINEPREFIX/drive_c/Tools & Co" 2> /dev/null
finish
