# Helpers of the case recipes, commands and `after` scripts (run_case.sh sources it).

# SIZE bytes of text that differ with SEED, the same every time.
fill() {
    seq -f "$1 %09g" 1 $(($2 / 11 + 1)) | head -c "$2"
}

# mkfs.fat's volume filled by mtools: folders, long names, empty files, four
# erased entries and files fragmented into the holes they left.
fragmented_volume() { # IMG "MKFS OPTIONS" KB
    local img=$1
    mkfs.fat -C $2 "$img" "$3" >/dev/null
    fill 1 3000 >small && fill 2 20000 >mid && fill 3 70000 >big && : >empty
    mmd -i "$img" ::/DOCS ::/DOCS/DEEP '::/Long folder name'
    local i to
    for i in $(seq 0 11); do
        case $((i % 3)) in 0) to=::/DOCS/ ;; 1) to=::/ ;; 2) to='::/Long folder name/' ;; esac
        mcopy -i "$img" "$( ((i % 2)) && echo small || echo mid)" "${to}F$i.BIN"
    done
    mcopy -i "$img" empty ::/E1.TXT && mcopy -i "$img" empty ::/DOCS/DEEP/E2.TXT
    mcopy -i "$img" small '::/DOCS/DEEP/A file with a long name.txt'
    mdel -i "$img" ::/F1.BIN ::/DOCS/F3.BIN '::/Long folder name/F5.BIN' ::/DOCS/F9.BIN
    # mtools allocates from the FAT32 next-free hint; point it at the start.
    if [[ $2 == *32* ]]; then
        printf '\002\000\000\000' | dd of="$img" bs=1 seek=1004 conv=notrunc 2>/dev/null
    fi
    mcopy -i "$img" big ::/DOCS/DEEP/BIG1.BIN && mcopy -i "$img" big ::/DOCS/DEEP/BIG2.BIN
    rm -f small mid big empty
}

# What a run left: fsck.fat's verdict, whether every file holds what it held
# before (when the recipe saved `files IMG >before.txt`), every chain's runs and
# the free runs as the tests' own reader finds them, and the image's md5.
# IMG may be IMG@N for a partition.
proof() { # IMG
    local img=${1%@*} at
    at=$(start_of "$1")
    if ((at == 0)); then
        fsck.fat -n "$img" >/dev/null 2>&1
    else # fsck.fat takes no offset
        dd if="$img" of=part.fsck bs=512 skip="$at" conv=sparse status=none
        fsck.fat -n part.fsck >/dev/null 2>&1
    fi
    echo "fsck.fat -n: $?"
    rm -f part.fsck
    if [[ -f before.txt ]]; then
        files "$1" | cmp -s before.txt - && echo "every file as before" || echo "FILES DIFFER FROM BEFORE"
    fi
    case-volume layout "$img" $((at * 512))
    md5sum "$img"
}

# Every file's md5 and path as mtools copies them out. IMG may be IMG@N.
files() { # IMG
    local img=${1%@*} out
    out=$(mktemp -d)
    mcopy -s -n -i "$img@@$(($(start_of "$1") * 512))" ::/ "$out"
    (cd "$out" && find . -type f -print0 | sort -z | xargs -0r md5sum)
    rm -rf "$out"
}

# The first sector of partition N of IMG@N (0 for IMG).
start_of() { # IMG[@N]
    if [[ $1 == *@* ]]; then
        od -An -tu4 -j $((446 + 16 * (${1##*@} - 1) + 8)) -N4 "${1%@*}" | tr -d ' '
    else
        echo 0
    fi
}

# A command as the user nobody, who cannot write a read-only file, even when
# the tests run as root.
unprivileged() {
    if [[ $(id -u) == 0 ]]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}

# A command whose JSON on stdout is shown indented; its exit status is kept.
json() {
    local status
    "$@" >json.out
    status=$?
    python3 -m json.tool json.out
    rm -f json.out
    return $status
}
