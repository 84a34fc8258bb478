#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, when missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    libjpeg62-turbo-dev libspng-dev libdeflate-dev zlib1g-dev libtiff-dev
    python3 python3-pil imagemagick
    libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
    libcli11-dev
    qt6-base-dev fonts-dejavu-core
    clang libclang-rt-14-dev
    dpkg-dev file lintian appstream desktop-file-utils
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
