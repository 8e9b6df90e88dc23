#!/usr/bin/env bash
# Two folders with erased entries after an erased root entry: defrag exited 0 and fsck.fat reported that the folders share clusters; the second folder's files were gone.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
mmd -i t.img ::/D2
echo a > A1.TXT; mcopy -i t.img A1.TXT ::/
mmd -i t.img ::/D3
for i in $(seq 1 15); do echo d$i > D$i.TXT; done; mcopy -i t.img $(seq -f D%g.TXT 1 15) ::/D3/
for i in $(seq 1 15); do echo f$i > F$i.TXT; done; mcopy -i t.img $(seq -f F%g.TXT 1 15) ::/D2/
mdel -i t.img ::/D3/D1.TXT ::/D2/F2.TXT ::/A1.TXT
