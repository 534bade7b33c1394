#!/usr/bin/env bash
# Plugs disks into a running emulated machine and pulls them out, through
# QEMU's monitor (QMP), while hotplug_probe follows the kernel's events inside
# it as an ordinary user through the drive helper:
#
#   qemu_hotplug.sh CACHE_DIR WORK_DIR HOTPLUG_PROBE HELPER SMART_PROBE
#
# CACHE_DIR holds the kernel qemu_smart.sh fetched; SMART_PROBE gives the
# helper its capabilities in the guest. The probe brings its drive list up to
# date as the monitor does (device::UpdateDriveList) and prints each drive
# that arrived, returned or departed with its slot. The machine starts with
# one AHCI disk (slot 0) and an empty USB controller. The host adds a USB disk
# (the SAT road: probed within the debounce and left out with its why-line)
# and removes it, adds an NVMe controller, which must arrive in the next slot
# and be read within the debounce plus one poll. Then root in the guest
# deletes the AHCI disk's SCSI device and, once the probe has seen it depart,
# rescans its SCSI host: the same disk (model, firmware, serial) must return
# to slot 0 and be read within the debounce plus one poll. The probe then
# reads it back-to-back while the host removes the AHCI controller with it, so
# that the removal very likely lands inside a read (printed, not required):
# its reads fail, the helper that served them is still up, the NVMe drive is
# still read, and once the removal is handled the disk is never read again.
# Last the NVMe controller goes, which leaves no drive and ends the probe.
# QEMU 7.2's AHCI ports take no disk while the machine runs, so only the
# kernel's own delete and rescan bring an ATA disk back; its controller leaves
# by PCI hot-plug through ACPI.
#
# Exit status: 0 passed, 1 failed, 77 skipped ("SKIPPED: reason").
set -uo pipefail
source "${BASH_SOURCE[0]%/*}/qemu_smart.sh" || exit 1

readonly HOTPLUG_LIMIT_SECONDS=${ZENTROVA_QEMU_LIMIT:-90}
readonly USB_DRIVERS=(xhci_pci usb_storage)

build_hotplug_initramfs() {
    local kernel=$1 work=$2 probe=$3 helper=$4 smart_probe=$5 root="$2/root" name path deps
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,lib/modules,libexec} || fail "cannot create $root"
    cp /bin/busybox "$root/bin/busybox" && cp "$smart_probe" "$root/bin/smart_probe" &&
        cp "${BASH_SOURCE[0]%/*}/guest_hotplug_init.sh" "$root/init" && chmod 755 "$root/init" ||
        fail "cannot fill $root"
    copy_program "$root" "$probe" /bin/hotplug_probe
    copy_program "$root" "$helper" /libexec/zentrova-ata
    read_module_index "$kernel"
    install_modules "$kernel/modules" "$root" ata.modules "${ATA_DRIVERS[@]}" || fail "ATA modules"
    install_modules "$kernel/modules" "$root" usb.modules "${USB_DRIVERS[@]}" || fail "USB modules"
    install_modules "$kernel/modules" "$root" nvme.modules "${NVME_DRIVERS[@]}" || fail "NVMe modules"
    pack_initramfs "$root" "$work"
}

# A disk image with a partition table of one partition, so that each disk
# comes with a partition the kernel announces too (and the probe must not).
partitioned_image() {
    truncate -s "$2" "$1" &&
        printf '\x00\x00\x00\x00\x83\x00\x00\x00\x00\x08\x00\x00\x00\x10\x00\x00' |
        dd of="$1" bs=1 seek=446 conv=notrunc status=none &&
        printf '\x55\xaa' | dd of="$1" bs=1 seek=510 conv=notrunc status=none
}

# The host's side, over QMP: each step waits, bounded, for the guest's line
# that says it saw the step, then the whole console is checked.
drive_and_check() {
    python3 - "$@" <<'EOF'
import json, re, socket, sys, time

sock_path, console, work = sys.argv[1:4]

def fail(why):
    print(f"FAILED: {why}", file=sys.stderr)
    sys.exit(1)

def lines():
    with open(console, 'rb') as f:
        return f.read().decode(errors='replace').replace('\r', '').splitlines()

def wait(pattern, seconds, after=0):
    """Index of the first console line from `after` on that matches, and the match."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        seen = lines()
        for i in range(after, len(seen)):
            if m := re.search(pattern, seen[i]):
                return i, m
        time.sleep(0.1)
    fail(f"the guest printed no line matching {pattern!r} within {seconds}s")

for _ in range(100):
    try:
        qmp = socket.socket(socket.AF_UNIX)
        qmp.connect(sock_path)
        break
    except OSError:
        time.sleep(0.1)
else:
    fail(f"QEMU's monitor socket {sock_path} did not open")
stream = qmp.makefile('rw')

def command(name, **arguments):
    stream.write(json.dumps({'execute': name, 'arguments': arguments}) + '\n')
    stream.flush()
    while 'event' in (answer := json.loads(stream.readline())):
        pass
    if 'error' in answer:
        fail(f"QMP {name} {arguments}: {answer['error'].get('desc')}")

def plug(node, image, **device):
    command('blockdev-add', driver='raw', **{'node-name': node,
            'file': {'driver': 'file', 'filename': f'{work}/{image}'}})
    command('device_add', drive=node, **device)

json.loads(stream.readline())  # the greeting
command('qmp_capabilities')
i, _ = wait(r'^ZT ready$', 60)
_, m = wait(r'^ZT drive slot=0 /dev/sda (.+)$', 1)
ahci = m[1]

# A drive arrives in the slot after the last one given, whatever has left.
def next_slot(upto):
    return 1 + max(int(m[1]) for s in lines()[:upto]
                   if (m := re.match(r'ZT (?:drive|arrived) slot=(\d+) ', s)))

plug('usb', 'usb.img', driver='usb-storage', bus='xhci.0', id='usb-disk', serial='ZTH0002')
i, _ = wait(r'^ZT event add sdb$', 15, i)
i, _ = wait(r'^ZT relist ', 10, i)
# QEMU's USB disk does not answer ATA PASS-THROUGH: left out, saying why.
_, usb = wait(r'^ZT (arrived slot=\d+ /dev/sdb|left-out sdb: .+)', 10, i)
if usb[1].startswith('arrived'):
    fail(f"the USB disk was listed ({usb[0]!r}), not left out with its why-line")
print(f"qemu_hotplug: the USB disk was left out: {usb[1]}")
command('device_del', id='usb-disk')
i, _ = wait(r'^ZT event remove sdb$', 15, i)
i, _ = wait(r'^ZT relist ', 10, i)

plug('nvme', 'nvme.img', driver='nvme', id='nvme-disk', serial='ZTH0003')
i, _ = wait(r'^ZT event add nvme0n1$', 20, i)
i, m = wait(r'^ZT arrived slot=(\d+) /dev/nvme0 (.+)$', 10, i)
if int(m[1]) != next_slot(i) or 'serial=ZTH0003' not in m[2]:
    fail(f"the added NVMe drive: {m[0]!r}, not in slot {next_slot(i)} with its serial")
nvme_slot = int(m[1])
i, m = wait(r'^ZT read nvme0 (\w+) first after-event-ms=(\d+)$', 10, i)
if m[1] != 'ok' or not 2000 <= int(m[2]) <= 3000:
    fail(f"the added NVMe drive's first read: {m[0]!r}, not ok within the debounce plus one poll")

# The guest's root takes the AHCI disk from the kernel and gives it back; the
# same disk must return to its old slot and be read again within the debounce
# plus one poll.
i, m = wait(r'^ZT root delete sda (host\d+)$', 10, i)
i, _ = wait(r'^ZT event remove sda$', 15, i)
gone, m = wait(r'^ZT departed slot=(\d+) /dev/sda (.+)$', 10, i)
if m[1] != '0' or m[2] != ahci:
    fail(f"the deleted disk departed as {m[0]!r}, not from slot 0 as {ahci!r}")
i, _ = wait(r'^ZT root rescan host\d+$', 10, gone)
i, _ = wait(r'^ZT event add sd[a-z]+$', 15, i)
back, m = wait(r'^ZT (arrived|returned) slot=(\d+) /dev/(sd[a-z]+) (.+)$', 10, i)
name = m[3]
if m[1] != 'returned' or m[2] != '0' or m[4] != ahci:
    fail(f"the rescanned disk: {m[0]!r}, not returned to slot 0 as {ahci!r}")
i, m = wait(rf'^ZT read {name} (\w+) first after-event-ms=(\d+)$', 10, back)
if m[1] != 'ok' or not 2000 <= int(m[2]) <= 3000:
    fail(f"the returned AHCI disk's first read: {m[0]!r}, not ok within the debounce plus one poll")

# Now read back-to-back, it goes with its controller.
i, _ = wait(rf'^ZT back-to-back {name} start$', 5, i)
removal = len(lines())
command('device_del', id='ahci-disk')
i, _ = wait(rf'^ZT event remove {name}$', 15, i)
left, m = wait(rf'^ZT departed slot=(\d+) /dev/{name} (.+)$', 10, i)
if m[1] != '0' or m[2] != ahci:
    fail(f"the AHCI disk pulled out departed as {m[0]!r}, not from slot 0 as {ahci!r}")
_, m = wait(rf'^ZT back-to-back {name} ended reads=(\d+) ok=(\d+) ms=(\d+) failed-runs=\d+ '
            r'longest-ms=(\d+) deadline-ms=(\d+) removal-inside-read=(\w+)$', 5, left)
reads, good, span, longest, deadline = (int(m[n]) for n in range(1, 6))
print(f"qemu_hotplug: {reads} back-to-back reads ({good} good) in {span} ms, the longest {longest} ms; "
      f"the removal landed inside a read: {m[6]}")
command('device_del', id='nvme-disk')
last, _ = wait(rf'^ZT departed slot={nvme_slot} /dev/nvme0 ', 20, left)
wait(r'^ZT exit status=', 20, left)

seen = lines()
zt = [(n, s) for n, s in enumerate(seen) if s.startswith('ZT ')]
checks = [
    ('the probe ended with "ZT done" and status 0',
     any(s == 'ZT done' for _, s in zt) and any(s == 'ZT exit status=0' for _, s in zt)),
    ('every event names a whole disk',
     all(re.fullmatch(r'ZT event (add|remove|change) (sd[a-z]+|nvme\d+n\d+|)', s)
         for _, s in zt if s.startswith('ZT event'))),
    ('the deleted AHCI disk is not read from its leave to its return',
     not any(gone < n < back and s.startswith('ZT read sda ') for n, s in zt)),
    # Without a pause a read takes a few milliseconds at most; any wait for
    # the next wake-up brings them down to a few a second.
    ('its back-to-back reads came at least 100 a second, none longer than the helper\'s deadline',
     reads * 10 >= span and longest < deadline),
    ('the AHCI disk pulled out during the reads failed a read, the helper serving it still up',
     any(removal <= n < left and s == f'ZT read {name} failed helper=same' for n, s in zt)),
    ('the NVMe drive was then read as before, by its own helper',
     any(removal <= n < last and s == 'ZT read nvme0 ok after-failure helper=same' for n, s in zt)),
    ('no drive arrived or returned but those plugged in, none departed twice',
     [s.split()[1] + ' ' + s.split()[3] for _, s in zt if re.match(r'ZT (arrived|returned|departed) ', s)]
     == ['arrived /dev/nvme0', 'departed /dev/sda', f'returned /dev/{name}', f'departed /dev/{name}',
         'departed /dev/nvme0']),
    ('the removed AHCI disk is never read once it has left',
     not any(n > left and s.startswith(f'ZT read {name} ') for n, s in zt)),
]
for what, ok in checks:
    if not ok:
        fail(f"not so: {what}")
print("qemu_hotplug: " + "; ".join(what for what, _ in checks))
EOF
}

run_hotplug() {
    local cache=$1 work=$2 probe=$3 helper=$4 smart_probe=$5 start=$SECONDS qemu rc
    preflight "$cache" "$smart_probe" "" "$helper"
    command -v python3 >/dev/null || skip "python3 not found (Debian package python3)"
    ldd "$probe" >/dev/null || fail "ldd cannot list the libraries of $probe"
    mkdir -p "$work" && rm -f "$work"/{console.log,qmp.sock} || fail "cannot create $work"
    build_hotplug_initramfs "$cache/kernel" "$work" "$probe" "$helper" "$smart_probe"
    partitioned_image "$work/ahci.img" 64M && partitioned_image "$work/usb.img" 32M &&
        partitioned_image "$work/nvme.img" 48M || fail "cannot create the disk images in $work"
    timeout --kill-after=5 "$HOTPLUG_LIMIT_SECONDS" qemu-system-x86_64 \
        -nodefaults -machine pc -accel tcg -smp 1 -m 512 -display none -no-reboot \
        -serial "file:$work/console.log" -qmp "unix:$work/qmp.sock,server=on,wait=off" \
        -kernel "$cache/kernel/vmlinuz" -initrd "$work/initrd.gz" \
        -append "console=ttyS0 panic=-1 loglevel=4" \
        -device ahci,id=ahci-disk,addr=0x4 -drive "file=$work/ahci.img,if=none,id=d0,format=raw" \
        -device "ide-hd,drive=d0,bus=ahci-disk.0,model=ZT Hotplug AHCI,ver=HPA1,serial=ZTH0001" \
        -device qemu-xhci,id=xhci,addr=0x5 </dev/null >"$work/qemu.out" 2>&1 &
    qemu=$!
    drive_and_check "$work/qmp.sock" "$work/console.log" "$work"
    rc=$?
    [ "$rc" -eq 0 ] || kill "$qemu" 2>/dev/null
    wait "$qemu"
    echo "qemu_hotplug: QEMU ended with status $? after $((SECONDS - start))s"
    [ "$rc" -eq 0 ] || { cat "$work/qemu.out"; show_console "$work"; exit 1; }
    grep -q "ZT kernel $(cat "$cache/kernel/version")\$" <(tr -d '\r' <"$work/console.log") ||
        fail "the guest does not run $(cat "$cache/kernel/version") from $(cat "$cache/kernel/package")"
}

[ $# -eq 5 ] || fail "usage: $0 CACHE_DIR WORK_DIR HOTPLUG_PROBE HELPER SMART_PROBE"
run_hotplug "$@"
