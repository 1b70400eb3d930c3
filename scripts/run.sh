#!/usr/bin/env bash
# Builds the program and starts it under Wine: the first copy stays resident
# and hidden, a second start then asks it for the password prompt. Uses the
# current X display, or starts a virtual one (Xvfb) when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build/i686

. scripts/build-env.sh
vaultmere_build "$build_dir" brwaddon

. scripts/wine-env.sh
KEEP_DISPLAY=1 wine_env_start "$build_dir"
exe="$(pwd)/$build_dir/bin/brwaddon.exe"
wine "$exe" > "$build_dir/run.log" 2>&1 &
sleep 2
# Starting it again is how a user opens the configuration.
wine "$exe" >> "$build_dir/run.log" 2>&1 &

echo "Vaultmere is running under Wine on display $DISPLAY (prefix $WINEPREFIX)."
echo "Start it again to open the configuration:  WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY wine $exe"
echo -n "To stop it:  WINEPREFIX=$WINEPREFIX wineserver -k"
if [ -n "$XVFB_PID" ]; then echo "; kill $XVFB_PID   (the virtual display)"; else echo; fi
