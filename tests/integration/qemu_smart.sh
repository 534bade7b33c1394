#!/usr/bin/env bash
# Boots a Debian kernel under QEMU with emulated AHCI, virtio-blk and
# virtio-scsi disks and runs the drive-access probe inside it; the probe's
# verdict lines come back over the serial console and are compared here.
#
#   qemu_smart.sh fetch CACHE_DIR default|newest
#       Picks a kernel package, fetches it with apt-get download and unpacks
#       the kernel and the storage stack into CACHE_DIR (once per package;
#       later runs reuse it). "default" is the package linux-image-amd64
#       points at, "newest" the newest linux-image-6.*-amd64 apt offers.
#   qemu_smart.sh run CACHE_DIR WORK_DIR PROBE EXPECTED [HELPER]
#       Builds the initramfs and the disk images in WORK_DIR, boots, names the
#       kernel the guest runs, and checks the console's "ZT " lines against
#       the file EXPECTED. With HELPER (the drive helper zentrova-ata) the
#       probe also runs as an ordinary user, through the helper and without
#       it (expected_console_nohelper.txt beside EXPECTED).
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

# The drivers each stage of the guest needs; their dependencies, hard and soft,
# are read from the kernel package, so a kernel that builds one of them in or
# splits one differently needs no change here.
readonly ATA_DRIVERS=(ahci sd_mod)
readonly VIRTIO_DRIVERS=(virtio_pci virtio_blk virtio_scsi)

# The parts of the package the storage stack can come from.
readonly UNPACKED=('./boot/vmlinuz-*' './lib/modules/*/modules.builtin'
    './lib/modules/*/modules.builtin.modinfo'
    './lib/modules/*/kernel/drivers/ata/*' './lib/modules/*/kernel/drivers/scsi/*'
    './lib/modules/*/kernel/drivers/block/*' './lib/modules/*/kernel/drivers/virtio/*'
    './lib/modules/*/kernel/lib/*' './lib/modules/*/kernel/crypto/*'
    './lib/modules/*/kernel/arch/x86/crypto/*' './lib/modules/*/kernel/block/*')

# ---------------------------------------------------------------- fetch

kernel_ready() { [ -f "$1/kernel/.complete" ]; }

# The kernel image packages the meta packages named depend on.
meta_target() {
    apt-cache depends "$@" 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p'
}

# The name of the kernel image package for a role: what linux-image-amd64
# points at, or the newest 6.x one, whether named directly or through a
# series' meta package (linux-image-6.12-amd64). Cloud and realtime flavours
# boot differently and are left out.
kernel_package() {
    case $1 in
    default) meta_target linux-image-amd64 | head -n 1 ;;
    newest)
        local names
        names=$(apt-cache pkgnames linux-image-6. 2>/dev/null |
            grep -E '^linux-image-6\.[0-9][^ ]*-amd64$' | grep -v -E -- '-(cloud|rt)-amd64$')
        {
            echo "$names" | grep -v -E '^linux-image-6\.[0-9]+-amd64$'
            local metas
            metas=$(echo "$names" | grep -E '^linux-image-6\.[0-9]+-amd64$')
            [ -z "$metas" ] || meta_target $metas
        } | grep . | sort -V | tail -n 1
        ;;
    esac
}

apt_update_once() {
    [ -z "${APT_UPDATED:-}" ] && [ "$(id -u)" -eq 0 ] || return 1
    APT_UPDATED=1
    echo "qemu_smart: refreshing apt's package lists"
    apt-get update -qq >/dev/null 2>&1
}

download() {
    local dir=$1 pkg=$2
    # Downloads go to the current directory; apt's sandbox user may not be
    # able to write to the build tree, so run as whoever runs the test.
    (cd "$dir" && timeout 240 apt-get download -q -o APT::Sandbox::User=root "$pkg" 2>&1)
}

fetch() {
    local cache=$1 role=$2
    local cached=
    kernel_ready "$cache" && cached=$(cat "$cache/kernel/package" 2>/dev/null)

    local pkg=
    if command -v apt-cache >/dev/null; then
        pkg=$(kernel_package "$role")
        # Package lists never fetched, or too old to know the package.
        [ -n "$pkg" ] || { apt_update_once && pkg=$(kernel_package "$role"); }
    fi
    # The day the default kernel is the newest, one boot of it is enough.
    [ "$role" = newest ] && [ -n "$pkg" ] && [ "$pkg" = "$(kernel_package default)" ] &&
        skip "the newest 6.x kernel, $pkg, is the default one, booted by the default test"
    if [ -n "$cached" ] && { [ -z "$pkg" ] || [ "$pkg" = "$cached" ]; }; then
        echo "qemu_smart: $cached cached in $cache/kernel"
        return 0
    fi
    [ -n "$pkg" ] || skip "apt names no $role kernel package (apt-cache missing, or run apt-get update as root)"
    command -v apt-get >/dev/null || skip "apt-get is not available to fetch $pkg"
    command -v dpkg-deb >/dev/null || skip "dpkg-deb is not available to unpack $pkg"

    mkdir -p "$cache/deb" || fail "cannot create $cache/deb"
    rm -f "$cache"/deb/*.deb
    if ! download "$cache/deb" "$pkg"; then
        # A stale package list names versions the mirror no longer has.
        apt_update_once && pkg=$(kernel_package "$role") && [ -n "$pkg" ] &&
            download "$cache/deb" "$pkg" || skip "apt-get download $pkg failed"
    fi
    local deb
    deb=$(ls "$cache/deb/"*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || skip "apt-get download $pkg left no package file"

    # Only the kernel and the storage stack are needed; unpack those.
    local tmp="$cache/kernel.tmp.$$"
    rm -rf "$tmp" && mkdir -p "$tmp" || fail "cannot create $tmp"
    if ! dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp" --wildcards --no-wildcards-match-slash \
        "${UNPACKED[@]}"; then
        rm -rf "$tmp"
        fail "cannot unpack $deb"
    fi
    local vmlinuz
    vmlinuz=$(ls "$tmp"/boot/vmlinuz-* 2>/dev/null | head -n 1)
    [ -n "$vmlinuz" ] || {
        rm -rf "$tmp"
        fail "$deb holds no kernel image"
    }
    basename "$(ls -d "$tmp"/lib/modules/* | head -n 1)" >"$tmp/version" &&
        mv "$vmlinuz" "$tmp/vmlinuz" && mv "$tmp"/lib/modules/* "$tmp/modules" &&
        rm -rf "$tmp/boot" "$tmp/lib" || fail "cannot arrange $tmp"
    index_modules "$tmp/modules" >"$tmp/modules/index" || fail "cannot read the modules of $deb"
    echo "$pkg" >"$tmp/package" && touch "$tmp/.complete" || fail "cannot finish $tmp"
    rm -rf "$cache/kernel" && mv "$tmp" "$cache/kernel" || fail "cannot move the kernel into $cache"
    # The unpacked tree is the cache; the package file is not needed again.
    rm -f "$deb"
    echo "qemu_smart: kernel from $(basename "$deb") unpacked into $cache/kernel"
}

# ---------------------------------------------------------------- initramfs

# One line per module of the unpacked tree, from its .modinfo section:
#   name|path (or "builtin")|depends|softdep|aliases
# Names use '_' for '-', as the kernel does. Built-in modules come from
# modules.builtin and their aliases from modules.builtin.modinfo. Device
# aliases (with a ':') never answer a soft dependency and are left out.
index_modules() {
    local dir=$1 file
    (cd "$dir" && find kernel -name '*.ko' -o -name '*.ko.xz') | LC_ALL=C sort | while read -r file; do
        case $file in
        *.xz) xz -dc "$dir/$file" ;;
        *) cat "$dir/$file" ;;
        esac | tr '\0' '\n' | awk -v path="$file" '
            /^name=/ { name = substr($0, 6) }
            /^depends=/ { deps = substr($0, 9) }
            /^softdep=/ { soft = soft " " substr($0, 9) }
            /^alias=[^:]*$/ { aliases = aliases " " substr($0, 7) }
            END {
                if (name == "") { name = path; sub(/^.*\//, "", name); sub(/\.ko(\.xz)?$/, "", name) }
                gsub(/-/, "_", name)
                printf "%s|%s|%s|%s|%s\n", name, path, deps, soft, aliases
            }' || return 1
    done
    sed -n 's|^.*/\([^/]*\)\.ko$|\1|p' "$dir/modules.builtin" | tr - _ | while read -r file; do
        printf '%s|builtin|||%s\n' "$file" "$(tr '\0' '\n' <"$dir/modules.builtin.modinfo" 2>/dev/null |
            sed -n "s/^$file\.alias=\([^:]*\)$/\1/p" | tr '\n' ' ')"
    done
}

declare -A MOD_PATH=() MOD_DEPS=() MOD_SOFT=() ALIAS_OF=()
load_index() {
    local name path deps soft aliases a
    while IFS='|' read -r name path deps soft aliases; do
        MOD_PATH[$name]=$path
        MOD_DEPS[$name]=${deps//,/ }
        MOD_SOFT[$name]=$soft
        for a in $aliases; do
            ALIAS_OF[$a]="${ALIAS_OF[$a]:-} $name"
        done
    done <"$1/index"
}

# The modules a dependency names: a module by name, or every module that
# offers it as an alias (soft dependencies name crypto algorithms).
resolve() {
    local key=${1//-/_}
    if [ -n "${MOD_PATH[$key]:-}" ]; then
        echo "$key"
    else
        echo "${ALIAS_OF[$1]:-}"
    fi
}

# Load order for the current stage, as "hard|soft module-name" entries.
declare -A ADDED=()
ORDER=()
NOTES=()
# Appends a module after what it needs: its soft "pre:" dependencies, its hard
# ones, itself, then its "post:" ones. A soft dependency may be missing or fail
# to load (a CPU-specific variant, say) without failing the boot; a module a
# soft one needs is soft too. Built-in modules are already there.
add_module() {
    local name=$1 kind=$2 found mod
    found=$(resolve "$name")
    if [ -z "$found" ]; then
        [ "$kind" = soft ] && NOTES+=("soft dependency $name not in the kernel package") && return 0
        fail "module $name is neither in the kernel package nor built in"
    fi
    for mod in $found; do
        if [ -n "${ADDED[$mod]:-}" ]; then
            # Needed for real by now: promote an entry taken as soft.
            [ "$kind" = hard ] && [ "${ADDED[$mod]}" = soft ] && ADDED[$mod]=hard
            continue
        fi
        ADDED[$mod]=$kind
        [ "${MOD_PATH[$mod]}" = builtin ] && continue
        local when=pre dep
        for dep in ${MOD_SOFT[$mod]}; do
            case $dep in
            pre:) when=pre ;;
            post:) when=post ;;
            *) [ "$when" = pre ] && add_module "$dep" soft ;;
            esac
        done
        for dep in ${MOD_DEPS[$mod]}; do
            add_module "$dep" "$kind"
        done
        ORDER+=("$mod")
        when=pre
        for dep in ${MOD_SOFT[$mod]}; do
            case $dep in
            pre:) when=pre ;;
            post:) when=post ;;
            *) [ "$when" = post ] && add_module "$dep" soft ;;
            esac
        done
    done
}

# Writes the stage's module files, uncompressed, and their load order
# ("hard|soft file" lines) to the rootfs.
install_modules() {
    local dir=$1 root=$2 list=$3
    shift 3
    ORDER=()
    local m
    for m in "$@"; do
        add_module "$m" hard
    done
    : >"$root/$list"
    local file base
    for m in "${ORDER[@]}"; do
        file="$dir/${MOD_PATH[$m]}"
        base=$(basename "$file")
        base=${base%.xz}
        case $file in
        *.xz) xz -dc "$file" >"$root/lib/modules/$base" || return 1 ;;
        *) cp "$file" "$root/lib/modules/$base" || return 1 ;;
        esac
        echo "${ADDED[$m]} $base" >>"$root/$list"
    done
}

build_initramfs() {
    local kernel=$1 work=$2 probe=$3 init=$4 helper=${5:-}
    local root="$work/root"
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,lib/modules} || fail "cannot create $root"
    cp "$BUSYBOX" "$root/bin/busybox" && cp "$probe" "$root/bin/smart_probe" &&
        cp "$init" "$root/init" && chmod 755 "$root/init" || fail "cannot fill $root"
    if [ -n "$helper" ]; then
        mkdir -p "$root/libexec" && cp "$helper" "$root/libexec/zentrova-ata" ||
            fail "cannot add the drive helper to $root"
    fi
    load_index "$kernel/modules"
    install_modules "$kernel/modules" "$root" ata.modules "${ATA_DRIVERS[@]}" || fail "ATA modules"
    # Modules already inserted for the ATA disks are not inserted twice.
    install_modules "$kernel/modules" "$root" virtio.modules "${VIRTIO_DRIVERS[@]}" || fail "virtio modules"
    local note
    for note in "${NOTES[@]}"; do
        echo "qemu_smart: $note"
    done
    echo "qemu_smart: modules: $(cat "$root/ata.modules" "$root/virtio.modules" | tr '\n' ' ')"
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

# Checks everything the guest needs is at hand; skips when something is not.
preflight() {
    local cache=$1 probe=$2 expected=$3
    command -v qemu-system-x86_64 >/dev/null ||
        skip "qemu-system-x86_64 not found (Debian package qemu-system-x86)"
    BUSYBOX=
    local b
    for b in /bin/busybox /usr/bin/busybox; do
        [ -x "$b" ] && file_is_static "$b" && BUSYBOX=$b && break
    done
    [ -n "$BUSYBOX" ] || skip "no statically linked busybox (Debian package busybox-static)"
    command -v cpio >/dev/null || skip "cpio not found (Debian package cpio)"
    # A kernel left from an earlier fetch is not the one this fetch was after.
    [ -f "$cache/fetch-skipped" ] && skip "$(cat "$cache/fetch-skipped")"
    kernel_ready "$cache" || skip "no kernel in $cache/kernel: the fetch step did not run"
    [ -x "$probe" ] || fail "probe program $probe missing"
    file_is_static "$probe" || fail "probe program $probe is not statically linked"
    [ -f "$expected" ] || fail "expected results $expected missing"
}

# Boots the emulated machine once; its console ends up in $work/console.log
# and its "ZT " lines in $work/verdicts.txt.
boot_guest() {
    local cache=$1 work=$2
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
    echo "qemu_smart: QEMU ended with status $rc after $((SECONDS - start))s"

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
    local booted
    booted=$(sed -n 's/^ZT kernel //p' "$work/verdicts.txt")
    echo "qemu_smart: the guest booted kernel ${booted:-(unknown)}"
    [ "$booted" = "$(cat "$cache/kernel/version")" ] ||
        fail "the guest runs ${booted:-an unnamed kernel}, not $(cat "$cache/kernel/version") from $(cat "$cache/kernel/package")"
}

# The lines one probe run left: what the guest printed before its first run
# (boot and disks, the kernel's name left out) and the run's own section,
# from "ZT run NAME" to the next "ZT run".
run_lines() {
    awk -v name="$2" '
        /^ZT kernel / { next }
        /^ZT run / { section = $3; next }
        section == "" || section == name' "$1/verdicts.txt"
}

# Compares one probe run's lines with its expected file.
check_run() {
    local work=$1 name=$2 expected=$3
    run_lines "$work" "$name" >"$work/$name.verdicts.txt"
    if ! diff -u "$expected" "$work/$name.verdicts.txt"; then
        show_console "$work"
        fail "the $name probe's verdicts differ from $expected (- expected, + seen)"
    fi
    echo "qemu_smart: $name probe: $(grep -c . "$work/$name.verdicts.txt") verdict lines as expected"
}

run() {
    local cache=$1 work=$2 probe=$3 expected=$4 helper=${5:-}
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    preflight "$cache" "$probe" "$expected"
    if [ -n "$helper" ]; then
        file_is_static "$helper" || fail "drive helper $helper is not statically linked"
    fi
    mkdir -p "$work" || fail "cannot create $work"
    build_initramfs "$cache/kernel" "$work" "$probe" "$here/guest_init.sh" "$helper"
    make_disks "$work"
    boot_guest "$cache" "$work"
    check_run "$work" root "$expected"
    [ -n "$helper" ] || return 0
    # An ordinary user through the helper sees what root sees directly, up to
    # the disk removal only root may do; without the helper, the explanation.
    grep -v -E '^ZT (removed|redetect)' "$expected" >"$work/user.expected"
    check_run "$work" user "$work/user.expected"
    check_run "$work" nohelper "$(dirname "$expected")/expected_console_nohelper.txt"
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
    [ $# -eq 3 ] && [[ $3 =~ ^(default|newest)$ ]] || fail "usage: $0 fetch CACHE_DIR default|newest"
    mkdir -p "$2" || fail "cannot create $2"
    rm -f "$2/fetch-skipped"
    SKIP_NOTE="$2/fetch-skipped"
    fetch "$2" "$3"
    ;;
run)
    [ $# -eq 5 ] || [ $# -eq 6 ] || fail "usage: $0 run CACHE_DIR WORK_DIR PROBE EXPECTED [HELPER]"
    run "$2" "$3" "$4" "$5" "${6:-}"
    ;;
*)
    fail "usage: $0 fetch CACHE_DIR default|newest | run CACHE_DIR WORK_DIR PROBE EXPECTED [HELPER]"
    ;;
esac
