#!/bin/busybox sh
# The emulated machine's init: storage modules, then each probe run, then
# power off. Every line meant for the host starts with "ZT "; "ZT run NAME"
# starts the section of one probe run.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t devtmpfs devtmpfs /dev
printf 'ZT boot\nZT kernel %s\n' "$(uname -r)"

# A stage's modules, in their load order.
insert() { while read -r m; do insmod "/lib/modules/$m" || echo "ZT insmod-failed $m"; done <"$1"; }

# Disks appear asynchronously after their driver is inserted; wait up to 30 s.
wait_for() {
    for name in "$@"; do
        timeout 30 sh -c "until [ -e /sys/block/$name ] && [ -e /dev/$name ]; do sleep 0.1; done" ||
            echo "ZT missing-disk $name"
    done
}

# Inserts a stage's modules with automatic PCI binding off, then binds each
# PCI device ("address/disk") to the driver in turn, waiting for its disk.
bind_one_at_a_time() {
    local modules=$1 driver=$2 pci
    shift 2
    echo 0 >/sys/bus/pci/drivers_autoprobe
    insert "$modules"
    for pci in "$@"; do
        echo "${pci%/*}" >"/sys/bus/pci/drivers/$driver/bind" || echo "ZT bind-failed ${pci%/*}"
        wait_for "${pci#*/}"
    done
    echo 1 >/sys/bus/pci/drivers_autoprobe
}

# Disks found together may get their names in either order, so each AHCI
# disk has a controller of its own, bound one at a time: the first disk is
# always sda, the second sdb, the virtio-scsi one sdc.
bind_one_at_a_time /ata.modules ahci 0000:00:04.0/sda 0000:00:05.0/sdb
insert /virtio.modules
wait_for vda sdc
# The NVMe controllers likewise, so that the first is nvme0; the second
# one's namespace is a multipath head, named after its subsystem.
bind_one_at_a_time /nvme.modules nvme 0000:00:06.0/nvme0n1 0000:00:07.0/nvme1n1

# Runs the probe as one section: "root" reads directly and removes sdb on the
# way; "user" is an ordinary user through the drive helper, placed in
# /libexec as the install step places it; "nohelper" the same user once the
# helper is gone, who must get an explanation instead. Root runs last. Each
# starts with the whole disks the kernel knows, so that the host can see that
# the disks left out of the list were there to be found.
probe() {
    echo "ZT run $1"
    echo ZT block $(ls /sys/block)
    ZENTROVA_DEBUG_DETECTION=1 /bin/smart_probe $2
    echo "ZT exit status=$?"
}
/bin/smart_probe grant /libexec/zentrova-ata
probe user user
rm -f /libexec/zentrova-ata
probe nohelper user
# The helper's file barrier on this kernel, tried by root, whom nothing else
# would stop.
echo "ZT run landlock"
/bin/smart_probe landlock
echo "ZT exit status=$?"
probe root
poweroff -f
