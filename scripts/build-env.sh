# Sourced by the scripts that build the program.
# vaultmere_build BUILD_DIR [TARGET...]: installs what is missing, configures
# BUILD_DIR with the toolchain of VAULTMERE_ARCH (i686, the product, by
# default; x86_64 for the 64-bit build that runs the tests on a host that runs
# no 32-bit code) and extra CMake arguments in VAULTMERE_CMAKE_ARGS, and
# builds the targets given, or everything.
vaultmere_build() {
  local build_dir="$1"
  shift
  scripts/deps.sh
  # shellcheck disable=SC2086
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-${VAULTMERE_ARCH:-i686}-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release ${VAULTMERE_CMAKE_ARGS:-} > /dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$build_dir" -j"$(nproc)" --target "$@"
  else
    cmake --build "$build_dir" -j"$(nproc)"
  fi
}
