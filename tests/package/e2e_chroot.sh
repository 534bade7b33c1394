#!/usr/bin/env bash
# The package end to end in a fresh minimal Debian 12: usage e2e_chroot.sh
# SOURCE BUILD OUT, OUT holding the package the test package_build made.
# `apt install ./zentrova_….deb` pulls what it needs from the configured
# Debian sources; the installed monitor runs offscreen on the demo drives;
# the helper has its group, mode and capabilities; an upgrade to a rebuilt
# package of a higher version keeps the group, the user's membership and data
# and sets the capabilities again; `apt purge` leaves the chroot as it was
# with the package's dependencies, apt's and dpkg's own state aside.
#
# The debootstrapped base is made once and kept as a tarball, and the Debian
# packages apt fetches are kept beside it, under
# ${XDG_CACHE_HOME:-~/.cache}/zentrova (or ZENTROVA_CACHE). Root only.
set -euo pipefail
src=$1 build=$2 out=$3
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "the chroot needs root"
command -v debootstrap >/dev/null || skip "debootstrap missing (scripts/deps.sh installs it)"
version=$(sed -n 's/^project(Zentrova VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
deb="$out/zentrova_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb (the test package_build makes it)"
cache=${ZENTROVA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zentrova}
base="$cache/debian12-minbase.tar"
# Beside OUT, which the test package_build empties.
work="$out.e2e"
root="$work/root"
say() { echo "e2e: $*"; }

# Every mount made here goes again, whatever happens; the chroot's folder is
# removed only once nothing is mounted in it.
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" || true; done
    if ! grep -qF " $root" /proc/mounts; then rm -rf "$work"; fi
}
trap cleanup EXIT
mount_in() { # mount arguments... target
    mount "$@" && mounts+=("${*: -1}")
}

rm -rf "$work" && mkdir -p "$work" "$cache/archives/partial"
if [ ! -f "$base" ]; then
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
    [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
    [ -n "$mirror" ] || skip "no Debian mirror in apt's sources"
    say "debootstrapping Debian 12 (minbase) from $mirror once, into $base"
    debootstrap --variant=minbase bookworm "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -20 "$work/debootstrap.log"; skip "debootstrap could not make the base"; }
    tar -C "$work/base" -cf "$base.tmp" . && mv "$base.tmp" "$base"
    rm -rf "$work/base"
fi
mkdir "$root" && tar -C "$root" -xf "$base"
# The host's Debian sources and name service; a user of the desktop.
rm -f "$root/etc/apt/sources.list"
cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/" 2>/dev/null ||
    cp /etc/apt/sources.list "$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount_in -t proc proc "$root/proc"
mount_in --bind /dev "$root/dev"
mount_in --bind "$cache/archives" "$root/var/cache/apt/archives"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }
in_root useradd -m -s /bin/sh desk
in_root apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; skip "apt-get update failed in the chroot"; }

# path, type, mode and owners of everything, the size of each file; not the
# copies the user and group tools keep of the files they last changed.
listing() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./sys -o -path ./run \
        -o -path ./tmp -o -path ./var/lib/dpkg -o -path ./var/lib/apt -o -path ./var/cache/apt \
        -o -path ./var/cache/debconf -o -path ./var/log/apt -o -path ./var/log/dpkg.log \
        -o -path ./var/log/alternatives.log -o -path ./etc/group- -o -path ./etc/gshadow- \
        -o -path ./etc/passwd- -o -path ./etc/shadow- \) -prune \
        -o -printf '%y %m %u:%g %s %p\n') | awk '$1 != "f" { $4 = "-" } { print }' | sort -k5
}
# What the package depends on first, as apt resolves its Depends: what those
# packages leave behind when purged (system users, folders) is theirs, so the
# listing before is taken with them in place.
in_root apt-get satisfy -y -q "$(dpkg-deb -f "$deb" Depends)" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get satisfy the package's Depends"; }
! grep -Eq '^Setting up (googletest|libgtest|libgmock|pkexec)' "$work/apt.log" ||
    fail "the package's dependencies pull a test tool or pkexec in"
listing >"$work/before"

apt_install() { # package file
    cp "$1" "$root/tmp/" && in_root apt -o APT::Keep-Downloaded-Packages=true install -y -q \
        "/tmp/${1##*/}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt install ${1##*/}"; }
}
helper_state() {
    echo "$(in_root stat -c '%U:%G %a' /opt/zentrova/libexec/zentrova-ata)" \
        "$(in_root getcap /opt/zentrova/libexec/zentrova-ata | awk '{ print $2 }')"
}
expected_helper="root:zentrova 750 cap_dac_read_search,cap_sys_rawio,cap_sys_admin=ep"

say "apt install ./${deb##*/}"
apt_install "$deb"
grep -q '^0 upgraded, 1 newly installed' "$work/apt.log" ||
    fail "apt install pulled more than its Depends: $(grep newly "$work/apt.log")"
in_root getent group zentrova >/dev/null || fail "no group zentrova"
[ "$(helper_state)" = "$expected_helper" ] || fail "helper after install: $(helper_state)"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/zentrova.desktop" || fail "menu entry invalid"
fi
[ -f "$root/opt/zentrova/share/guide/news.html" ] || fail "no welcome pages"

say "the installed monitor on the demo drives, offscreen"
in_root adduser --quiet desk zentrova
cp "$src/share/demo-drives.json" "$root/tmp/demo-drives.json"
# It runs until its first poll has logged the drives (30 seconds at most),
# and must still be running then.
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/home/desk QT_QPA_PLATFORM=offscreen \
    ZENTROVA_SIMULATED_DRIVES=/tmp/demo-drives.json \
    setpriv --reuid=desk --regid=desk --init-groups sh -c 'cd && exec /opt/zentrova/bin/zentrova' \
    >"$work/monitor.log" 2>&1 &
monitor=$!
for _ in $(seq 300); do
    ls "$root/home/desk/Zentrodat"/SMARTLog* >/dev/null 2>&1 || ! kill -0 $monitor 2>/dev/null || { sleep 0.1; continue; }
    break
done
kill -0 $monitor 2>/dev/null || { cat "$work/monitor.log"; fail "the monitor ended by itself"; }
kill $monitor && wait $monitor || true
ls "$root/home/desk/Zentrodat"/SMARTLog* >/dev/null 2>&1 ||
    { cat "$work/monitor.log"; fail "the monitor logged no drive"; }
data=$(cd "$root/home/desk" && find . -type f -exec md5sum {} + | sort)

say "upgrade to $version+1"
(cd "$build" && cpack -G DEB -B "$work/upgrade" -D CPACK_DEBIAN_PACKAGE_VERSION="$version+1" \
    --config CPackConfig.cmake >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack $version+1"; }
apt_install "$work/upgrade/zentrova_${version}+1_amd64.deb"
[ "$(in_root dpkg-query -W -f '${Version}' zentrova)" = "$version+1" ] || fail "not upgraded"
[ "$(helper_state)" = "$expected_helper" ] || fail "helper after the upgrade: $(helper_state)"
in_root id -nG desk | grep -qw zentrova || fail "the upgrade lost desk's membership of zentrova"
[ "$(cd "$root/home/desk" && find . -type f -exec md5sum {} + | sort)" = "$data" ] ||
    fail "the upgrade changed the user's files"

say "apt purge zentrova"
in_root apt purge -y -q zentrova >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt purge"; }
rm -rf "$root/tmp/"* "$root/home/desk/Zentrodat" "$root/home/desk/.config" "$root/home/desk/.cache" \
    "$root/home/desk/.local"
# The user's own files stay, as they should; gone here so that only the
# package's traces count.
listing >"$work/after"
diff "$work/before" "$work/after" || fail "the purged chroot differs from the fresh one"
say "installed, ran, upgraded and purged without a trace"
