#!/usr/bin/env bash
# The bash completion offers the options first, then files (only coded
# *.archi files and folders after -d, -dg, -m, -t, -p and --repair), then the key "-";
# with the bash-completion package's helpers and without them.
set -uo pipefail
script=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch report.pdf report.pdf.archi 'two words.archi' notes.txt
mkdir folder

failures=0
export KESTRAV3_COMPLETION_VARIABLE=1
# complete WORDS...: the replies for the last word, sorted, one per line.
check() {
    local helpers=$1 expected=$2
    shift 2
    local got
    got=$(bash -c '
        [ "$1" = with ] && source /usr/share/bash-completion/bash_completion
        source "$2"
        shift 2
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _kestrav3 kestrav3 "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort
    ' check "$helpers" "$script" "$@")
    if [ "$got" != "$expected" ]; then
        echo "FAIL ($helpers helpers) for: $*"
        echo "  expected: $(echo "$expected" | tr '\n' ' ')"
        echo "  got:      $(echo "$got" | tr '\n' ' ')"
        failures=$((failures + 1))
    fi
}

for helpers in with without; do
    if [ $helpers = with ] && [ ! -f /usr/share/bash-completion/bash_completion ]; then
        echo "bash-completion is not installed"; exit 1
    fi
    check $helpers "$(printf '%s\n' --help --repair --version -c -cg -d -dg -m -p -t -v -vg | sort)" kestrav3 ''
    check $helpers "$(printf '%s\n' -v -vg)" kestrav3 -v
    check $helpers "$(printf '%s\n' --help --repair --version | sort)" kestrav3 --
    for option in -d -dg -m -t; do
        check $helpers "$(printf '%s\n' folder report.pdf.archi 'two words.archi' | sort)" kestrav3 $option ''
        check $helpers "report.pdf.archi" kestrav3 $option rep
    done
    for option in -c -cg; do
        check $helpers "$(printf '%s\n' folder notes.txt report.pdf report.pdf.archi 'two words.archi' | sort)" \
            kestrav3 $option ''
    done
    check $helpers "-" kestrav3 -d report.pdf.archi ''
    check $helpers "" kestrav3 -d report.pdf.archi secret
    check $helpers "" kestrav3 -v ''
    check $helpers "" kestrav3 -c report.pdf key extra
    # The many-file form: its options, paths after -k, folders after
    # --output-dir, variables after -E, files after the options.
    check $helpers "$(printf '%s\n' -- --output-dir --rm | sort)" kestrav3 -t --
    check $helpers "$(printf '%s\n' - -- --output-dir --recovery= --rm -E -f -j -k -q -r | sort)" kestrav3 -c report.pdf -
    check $helpers "$(printf '%s\n' folder notes.txt report.pdf report.pdf.archi 'two words.archi' | sort)" \
        kestrav3 -t -k ''
    check $helpers "notes.txt" kestrav3 -d -r -k no
    check $helpers "folder" kestrav3 -d --output-dir ''
    check $helpers "folder" kestrav3 -c -q --output-dir f
    check $helpers "KESTRAV3_COMPLETION_VARIABLE" kestrav3 -t -E KESTRAV3_COMPLETION_VAR
    check $helpers "$(printf '%s\n' folder report.pdf.archi 'two words.archi' | sort)" kestrav3 -t -q -k notes.txt ''
    check $helpers "" kestrav3 -t -j ''
    # Recovery sets: coded files, any number of them, and the percentage.
    for words in "-p" "-p --recovery=5" "-p a.archi" "--repair" "--repair a.archi b.archi"; do
        # shellcheck disable=SC2086
        check $helpers "$(printf '%s\n' folder report.pdf.archi 'two words.archi' | sort)" kestrav3 $words ''
    done
    check $helpers "$(printf '%s\n' --recovery=5 --recovery=50)" kestrav3 -p --recovery=5
    check $helpers "--recovery=" kestrav3 -c --rec
    check $helpers "$(printf '%s\n' folder notes.txt report.pdf report.pdf.archi 'two words.archi' | sort)" \
        kestrav3 -c --recovery=5 ''
    check $helpers "$(printf '%s\n' folder notes.txt report.pdf report.pdf.archi 'two words.archi' | sort)" \
        kestrav3 -c --recovery=5 report.pdf ''
    check $helpers "$(printf '%s\n' -- --output-dir --rm | sort)" kestrav3 -d --
done
[ $failures -eq 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
