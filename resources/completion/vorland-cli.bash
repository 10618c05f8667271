# bash completion for vorland-cli: verbs, each verb's options, and the
# entry paths of the archive already typed, a folder level at a time, with
# "/" for the archive's "\". Verbs and options come from the program's own
# help, entry paths from "vorland-cli list".

# The entry paths of archive $1 that start with $2, cut after the folder
# that follows.
_vorland_cli_entries()
{
    vorland-cli list -- "$1" 2>/dev/null | cut -f4- | tr '\\' '/' |
        awk -v cur="$2" 'index($0, cur) == 1 {
            rest = substr($0, length(cur) + 1)
            cut = index(rest, "/")
            print cut ? cur substr(rest, 1, cut) : $0
        }' | sort -u
}

_vorland_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} verb=${COMP_WORDS[1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        local verbs
        verbs=$(vorland-cli --help 2>/dev/null | awk '/^Verbs:/ { v = 1; next } v && /^  [a-z]/ { print $1 }')
        mapfile -t COMPREPLY < <(compgen -W "$verbs --help --version" -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$(vorland-cli "$verb" --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    # The archive is the first argument after the verb that is neither an
    # option nor an option's value; entry paths come after it.
    local i archive="" word
    for ((i = 2; i < COMP_CWORD; ++i)); do
        word=${COMP_WORDS[i]}
        case $word in
        -o | -C | -s | --output | --level | --threads | --format | --size | --as) ((++i)) ;;
        -*) ;;
        *) archive=$word && break ;;
        esac
    done
    case $verb in
    list | cat | extract | test | remove | rename | render)
        if [[ -n $archive && -f ${archive/#\~/$HOME} ]] && ((i < COMP_CWORD)); then
            compopt -o nospace 2>/dev/null
            local entry
            while IFS= read -r entry; do
                COMPREPLY+=("$(printf '%q' "$entry")")
            done < <(_vorland_cli_entries "${archive/#\~/$HOME}" "$cur")
            return
        fi
        ;;
    esac
    compopt -o default 2>/dev/null # file names
}

complete -F _vorland_cli vorland-cli
