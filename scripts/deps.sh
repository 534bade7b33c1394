#!/usr/bin/env bash
# Installs the Debian 12 packages that Zentrova needs, asking apt only for what
# is missing: "product" for building and running it (the install step, the
# demo, the Debian package), "all" (the default) for the tests too.
set -euo pipefail

product=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    nlohmann-json3-dev libplist-dev libsqlite3-dev qt6-charts-dev libqt6opengl6-dev python3
    libcap-dev libcap2-bin libseccomp-dev libudev-dev
    libxcb1-dev libxcb-ewmh-dev
    hicolor-icon-theme pkexec
    dpkg-dev
)
tests=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev llvm
    xvfb xauth
    qemu-system-x86 busybox-static cpio xz-utils
    desktop-file-utils gtk-update-icon-cache x11-utils openbox xterm
    dbus-daemon dunst trayer xdotool
    prometheus prometheus-node-exporter
    lintian debootstrap
)
case "${1:-all}" in
product) packages=("${product[@]}") ;;
all) packages=("${product[@]}" "${tests[@]}") ;;
*) echo "usage: $0 [product|all]" >&2 && exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "deps.sh: missing packages; run as root: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
echo "deps.sh: refreshing apt's package lists"
"${as_root[@]}" apt-get update -qq

# One line on what comes and how much, from the archives apt would fetch.
read -r count bytes < <(apt-get install --print-uris -qq --no-install-recommends "${missing[@]}" |
    awk '{ n++; sum += $3 } END { printf "%d %d\n", n, sum }')
echo "deps.sh: installing ${missing[*]}: $count packages with their dependencies," \
    "about $(((bytes + 999999) / 1000000)) MB to download"

# apt's own download progress (its status numbers), as one line rewritten in
# place on a terminal, or a line per tenth in a log.
progress() {
    local tty=0
    [ -t 1 ] && tty=1
    awk -F: -v tty=$tty '
        $1 == "dlstatus" {
            p = int($3)
            if (tty) printf "\rdeps.sh: downloading %3d%%", p
            else if (p >= step) { printf "deps.sh: downloading %d%%\n", p; step = p - p % 10 + 10 }
            fflush()
        }
        END { if (tty) printf "\rdeps.sh: downloading 100%%\n" }'
}
"${as_root[@]}" apt-get install -y -qq --download-only --no-install-recommends \
    -o APT::Status-Fd=3 "${missing[@]}" 3>&1 1>&2 | progress

# Unpacking and setting up each package is hidden; errors and warnings are not.
echo "deps.sh: unpacking and setting up"
"${as_root[@]}" apt-get install -y -qq --no-install-recommends -o Dpkg::Use-Pty=0 "${missing[@]}" 2>&1 |
    { grep -v -E '^(Selecting previously unselected package |\(Reading database|Preparing to unpack |Unpacking |Setting up |Processing triggers for |Created symlink |update-alternatives: |debconf: delaying )' || true; }

# The tests run promtool and node_exporter as programs; the services their
# packages enable would put a Prometheus server and an exporter on the network.
quiet_service() { # name: stopped now and not started at boot
    if [ -d /run/systemd/system ]; then
        "${as_root[@]}" systemctl disable --now -q "$1"
    else
        { "${as_root[@]}" service "$1" stop || ! service "$1" status; } >/dev/null 2>&1 &&
            "${as_root[@]}" update-rc.d "$1" disable >/dev/null 2>&1
    fi
}
services=() quieted=yes
for p in prometheus prometheus-node-exporter; do
    if [[ " ${missing[*]} " == *" $p "* ]]; then
        services+=("$p")
        quiet_service "$p" || quieted=no
    fi
done
if [ $quieted = no ]; then
    echo "deps.sh: could not stop and disable all of the services ${services[*]}; the tests only need their programs"
elif [ ${#services[@]} -gt 0 ]; then
    echo "deps.sh: stopped and disabled the services ${services[*]}; the tests only need their programs"
fi
echo "deps.sh: done"
