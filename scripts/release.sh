#!/usr/bin/env bash
# Makes a release in release/: the setup program, the plain program in a zip,
# and their SHA-256 sums. Builds the 32-bit Release program in its own build
# folder (VAULTMERE_BUILD_DIR picks another), without tests or benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/release}"

scripts/deps.sh
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVAULTMERE_BUILD_TESTS=OFF -DVAULTMERE_BUILD_BENCH=OFF > /dev/null
cmake --build "$build_dir" -j"$(nproc)" --target installer

version="$(sed -n 's/^#define VAULTMERE_VERSION_TEXT "\(.*\)"$/\1/p' app/Version.h)"
setup="$build_dir/installer/Vaultmere-$version-setup.exe"
[ -f "$setup" ] || { echo "no setup program at $setup" >&2; exit 1; }

rm -rf release
mkdir release
cp "$setup" release/
zip -q -j -X "release/Vaultmere-$version.zip" "$build_dir/bin/brwaddon.exe"
(cd release && sha256sum "Vaultmere-$version-setup.exe" "Vaultmere-$version.zip" > SHA256SUMS)
ls -l release
cat release/SHA256SUMS
