#!/usr/bin/env bash
# The man page renders without a single warning, through groff with every
# warning on and through man as lintian runs it, and covers what it must.
# Given the library's source folder as well, it checks the page against the
# program's own table of messages: every message is in DIAGNOSTICS, an
# entry says "no run returns it" exactly when no code of the library returns
# it, and every "[N]" of the page names message N as the program prints it;
# and every export of the library is named in THE LIBRARY.
set -euo pipefail
page=$1
library_source=${2:-}
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

if [ -n "$library_source" ]; then
    source "$(dirname "$0")/message_table.sh"
    table=$(message_table "$library_source")
    [ "$(wc -l <<<"$table")" -ge 18 ] || { echo "the message table was not found in $library_source"; exit 1; }
    diagnostics=$(sed -n '/^\.SH DIAGNOSTICS/,/^\.SH [^D]/p' <<<"$source_text")
    while IFS=$'\t' read -r constant message; do
        grep -qxF ".B \"$message\"" <<<"$diagnostics" ||
            { echo "DIAGNOSTICS lacks the message \"$message\""; missing=1; continue; }
        entry=$(awk -v tag=".B \"$message\"" '$0 == tag { on = 1; next } on && /^\.(TP|TQ|PP|SH)/ { exit }
            on { printf "%s ", $0 }' <<<"$diagnostics")
        if code_is_returned "$library_source" "$constant"; then
            ! grep -qF 'no run returns it' <<<"$entry" ||
                { echo "DIAGNOSTICS says no run returns \"$message\", but the library returns $constant"; missing=1; }
        else
            grep -qF 'no run returns it' <<<"$entry" ||
                { echo "DIAGNOSTICS does not say that no run returns \"$message\" ($constant)"; missing=1; }
        fi
    done <<<"$table"
    check_numbers_in "the man page" "$table" "$source_text" || missing=1
    library=$(sed -n '/^THE LIBRARY/,/^[A-Z]/p' <<<"$text")
    for export in $(grep -oE '^ +[a-z_0-9]+;' "$library_source/kestrav3lib.map" | tr -d ' ;'); do
        grep -qw -- "$export" <<<"$library" || { echo "THE LIBRARY does not name the export $export"; missing=1; }
    done
fi
[ $missing -eq 0 ] && echo "man page renders cleanly"
exit $missing
