#!/usr/bin/env bash
# Sets up, builds, and runs Kestra's demo: a fragmented demo volume is made,
# shown, defragmented and packed, and shown again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build/demo
./build/kestra-cli demo build/demo
