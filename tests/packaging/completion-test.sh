#!/usr/bin/env bash
# The bash completion of tavex, driven as bash drives it: each case is a
# command line (the cursor at its end) and the candidates it must offer.
#
#   tests/packaging/completion-test.sh [COMPLETION-FILE]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
completion=${1:-$here/../../packaging/tavex.bash-completion}

if [ ! -r /usr/share/bash-completion/bash_completion ]; then
    echo "completion-test: bash-completion is not installed; skipped"
    exit 0
fi
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavex-completion.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/line.toml" <<'TOML'
[cards.line]
card = "ac5:0x300"
[tracks.eyes]
card = "line"
track = "0:IIIIIIII"
[ tracks.motors ]   # spaces inside the brackets are allowed
card = "line"
track = "1:OOOOOOOO"
TOML
touch "$scratch/notes.txt"

# Splits a line into words as readline does for a completion: blanks
# separate words, and each run of ':' or '=' is a word of its own.
complete_line() {
    local line=$1 word rest
    COMP_WORDS=()
    for word in $line; do
        rest=$word
        while [[ $rest =~ ^([^:=]*)([:=]+)(.*)$ ]]; do
            [[ -n ${BASH_REMATCH[1]} ]] && COMP_WORDS+=("${BASH_REMATCH[1]}")
            COMP_WORDS+=("${BASH_REMATCH[2]}")
            rest=${BASH_REMATCH[3]}
        done
        [[ -n $rest ]] && COMP_WORDS+=("$rest")
    done
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _tavex 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
while IFS='|' read -r line expected; do
    [[ -z $line || $line == \#* ]] && continue
    line=${line//@/$scratch}
    got=$(cd "$scratch" && HOME=$scratch complete_line "$line")
    if [[ $got != "$expected" ]]; then
        echo "completion-test: '$line' offers '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
done <<'CASES'
# the line (@ is a scratch folder)|the candidates, sorted
tavex |demo info pci read scan watch write
tavex w|watch write
tavex --v|--version
tavex --co|--color=
tavex --color=a|always auto
tavex --color n|never
tavex --sim --color never r|read
tavex --sim read |ac28: ac5: dummy genius: ktx: lpt lpt: lpt:LPT1 lpt:LPT2 lpt:LPT3 lpt:LPT4 pc7166: pci72xx pci72xx: pfb:
tavex read ac|ac28: ac5:
tavex read lpt:L|LPT1 LPT2 LPT3 LPT4
tavex read ac5:0x300 |
tavex write ac5:0x300 1:OOOOOOOO |
tavex watch --rate 5 p|pc7166: pci72xx pci72xx: pfb:
tavex watch --r|--rate --raw
tavex watch --count 3 --ch|--changes
tavex pci -n|-n -nn
tavex pci -m|-mm
tavex pci -s 00:0b |
tavex read --plant @/line.toml |eyes motors
tavex read --plant=@/line.toml m|motors
tavex read --plant @/line.toml eyes |
tavex watch --plant @/line.toml eyes |eyes motors
tavex --plant @/missing.toml watch |
tavex watch --plant ~/line.toml |eyes motors
tavex --plant |line.toml
tavex info |ac28 ac5 dummy genius ktx lpt pc7166 pci72xx pfb
tavex info ac5 |
tavex demo --|--help --seconds
tavex scan --sim --period 1ms --p|--period --plant --priority
tavex scan --l|--lock-memory
tavex bogus |
CASES

if [ "$failures" -ne 0 ]; then
    echo "completion-test: $failures case(s) failed" >&2
    exit 1
fi
echo "completion-test: passed"
