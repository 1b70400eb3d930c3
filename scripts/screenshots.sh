#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb: docs/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
. scripts/build-env.sh
vaultmere_build "$build_dir" screenshots
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
shots="$build_dir/shots"
mkdir -p "$shots" docs
wine "$build_dir/bin/screenshots.exe" "$(winepath -w "$shots" 2> /dev/null)" > "$shots/log.txt" 2>&1
for bmp in "$shots"/*.bmp; do
  python3 scripts/bmp2png.py "$bmp" "docs/$(basename "${bmp%.bmp}").png"
done
ls -l docs/*.png
