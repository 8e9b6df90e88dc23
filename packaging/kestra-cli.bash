# bash completion for kestra-cli                           -*- shell-script -*-
# Commands, each command's options, image files and folders, PATH@N for the
# partitions an image's MBR lists, block devices under /dev.

# The options each command takes.
_kestra_cli_options() {
    local common="--drive --no-write-through --codepage --help"
    local run="--map --png --log --truncate-log --json --progress --no-progress"
    case $1 in
        info) echo "$common --json" ;;
        view) echo "$common $run" ;;
        check) echo "$common $run --files" ;;
        defrag) echo "$common $run --no-pack --minimal --dry-run --no-review --only" ;;
        hex) echo "$common --sector --dir --index --count --png" ;;
        demo) echo "--seed --help" ;;
        checksum | validate | timing) echo "$common --png" ;;
    esac
}

# The primary partitions an MBR lists, one number a line; all four when the
# image cannot be read (a device that needs root, say).
_kestra_cli_partitions() {
    local -a b
    local IFS=$' \t\n'
    b=($(od -An -v -tu1 -j446 -N66 -- "$1" 2>/dev/null))
    if ((${#b[@]} != 66)); then
        printf '%s\n' 1 2 3 4
        return
    fi
    ((b[64] == 85 && b[65] == 170)) || return
    local n
    for n in 1 2 3 4; do
        ((b[(n - 1) * 16 + 4] != 0)) && echo "$n"
    done
}

# What may hold a volume: image files (any file when none has an image's
# extension), folders to walk into, block devices, and PATH@N.
_kestra_cli_volumes() {
    local cur=$1 f n IFS=$'\n'
    if [[ $cur == *@* ]]; then
        local image=${cur%@*}
        [[ -f $image || -b $image ]] || return
        for n in $(_kestra_cli_partitions "$image"); do
            COMPREPLY+=("$image@$n")
        done
        return
    fi
    if [[ $cur == /dev/* ]]; then
        for f in $(compgen -f -- "$cur"); do
            [[ -b $f ]] && COMPREPLY+=("$f")
        done
        return
    fi
    compopt -o filenames 2>/dev/null
    local -a found=()
    for f in $(compgen -f -- "$cur"); do
        [[ -d $f || ${f,,} == *.@(img|ima|dsk|vfd|flp|raw|bin|dd|hdd|vhd) ]] && found+=("$f")
    done
    ((${#found[@]})) || found=($(compgen -f -- "$cur"))
    COMPREPLY+=("${found[@]}")
}

_kestra_cli() {
    COMPREPLY=()
    # Bash splits words at '=' and ':'; join what the line has written together
    # again, so that "c=disk.img" and "c:" are one word each.
    local line=${COMP_LINE:0:COMP_POINT} pos=0 end=-1 i w rest start
    local -a words=()
    for ((i = 0; i <= COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        rest=${line:pos}
        if [[ -z $w ]]; then
            start=${#line}
        else
            rest=${rest%%"$w"*}
            start=$((pos + ${#rest}))
        fi
        if ((i > 0 && start == end)); then
            words[-1]+=$w
        else
            words+=("$w")
        fi
        pos=$((start + ${#w}))
        end=$pos
    done
    local cur=${words[-1]} prev=${words[-2]} command=${words[1]}
    cur=${cur//\\ / }
    cur=${cur#[\"\']}

    if ((${#words[@]} == 2)); then
        COMPREPLY=($(compgen -W "info view check defrag hex demo checksum validate timing \
            --help --version" -- "$cur"))
        return
    fi
    case $prev in
        --png)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -X '!*.[pP][nN][gG]' -- "$cur") $(compgen -d -- "$cur"))
            return
            ;;
        --log)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --drive)
            # L=PATH: the path after the '=' is the word bash completes.
            [[ $cur == [a-zA-Z]?(:)=* ]] && _kestra_cli_volumes "${cur#*=}"
            return
            ;;
        --sector | --index | --count | --seed | --codepage | --dir | --only)
            return
            ;;
    esac
    # The names after --only are the volume's own files.
    for ((i = ${#words[@]} - 2; i > 1; i--)); do
        [[ ${words[i]} == --only ]] && [[ $cur != -* ]] && return
        [[ ${words[i]} == -* ]] && break
    done
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_kestra_cli_options "$command")" -- "$cur"))
        return
    fi
    if [[ $command == demo ]]; then
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -d -- "$cur"))
        return
    fi
    _kestra_cli_volumes "$cur"
    # Bash replaces only the text after the last ':' or '=' of the word.
    if [[ $cur == *[=:]* ]]; then
        local cut=${cur%"${cur##*[=:]}"}
        COMPREPLY=("${COMPREPLY[@]#"$cut"}")
    fi
}
complete -F _kestra_cli kestra-cli
