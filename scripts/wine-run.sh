#!/bin/sh
# Runs a Windows program under Wine for CTest. Wine's helper processes
# (services, the desktop) inherit the output of the process that starts them
# and live as long as the wineserver; with output going to a file instead of
# CTest's pipe, CTest does not wait for them.
out=$(mktemp)
wine "$@" > "$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
