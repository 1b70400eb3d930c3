#!/usr/bin/env bash
# Makes a release in release/: the setup program, the Windows Installer
# package, the plain program in a zip, and their SHA-256 sums. Builds the
# 32-bit Release program in its own build folder (VAULTMERE_BUILD_DIR picks
# another), without tests or benchmarks.
# With a certificate (VAULTMERE_SIGN_PFX, VAULTMERE_SIGN_PASSWORD, optionally
# VAULTMERE_SIGN_TIMESTAMP_URL; see scripts/sign.sh) the program, the setup
# and the uninstaller are signed, and the package once it is built.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/release}"

. scripts/build-env.sh
args="-DVAULTMERE_BUILD_TESTS=OFF -DVAULTMERE_BUILD_BENCH=OFF"
# Linked afresh each time, so that no signature of an earlier run is shipped.
rm -f "$build_dir/bin/brwaddon.exe" "$build_dir/bin/VaultmereGuard.exe" "$build_dir/bin/vaultmere.exe" \
  "$build_dir/bin/setuphelper.exe"
if [ -n "${VAULTMERE_SIGN_PFX:-}" ]; then
  args+=" -DVAULTMERE_SIGN_SCRIPT=$PWD/scripts/sign.sh"
  # The program, the guard service and setup's helper are signed before the
  # setup takes them in; makensis signs the setup and the uninstaller
  # through the same script.
  VAULTMERE_CMAKE_ARGS="$args" vaultmere_build "$build_dir" brwaddon VaultmereGuard vaultmere setuphelper
  scripts/sign.sh "$build_dir/bin/brwaddon.exe"
  scripts/sign.sh "$build_dir/bin/VaultmereGuard.exe"
  scripts/sign.sh "$build_dir/bin/vaultmere.exe"
  scripts/sign.sh "$build_dir/bin/setuphelper.exe"
  VAULTMERE_CMAKE_ARGS="$args" vaultmere_build "$build_dir" installer msi_package
  signed=yes
else
  VAULTMERE_CMAKE_ARGS="$args -DVAULTMERE_SIGN_SCRIPT=" vaultmere_build "$build_dir" installer msi_package
  signed=no
fi

version="$(sed -n 's/^#define VAULTMERE_VERSION_TEXT "\(.*\)"$/\1/p' app/Version.h)"
setup="$build_dir/installer/Vaultmere-$version-setup.exe"
[ -f "$setup" ] || { echo "no setup program at $setup" >&2; exit 1; }
package="$build_dir/installer/Vaultmere-$version.msi"
[ -f "$package" ] || { echo "no Windows Installer package at $package" >&2; exit 1; }

rm -rf release
mkdir release
cp "$setup" "$package" release/
if [ "$signed" = yes ]; then scripts/sign.sh "release/Vaultmere-$version.msi"; fi
zip -q -j -X "release/Vaultmere-$version.zip" "$build_dir/bin/brwaddon.exe" "$build_dir/bin/vaultmere.exe"
(cd release && sha256sum "Vaultmere-$version-setup.exe" "Vaultmere-$version.msi" "Vaultmere-$version.zip" > SHA256SUMS)
ls -l release
cat release/SHA256SUMS
if [ "$signed" = no ]; then
  echo "NOT SIGNED: no certificate was given (VAULTMERE_SIGN_PFX), so brwaddon.exe, VaultmereGuard.exe, vaultmere.exe,"
  echo "the setup, its uninstaller and the Windows Installer package are unsigned. Windows warns about"
  echo "unsigned downloads (SmartScreen), and Smart App Control blocks them."
fi
