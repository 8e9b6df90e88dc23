#!/usr/bin/env bash
# A folder spanning two clusters with an erased entry, and an erased root entry before it: defrag stopped with Error stop and left a lost chain.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
echo x > X.TXT; mcopy -i t.img X.TXT ::/
mmd -i t.img ::/D1
echo y > Y.TXT; mcopy -i t.img Y.TXT ::/
for i in $(seq 1 15); do echo $i > C$i.TXT; done; mcopy -i t.img $(seq -f C%g.TXT 1 15) ::/D1/
mdel -i t.img ::/D1/C1.TXT ::/X.TXT
