#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# asking apt only for what is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    nlohmann-json3-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth fonts-dejavu-core
    qemu-system-x86 busybox-static cpio xz-utils
    libplist-dev python3
    libcap-dev libcap2-bin libseccomp-dev
    desktop-file-utils libxcb1-dev libxcb-ewmh-dev x11-utils openbox xterm
    prometheus prometheus-node-exporter
    llvm
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
