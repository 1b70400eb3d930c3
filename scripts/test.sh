#!/usr/bin/env bash
# Checks that the C++ files are formatted (scripts/check-format.sh), builds
# the 32-bit program and its tests, runs clang-tidy over that build
# (scripts/check-tidy.sh), then runs every test under Wine twice: in a 32-bit
# prefix, and in a 64-bit prefix where the program runs under WOW64 as on
# 64-bit Windows. Arguments go to CTest (-R core, say). VAULTMERE_BUILD_DIR
# picks another build folder, so that several builds can run side by side;
# VAULTMERE_PREFIXES=win32 (or win64) runs one prefix only. Then the plain
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
failed=()
for arch in ${VAULTMERE_PREFIXES:-win32 win64}; do
  echo "== tests in a $arch Wine prefix"
  wine_env_start "$build_dir" "$arch"
  ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300 "$@" || failed+=("$arch")
  wine_env_stop
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in the ${failed[*]} prefix" >&2
  exit 1
fi

if [ "${VAULTMERE_SKIP_NATIVE:-0}" != 1 ]; then
  VAULTMERE_BUILD_DIR="$build_dir" scripts/native-tests.sh
fi
