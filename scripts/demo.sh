#!/usr/bin/env bash
# Sets up, builds, makes a small demo volume and runs Kestra on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build/demo
img=build/demo/demo.img
rm -f "$img"
mkfs.fat -C -F 16 -n KESTRADEMO "$img" 32768 >/dev/null
printf 'Kestra demo volume\r\n' >build/demo/README.TXT
MTOOLS_SKIP_CHECK=1 mcopy -i "$img" build/demo/README.TXT ::/README.TXT
./build/kestra-cli info "$img"
