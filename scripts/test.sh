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
# On a host that runs no 32-bit code (a kernel without IA-32 emulation; see
# wine_runs_32bit in scripts/wine-env.sh) the 32-bit program is still built
# and checked, but cannot run: a 64-bit build of the program and its tests
# (VAULTMERE_BUILD_DIR_64, build/x86_64) runs them in the 64-bit prefix, and
# the few tests that need 32-bit code say so and are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
checks="${VAULTMERE_SKIP_CHECKS:-0}"

[ "$checks" = 1 ] || scripts/check-format.sh

. scripts/build-env.sh
VAULTMERE_ARCH=i686 vaultmere_build "$build_dir"

[ "$checks" = 1 ] || VAULTMERE_BUILD_DIR="$build_dir" scripts/check-tidy.sh

. scripts/wine-env.sh
test_dir="$build_dir"
prefixes="${VAULTMERE_PREFIXES:-win32 win64}"
if ! wine_runs_32bit; then
  test_dir="${VAULTMERE_BUILD_DIR_64:-build/x86_64}"
  cat <<NOTE
================================================================================
THIS HOST RUNS NO 32-BIT CODE: the 32-bit program in $build_dir was built and
checked, but none of it can run here. The tests run on a 64-bit build of the
same sources ($test_dir) in a 64-bit Wine prefix only; tests that need 32-bit
code (the NSIS setup, WOW64) are reported as skipped, with the reason.
================================================================================
NOTE
  VAULTMERE_ARCH=x86_64 vaultmere_build "$test_dir"
  case " $prefixes " in
    *" win64 "*) prefixes=win64 ;;
    *) echo "No 32-bit prefix on this host: VAULTMERE_PREFIXES=$prefixes has nothing to run" >&2; exit 1 ;;
  esac
fi

trap wine_env_stop EXIT
failed=()
for arch in $prefixes; do
  echo "== tests of $test_dir in a $arch Wine prefix"
  wine_env_start "$test_dir" "$arch"
  ctest --test-dir "$test_dir" --output-on-failure -j2 --timeout 300 "$@" || failed+=("$arch")
  wine_env_stop
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in the ${failed[*]} prefix" >&2
  exit 1
fi
if ! wine_runs_32bit; then
  echo "NOTE: the tests ran on the 64-bit build ($test_dir); the 32-bit program was built but not run on this host."
fi

if [ "${VAULTMERE_SKIP_NATIVE:-0}" != 1 ]; then
  VAULTMERE_BUILD_DIR="$build_dir" scripts/native-tests.sh
fi
