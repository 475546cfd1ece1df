#!/usr/bin/env bash
# Writes the expected files of cases.txt from a kestrav3 program given as
# the first argument (the outputs were captured from the program as it was
# before the many-file form). Usage: capture.sh PROGRAM
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
data="$here/.."
while IFS='|' read -r -a fields; do
  name=${fields[0]}
  case "$name" in '#'*|'') continue ;; esac
  input=${fields[1]:-}
  args=("${fields[@]:2}")
  work=$(mktemp -d)
  cp "$data"/abc.txt "$data"/abc.txt.archi "$data"/report.pdf "$data"/report.pdf.archi \
     "$data"/two-blocks-damaged.archi "$work"/
  status=0
  (cd "$work" && printf '%b' "$input" | "$program" "${args[@]}" >"$here/$name.out" 2>"$here/$name.err") || status=$?
  echo "$status" >"$here/$name.status"
  (cd "$work" && for f in $(ls -A | LC_ALL=C sort); do echo "$f $(stat -c %s "$f")"; done) >"$here/$name.files"
  rm -rf "$work"
done <"$here/cases.txt"
