#!/usr/bin/env bash
# The Group Policy template: both files well-formed XML, every string and
# presentation the ADMX names present in the ADML (and each list box bound to
# a list of the policy), and the policy writing the key and the kind of value
# the guard reads (text, not expandable); MaxLockedFiles as a number in the
# range the program takes.
# Usage: template.sh ADMX ADML REGISTRY_H LOCK_BUDGET_H
set -uo pipefail
admx="$1" adml="$2" registry_h="$3" budget_h="$4"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# xpath FILE EXPR: the expression's value (elements are named by local-name()).
xpath() { xmllint --xpath "$2" "$1" 2> /dev/null; }

xmllint --noout "$admx" "$adml" || { echo "FAIL: the template is not well-formed XML"; exit 1; }

for kind in string presentation; do
  for id in $(grep -o "\$($kind\.[A-Za-z0-9_]*)" "$admx" | sed "s/^\$($kind\.\(.*\))$/\1/" | sort -u); do
    [ "$(xpath "$adml" "count(//*[local-name()='${kind}Table']/*[local-name()='$kind'][@id='$id'])")" = 1 ] ||
      fail "the ADML has no $kind $id"
  done
done
for ref in $(xpath "$adml" "//*[local-name()='presentation']/*/@refId" | sed 's/ *refId="\([^"]*\)"/\1\n/g'); do
  [ "$(xpath "$admx" "count(//*[local-name()='elements']/*[@id='$ref'])")" = 1 ] ||
    fail "the presentation names $ref, which no element of the ADMX is"
done

key="$(sed -n 's/^constexpr wchar_t kPolicyFoldersKeyPath\[\] = L"\(.*\)";$/\1/p' "$registry_h" | sed 's/\\\\/\\/g')"
[ -n "$key" ] || fail "no policy key in $registry_h"
policy="//*[local-name()='policy'][@name='LockedFolders']"
[ "$(xpath "$admx" "string($policy/*[local-name()='parentCategory']/@ref)")" = Vaultmere ] ||
  fail "the policy is not in the category Vaultmere"
[ "$(xpath "$adml" "string(//*[local-name()='string'][@id='LockedFolders'])")" = "Folders to keep locked" ] ||
  fail "the policy is not called \"Folders to keep locked\""
list="$policy/*[local-name()='elements']/*[local-name()='list']"
[ "$(xpath "$admx" "count($list)")" = 1 ] || fail "the policy holds not exactly one list"
[ "$(xpath "$admx" "string($list/@key)")" = "$key" ] || fail "the list writes not the key the guard reads ($key)"
[ "$(xpath "$admx" "string($list/@expandable)")" != true ] || fail "the list writes expandable text, not REG_SZ"

# The relock values, in the key the program reads them from, as numbers.
relock_key="$(sed -n 's/^constexpr wchar_t kPolicyKeyPath\[\] = L"\(.*\)";$/\1/p' "$registry_h" | sed 's/\\\\/\\/g')"
for value in RelockOnSessionLock RelockMinutes; do
  named="//*[local-name()='policy'][@key='$relock_key'][@valueName='$value' or .//*[@valueName='$value']]"
  [ "$(xpath "$admx" "count($named)")" = 1 ] || fail "no policy writes $value under $relock_key"
  [ "$(xpath "$admx" "count($named//*[local-name()='decimal'])")" -ge 1 ] || fail "$value is not written as a number"
done

ceiling="$(sed -n 's/^constexpr std::uint32_t kMaxLockedFilesCeiling = \([0-9]*\);$/\1/p' "$budget_h")"
limit="//*[local-name()='policy'][@key='$relock_key']//*[local-name()='decimal'][@valueName='MaxLockedFiles']"
[ "$(xpath "$admx" "count($limit)")" = 1 ] || fail "no policy writes MaxLockedFiles under $relock_key as a number"
[ "$(xpath "$admx" "concat($limit/@minValue, '-', $limit/@maxValue)")" = "1-$ceiling" ] ||
  fail "MaxLockedFiles is not from 1 to the ceiling the program takes ($ceiling)"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "template passed"
