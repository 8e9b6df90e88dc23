#!/usr/bin/env bash
# An erased root entry between two folders whose first entries are erased: defrag exited 0 and one folder's files became unreachable (the two folders shared clusters).
# Builds t.img in the current folder; KESTRA_MKFS and KESTRA_KB choose another FAT type.
set -eu
export MTOOLS_SKIP_CHECK=1
mkfs.fat ${KESTRA_MKFS:-} -C t.img ${KESTRA_KB:-1440} >/dev/null
mmd -i t.img ::D1; echo x > X.TXT; mcopy -i t.img X.TXT ::; mmd -i t.img ::D2
for d in D1 D2; do for i in $(seq 1 20); do echo "$d $i" > F$i.TXT; mcopy -i t.img F$i.TXT ::$d/; done; done
mdel -i t.img ::X.TXT ::D1/F1.TXT ::D2/F1.TXT
