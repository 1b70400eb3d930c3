#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine; does
# nothing when everything is there. Extra packages may be passed as arguments.
set -euo pipefail

packages=(
  cmake g++-mingw-w64-i686 googletest
  # The 64-bit build that runs the tests where no 32-bit code runs.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 fonts-wine
  libxrender1:i386 libxi6:i386 libxrandr2:i386 libxcursor1:i386 libxinerama1:i386
  libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386
  libxrender1:amd64 libxi6:amd64 libxrandr2:amd64 libxcursor1:amd64 libxinerama1:amd64
  libxcomposite1:amd64 libxfixes3:amd64 libxxf86vm1:amd64
  xvfb xauth
  nsis msitools wixl zip libxml2-utils osslsigncode openssl
  clang-format-14 clang-tidy-14
  "$@"
)

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

need=()
for package in "${packages[@]}"; do
  installed "$package" || need+=("$package")
done
[ ${#need[@]} -eq 0 ] && exit 0

echo "Installing: ${need[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then (an i386 list of the
# wrong size, say): each download is retried, the whole update tried again a
# little later, and then the install goes on with the indexes that did come.
updated=false
for attempt in 1 2 3; do
  if $SUDO apt-get update -q -o Acquire::Retries=3; then
    updated=true
    break
  fi
  echo "apt-get update failed (attempt $attempt of 3)" >&2
  if [ "$attempt" -lt 3 ]; then sleep $((attempt * 10)); fi
done
$updated || echo "Going on with the package indexes that did download." >&2

$SUDO apt-get install -y -q --no-install-recommends "${need[@]}" && exit 0

# One package that cannot be had stops apt-get for all the others: those in
# no index are set aside and the rest installed together, or each on its
# own should that fail too, so that what can be installed is and what
# cannot is named.
has_candidate() {
  local candidate
  candidate="$(apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ { print $2; exit }')"
  [ -n "$candidate" ] && [ "$candidate" != "(none)" ]
}
failed=()
known=()
for package in "${need[@]}"; do
  if has_candidate "$package"; then known+=("$package"); else failed+=("$package (in no package index)"); fi
done
if [ ${#known[@]} -ne 0 ] && ! $SUDO apt-get install -y -q --no-install-recommends "${known[@]}"; then
  for package in "${known[@]}"; do
    installed "$package" && continue
    $SUDO apt-get install -y -q --no-install-recommends "$package" || failed+=("$package")
  done
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "These packages could not be installed:" >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
