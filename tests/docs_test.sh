#!/usr/bin/env bash
# The docs say what the program does: every "[N]" of the README and of the
# other docs names message N as the program's own table prints it, the
# README stays a front door (at most 250 lines) whose links lead somewhere,
# and CONTRIBUTING names every fuzz target the build makes.
set -euo pipefail
root=$1
source "$(dirname "$0")/message_table.sh"
table=$(message_table "$root/lib")
[ "$(wc -l <<<"$table")" -ge 18 ] || { echo "the message table was not found in $root/lib"; exit 1; }
bad=0
for doc in "$root"/README.md "$root"/CONTRIBUTING.md "$root"/CHANGELOG.md "$root"/ARCHITECTURE.md "$root"/docs/*.md; do
    check_numbers_in "${doc#"$root"/}" "$table" "$(cat "$doc")" || bad=1
done
lines=$(wc -l <"$root/README.md")
[ "$lines" -le 250 ] || { echo "README.md has $lines lines, more than 250"; bad=1; }
for link in $(grep -oE '\]\([^)#:]+\)' "$root/README.md" | sed -E 's/^\]\((.*)\)$/\1/'); do
    [ -e "$root/$link" ] || { echo "README.md links to $link, which does not exist"; bad=1; }
done
targets=$(sed -nE 's/^foreach\(target (.*)\)$/\1/p' "$root/fuzz/CMakeLists.txt")
[ -n "$targets" ] || { echo "no fuzz targets found in fuzz/CMakeLists.txt"; bad=1; }
for target in $targets; do
    grep -qw "fuzz_$target" "$root/CONTRIBUTING.md" || { echo "CONTRIBUTING.md does not name fuzz_$target"; bad=1; }
done
[ $bad -eq 0 ] && echo "the docs agree with the program"
exit $bad
