#!/usr/bin/env bash
# How long another program could open a locked file while the guard is
# repaired or upgraded by its package and updated by setup: the package's and
# setup's round trips (tests/installer) each run a reader that tries the file
# every 2 ms all through, and say what it saw; this prints their figures as
# a table. (The guard's own stop for an update, and an administrator's stop,
# are rows of guard_bench.) Takes about 3 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
. scripts/build-env.sh
vaultmere_build "$build_dir"
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
out="$(mktemp)"
ctest --test-dir "$build_dir" -V -R '^(installer|package)$' > "$out" 2>&1 || echo "(a round trip failed: see $out)"
echo "| while | opened | longest free | target |"
echo "|---|---|---|---|"
# Each reader's line follows the heading of its round.
sed -n 's/^[0-9]*: //p' "$out" | awk '
  /^== / { heading = substr($0, 4) }
  /^reader: opened/ { printf "| %s | %s times | %s ms | 0 |\n", heading, $3, $7 }'
