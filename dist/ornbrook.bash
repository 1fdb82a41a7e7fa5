# bash completion for ornbrook: its commands, the keys of --set and the
# watched URLs (as --list prints them). Stands alone: it needs nothing of the
# bash-completion package.

_ornbrook_urls() {
    # A run that waits for another one's turn must not hang the shell.
    timeout 2 ornbrook --list 2>/dev/null | cut -f1
}

_ornbrook() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command=${COMP_WORDS[1]}
    local commands='--list --check --add --remove --refresh --set --settings --trust
        --history --watch --json --help -h -debug -log2 -log3 -debugfile -prozessinfo'
    local keys='depth= include= exclude= nocase= interval= paused= download= run='
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
    fi
    case $prev in
    --remove | --set | --settings | --trust | --history)
        if ((COMP_CWORD == 2)); then
            local url
            while IFS= read -r url; do
                [[ $url == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$url")")
            done < <(_ornbrook_urls)
            [[ $prev == --history ]] &&
                mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -W '--since --json' -- "$cur")
            return
        fi
        ;;
    --since) return ;;
    esac
    case $command in
    --set)
        case $cur in
        nocase=* | paused=*)
            mapfile -t COMPREPLY < <(compgen -P "${cur%%=*}=" -W '0 1' -- "${cur#*=}")
            ;;
        download=*)
            mapfile -t COMPREPLY < <(compgen -d -P download= -- "${cur#download=}")
            compopt -o nospace 2>/dev/null
            ;;
        *=*) ;;
        *)
            mapfile -t COMPREPLY < <(compgen -W "$keys" -- "$cur")
            compopt -o nospace 2>/dev/null
            ;;
        esac
        ;;
    --add)
        ((COMP_CWORD == 3)) && mapfile -t COMPREPLY < <(compgen -W --password-stdin -- "$cur")
        ;;
    --check | --list | --settings)
        mapfile -t COMPREPLY < <(compgen -W --json -- "$cur")
        ;;
    --history)
        mapfile -t COMPREPLY < <(compgen -W '--since --json' -- "$cur")
        ;;
    esac
}

complete -F _ornbrook ornbrook
