# Sourced by the setup's test scripts, which run inside the Wine environment
# of scripts/test.sh: a work folder, failures counted as they are found, Wine
# commands with their output in a file, and the closing verdict.
: "${WINEPREFIX:?run this inside the Wine environment of scripts/test.sh}"
# No desktop entries on the host for the Start menu entry.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"
# wine_runs_32bit: whether this host runs 32-bit code.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

work="$(mktemp -d "${TMPDIR:-/tmp}/vaultmere-${check_name// /-}.XXXXXX")"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The checks see the registry as the 32-bit setup does: through the 32-bit
# reg.exe, which `wine reg` is wherever 32-bit code runs. Elsewhere `wine`
# is the 64-bit loader, and reg is told the view.
reg_view=()
wine_runs_32bit || reg_view=(/reg:32)

# Wine's output always goes to a file: a pipe would be held by Wine's helpers.
w() {
  if [ "$1" = reg ] && [[ " $* " != *" /reg:"* ]]; then set -- "$@" "${reg_view[@]}"; fi
  wine "$@" > "$work/wine.out" 2>&1 < /dev/null
}

# The setup program is 32-bit whatever it installs (makensis writes a 32-bit
# stub). On a host that runs no 32-bit code, needs_32bit ends the check at
# the first step that runs it: a failure found so far still fails it, else it
# exits with 77, which CTest reports as skipped, and says why.
needs_32bit() {
  wine_runs_32bit && return 0
  [ $failures -eq 0 ] || finish
  echo "SKIPPED: $check_name: $*, and this host runs no 32-bit code"
  exit 77
}

# Exits with the verdict: every failure counted, or passed.
finish() {
  if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "$check_name passed"
}
