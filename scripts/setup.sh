#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 and configures the build.
# Safe to run again; quick when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config libpng-dev zlib1g-dev libgtest-dev
          libgmock-dev dosfstools mtools clang-format qt6-base-dev nlohmann-json3-dev
          dpkg-dev man-db lintian desktop-file-utils e2fsprogs python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DKESTRA_WERROR=ON >/dev/null
cmake --build build
