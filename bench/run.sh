#!/usr/bin/env bash
# Builds and runs the locking benchmark under Wine and prints its table.
# Arguments go to lock_bench: the number of files in the folder (10000 when
# not given; 100000 for the large case) and the number of timed rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
scripts/deps.sh
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
  -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build_dir" -j"$(nproc)" --target lock_bench
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
scripts/wine-run.sh "$build_dir/bin/lock_bench.exe" "$@"
