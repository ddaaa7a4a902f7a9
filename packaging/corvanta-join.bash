# bash completion for corvanta-join: its options, and file and folder names everywhere else.
_corvanta_join() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i options=yes
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && options=
    done
    # The word after -o, --report or --files-from is a file name even when it begins with a dash; the one after
    # --wrap is a name of the user's own.
    [[ $prev == --wrap ]] && return
    if [[ $options && $prev != -o && $prev != --report && $prev != --files-from && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--merge --append --combine --unique --wrap --keep-going -o --report
            --files-from --null --check --json --help --version' -- "$cur")
        return
    fi
    # As file names: bash then quotes them and ends folder names with a slash.
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _corvanta_join corvanta-join
