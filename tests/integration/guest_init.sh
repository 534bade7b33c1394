#!/bin/busybox sh
# The emulated machine's init: storage modules, then the probe, then power off.
# Every line meant for the host starts with "ZT "; the host compares them.
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "ZT boot"

insert() {
    for m in $(cat "$1"); do
        insmod "/lib/modules/$m" || echo "ZT insmod-failed $m"
    done
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

ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe
echo "ZT exit status=$?"
sync
poweroff -f
