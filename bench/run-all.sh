#!/usr/bin/env bash
# Builds every benchmark and runs them all under Wine, printing one table:
# locking (10,000 files; pass more to bench/run.sh on a machine where Wine may
# hold 100,000 files open), a folder locked with its subfolders (10,000 files
# in 1,000 folders), start-up relock, show requests, and the resident copy
# idle for 10 minutes with 1,000 items and briefly with none,
# a resident copy whose 10,000 files another process holds, and the guard
# service (start, requests, the window through it, idle).
# Takes about 30 minutes. IDLE_MINUTES shortens the idle run, WAITING_MINUTES
# the waiting one's measured part and WAITING_SETTLE_MINUTES its first part (10).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/bench}"
. scripts/build-env.sh
VAULTMERE_CMAKE_ARGS=-DVAULTMERE_BUILD_TESTS=OFF \
  vaultmere_build "$build_dir" lock_bench tree_bench startup_bench show_request_bench resident_watch waiting_bench \
    guard_bench bare_service VaultmereGuard brwaddon
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"

bin="$build_dir/bin"
echo "Vaultmere benchmarks, $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m), $(wine --version 2> /dev/null)"
echo
scripts/wine-run.sh "$bin/lock_bench.exe" 10000
export VAULTMERE_BENCH_ROWS=1
for run in "tree_bench.exe" "startup_bench.exe 1000 10" "show_request_bench.exe 20" \
  "resident_watch.exe ${IDLE_MINUTES:-10} 1000 0" "resident_watch.exe 0.5 0 0" \
  "waiting_bench.exe ${WAITING_MINUTES:-3} 10000 ${WAITING_SETTLE_MINUTES:-10}" \
  "guard_bench.exe 10000 ${IDLE_MINUTES:-10}"; do
  # shellcheck disable=SC2086
  scripts/wine-run.sh "$bin/"$run
done
