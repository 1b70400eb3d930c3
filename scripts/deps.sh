#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine.
# Does nothing when everything is already there.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
command -v cmake >/dev/null || need+=(cmake)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
command -v wine >/dev/null || need+=(wine)
[ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll ] || need+=(wine32:i386)
if [ "${VAULTMERE_NATIVE:-0}" = 1 ]; then
  command -v clang++ >/dev/null || need+=(clang)
fi

[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
