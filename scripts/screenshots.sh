#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb: docs/*.png, at 96 DPI, the
# configuration window again at 144 DPI, and once more at 96 DPI in a
# white-on-black high-contrast scheme (docs/configuration-high-contrast.png;
# the program sets the colours for that picture and puts the earlier ones
# back). The caption buttons are drawn with Wine's Marlett font, which
# scripts/wine-env.sh puts in the prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
. scripts/build-env.sh
vaultmere_build "$build_dir" screenshots
. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build_dir"
shots="$build_dir/shots"

shoot() {  # DPI, folder
  mkdir -p "$2"
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f > "$2.reg.log" 2>&1
  # The display settings are read when the wineserver starts.
  wineserver -k
  wineserver -p
  wine "$build_dir/bin/screenshots.exe" "$(winepath -w "$2" 2> /dev/null)" > "$2/log.txt" 2>&1
}

mkdir -p docs
shoot 144 "$shots/144"
python3 scripts/bmp2png.py "$shots/144/configuration.bmp" docs/configuration-144dpi.png
shoot 96 "$shots/96"
for bmp in "$shots/96"/*.bmp; do
  python3 scripts/bmp2png.py "$bmp" "docs/$(basename "${bmp%.bmp}").png"
done
ls -l docs/*.png
