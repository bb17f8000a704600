# Bash completion for pidsift, pidsift-dump, pidsift-split and pidsift-check: their options and
# commands, files where a FILE goes and folders after -d. One file serves the four tools; it is
# installed under each tool's name, so that bash-completion loads it on the first <TAB> after
# any of them. It needs nothing but bash: `source completion/pidsift.bash` works as well.

# Adds the words of $1 that start with $2.
__pidsift_words()
{
    local word
    for word in $(compgen -W "$1" -- "$2"); do
        COMPREPLY+=("$word")
    done
}

# Adds the files and folders whose names start with $1, spaces and all.
__pidsift_files()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -f -- "$1"))
}

# Adds the folders whose names start with $1.
__pidsift_directories()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$1"))
}

# Adds the folders and the files ending in $2 whose names start with $1.
__pidsift_files_ending()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$1") $(compgen -f -X "!*$2" -- "$1"))
}

# Sets __pidsift_positional to the number of arguments before the current word that are not
# options nor the values of the options listed in $1 (those that take a value). An argument
# after -- counts as positional, whatever it looks like; __pidsift_after_dashes tells whether
# the current word stands after one.
__pidsift_count_positional()
{
    local takes_value=" $1 " i word
    __pidsift_positional=0
    __pidsift_after_dashes=
    for ((i = $2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $__pidsift_after_dashes ]]; then
            __pidsift_positional=$((__pidsift_positional + 1))
        elif [[ $word == -- ]]; then
            __pidsift_after_dashes=1
        elif [[ $takes_value == *" $word "* ]]; then
            # bash splits --mask=3 into --mask, = and 3.
            [[ ${COMP_WORDS[i + 1]} == = ]] && i=$((i + 1))
            i=$((i + 1))
        elif [[ $word != -?* ]]; then
            __pidsift_positional=$((__pidsift_positional + 1))
        fi
    done
}

# pidsift FILE [PID OUTPUT]
_pidsift()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $COMP_CWORD in
        1)
            if [[ $cur == -* ]]; then
                __pidsift_words "--help --version" "$cur"
            else
                __pidsift_files "$cur"
            fi
            ;;
        3) __pidsift_files "$cur" ;;
        # 2 is the PMT PID, which only reading the whole recording would tell.
    esac
    return 0
}

# The values of --charset, after "--charset" or "--charset =" (bash splits --charset=arib).
# Returns 1 when the current word is not such a value.
__pidsift_charset()
{
    local cur=$1 prev=$2 before=$3
    [[ $prev == --charset || ($prev == = && $before == --charset) ]] || return 1
    __pidsift_words "auto dvb arib" "$cur"
}

# pidsift-dump [SELECTION...] [--changes] [--json] [--charset auto|dvb|arib] FILE
_pidsift_dump()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    [[ $prev == --mask || ($prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --mask) ]] && return 0
    __pidsift_charset "$cur" "$prev" "${COMP_WORDS[COMP_CWORD - 2]}" && return 0
    __pidsift_count_positional "--mask --charset" 1
    if [[ $cur == -* && -z $__pidsift_after_dashes ]]; then
        __pidsift_words "--packets --pat --cat --pmt --ecm --emm --es --pids --pcr --all --mask
                         --sdt --nit --programs --eit --eit-pf --tdt --changes --json --charset
                         -h --help -V --version" "$cur"
    elif ((__pidsift_positional == 0)); then
        __pidsift_files "$cur"
    fi
    return 0
}

# pidsift-split COMMAND FILE [PID] [OPTIONS]
_pidsift_split()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            __pidsift_words "-h --help -V --version" "$cur"
        else
            __pidsift_words "programs program pmt-list pmt" "$cur"
        fi
        return 0
    fi
    local command=${COMP_WORDS[1]} options
    case $command in
        programs) options="-d --directory" ;;
        program) options="--program --streams -o --output -d --directory --name-template --force --charset" ;;
        pmt-list) options="" ;;
        pmt) options="--crc -o --output -d --directory" ;;
        *) return 0 ;;
    esac
    case $prev in
        -d | --directory)
            [[ " $options " == *" -d "* ]] && __pidsift_directories "$cur"
            return 0
            ;;
        -o | --output)
            [[ " $options " == *" -o "* ]] && __pidsift_files "$cur"
            return 0
            ;;
        --charset)
            [[ " $options " == *" --charset "* ]] && __pidsift_words "auto dvb arib" "$cur"
            return 0
            ;;
        --crc | --program | --name-template) return 0 ;;
        --streams)
            [[ $command == program ]] && __pidsift_words "video audio subtitles teletext captions data cue" "$cur"
            return 0
            ;;
    esac
    __pidsift_count_positional "--crc --program -o --output -d --directory --name-template --charset --streams" 2
    if [[ $cur == -* && -z $__pidsift_after_dashes ]]; then
        __pidsift_words "$options" "$cur"
    elif ((__pidsift_positional == 0)); then
        __pidsift_files "$cur"
    fi
    # The PID of `program` would need the whole recording read: nothing is offered for it.
    return 0
}

# pidsift-check [--json] [--quiet] [--strict] [--summary] [-j N] [--charset auto|dvb|arib] [--svg FILE.svg] FILE...
_pidsift_check()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [[ $prev == --svg ]]; then
        __pidsift_files_ending "$cur" .svg
    elif [[ $prev == -j || $prev == --jobs ]]; then
        __pidsift_words "1 2 4 8" "$cur"
    elif __pidsift_charset "$cur" "$prev" "${COMP_WORDS[COMP_CWORD - 2]}"; then
        return 0
    elif [[ $cur == -* ]]; then
        __pidsift_words "--json --quiet --strict --summary -j --jobs --charset --svg -h --help -V --version" "$cur"
    else
        __pidsift_files "$cur"
    fi
    return 0
}

complete -F _pidsift pidsift
complete -F _pidsift_dump pidsift-dump
complete -F _pidsift_split pidsift-split
complete -F _pidsift_check pidsift-check
