#!/usr/bin/env bash
# Builds the program and starts it under Wine: the first copy stays resident
# and hidden, a second start then asks it for the password prompt. Uses the
# current X display, or starts a virtual one (Xvfb) when there is none; then,
# with nothing stored yet, it shows the lock at work in its Wine prefix: a
# sample folder stored and locked, a plain command failing to read a file in
# it, and a screenshot of the prompt in the build folder. On a host that runs
# no 32-bit code it runs the 64-bit build (build/x86_64) in a 64-bit prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
had_display="${DISPLAY:-}"

. scripts/build-env.sh
. scripts/wine-env.sh
scripts/deps.sh
export VAULTMERE_ARCH
VAULTMERE_ARCH="$(vaultmere_arch)"
build_dir="build/$VAULTMERE_ARCH"
prefix_arch=win32
wine_command=wine
# The program keeps its keys in the 32-bit view; reg.exe is 64-bit here.
reg_view=()
if [ "$VAULTMERE_ARCH" != i686 ]; then
  prefix_arch=win64
  wine_command=/usr/lib/wine/wine64
  reg_view=(/reg:32)
  echo "This host runs no 32-bit code: running the 64-bit build in $build_dir instead of the 32-bit program."
fi
if [ -n "$had_display" ]; then
  vaultmere_build "$build_dir" brwaddon
else
  vaultmere_build "$build_dir" brwaddon screenshots
fi

KEEP_DISPLAY=1 wine_env_start "$build_dir" "$prefix_arch"
exe="$(pwd)/$build_dir/bin/brwaddon.exe"
files_key='HKLM\SOFTWARE\Brackwater\Addon\Files'

demonstrate=0
if [ -z "$had_display" ] && ! wine reg query "$files_key" "${reg_view[@]}" > /dev/null 2>&1; then
  demonstrate=1
  sample_unix="$WINEPREFIX/drive_c/users/Public/Documents/Vaultmere sample"
  mkdir -p "$sample_unix"
  printf 'Kept locked by Vaultmere.\r\n' > "$sample_unix/note.txt"
  sample='C:\users\Public\Documents\Vaultmere sample'
  wine reg add "$files_key" /v File0 /t REG_SZ /d "$sample\\*.*" /f "${reg_view[@]}" > /dev/null 2>&1
  echo "Stored list: $sample\\*.*"
fi

wine "$exe" > "$build_dir/run.log" 2>&1 &
sleep 3

if [ "$demonstrate" = 1 ]; then
  echo "Reading a file in it with: cmd /c type \"$sample\\note.txt\""
  read_output="$(wine cmd /c type "$sample\\note.txt" 2>&1 | tr -d '\r' || true)"
  printf '%s\n' "$read_output" | sed '/^$/d; s/^/  /'
  if printf '%s' "$read_output" | grep -q 'Kept locked by Vaultmere'; then
    echo "  -> the file could be read: it is NOT locked"
  else
    echo "  -> the read failed: the file is locked (in use by the resident copy)"
  fi
fi

# Starting it again is how a user opens the configuration.
wine "$exe" >> "$build_dir/run.log" 2>&1 &

if [ "$demonstrate" = 1 ]; then
  shot="$(pwd)/$build_dir/prompt.bmp"
  if wine "$build_dir/bin/screenshots.exe" --window 'Vaultmere ' "$(winepath -w "$shot" 2> /dev/null)" \
       >> "$build_dir/run.log" 2>&1; then
    python3 scripts/bmp2png.py "$shot" "${shot%.bmp}.png"
    rm -f "$shot"
    echo "Screenshot of the password prompt: ${shot%.bmp}.png"
  else
    echo "No screenshot: the prompt did not appear (see $build_dir/run.log)."
  fi
fi

echo "Vaultmere is running under Wine on display $DISPLAY (prefix $WINEPREFIX)."
echo "Start it again to open the configuration:  WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY $wine_command $exe"
echo -n "To stop it:  WINEPREFIX=$WINEPREFIX wineserver -k"
if [ -n "$XVFB_PID" ]; then echo "; kill $XVFB_PID   (the virtual display)"; else echo; fi
