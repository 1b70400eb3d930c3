#!/usr/bin/env bash
# Checks that the C++ files are formatted (scripts/check-format.sh), builds
# the 32-bit program and its tests, runs clang-tidy over that build
# (scripts/check-tidy.sh), then runs every test under Wine.
# Arguments go to CTest (-R core, say). VAULTMERE_BUILD_DIR picks another
# build folder, so that several builds can run side by side. Then the plain
# parts are tested natively under sanitizers and fuzzed for a few seconds
# (scripts/native-tests.sh), unless VAULTMERE_SKIP_NATIVE=1.
# VAULTMERE_SKIP_CHECKS=1 skips the format and clang-tidy checks.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
checks="${VAULTMERE_SKIP_CHECKS:-0}"

[ "$checks" = 1 ] || scripts/check-format.sh

. scripts/build-env.sh
vaultmere_build "$build_dir"

[ "$checks" = 1 ] || VAULTMERE_BUILD_DIR="$build_dir" scripts/check-tidy.sh

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300 "$@"
wine_env_stop

if [ "${VAULTMERE_SKIP_NATIVE:-0}" != 1 ]; then
  VAULTMERE_BUILD_DIR="$build_dir" scripts/native-tests.sh
fi
