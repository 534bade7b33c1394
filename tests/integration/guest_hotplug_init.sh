#!/bin/busybox sh
# The emulated machine's init for the hot-plug check: the storage and USB
# modules, the drive helper given its capabilities, then the hot-plug probe,
# which follows the kernel's events while the host plugs disks in and out and
# this script takes the AHCI disk away and back, then power off. Every line
# meant for the host starts with "ZT ".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t devtmpfs devtmpfs /dev
printf 'ZT boot\nZT kernel %s\n' "$(uname -r)"

insert() { while read -r m; do insmod "/lib/modules/$m" || echo "ZT insmod-failed $m"; done <"$1"; }
for stage in ata usb nvme; do insert "/$stage.modules"; done
# The disk there from the start; the others come while the probe runs.
timeout 30 sh -c 'until [ -e /sys/block/sda ] && [ -e /dev/sda ]; do sleep 0.1; done' ||
    echo "ZT missing-disk sda"

/bin/smart_probe grant /libexec/zentrova-ata
# The probe's lines reach the console through this loop, which, as root, takes
# the AHCI disk from the kernel and gives it back at the probe's word: once
# the NVMe drive the host added has been read, the disk's SCSI device is
# deleted; once the probe has seen it leave, its host is rescanned.
mkdir -p /run && mkfifo /run/probe.out || echo "ZT no-fifo"
/bin/hotplug_probe 60 >/run/probe.out &
probe=$!
cycle=before host=
while IFS= read -r line; do
    echo "$line"
    case "$cycle:$line" in
    "before:ZT read nvme0 ok first after-event-ms="*)
        # .../ata1/host0/target0:0:0/0:0:0:0: the host to rescan, found while
        # the device is still there.
        host=$(readlink -f /sys/block/sda/device) && host=${host#*/host} && host=host${host%%/*}
        echo "ZT root delete sda $host"
        echo 1 >/sys/block/sda/device/delete || echo "ZT root delete-failed"
        cycle=deleted ;;
    "deleted:ZT departed slot="*" /dev/sda "*)
        echo "ZT root rescan $host"
        echo '- - -' >"/sys/class/scsi_host/$host/scan" || echo "ZT root rescan-failed"
        cycle=rescanned ;;
    esac
done </run/probe.out
wait "$probe"
echo "ZT exit status=$?"
poweroff -f
