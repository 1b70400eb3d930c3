#!/usr/bin/env bash
# Keeps the resident copy running under Wine with 1,000 stored items and a
# show request every few seconds, and prints its handle count, memory and
# CPU time at the start and at the end. Not part of the test command.
# Arguments: minutes (60), items (1000), seconds between requests (3).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/soak}"
scripts/deps.sh
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVAULTMERE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir" -j"$(nproc)" --target resident_watch
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
scripts/wine-run.sh "$build_dir/bin/resident_watch.exe" "${1:-60}" "${2:-1000}" "${3:-3}"
