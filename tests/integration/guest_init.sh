#!/bin/busybox sh
# The emulated machine's init: storage modules, then each probe run, then
# power off. Every line meant for the host starts with "ZT "; the host
# compares them, one section per probe run ("ZT run NAME" starts one).
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "ZT boot"
echo "ZT kernel $(uname -r)"

# Lines of "hard|soft file": a soft dependency may fail to load (a variant for
# CPU features the emulated one lacks) without the boot being wrong.
insert() {
    while read -r kind m; do
        if [ "$kind" = soft ]; then
            insmod "/lib/modules/$m" 2>/dev/null
        else
            insmod "/lib/modules/$m" || echo "ZT insmod-failed $m"
        fi
    done <"$1"
}

# Disks appear asynchronously after their driver is inserted; wait up to 30 s.
wait_for() {
    for name in "$@"; do
        n=0
        while [ ! -e "/sys/block/$name" ] || [ ! -e "/dev/$name" ]; do
            n=$((n + 1))
            if [ $n -gt 300 ]; then
                echo "ZT missing-disk $name"
                break
            fi
            sleep 0.1
        done
    done
}

# The disk driver probes disks in parallel, so two disks found together may
# get their names in either order. Each AHCI disk sits on a controller of its
# own, and the controllers are bound one at a time with automatic binding off:
# the first disk is always sda, the second sdb, and the disk on virtio-scsi
# sdc.
echo 0 >/sys/bus/pci/drivers_autoprobe
insert /ata.modules
bind_ahci() {
    echo "$1" >/sys/bus/pci/drivers/ahci/bind || echo "ZT bind-failed $1"
}
bind_ahci 0000:00:04.0
wait_for sda
bind_ahci 0000:00:05.0
wait_for sdb
echo 1 >/sys/bus/pci/drivers_autoprobe
insert /virtio.modules
wait_for vda sdc

# The probe as root, with every privilege the pass-through needs. It removes
# sdb on the way, so a later run sees one AHCI disk.
probe_root() {
    echo "ZT run root"
    ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe
    echo "ZT exit status=$?"
}

# The probe as an ordinary user, first through the drive helper, placed in
# /libexec beside the probe's /bin as the install step places it, then with
# the helper gone, when it must explain instead of reading. Both come before
# the root run, which removes a disk.
if [ -e /libexec/zentrova-ata ]; then
    /bin/smart_probe grant /libexec/zentrova-ata
    echo "ZT run user"
    ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe user
    echo "ZT exit status=$?"
    rm -f /libexec/zentrova-ata
    echo "ZT run nohelper"
    ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe user
    echo "ZT exit status=$?"
fi

probe_root
sync
poweroff -f
