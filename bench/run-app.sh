#!/usr/bin/env bash
# Builds and runs the start-up and show request benchmarks under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
. scripts/build-env.sh
vaultmere_build "$build_dir" startup_bench show_request_bench
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
for bench in startup_bench show_request_bench; do
  scripts/wine-run.sh "$build_dir/bin/$bench.exe"
done
