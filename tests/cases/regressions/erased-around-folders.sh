#!/usr/bin/env bash
# Erased entries before, between or after two folders (KESTRA_ERASED_AT) in the root, and at the first, a middle and the last slot of the folders, some with long names.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
at=${KESTRA_ERASED_AT:-between}
put() { echo "$1 ${3:-}" > "$1"; mcopy -i t.img "$1" "::$2/"; }
[ "$at" = before ] && put "Erased root file.txt" ""
mmd -i t.img ::/D1
[ "$at" = between ] && put "Erased root file.txt" ""
mmd -i t.img "::/Second folder"
[ "$at" = after ] && put "Erased root file.txt" ""
put KEEP.TXT ""
for d in D1 "Second folder"; do
    for i in $(seq 1 24); do
        if [ $((i % 5)) = 0 ]; then put "Long name number $i.txt" "/$d" "$d"; else put F$i.TXT "/$d" "$d"; fi
    done
done
mdel -i t.img "::/Erased root file.txt" ::/D1/F1.TXT "::/D1/Long name number 10.txt" ::/D1/F24.TXT \
    "::/Second folder/F1.TXT" "::/Second folder/F13.TXT" "::/Second folder/F24.TXT"
