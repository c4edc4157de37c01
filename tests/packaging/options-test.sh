#!/usr/bin/env bash
# Every subcommand and option that the built tool's --help lists is offered
# by the bash completion and explained in the man page, so that neither
# falls behind the tool.
#
#   tests/packaging/options-test.sh TAVEX [MANPAGE] [COMPLETION]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tavex=$1
manpage=${2:-$here/../../packaging/tavex.1}
completion=${3:-$here/../../packaging/tavex.bash-completion}

# The man page as text, one long line per paragraph, without hyphenation.
manual=$(MANWIDTH=1000 man -l "$manpage" 2>/dev/null | col -b) || manual=
if [ -z "$manual" ]; then
    # man-db is not there: the roff source, its escaped minus signs undone.
    manual=$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$manpage")
fi

# The options of one help text: the first column of its option lines.
options_of() {
    sed -n 's/^ \{1,4\}\(-[^ ].*\)$/\1/p' |
        sed 's/  .*//' | tr ' ,' '\n' | grep -E '^--?[A-Za-z]' | sed 's/=.*//' | sort -u
}
# The subcommands of the top-level help (CLI11: a "Subcommands:" block).
subcommands_of() {
    sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p'
}

# Options that the completion offers in a longer form (-m is given twice).
declare -A offered_as=([-m]=-mm)

mentions() {   # mentions TEXT WORD: WORD stands alone in TEXT
    grep -Eq -- "(^|[^A-Za-z0-9-])$2([^A-Za-z0-9-]|=|\$)" <<<"$1"
}

failures=0
fail() {
    echo "options-test: $*" >&2
    failures=$((failures + 1))
}

top=$("$tavex" --help) || { echo "options-test: $tavex --help failed" >&2; exit 1; }
commands=$(subcommands_of <<<"$top")
[ -n "$commands" ] || fail "no subcommands found in tavex --help"
script=$(cat "$completion")
for command in "" $commands; do
    # shellcheck disable=SC2086   # no word for the top level
    help=$("$tavex" $command --help) || { fail "tavex $command --help failed"; continue; }
    for option in $(options_of <<<"$help"); do
        want=${offered_as[$option]:-$option}
        mentions "$script" "$want" || fail "completion does not offer ${command:+$command }$option"
        [[ $option == -h || $option == --help ]] && continue
        mentions "$manual" "$want" || fail "man page does not explain ${command:+$command }$option"
    done
done
for command in $commands; do
    mentions "$script" "$command" || fail "completion does not offer the subcommand $command"
    mentions "$manual" "$command" || fail "man page does not explain the subcommand $command"
done

if [ "$failures" -ne 0 ]; then
    echo "options-test: $failures problem(s)" >&2
    exit 1
fi
echo "options-test: passed ($(wc -w <<<"$commands") subcommands)"
