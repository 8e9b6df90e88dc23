#!/usr/bin/env bash
# Sets up and builds Kestra, makes its Debian package and installs it (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
(cd build && cpack -G DEB)
apt-get install -y --reinstall "./build/kestra_${version}_$(dpkg --print-architecture).deb"
