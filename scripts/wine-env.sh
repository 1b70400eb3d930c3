# Sourced by the scripts that run the program or its tests under Wine.
# wine_env_start BUILD_DIR [ARCH]: a throwaway prefix inside BUILD_DIR, one
# Xvfb (unless KEEP_DISPLAY=1 and a display is set), a persistent wineserver.
# ARCH is win32 (the default; prefix BUILD_DIR/wineprefix) or win64 (prefix
# BUILD_DIR/wineprefix64, where the 32-bit program runs under WOW64 as on
# 64-bit Windows). On a host that runs no 32-bit code (see wine_runs_32bit)
# only win64 works, with 64-bit programs: `wine` then means the 64-bit loader.
# wine_env_stop: ends the wineserver and the Xvfb this script started.
# wine_runs_32bit: whether this host runs 32-bit Wine (and so 32-bit Windows
# programs); VAULTMERE_WINE32=0 or 1 overrides the answer.
# vaultmere_arch: the build the tests run here, i686 or x86_64.

XVFB_PID=""

wine_runs_32bit() {
  if [ -z "${VAULTMERE_WINE32:-}" ]; then
    # A kernel without IA-32 emulation (or a host without 32-bit Wine) fails
    # this at once with "Exec format error" (or "not found").
    if timeout 60 /usr/lib/wine/wine --version > /dev/null 2>&1; then
      VAULTMERE_WINE32=1
    else
      VAULTMERE_WINE32=0
    fi
    export VAULTMERE_WINE32
  fi
  [ "$VAULTMERE_WINE32" = 1 ]
}

vaultmere_arch() {
  if wine_runs_32bit; then echo i686; else echo x86_64; fi
}

# /usr/bin/wine prefers the 32-bit loader whenever it is installed, and
# wineboot, winepath and the like call wine-stable: both are shadowed by the
# 64-bit loader, first on PATH.
wine64_only() {
  local shim="$1/wine64-bin"
  mkdir -p "$shim"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' > "$shim/$name"
    chmod +x "$shim/$name"
  done
  case ":$PATH:" in
    *":$shim:"*) ;;
    *) export PATH="$shim:$PATH" ;;
  esac
  export WINELOADER=/usr/lib/wine/wine64
}

wine_env_start() {
  local build_dir
  build_dir="$(cd "$1" && pwd)"
  export WINEARCH="${2:-win32}"
  case "$WINEARCH" in
    win32) export WINEPREFIX="$build_dir/wineprefix" ;;
    win64) export WINEPREFIX="$build_dir/wineprefix64" ;;
    *) echo "wine_env_start: unknown architecture $WINEARCH" >&2; return 1 ;;
  esac
  if ! wine_runs_32bit; then
    if [ "$WINEARCH" != win64 ]; then
      echo "wine_env_start: this host runs no 32-bit code, so no $WINEARCH prefix" >&2
      return 1
    fi
    wine64_only "$build_dir"
  fi
  export WINEDEBUG=-all
  # No Mono or Gecko installers: the program needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="

  if [ "${KEEP_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp > "$build_dir/xvfb-$WINEARCH.log" 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${n}" ] && break; sleep 0.1; done
  fi

  if [ ! -f "$WINEPREFIX/.vaultmere-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i > "$build_dir/wineboot-$WINEARCH.log" 2>&1
    wineserver -w
    local reg="$build_dir/wine-settings.reg"
    # No window manager on Xvfb: undecorated, unmanaged windows keep their
    # close box and hide at once; no audio driver, so a beep does not stall.
    cat > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"=""

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    wine regedit /S "$(winepath -w "$reg" 2> /dev/null)" > /dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.vaultmere-ready"
  fi
  # Debian's Wine 8 looks for its own fonts in /usr/share/fonts (its font
  # folder is "../fonts" from /usr/share/wine), while fonts-wine puts them in
  # /usr/share/wine/fonts: none is found. Text falls back on the system's
  # fonts through fontconfig, but nothing stands in for Marlett, the symbol
  # font of the caption buttons and scroll arrows, which then show as "0 1 r".
  # Wine also reads the prefix's Fonts folder, so Marlett goes there; the
  # other faces stay out, so that the text the tests measure keeps its font.
  # Done for a prefix made before this too.
  local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
    cp "$marlett" "$fonts/"
  fi
  wineserver -p
}

wine_env_stop() {
  wineserver -k > /dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2> /dev/null || true
    wait "$XVFB_PID" 2> /dev/null || true
    XVFB_PID=""
  fi
}
