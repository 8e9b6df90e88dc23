#!/usr/bin/env bash
# Folders with many long-named entries and erased entries: defrag exited 0 and a folder's entry pointed at file data, so fsck.fat saw a garbage directory and about 50 paths were missing.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
mmd -i t.img ::/D1; echo a > A1.TXT; mcopy -i t.img A1.TXT ::/; mmd -i t.img ::/D2
for i in $(seq 1 15); do echo > "File B $i.txt"; mcopy -i t.img "File B $i.txt" ::/D1/; done
for i in $(seq 1 15); do echo > C$i.TXT; done; mcopy -i t.img $(seq -f C%g.TXT 1 15) ::/D1/
for i in $(seq 1 23); do echo > D$i.TXT; done; mcopy -i t.img $(seq -f D%g.TXT 1 23) ::/D2/
for i in $(seq 1 8); do seq -f "F$i %g" 9999 | head -c 1536 > F$i.TXT; done; mcopy -i t.img $(seq -f F%g.TXT 1 8) ::/D2/
echo > "File G 1.txt"; mcopy -i t.img "File G 1.txt" ::/D1/
mdel -i t.img ::/A1.TXT "::/D1/File B 2.txt" "::/D1/File B 4.txt" ::/D2/D15.TXT
