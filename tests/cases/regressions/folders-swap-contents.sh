#!/usr/bin/env bash
# Erased root entries before two folders with erased entries: defrag exited 0, fsck.fat was clean, and the two folders had swapped their contents.
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:--F 12} -C t.img ${KESTRA_KB:-1440} >/dev/null
echo a > A.TXT; echo b > B.TXT; mcopy -i t.img A.TXT B.TXT ::/
mmd -i t.img ::/D1
mmd -i t.img ::/D2
for i in $(seq 1 8); do echo "e$i" > "File E $i.txt"; mcopy -i t.img "File E $i.txt" ::/D1/; done
for i in $(seq 1 8); do echo "i$i" > "File I $i.txt"; mcopy -i t.img "File I $i.txt" ::/D2/; done
mdel -i t.img ::/B.TXT '::/D1/File E 5.txt' '::/D2/File I 3.txt' ::/A.TXT
