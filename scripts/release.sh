#!/usr/bin/env bash
# Makes a release in release/: the setup program, the plain program in a zip,
# and their SHA-256 sums. Builds the 32-bit Release program in its own build
# folder (VAULTMERE_BUILD_DIR picks another), without tests or benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/release}"

. scripts/build-env.sh
VAULTMERE_CMAKE_ARGS="-DVAULTMERE_BUILD_TESTS=OFF -DVAULTMERE_BUILD_BENCH=OFF" vaultmere_build "$build_dir" installer

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
