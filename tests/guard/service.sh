#!/usr/bin/env bash
# The guard as a service under Wine: registered with the service manager,
# started, it holds the stored folder's files shut to another process;
# a control code of the range services define for themselves changes
# nothing; stopped, it lets them go; started again, it takes them again.
# Runs inside the Wine environment of scripts/test.sh.
# Usage: service.sh VaultmereGuard.exe outsider.exe service_control.exe
set -uo pipefail
guard_exe="$(realpath "$1")"
outsider_exe="$(realpath "$2")"
control_exe="$(realpath "$3")"
check_name="guard service"
. "$(dirname "$0")/../installer/wine-checks.sh"

folder="$work/locked"
mkdir -p "$folder"
echo private > "$folder/a.txt"
files_key='HKLM\SOFTWARE\Brackwater\Addon\Files'

# Whether another process can open the file: 0 when it opens, else the error.
opens() {
  w "$outsider_exe" "$(winepath -w "$folder/a.txt" 2> /dev/null)"
  echo $?
}

cleanup() {
  w sc stop VaultmereGuard
  w sc delete VaultmereGuard
  w reg delete "$files_key" /f /reg:32
  rm -rf "$work"
}
trap cleanup EXIT

w reg add "$files_key" /v File0 /t REG_SZ /d "$(winepath -w "$folder" 2> /dev/null)\\*.*" /f /reg:32 ||
  fail "the stored list could not be written"
w sc create VaultmereGuard binPath= "\"$(winepath -w "$guard_exe" 2> /dev/null)\"" ||
  fail "the service could not be registered"

# Waits up to five seconds for the outsider's open to give the result wanted.
opens_with() {
  for _ in $(seq 50); do
    [ "$(opens)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

for round in first second; do
  w sc start VaultmereGuard || fail "$round start failed"
  opens_with 32 || fail "$round start: the stored folder's file opens from another process"
  for code in 128 200 255; do
    w "$control_exe" VaultmereGuard "$code"
    state=$?
    [ "$state" = 4 ] || fail "$round start: after control $code the service reports state $state, not running"
    [ "$(opens)" = 32 ] || fail "$round start: control $code let the stored folder's file go"
  done
  w sc stop VaultmereGuard || fail "$round stop failed: $(tr -d '\r' < "$work/wine.out" | grep -v '^[0-9a-f]*:' | head -5)"
  opens_with 0 || fail "$round stop: the file stays shut"
  # The stop is answered at once and reported done once all is let go.
  for _ in $(seq 50); do
    w "$control_exe" VaultmereGuard 0
    [ $? = 1 ] && break
    sleep 0.1
  done
done
finish
