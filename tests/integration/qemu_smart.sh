#!/usr/bin/env bash
# Boots a Debian kernel under QEMU with emulated AHCI, virtio-blk,
# virtio-scsi and NVMe disks and runs the drive-access probe inside it; the probe's
# "ZT " lines come back over the serial console and are compared here.
#
#   qemu_smart.sh fetch CACHE_DIR default|newest
#       Fetches the kernel package linux-image-amd64 points at ("default") or
#       the newest linux-image-6.*-amd64 apt offers ("newest") with apt-get
#       download, and unpacks the kernel and its storage stack into CACHE_DIR
#       (once per package).
#   qemu_smart.sh run CACHE_DIR WORK_DIR PROBE EXPECTED HELPER [SERVICE]
#       Boots that kernel with the probe and checks its lines against EXPECTED.
#       The probe also runs as an ordinary user, through HELPER (zentrova-ata)
#       and without it (expected_console_nohelper.txt), and behind the
#       helper's file barrier (expected_console_landlock.txt). SERVICE
#       (zentrova-service) runs between the first two as its unit would, and
#       its text file must say what the ordinary user read (check_service).
#
# Exit status: 0 passed, 1 failed, 77 skipped ("SKIPPED: reason"): a machine
# without QEMU or the kernel package skips, it never passes without booting.
set -uo pipefail

readonly BOOT_LIMIT_SECONDS=${ZENTROVA_QEMU_LIMIT:-90}
# A skip of the fetch step leaves its reason in $SKIP_NOTE for the boot step to name.
skip() { echo "SKIPPED: $*"; [ -n "${SKIP_NOTE:-}" ] && echo "$*" >"$SKIP_NOTE"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# The drivers of each stage; their dependencies are read from the kernel
# package, so a kernel that builds one in or splits one needs no change.
readonly ATA_DRIVERS=(ahci sd_mod) VIRTIO_DRIVERS=(virtio_pci virtio_blk virtio_scsi) NVME_DRIVERS=(nvme)
readonly UNPACKED=('./boot/vmlinuz-*' './lib/modules/*/modules.builtin'
    './lib/modules/*/kernel/'{drivers/{ata,scsi,block,virtio,nvme,usb},lib,crypto,arch/x86/crypto,block}'/*')

# ---------------------------------------------------------------- fetch

meta_target() { apt-cache depends "$@" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p'; }

# The kernel image package of a role, named directly or through a series'
# meta package (linux-image-6.12-amd64); cloud and realtime flavours boot
# differently and are left out.
kernel_package() {
    [ "$1" = default ] && { meta_target linux-image-amd64 | head -n 1; return; }
    local names metas
    names=$(apt-cache pkgnames linux-image-6. 2>/dev/null |
        grep -E '^linux-image-6\.[0-9][^ ]*-amd64$' | grep -v -E -- '-(cloud|rt)-amd64$')
    metas=$(echo "$names" | grep -E '^linux-image-6\.[0-9]+-amd64$')
    { echo "$names" | grep -v -E '^linux-image-6\.[0-9]+-amd64$'; [ -z "$metas" ] || meta_target $metas; } |
        grep . | sort -V | tail -n 1
}

apt_update_once() {
    [ -z "${APT_UPDATED:-}" ] && [ "$(id -u)" -eq 0 ] && APT_UPDATED=1 || return 1
    echo "qemu_smart: refreshing apt's package lists" && apt-get update -qq >/dev/null 2>&1
}

# apt's sandbox user may not be able to write to the build tree.
download() { (cd "$1" && timeout 240 apt-get download -q -o APT::Sandbox::User=root "$2" 2>&1); }

fetch() {
    local cache=$1 role=$2 cached= pkg= deb vmlinuz tmp="$1/kernel.tmp.$$"
    # A kernel unpacked with another list of folders lacks some of its drivers.
    [ -f "$cache/kernel/.complete" ] && [ "$(cat "$cache/kernel/unpacked" 2>/dev/null)" = "${UNPACKED[*]}" ] &&
        cached=$(cat "$cache/kernel/package" 2>/dev/null)
    if command -v apt-cache >/dev/null; then
        # Package lists never fetched, or too old to know the package.
        pkg=$(kernel_package "$role")
        [ -n "$pkg" ] || { apt_update_once && pkg=$(kernel_package "$role"); }
    fi
    [ "$role" = newest ] && [ -n "$pkg" ] && [ "$pkg" = "$(kernel_package default)" ] &&
        skip "the newest 6.x kernel, $pkg, is the default one, booted by the default test"
    [ -n "$cached" ] && { [ -z "$pkg" ] || [ "$pkg" = "$cached" ]; } &&
        { echo "qemu_smart: $cached cached in $cache/kernel"; return 0; }
    [ -n "$pkg" ] || skip "apt names no $role kernel package (apt-cache missing, or run apt-get update as root)"
    mkdir -p "$cache/deb" && rm -f "$cache"/deb/*.deb || fail "cannot create $cache/deb"
    # A stale package list names versions the mirror no longer has.
    download "$cache/deb" "$pkg" || { apt_update_once && pkg=$(kernel_package "$role") &&
        [ -n "$pkg" ] && download "$cache/deb" "$pkg"; } || skip "apt-get download $pkg failed"
    deb=$(ls "$cache/deb/"*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || skip "apt-get download $pkg left no package file"

    rm -rf "$tmp" && mkdir -p "$tmp" || fail "cannot create $tmp"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp" --wildcards --no-wildcards-match-slash \
        "${UNPACKED[@]}" || { rm -rf "$tmp"; fail "cannot unpack $deb"; }
    vmlinuz=$(ls "$tmp"/boot/vmlinuz-* 2>/dev/null | head -n 1)
    [ -n "$vmlinuz" ] || { rm -rf "$tmp"; fail "$deb holds no kernel image"; }
    basename "$(ls -d "$tmp"/lib/modules/* | head -n 1)" >"$tmp/version" && mv "$vmlinuz" "$tmp/vmlinuz" &&
        mv "$tmp"/lib/modules/* "$tmp/modules" && rm -rf "$tmp/boot" "$tmp/lib" || fail "cannot arrange $tmp"
    index_modules "$tmp/modules" >"$tmp/modules/index" || fail "cannot read the modules of $deb"
    echo "$pkg" >"$tmp/package" && echo "${UNPACKED[*]}" >"$tmp/unpacked" && touch "$tmp/.complete" ||
        fail "cannot finish $tmp"
    rm -rf "$cache/kernel" && mv "$tmp" "$cache/kernel" || fail "cannot move the kernel into $cache"
    rm -f "$deb" # the unpacked tree is the cache
    echo "qemu_smart: kernel from $(basename "$deb") unpacked into $cache/kernel"
}

# ---------------------------------------------------------------- initramfs

# One line per module, from its .modinfo section or modules.builtin:
#   name|path (or "builtin")|depends
# with '_' for '-' in names, as the kernel does.
index_modules() {
    local dir=$1 file
    (cd "$dir" && find kernel -name '*.ko' -o -name '*.ko.xz') | LC_ALL=C sort | while read -r file; do
        xz -dcf "$dir/$file" | tr '\0' '\n' | awk -v path="$file" '
            /^name=/ { name = substr($0, 6) }
            /^depends=/ { deps = substr($0, 9) }
            END {
                gsub(/-/, "_", name)
                printf "%s|%s|%s\n", name, path, deps
            }' || return 1
    done
    sed -n 's|^.*/\([^/]*\)\.ko$|\1|p' "$dir/modules.builtin" | tr - _ | sed 's/$/|builtin|/'
}

declare -A MOD_PATH=() MOD_DEPS=() ADDED=()
ORDER=()

# Appends a module to ORDER after the modules it needs. Built-in modules are
# already there.
add_module() {
    local name=${1//-/_} dep
    [ -n "${MOD_PATH[$name]:-}" ] || fail "module $1 is neither in the kernel package nor built in"
    [ -z "${ADDED[$name]:-}" ] || return 0
    ADDED[$name]=1
    [ "${MOD_PATH[$name]}" = builtin ] && return 0
    for dep in ${MOD_DEPS[$name]}; do add_module "$dep"; done
    ORDER+=("$name")
}

# Writes a stage's modules, uncompressed, and their load order to the rootfs;
# modules of an earlier stage are not inserted twice.
install_modules() {
    local dir=$1 root=$2 list=$3 m
    ORDER=()
    for m in "${@:4}"; do add_module "$m"; done
    for m in "${ORDER[@]}"; do
        xz -dcf "$dir/${MOD_PATH[$m]}" >"$root/lib/modules/$m.ko" && echo "$m.ko" || return 1
    done >"$root/$list"
}

# Copies a dynamic PROGRAM to ROOT/DEST with the loader and every library it
# needs, each where the host keeps it.
copy_program() {
    local root=$1 program=$2 dest=$3 lib
    mkdir -p "$root$(dirname "$dest")" && cp "$program" "$root$dest" || fail "cannot copy $program"
    for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
        [ -e "$root$lib" ] && continue
        mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib" || fail "cannot copy $lib"
    done
}

# SERVICE (zentrova-service), when given, goes to /bin with its libraries
# (Qt Core and ICU's data among them) and the C.UTF-8 locale it runs in.
# The kernel's modules: their paths and dependencies, for add_module.
# (An index of an older fetch has two more fields: soft dependencies and aliases.)
read_module_index() {
    local name path deps
    while IFS='|' read -r name path deps _; do
        MOD_PATH[$name]=$path MOD_DEPS[$name]=${deps//,/ }
    done <"$1/modules/index"
}

# The root folder $1 as the guest's initramfs, $2/initrd.gz.
pack_initramfs() {
    (cd "$1" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc -R 0:0 --quiet |
        gzip -1 >"$2/initrd.gz.tmp") && mv "$2/initrd.gz.tmp" "$2/initrd.gz" || fail "cannot pack the initramfs"
}

build_initramfs() {
    local kernel=$1 work=$2 probe=$3 init=$4 helper=$5 service=${6:-} root="$2/root" name path deps
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,lib/modules,libexec} || fail "cannot create $root"
    cp /bin/busybox "$root/bin/busybox" && cp "$probe" "$root/bin/smart_probe" &&
        cp "$init" "$root/init" && chmod 755 "$root/init" || fail "cannot fill $root"
    copy_program "$root" "$helper" /libexec/zentrova-ata
    if [ -n "$service" ]; then
        copy_program "$root" "$service" /bin/zentrova-service
        [ ! -d /usr/lib/locale/C.utf8 ] || { mkdir -p "$root/usr/lib/locale" &&
            cp -r /usr/lib/locale/C.utf8 "$root/usr/lib/locale/"; } || fail "cannot copy the C.UTF-8 locale"
    fi
    read_module_index "$kernel"
    install_modules "$kernel/modules" "$root" ata.modules "${ATA_DRIVERS[@]}" || fail "ATA modules"
    install_modules "$kernel/modules" "$root" virtio.modules "${VIRTIO_DRIVERS[@]}" || fail "virtio modules"
    install_modules "$kernel/modules" "$root" nvme.modules "${NVME_DRIVERS[@]}" || fail "NVMe modules"
    pack_initramfs "$root" "$work"
}

# ---------------------------------------------------------------- run

# A dynamic executable names its interpreter in a PT_INTERP segment.
file_is_static() { ! LC_ALL=C readelf -l "$1" 2>/dev/null | grep -q INTERP; }
show_console() { { echo "---- serial console (last 60 lines) ----"; tr -d '\r' <"$1/console.log" 2>/dev/null | tail -n 60; } >&2; }

# Checks everything the guest needs is at hand; skips when something is not.
preflight() {
    local cache=$1 probe=$2 expected=$3 helper=$4
    command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 not found (Debian package qemu-system-x86)"
    command -v readelf >/dev/null || skip "readelf not found (Debian package binutils)"
    [ -x /bin/busybox ] && file_is_static /bin/busybox || skip "no statically linked busybox (Debian package busybox-static)"
    command -v cpio >/dev/null || skip "cpio not found (Debian package cpio)"
    # A kernel left from an earlier fetch is not the one this fetch was after.
    [ -f "$cache/fetch-skipped" ] && skip "$(cat "$cache/fetch-skipped")"
    [ -f "$cache/kernel/.complete" ] || skip "no kernel in $cache/kernel: the fetch step did not run"
    [ -x "$probe" ] && file_is_static "$probe" || fail "probe $probe missing or not static"
    command -v ldd >/dev/null && ldd "$helper" >/dev/null || fail "ldd cannot list the libraries of $helper"
}

# Boots the machine once: its console in $work/console.log, the "ZT " lines in
# $work/verdicts.txt. The disks are exactly 2^30 bytes and one sector short of
# 3 x 2^30 bytes, so that the size in whole 2^30-byte units truncates (1 and 2).
# Two NVMe controllers: one with a namespace of its own, one in a subsystem
# that may have several controllers (so the kernel makes its namespace a
# multipath head) whose health log reports a degraded reliability.
boot_guest() {
    local cache=$1 work=$2 start=$SECONDS rc booted
    truncate -s 1073741824 "$work/ahci0.img" && truncate -s $((3 * 1073741824 - 512)) "$work/ahci1.img" &&
        truncate -s 64M "$work/virtio.img" "$work/scsi.img" && truncate -s 96M "$work/nvme0.img" &&
        truncate -s 48M "$work/nvme1.img" || fail "cannot create the disk images in $work"
    timeout --kill-after=5 "$BOOT_LIMIT_SECONDS" qemu-system-x86_64 \
        -nodefaults -machine pc -accel tcg -smp 1 -m 512 -display none -no-reboot \
        -serial "file:$work/console.log" -kernel "$cache/kernel/vmlinuz" -initrd "$work/initrd.gz" \
        -append "console=ttyS0 panic=-1 loglevel=4" \
        -device ahci,id=ahci0,addr=0x4 -drive "file=$work/ahci0.img,if=none,id=d0,format=raw" \
        -device "ide-hd,drive=d0,bus=ahci0.0,model=SAMSUNG SV1204H,ver=RK100-1,serial=ZT0001" \
        -device ahci,id=ahci1,addr=0x5 -drive "file=$work/ahci1.img,if=none,id=d1,format=raw" \
        -device "ide-hd,drive=d1,bus=ahci1.0,model=Maxtor 6Y080L0,ver=YAR41BW0,serial=ZT0002" \
        -drive "file=$work/virtio.img,if=none,id=d2,format=raw" -device virtio-blk-pci,drive=d2 \
        -device virtio-scsi-pci,id=scsi -drive "file=$work/scsi.img,if=none,id=d3,format=raw" \
        -device scsi-hd,drive=d3,bus=scsi.0 \
        -drive "file=$work/nvme0.img,if=none,id=n0,format=raw" -device nvme,serial=ZTN0001,drive=n0,addr=0x6 \
        -device nvme-subsys,id=subsys1,nqn=zentrova-test -drive "file=$work/nvme1.img,if=none,id=n1,format=raw" \
        -device nvme,id=nvme1,serial=ZTN0002,subsys=subsys1,smart_critical_warning=4,addr=0x7 \
        -device nvme-ns,drive=n1,bus=nvme1,nsid=1 </dev/null >"$work/qemu.out" 2>&1
    rc=$?
    echo "qemu_smart: QEMU ended with status $rc after $((SECONDS - start))s"
    tr -d '\r' <"$work/console.log" 2>/dev/null | sed -n 's/^.*\(ZT .*\)$/\1/p' >"$work/verdicts.txt"
    [ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] || { show_console "$work"; fail "the emulated machine ran past ${BOOT_LIMIT_SECONDS}s"; }
    [ "$rc" -eq 0 ] || { cat "$work/qemu.out"; show_console "$work"; fail "QEMU failed with status $rc"; }
    grep -q '^ZT boot$' "$work/verdicts.txt" || { show_console "$work"; fail "the kernel did not reach the init script"; }
    booted=$(sed -n 's/^ZT kernel //p' "$work/verdicts.txt")
    [ "$booted" = "$(cat "$cache/kernel/version")" ] ||
        fail "the guest runs ${booted:-an unnamed kernel}, not $(cat "$cache/kernel/version") from $(cat "$cache/kernel/package")"
}

# One probe run's lines: what the guest printed before its first run (the
# kernel's name left out) and the run's own section, from "ZT run NAME" to
# the next "ZT run".
section() {
    awk -v name="$2" '/^ZT kernel / { next } /^ZT run / { section = $3; next }
        section == "" || section == name' "$1/verdicts.txt"
}

# Compares one probe run's lines with its expected file. The NVMe pages'
# bytes, whose counters hold the kernel's own reads, are compared between
# runs (in run), not with a file. An emulated NVMe controller reports QEMU's
# version as its firmware revision, at most 8 characters; the expected files
# say @QEMU_VERSION@.
check_run() {
    local work=$1 name=$2 expected=$3 version
    version=$(qemu-system-x86_64 --version | sed -n '1s/^QEMU emulator version \([^ ]*\).*/\1/p' | cut -c1-8)
    section "$work" "$name" | grep -v -E '^ZT nvme-(bytes|counters) ' >"$work/$name.verdicts.txt"
    sed "s/@QEMU_VERSION@/$version/g" "$expected" >"$work/$name.wanted.txt" || fail "cannot read $expected"
    diff -u "$work/$name.wanted.txt" "$work/$name.verdicts.txt" || { show_console "$work"
        fail "the $name probe's verdicts differ from $expected (- expected, + seen)"; }
}

# What the user run read through the helper, as "DEVICE SERIES VALUE" lines
# in the service's terms: each listed drive, its attributes (id in hex as the
# file labels it), temperature, status and NVMe health. The NVMe counters of
# traffic, which grow with every read, go to "DEVICE SERIES >= VALUE" lines.
probe_samples() {
    awk 'function num(key,   m) { return match($0, " " key "=[^ ]*") ? substr($0, RSTART + length(key) + 2, RLENGTH - length(key) - 2) : "" }
        function hex(text,   i, n) { for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1; return n }
        $1 == "ZT" && $2 == "drive" && $3 ~ /^[0-9]+$/ {
            path[$3] = num("path"); p = path[$3]; ok[p] = 1
            print p, "listed", 1; print p, "failed_reads", 0
            if (p !~ /nvme/ && num("temp") != 0) print p, "temperature", num("temp") }
        $1 == "ZT" && $2 == "attr" {
            p = path[$3]; id = sprintf("%02X", num("id")); failed = num("value") + 0 <= num("thresh") + 0
            print p, id, "value", num("value"); print p, id, "worst", num("worst")
            print p, id, "threshold", num("thresh"); print p, id, "raw_value", num("raw")
            print p, id, "failed", failed; if (failed) ok[p] = 0 }
        $1 == "ZT" && $2 == "nvme-health" && num("status") == "0" {
            p = "/dev/" $3; ok[p] = !(num("failed") + 0); print p, "temperature", num("composite")
            w = hex(substr(num("critical-warning"), 1, 2)); split("spare temperature reliability read_only volatile_memory_backup persistent_memory_region", bit)
            for (i = 1; i <= 6; i++) { print p, "warning_" bit[i], w % 2; w = int(w / 2) } }
        $1 == "ZT" && $2 == "nvme-counters" {
            p = "/dev/" $3
            printf "%s available_spare_ratio %g\n%s available_spare_threshold_ratio %g\n%s life_used_ratio %g\n",
                p, num("spare") / 100, p, num("spare-threshold") / 100, p, num("used") / 100
            printf "%s controller_busy_seconds_total %.0f\n%s power_cycles_total %s\n", p, num("busy-minutes") * 60, p, num("power-cycles")
            printf "%s power_on_seconds_total %.0f\n%s unsafe_shutdowns_total %s\n", p, num("power-on-hours") * 3600, p, num("unsafe-shutdowns")
            printf "%s media_errors_total %s\n%s error_log_entries_total %s\n", p, num("media-errors"), p, num("error-log-entries")
            printf "%s warning_temperature_seconds_total %.0f\n%s critical_temperature_seconds_total %.0f\n",
                p, num("warning-minutes") * 60, p, num("critical-minutes") * 60
            printf "%s data_read_bytes_total >= %.0f\n%s data_written_bytes_total >= %.0f\n",
                p, num("units-read") * 512000, p, num("units-written") * 512000
            printf "%s host_read_commands_total >= %s\n%s host_write_commands_total >= %s\n",
                p, num("read-commands"), p, num("write-commands") }
        END { for (p in ok) print p, "status_ok", ok[p] }'
}

# The same of the service's text file ("ZT prom " lines), from the families
# the probe has a word for.
prom_samples() {
    awk 'function label(name) { return match($0, name "=\"[^\"]*\"") ? substr($0, RSTART + length(name) + 2, RLENGTH - length(name) - 3) : "" }
        $1 != "ZT" || $2 != "prom" { next }
        { family = $3; sub(/\{.*/, "", family); p = label("device"); value = $NF }
        family ~ /^zentrova_attribute_/ { sub(/^zentrova_attribute_/, "", family); print p, label("id"), family, value; next }
        family == "zentrova_nvme_critical_warning" { print p, "warning_" label("bit"), value; next }
        family ~ /^zentrova_nvme_(data_(read|written)_bytes|host_(read|write)_commands)_total$/ {
            sub(/^zentrova_nvme_/, "", family); print p, family, ">=", value; next }
        family ~ /^zentrova_nvme_/ { sub(/^zentrova_nvme_/, "", family); print p, family, value; next }
        family ~ /^zentrova_drive_(listed|smart_status_ok|temperature_celsius|failed_reads_total)$/ {
            sub(/^zentrova_drive_/, "", family); sub(/_celsius$|_total$/, "", family)
            sub(/^smart_/, "", family); print p, family, value }'
}

# The service's run: as its own user in the group zentrova and no
# capability of its own (the check a unit's sandbox cannot make for it:
# the bounding set may stay full), ended by SIGTERM within 2 s with status
# 0, and its text file saying of each drive what the helper read for the
# user run of the same boot. Counters of traffic may only have grown since.
check_service() {
    local work=$1 field
    section "$work" service >"$work/service.txt"
    sed -n 's/^ZT service-status //p' "$work/service.txt" >"$work/service.status"
    for field in CapInh CapPrm CapEff CapAmb; do
        grep -q -E "^$field:[[:space:]]+0{16}$" "$work/service.status" || { cat "$work/service.status" >&2
            fail "the service holds a capability of its own ($field), or its status was not read"; }
    done
    grep -q -E '^Uid:([[:space:]]+1001){4}$' "$work/service.status" &&
        grep -q -E '^Groups:[[:space:]]+1000[[:space:]]*$' "$work/service.status" ||
        fail "the service did not run as its own user with the group zentrova alone besides"
    grep -q -x 'ZT service-ended within=2s' "$work/service.txt" && grep -q -x 'ZT service-exit status=0' "$work/service.txt" ||
        { grep '^ZT service-' "$work/service.txt" >&2; fail "the service did not end with status 0 within 2 s of SIGTERM"; }
    # The failing controller is told once at crit, though its timer polls it
    # again and again; nothing else is told at err or above.
    grep '^ZT service-journal <[0-3]>' "$work/service.txt" >"$work/service.alarms"
    [ "$(grep -c . "$work/service.alarms")" = 1 ] && grep -q '^ZT service-journal <2>/dev/nvme1: ' "$work/service.alarms" ||
        { cat "$work/service.alarms" >&2; fail "the service's journal did not tell the failing NVMe controller once at crit, and only that"; }
    section "$work" user | probe_samples | grep -v ' >= ' | LC_ALL=C sort >"$work/service.wanted"
    prom_samples <"$work/service.txt" | grep -v ' >= ' | LC_ALL=C sort >"$work/service.seen"
    diff -u "$work/service.wanted" "$work/service.seen" || { grep '^ZT service-' "$work/service.txt" >&2
        fail "the service's text file differs from what the helper read (- read by the user run, + in the file)"; }
    { section "$work" user | probe_samples; prom_samples <"$work/service.txt"; } | grep ' >= ' |
        awk '{ key = $1 " " $2 } !(key in read) { read[key] = $4; next } { seen[key] = $4 }
            END { for (k in read) if (!(k in seen) || seen[k] + 0 < read[k] + 0) { print "FAILED: " k " " seen[k] " < " read[k]; bad = 1 }
                  exit bad }' >&2 || fail "an NVMe counter in the service's text file is missing or below the user run's"
}

run() {
    local cache=$1 work=$2 probe=$3 expected=$4 helper=$5 service=${6:-}
    preflight "$cache" "$probe" "$expected" "$helper"
    [ -z "$service" ] || { ldd "$service" >/dev/null && [ -x "$service" ]; } || fail "ldd cannot list the libraries of $service"
    build_initramfs "$cache/kernel" "$work" "$probe" "${BASH_SOURCE[0]%/*}/guest_init.sh" "$helper" "$service"
    boot_guest "$cache" "$work"
    check_run "$work" root "$expected"
    # An ordinary user through the helper sees what root sees directly, up to
    # the disk removal only root may do; without the helper, the explanation.
    grep -v -E '^ZT (removed|redetect)' "$expected" >"$work/user.expected"
    check_run "$work" user "$work/user.expected"
    # Through the helper the NVMe pages are root's to the byte.
    section "$work" user | grep '^ZT nvme-bytes ' >"$work/user.nvme-bytes"
    section "$work" root | grep '^ZT nvme-bytes ' >"$work/root.nvme-bytes"
    [ "$(grep -c . "$work/root.nvme-bytes")" -eq 2 ] || fail "root read not both NVMe controllers' pages"
    diff -u "$work/root.nvme-bytes" "$work/user.nvme-bytes" ||
        fail "the NVMe pages read through the helper differ from root's (- root, + user)"
    # The helper itself says, with the debug switch, that its file barrier is
    # up, on the sysfs folders and the nodes of the drives it may read alone.
    grep -a -q 'zentrova-ata: Landlock ABI [0-9]*: files may be read only under /sys/block, /sys/class/nvme, /sys/class/nvme-subsystem, /sys/devices, and of other files only /dev/sda, /dev/sdb, /dev/sdc, /dev/nvme0, /dev/nvme1[[:cntrl:]]*$' \
        "$work/console.log" || { show_console "$work"; fail "the drive helper put up no file barrier"; }
    check_run "$work" nohelper "$(dirname "$expected")/expected_console_nohelper.txt"
    check_run "$work" landlock "$(dirname "$expected")/expected_console_landlock.txt"
    [ -z "$service" ] || check_service "$work"
}

# Sourced by another guest script for its functions only.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

case ${1:-}/$# in
fetch/3)
    [[ $3 =~ ^(default|newest)$ ]] || fail "usage: $0 fetch CACHE_DIR default|newest"
    mkdir -p "$2" && rm -f "$2/fetch-skipped" || fail "cannot create $2"
    SKIP_NOTE="$2/fetch-skipped" && fetch "$2" "$3" ;;
run/6 | run/7) run "${@:2}" ;;
*) fail "usage: $0 fetch CACHE_DIR default|newest | run CACHE_DIR WORK_DIR PROBE EXPECTED HELPER [SERVICE]" ;;
esac
