#!/usr/bin/env bash
# Keeps the resident copy running under Wine with 1,000 stored items and a
# show request every few seconds, and prints its handle count, memory and
# CPU time at the start and at the end. Not part of the test command.
# Arguments: minutes (60), items (1000), seconds between requests (3).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/soak}"
. scripts/build-env.sh
VAULTMERE_CMAKE_ARGS=-DVAULTMERE_BUILD_TESTS=OFF vaultmere_build "$build_dir" resident_watch
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
scripts/wine-run.sh "$build_dir/bin/resident_watch.exe" "${1:-60}" "${2:-1000}" "${3:-3}"
