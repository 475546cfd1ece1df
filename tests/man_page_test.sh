#!/usr/bin/env bash
# The man page renders without a single warning, through groff with every
# warning on and through man as lintian runs it, and covers what it must.
set -euo pipefail
page=$1
case $page in
    *.gz) source_text=$(gzip -dc "$page") ;;
    *) source_text=$(cat "$page") ;;
esac
warnings=$(printf '%s\n' "$source_text" | groff -ww -man -Tutf8 -z 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "groff warns:"; echo "$warnings"; exit 1; }
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man warns:"; echo "$warnings"; exit 1; }

text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx)
missing=0
for expected in '-c file key' '-cg file key' '-d file.archi key' '-dg file.archi key' '-t file.archi key' \
    '-m file.archi key' '-v' '-vg' '--help' '--version' 'given as -' \
    'file.archi' 'file.met' 'name.err' 'EXIT STATUS' 'WHAT THE CODING PROTECTS AGAINST' 'not encryption' \
    'EXAMPLES' 'libexec/kestrav3' 'Password too long max. 40 chars [7]'; do
    grep -qF -- "$expected" <<<"$text" || { echo "the page does not mention: $expected"; missing=1; }
done
statuses=$(sed -n '/^EXIT STATUS/,/^DIAGNOSTICS/p' <<<"$text")
for status in 0 1 2 3; do
    grep -qE "^ +$status +[A-Za-z-]" <<<"$statuses" || { echo "exit status $status is not described"; missing=1; }
done
[ $missing -eq 0 ] && echo "man page renders cleanly"
exit $missing
