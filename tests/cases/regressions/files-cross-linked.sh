#!/usr/bin/env bash
# Long-named files in deep folders with erased entries: defrag exited 0, two files shared clusters and one file's content changed.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12 -s 1 -r 512} -C t.img ${KESTRA_KB:-360} >/dev/null
L=---------------------------; D=-------------------; A=::/D1/Dir017$D; B=$A/Dir018$D
mmd -i t.img ::/D1
for i in 1 2 3 4 5 6 7 8 9; do echo > F0$i$L.txt; done; echo > "F10 x.txt"
mcopy -i t.img F0?$L.txt "F10 x.txt" ::/D1/
mmd -i t.img $A; mmd -i t.img $B; mmd -i t.img $B/D19; mmd -i t.img $B/D19/D20
for i in $(seq 20 30); do echo > "F$i x.txt"; done; mcopy -i t.img F2?\ x.txt F30\ x.txt ::/D1/
for f in C1$L.txt C2.TXT "C3 x.txt" C4$L.txt "C5 x.txt" "C6 x.txt" C7$L.txt; do seq -f "$f %g" 99999 | head -c 2000 > "$f"; done
mcopy -i t.img C1$L.txt C2.TXT "C3 x.txt" C4$L.txt "C5 x.txt" "C6 x.txt" C7$L.txt $B/D19/
for f in Z1$L.txt Z2.TXT Z3$L.txt Z4$L.txt Z5$L$L$L$L.txt Z6$L.txt Z7$L.txt; do seq -f "$f %g" 99999 | head -c 16000 > $f; done
mcopy -i t.img Z1$L.txt Z2.TXT Z3$L.txt Z4$L.txt Z5$L$L$L$L.txt Z6$L.txt Z7$L.txt $B/D19/D20/
mdel -i t.img $B/D19/D20/Z4$L.txt "::/D1/F10 x.txt" "$B/D19/C6 x.txt"
