#!/usr/bin/env bash
# Builds the 32-bit program and its tests, then runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset i686 > /dev/null
cmake --build build/i686 -j"$(nproc)"

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start build/i686
ctest --test-dir build/i686 --output-on-failure -j2 --timeout 300 "$@"
