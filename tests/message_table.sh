# The program's own table of messages, read from the library's source, for
# the checks that the man page and the docs say what the program prints.
# Sourced by man_page_test.sh and docs_test.sh.

# One line per entry of the table: CONSTANT, a tab, the message text (with
# its leading space).
message_table() {
    grep -rhoE '\{ERR_[A-Z_0-9]+, " [^"]*\[[0-9]+\]"\}' "$1" --include='*.cpp' --include='*.h' |
        sed -E 's/^\{(ERR_[A-Z_0-9]+), "(.*)"\}$/\1\t\2/'
}

# Whether any code of the library returns or reports CONSTANT: a use of it
# other than its table entry and its definition.
code_is_returned() {
    grep -rwhE "$2" "$1" --include='*.cpp' --include='*.h' | grep -vE "\{$2, \"|$2 = -[0-9]+" | grep -q .
}

# The number of a message: 18 for " No usable recovery set beside the file [18]".
message_number() {
    sed -E 's/.*\[([0-9]+)\]$/\1/' <<<"$1"
}

# Checks every "[N]" of a text (lines joined, indentation dropped) against
# the table: the words before it must be message N's, unless the number
# stands alone in backticks or brackets ("`[7]`", "([7])"). Prints each
# mismatch; returns 1 when there was one.
check_numbers_in() {
    local name=$1 table=$2 text=$3 bad=0 piece number message
    while IFS= read -r piece; do
        number=$(message_number "$piece")
        message=$(awk -F'\t' -v n="[$number]" 'substr($2, length($2) - length(n) + 1) == n { print substr($2, 2) }' <<<"$table")
        if [ -z "$message" ]; then
            echo "$name: [$number] is no message of the program: ...$piece"
            bad=1
        elif [[ "$piece" != *"$message" && "$piece" != *'`['"$number"']' && "$piece" != *'(['"$number"']' ]]; then
            echo "$name: [$number] is \"$message\" in the program, not: ...$piece"
            bad=1
        fi
    done < <(sed -E 's/^[[:space:]]+//' <<<"$text" | tr '\n' ' ' | tr -s ' ' | grep -oE '[^][]{0,80}\[[0-9]+\]')
    return $bad
}
