#!/usr/bin/env bash
# The bash completion of kestra-cli, driven as bash drives it: COMP_WORDS split
# at blanks and at '=' and ':', the reply read back from COMPREPLY.
set -uo pipefail
script=${1:?usage: completion_test.sh COMPLETION_SCRIPT}
source "$script"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub "my images"
touch notes.txt pic.png sub/inner.img "my images/old card.img"
truncate -s 1M card.IMG
# An MBR that lists partitions 1 and 3 only.
truncate -s 1M disk.img
printf '\x0c' | dd of=disk.img bs=1 seek=$((446 + 4)) conv=notrunc status=none
printf '\x06' | dd of=disk.img bs=1 seek=$((446 + 32 + 4)) conv=notrunc status=none
printf '\x55\xaa' | dd of=disk.img bs=1 seek=510 conv=notrunc status=none

failures=0
# complete LINE: what completing at the end of LINE offers, sorted, one a line.
complete_line() {
    local line=$1 token
    COMP_WORDS=()
    for token in $line; do
        while [[ $token =~ ^([^=:]*)([=:])(.*)$ ]]; do
            [[ -n ${BASH_REMATCH[1]} ]] && COMP_WORDS+=("${BASH_REMATCH[1]}")
            COMP_WORDS+=("${BASH_REMATCH[2]}")
            token=${BASH_REMATCH[3]}
        done
        [[ -n $token ]] && COMP_WORDS+=("$token")
    done
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _kestra_cli kestra-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
    local line=$1 want got
    want=$(printf '%s\n' "${@:2}" | sort)
    got=$(complete_line "$line")
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line'"
        echo "  want: $(echo $want)"
        echo "  got:  $(echo $got)"
        failures=$((failures + 1))
    fi
}
# compopt only works inside a real completion; these tests call the function.
compopt() { :; }

# Commands and the options of each.
expect "kestra-cli " info view check defrag hex demo checksum validate timing --help --version
expect "kestra-cli de" defrag demo
expect "kestra-cli --v" --version
expect "kestra-cli defrag --no-" --no-write-through --no-progress --no-pack --no-review
expect "kestra-cli defrag --d" --drive --dry-run
expect "kestra-cli check --d" --drive
expect "kestra-cli defrag --mi" --minimal
expect "kestra-cli check --f" --files
expect "kestra-cli info --" --drive --no-write-through --codepage --help --json
expect "kestra-cli hex disk.img --s" --sector
expect "kestra-cli demo --" --seed --help

# Volumes: image files and folders first, every file when no image matches.
expect "kestra-cli check " card.IMG disk.img "my images" sub
expect "kestra-cli check sub/" sub/inner.img
expect "kestra-cli check no" notes.txt
expect "kestra-cli demo " "my images" sub
# PATH@N: the partitions the MBR lists, nothing for a missing file.
expect "kestra-cli info disk.img@" disk.img@1 disk.img@3
expect "kestra-cli info card.IMG@" 
expect "kestra-cli info gone.img@"

# Option arguments.
expect "kestra-cli view --png " pic.png sub "my images"
expect "kestra-cli defrag --log no" notes.txt
expect "kestra-cli check --drive c=d" disk.img
expect "kestra-cli check --drive c=disk.img@" disk.img@1 disk.img@3
expect "kestra-cli hex disk.img --sector "
expect "kestra-cli defrag disk.img --only "
expect "kestra-cli defrag disk.img --only DOCS "
expect "kestra-cli defrag disk.img --only DOCS --j" --json

if ((failures)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "completion: all cases passed"
