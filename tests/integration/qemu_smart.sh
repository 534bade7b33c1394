#!/usr/bin/env bash
# Boots a Debian kernel under QEMU with emulated AHCI, virtio-blk and
# virtio-scsi disks and runs the drive-access probe inside it; the probe's
# verdict lines come back over the serial console and are compared here.
#
#   qemu_smart.sh fetch CACHE_DIR
#       Fetches the kernel package with apt-get download and unpacks the
#       kernel and the storage modules into CACHE_DIR (once; later runs reuse it).
#   qemu_smart.sh run CACHE_DIR WORK_DIR PROBE EXPECTED
#       Builds the initramfs and the disk images in WORK_DIR, boots, and checks
#       the console's "ZT " lines against the file EXPECTED.
#
# Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed as
# "SKIPPED: ..."): a machine without QEMU or the kernel package skips, it never
# passes without booting.
set -uo pipefail

readonly SKIP=77
# The whole run, boot included, must end well inside CTest's time limit.
readonly BOOT_LIMIT_SECONDS=${ZENTROVA_QEMU_LIMIT:-90}

# Where a skip of the fetch step leaves its reason for the boot step to name.
SKIP_NOTE=
skip() {
    echo "SKIPPED: $*"
    [ -n "$SKIP_NOTE" ] && echo "$*" >"$SKIP_NOTE"
    exit "$SKIP"
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Modules in the order they are inserted, dependencies resolved on top. The
# crc modules are reached only through soft dependencies (crypto algorithm
# names), which is why they are named here rather than found.
readonly ATA_MODULES=(scsi_common scsi_mod libata libahci ahci crct10dif_common crct10dif_generic
    crc-t10dif crc64 crc64_rocksoft_generic crc64-rocksoft t10-pi sd_mod)
readonly VIRTIO_MODULES=(virtio_pci virtio_blk virtio_scsi)

# ---------------------------------------------------------------- fetch

kernel_ready() { [ -f "$1/kernel/.complete" ]; }

# The name of the kernel image package that linux-image-amd64 points at.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-6\.1\.0-[0-9]*-amd64\)$/\1/p' | head -n 1
}

apt_update_once() {
    [ "$(id -u)" -eq 0 ] || return 1
    echo "qemu_smart: refreshing apt's package lists"
    apt-get update -qq >/dev/null 2>&1
}

fetch() {
    local cache=$1
    kernel_ready "$cache" && {
        echo "qemu_smart: kernel cached in $cache/kernel"
        return 0
    }
    command -v apt-get >/dev/null || skip "apt-get is not available to fetch the kernel package"
    command -v dpkg-deb >/dev/null || skip "dpkg-deb is not available to unpack the kernel package"

    local pkg
    pkg=$(kernel_package)
    if [ -z "$pkg" ]; then
        apt_update_once && pkg=$(kernel_package)
        [ -n "$pkg" ] || skip "apt knows no linux-image-6.1.0-*-amd64 package (run apt-get update as root)"
    fi

    mkdir -p "$cache/deb" || fail "cannot create $cache/deb"
    local deb
    deb=$(ls "$cache/deb/${pkg}_"*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
        # Downloads go to the current directory; apt's sandbox user may not be
        # able to write to the build tree, so run as whoever runs the test.
        if ! (cd "$cache/deb" && timeout 240 apt-get download -q -o APT::Sandbox::User=root "$pkg" 2>&1); then
            # A stale package list names versions the mirror no longer has.
            apt_update_once && pkg=$(kernel_package) && [ -n "$pkg" ] &&
                (cd "$cache/deb" && timeout 240 apt-get download -q -o APT::Sandbox::User=root "$pkg" 2>&1) ||
                skip "apt-get download $pkg failed"
        fi
        deb=$(ls "$cache/deb/${pkg}_"*.deb 2>/dev/null | head -n 1)
        [ -n "$deb" ] || skip "apt-get download $pkg left no package file"
    fi

    # Only the kernel and the storage stack are needed; unpack those.
    local tmp="$cache/kernel.tmp.$$"
    rm -rf "$tmp" && mkdir -p "$tmp" || fail "cannot create $tmp"
    if ! dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp" --wildcards --no-wildcards-match-slash \
        './boot/vmlinuz-*' './lib/modules/*/modules.builtin' \
        './lib/modules/*/kernel/drivers/ata/*' './lib/modules/*/kernel/drivers/scsi/*' \
        './lib/modules/*/kernel/drivers/block/*' './lib/modules/*/kernel/drivers/virtio/*' \
        './lib/modules/*/kernel/lib/*' './lib/modules/*/kernel/crypto/*' \
        './lib/modules/*/kernel/block/*'; then
        rm -rf "$tmp"
        fail "cannot unpack $deb"
    fi
    local vmlinuz
    vmlinuz=$(ls "$tmp"/boot/vmlinuz-* 2>/dev/null | head -n 1)
    [ -n "$vmlinuz" ] || {
        rm -rf "$tmp"
        fail "$deb holds no kernel image"
    }
    mv "$vmlinuz" "$tmp/vmlinuz" && mv "$tmp"/lib/modules/* "$tmp/modules" &&
        rm -rf "$tmp/boot" "$tmp/lib" && touch "$tmp/.complete" || fail "cannot arrange $tmp"
    rm -rf "$cache/kernel" && mv "$tmp" "$cache/kernel" || fail "cannot move the kernel into $cache"
    # The unpacked tree is the cache; the package file is not needed again.
    rm -f "$deb"
    echo "qemu_smart: kernel from $(basename "$deb") unpacked into $cache/kernel"
}

# ---------------------------------------------------------------- initramfs

# Path of a module file by name ('-' and '_' are the same to the kernel).
module_file() {
    local dir=$1 name=$2
    find "$dir/kernel" \( -name "$name.ko" -o -name "$name.ko.xz" -o \
        -name "${name//_/-}.ko" -o -name "${name//_/-}.ko.xz" -o \
        -name "${name//-/_}.ko" -o -name "${name//-/_}.ko.xz" \) -print -quit
}

# The "depends=" field of a module's .modinfo section.
module_depends() {
    local file=$1
    case $file in
    *.xz) xz -dc "$file" ;;
    *) cat "$file" ;;
    esac | tr '\0' '\n' | sed -n 's/^depends=//p' | head -n 1 | tr ',' ' '
}

declare -A ADDED=()
ORDER=()
# Appends a module after its dependencies; built-in ones are skipped.
add_module() {
    local dir=$1 name=$2 key=${2//-/_}
    [ -n "${ADDED[$key]:-}" ] && return 0
    ADDED[$key]=1
    local file
    file=$(module_file "$dir" "$name")
    if [ -z "$file" ]; then
        grep -q -E "/${name//[-_]/[-_]}\.ko" "$dir/modules.builtin" 2>/dev/null && return 0
        fail "module $name is neither in the kernel package nor built in"
    fi
    local dep
    for dep in $(module_depends "$file"); do
        add_module "$dir" "$dep" || return 1
    done
    ORDER+=("$file")
}

# Writes the module files, uncompressed, and their load order to the rootfs.
install_modules() {
    local dir=$1 root=$2 list=$3
    shift 3
    ORDER=()
    local m
    for m in "$@"; do
        add_module "$dir" "$m" || return 1
    done
    : >"$root/$list"
    local file base
    for file in "${ORDER[@]}"; do
        base=$(basename "$file")
        base=${base%.xz}
        case $file in
        *.xz) xz -dc "$file" >"$root/lib/modules/$base" || return 1 ;;
        *) cp "$file" "$root/lib/modules/$base" || return 1 ;;
        esac
        echo "$base" >>"$root/$list"
    done
}

build_initramfs() {
    local kernel=$1 work=$2 probe=$3 init=$4
    local root="$work/root"
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,lib/modules} || fail "cannot create $root"
    cp "$BUSYBOX" "$root/bin/busybox" && cp "$probe" "$root/bin/smart_probe" &&
        cp "$init" "$root/init" && chmod 755 "$root/init" || fail "cannot fill $root"
    install_modules "$kernel/modules" "$root" ata.modules "${ATA_MODULES[@]}" || fail "ATA modules"
    # Modules already inserted for the ATA disks are not inserted twice.
    install_modules "$kernel/modules" "$root" virtio.modules "${VIRTIO_MODULES[@]}" || fail "virtio modules"
    (cd "$root" && find . -print0 | LC_ALL=C sort -z |
        cpio --null -o -H newc -R 0:0 --quiet | gzip -1 >"$work/initrd.gz.tmp") &&
        mv "$work/initrd.gz.tmp" "$work/initrd.gz" || fail "cannot pack the initramfs"
}

# ---------------------------------------------------------------- run

# Disk sizes: exactly 2^30 bytes, and one sector short of 3 x 2^30 bytes, so
# that the size shown in whole 2^30-byte units truncates (1 and 2).
make_disks() {
    local work=$1
    rm -f "$work"/*.img
    truncate -s 1073741824 "$work/ahci0.img" &&
        truncate -s $((3 * 1073741824 - 512)) "$work/ahci1.img" &&
        truncate -s 64M "$work/virtio.img" &&
        truncate -s 64M "$work/scsi.img" || fail "cannot create the disk images in $work"
}

run() {
    local cache=$1 work=$2 probe=$3 expected=$4
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

    command -v qemu-system-x86_64 >/dev/null ||
        skip "qemu-system-x86_64 not found (Debian package qemu-system-x86)"
    BUSYBOX=
    local b
    for b in /bin/busybox /usr/bin/busybox; do
        [ -x "$b" ] && file_is_static "$b" && BUSYBOX=$b && break
    done
    [ -n "$BUSYBOX" ] || skip "no statically linked busybox (Debian package busybox-static)"
    command -v cpio >/dev/null || skip "cpio not found (Debian package cpio)"
    kernel_ready "$cache" ||
        skip "no kernel in $cache/kernel: $(cat "$cache/fetch-skipped" 2>/dev/null || echo 'the fetch step did not run')"
    [ -x "$probe" ] || fail "probe program $probe missing"
    file_is_static "$probe" || fail "probe program $probe is not statically linked"
    [ -f "$expected" ] || fail "expected results $expected missing"

    mkdir -p "$work" || fail "cannot create $work"
    build_initramfs "$cache/kernel" "$work" "$probe" "$here/guest_init.sh"
    make_disks "$work"

    local console="$work/console.log"
    local start=$SECONDS
    timeout --kill-after=5 "$BOOT_LIMIT_SECONDS" qemu-system-x86_64 \
        -nodefaults -machine pc -accel tcg -smp 1 -m 512 -display none -no-reboot \
        -serial "file:$console" \
        -kernel "$cache/kernel/vmlinuz" -initrd "$work/initrd.gz" \
        -append "console=ttyS0 panic=-1 loglevel=4" \
        -device ahci,id=ahci0,addr=0x4 \
        -drive "file=$work/ahci0.img,if=none,id=d0,format=raw" \
        -device "ide-hd,drive=d0,bus=ahci0.0,model=SAMSUNG SV1204H,ver=RK100-1,serial=ZT0001" \
        -device ahci,id=ahci1,addr=0x5 \
        -drive "file=$work/ahci1.img,if=none,id=d1,format=raw" \
        -device "ide-hd,drive=d1,bus=ahci1.0,model=Maxtor 6Y080L0,ver=YAR41BW0,serial=ZT0002" \
        -drive "file=$work/virtio.img,if=none,id=d2,format=raw" \
        -device virtio-blk-pci,drive=d2 \
        -device virtio-scsi-pci,id=scsi \
        -drive "file=$work/scsi.img,if=none,id=d3,format=raw" \
        -device scsi-hd,drive=d3,bus=scsi.0 \
        </dev/null >"$work/qemu.out" 2>&1
    local rc=$?
    local elapsed=$((SECONDS - start))
    echo "qemu_smart: QEMU ended with status $rc after ${elapsed}s"

    tr -d '\r' <"$console" 2>/dev/null | sed -n 's/^.*\(ZT .*\)$/\1/p' >"$work/verdicts.txt"
    if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
        show_console "$work"
        fail "the emulated machine ran past ${BOOT_LIMIT_SECONDS}s"
    fi
    if [ "$rc" -ne 0 ]; then
        cat "$work/qemu.out"
        show_console "$work"
        fail "QEMU failed with status $rc"
    fi
    grep -q '^ZT boot$' "$work/verdicts.txt" || {
        show_console "$work"
        fail "the kernel did not reach the init script"
    }
    if ! diff -u "$expected" "$work/verdicts.txt"; then
        show_console "$work"
        fail "the probe's verdicts differ from $expected (- expected, + seen)"
    fi
    echo "qemu_smart: $(grep -c . "$work/verdicts.txt") verdict lines as expected"
}

file_is_static() {
    # A dynamic executable names its interpreter in a PT_INTERP segment.
    if command -v readelf >/dev/null; then
        ! LC_ALL=C readelf -l "$1" 2>/dev/null | grep -q INTERP
    else
        ! LC_ALL=C grep -a -q -E '/lib(64)?/ld-linux' "$1"
    fi
}

show_console() {
    echo "---- serial console (last 60 lines) ----" >&2
    tr -d '\r' <"$1/console.log" 2>/dev/null | tail -n 60 >&2
    echo "----" >&2
}

case ${1:-} in
fetch)
    [ $# -eq 2 ] || fail "usage: $0 fetch CACHE_DIR"
    mkdir -p "$2" || fail "cannot create $2"
    rm -f "$2/fetch-skipped"
    SKIP_NOTE="$2/fetch-skipped"
    fetch "$2"
    ;;
run)
    [ $# -eq 5 ] || fail "usage: $0 run CACHE_DIR WORK_DIR PROBE EXPECTED"
    run "$2" "$3" "$4" "$5"
    ;;
*)
    fail "usage: $0 fetch CACHE_DIR | run CACHE_DIR WORK_DIR PROBE EXPECTED"
    ;;
esac
