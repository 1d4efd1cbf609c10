# bash completion for tunesift-cli
_tunesift_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}

    # "--format=js" arrives as the words "--format", "=" and "js".
    if [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    if [[ $prev == --format ]]; then
        mapfile -t COMPREPLY < <(compgen -W 'tsv jsonl' -- "${cur#=}")
        return
    fi

    # After "--" every word is a folder.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && break
    done
    if [[ $cur == -* && $i -eq $COMP_CWORD ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--exact-filename --exact-filesize
            --similar-filename --exact-tag --similar-tag --exact-audio --similar-audio
            --id3v2-titles --no-cache --format --catalogue-only --progress --quiet --help --' \
            -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
}
complete -F _tunesift_cli tunesift-cli
