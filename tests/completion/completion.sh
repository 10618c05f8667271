#!/bin/bash
# The completion scripts run by bash and zsh as a shell would: verbs, a
# verb's options, and the entry paths of an archive, a folder at a time.
# completion.sh SCRIPTS_FOLDER VORLAND_CLI
set -u
scripts=$1
PATH="$(cd "$(dirname "$2")" && pwd):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/data/ini" "$work/tree/data/art" "$work/tree/two words"
echo a >"$work/tree/data/ini/a.ini"
echo b >"$work/tree/data/art/b.tga"
echo c >"$work/tree/two words/c.txt"
echo d >"$work/tree/readme"
vorland-cli pack -q "$work/tree" -o "$work/a.big" || exit 1
failed=0

# check SHELL WORDS... -- EXPECTED...: the candidates for the last word.
check() {
    local shell=$1 words=() expected=() got
    shift
    while [ "$1" != -- ]; do words+=("$1") && shift; done
    shift
    expected=("$@")
    if [ "$shell" = bash ]; then
        got=$(bash -c 'source "$1"; shift
            complete -p vorland-cli | grep -q -- "-F _vorland_cli" || echo "not registered"
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vorland_cli; printf "%s\n" "${COMPREPLY[@]}"' \
            - "$scripts/vorland-cli.bash" "${words[@]}")
    else
        # Outside a completion widget, compadd and _files only say what
        # they were given, compadd filtered as zsh filters it.
        got=$(zsh -f -c 'compadd() { while (($#)); do case $1 in -S) shift 2 ;; -a) for c in "${(P@)2}"; do [[ $c == ${PREFIX}* ]] && print -r -- $c; done; shift 2 ;; -*) shift ;; *) shift ;; esac; done }
            _files() { print "(files)" }
            words=("$@"); CURRENT=$#; PREFIX=${words[-1]}; source "$0"' \
            "$scripts/_vorland-cli" "${words[@]}")
    fi
    local want
    want=$(printf "%s\n" "${expected[@]}")
    if [ "$got" != "$want" ]; then
        echo "FAIL: $shell completes '${words[*]}' as:"; echo "$got"; echo "expected:"; echo "$want"
        failed=1
    fi
}

for shell in bash zsh; do
    check $shell vorland-cli ext -- extract
    check $shell vorland-cli list --js -- --json
    check $shell vorland-cli cat "$work/a.big" da -- data/
    check $shell vorland-cli extract -o "$work" "$work/a.big" data/ -- data/art/ data/ini/
    check $shell vorland-cli cat "$work/a.big" data/ini/ -- data/ini/a.ini
done
# What a shell types back: a name with a space escaped.
check bash vorland-cli cat "$work/a.big" two -- 'two\ words/'
check zsh vorland-cli cat "$work/a.big" two -- 'two words/'
check zsh vorland-cli pack "" -- "(files)"
[ $failed = 0 ] && echo "completion: all passed"
exit $failed
