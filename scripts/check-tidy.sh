#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every translation unit of
# the 32-bit MinGW build, as that build compiles it: its compile_commands.json,
# its target, its MinGW-w64 C++ and Windows headers. Any finding in our own
# code fails the script and is printed as file:line:column.
# A file found clean is not read again until it, a tracked header, its compile
# command, a .clang-tidy or the tools change (stamps in BUILD_DIR/tidy-clean).
# VAULTMERE_BUILD_DIR picks the build folder (build/i686; configured here when
# it has no compile_commands.json yet); VAULTMERE_TIDY_JOBS how many files
# are read at once (2).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build_dir="${VAULTMERE_BUILD_DIR:-build/i686}"
jobs="${VAULTMERE_TIDY_JOBS:-2}"
tidy=clang-tidy-14

scripts/deps.sh
if [ ! -f "$build_dir/compile_commands.json" ]; then
  # shellcheck disable=SC2086
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
    -DCMAKE_BUILD_TYPE=Release ${VAULTMERE_CMAKE_ARGS:-} > /dev/null
fi
database="$build_dir/compile_commands.json"

# The build's compiler tells its target and where its headers are: clang takes
# the C++ library's headers from it and the Windows headers from its sysroot.
compiler="$(python3 -c 'import json, shlex, sys
print(shlex.split(json.load(open(sys.argv[1]))[0]["command"])[0])' "$database")"
target="$("$compiler" -dumpmachine)"
extra=(--extra-arg-before="--target=$target" --extra-arg=-nostdinc++)
while read -r dir; do
  case "$dir" in
    */include/c++*) extra+=(--extra-arg="-isystem$dir") ;;
    */"$target"/include) extra+=(--extra-arg="--sysroot=${dir%/include}") ;;
  esac
done < <("$compiler" -xc++ -E -v /dev/null 2>&1 |
         sed -n '/^#include <...> search starts here:/,/^End of search list/s/^ //p' |
         while read -r d; do realpath -m "$d"; done)

# Our translation units (the build also compiles GoogleTest's), each with the
# key of everything its result depends on, as "file\0key\0".
tools="$("$tidy" --version; "$compiler" --version; echo "${extra[*]}")"
units="$build_dir/tidy-units"
git ls-files -z -co --exclude-standard -- '*.h' '.clang-tidy' '*/.clang-tidy' |
  TOOLS="$tools" python3 -c 'import hashlib, json, os, sys
root = sys.argv[2] + "/"
shared = hashlib.sha256(os.environ["TOOLS"].encode())
for name in sorted(sys.stdin.read().split("\0")):
    if name:
        shared.update(name.encode() + b"\0" + open(name, "rb").read())
units = {}
for entry in json.load(open(sys.argv[1])):
    if entry["file"].startswith(root):
        units[entry["file"]] = entry.get("command") or " ".join(entry["arguments"])
for path, command in sorted(units.items()):
    key = shared.copy()
    key.update(command.encode() + b"\0" + open(path, "rb").read())
    sys.stdout.write(path + "\0" + key.hexdigest() + "\0")' "$database" "$root" > "$units"

log_dir="$build_dir/tidy"
clean_dir="$build_dir/tidy-clean"
rm -rf "$log_dir"
mkdir -p "$log_dir" "$clean_dir"
export tidy build_dir root log_dir clean_dir
check_one() {  # CLANG-TIDY-ARGUMENTS... FILE KEY
  local file="${@: -2:1}" key="${@: -1}" log start status=0
  [ -f "$clean_dir/$key" ] && return 0
  log="$log_dir/$(echo "${file#"$root"/}" | tr / _).log"
  start=$EPOCHREALTIME
  "$tidy" -p "$build_dir" --quiet --header-filter="^$root/" "${@:1:$#-2}" "$file" > "$log" 2>&1 || status=$?
  echo "${file#"$root"/} $(echo "$EPOCHREALTIME - $start" | bc)" >> "$log_dir/times"
  if [ "$status" -ne 0 ]; then
    grep -v '^[0-9]* warnings* generated\.$' "$log"
    return 1
  fi
  touch "$clean_dir/$key"
}
export -f check_one

count="$(tr -cd '\0' < "$units" | wc -c)"
count=$((count / 2))
start=$SECONDS
if xargs -0 -n 2 -P "$jobs" bash -c 'check_one "$@"' _ "${extra[@]}" < "$units"; then
  # Stamps of earlier versions go, so the folder holds one per file.
  tr '\0' '\n' < "$units" | sed -n '2~2p' | sort > "$units.keys"
  find "$clean_dir" -type f -printf '%f\n' | sort | comm -23 - "$units.keys" | sed "s|^|$clean_dir/|" | xargs -r rm -f
  echo "clang-tidy: $count files, no findings ($((SECONDS - start)) s)"
else
  echo "clang-tidy found the problems above (file:line:column): fix them, or where a finding is wrong," \
    "silence it on that line with // NOLINTNEXTLINE(check) and the reason" >&2
  exit 1
fi
