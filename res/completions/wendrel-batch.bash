# bash completion for wendrel-batch                                    -*- shell-script -*-
# Installed as share/bash-completion/completions/wendrel-batch, which bash-completion loads on
# the first Tab after the command's name; it needs nothing from bash-completion itself.

# The encoding names iconv knows, one a line ("UTF-8", not the "UTF-8//" it prints).
_wendrel_batch_encodings() {
    iconv -l 2>/dev/null | tr -s ', ' '\n' | sed 's,//$,,'
}

# Fills COMPREPLY with the files (or, with -d, the folders) whose names start with $1.
_wendrel_batch_files() {
    local kind=-f
    [[ ${2:-} == -d ]] && kind=-d
    compopt -o filenames 2>/dev/null # quotes what needs it, and marks folders with '/'
    mapfile -t COMPREPLY < <(compgen "$kind" -- "$1")
}

_wendrel_batch() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i
    COMPREPLY=()
    # bash splits "--color=al" at the '=' into "--color", "=", "al".
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    case $prev in
    --color)
        mapfile -t COMPREPLY < <(compgen -W 'auto always never' -- "$cur")
        return
        ;;
    --encoding | --rules-encoding)
        # iconv takes the names in any case: "gb18" offers GB18030.
        mapfile -t COMPREPLY < <({
            [[ $prev == --encoding ]] && printf '%s\n' auto bytes
            _wendrel_batch_encodings
        } | awk -v start="${cur,,}" 'index(tolower($0), start) == 1')
        return
        ;;
    --undo)
        # A job id, else anything that may follow (an option).
        mapfile -t COMPREPLY < <(compgen -W "$(wendrel-batch --jobs 2>/dev/null | cut -f1)" \
            -- "$cur")
        [[ ${#COMPREPLY[@]} -gt 0 || $cur != -* ]] && return
        ;;
    --dir)
        _wendrel_batch_files "$cur" -d
        return
        ;;
    --change | --file | --source | --except | --exclude)
        _wendrel_batch_files "$cur"
        return
        ;;
    --include | --exclude-glob | --undo-limit)
        return # a glob or a number: nothing to offer
        ;;
    esac

    # After "--" every word is FIND, REPLACE or a PATH.
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && {
            _wendrel_batch_files "$cur"
            return
        }
    done
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '
            --source --file --dir --except --exclude --change
            --recursive --include --exclude-glob --cross-fs --binary
            --whole-word --ignore-case --encoding --rules-encoding
            --undo --jobs --no-undo --undo-limit
            --dry-run --diff --color --quiet --strict --help --version
            -r -w -i -n -q -h --' -- "$cur")
        return
    fi
    _wendrel_batch_files "$cur"
}
complete -F _wendrel_batch wendrel-batch
