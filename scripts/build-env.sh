# Sourced by the scripts that build the 32-bit program.
# vaultmere_build BUILD_DIR [TARGET...]: installs what is missing, configures
# BUILD_DIR with the i686 toolchain (extra CMake arguments in
# VAULTMERE_CMAKE_ARGS) and builds the targets given, or everything.
vaultmere_build() {
  local build_dir="$1"
  shift
  scripts/deps.sh
  # shellcheck disable=SC2086
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
    -DCMAKE_BUILD_TYPE=Release ${VAULTMERE_CMAKE_ARGS:-} > /dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$build_dir" -j"$(nproc)" --target "$@"
  else
    cmake --build "$build_dir" -j"$(nproc)"
  fi
}
