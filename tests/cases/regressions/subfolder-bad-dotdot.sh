#!/usr/bin/env bash
# A nested folder with erased entries at several depths: defrag exited 0, a folder's '..' pointed at the wrong cluster and its files were gone.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
echo a > A1.TXT; mcopy -i t.img A1.TXT ::/
mmd -i t.img ::/D2
mmd -i t.img ::/D2/D3
for i in $(seq 1 15); do echo b$i > B$i.TXT; done; mcopy -i t.img $(seq -f B%g.TXT 1 15) ::/D2/D3/
for i in $(seq 1 14); do echo c$i > C$i.TXT; done; mcopy -i t.img $(seq -f C%g.TXT 1 14) ::/D2/
mdel -i t.img ::/A1.TXT ::/D2/D3/B2.TXT ::/D2/C1.TXT
