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

# The AHCI disks first, so that they are sda and sdb and the disk on
# virtio-scsi is sdc whatever order the buses would be probed in.
insert /ata.modules
wait_for sda sdb
insert /virtio.modules
wait_for vda sdc

ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe
echo "ZT exit status=$?"
sync
poweroff -f
