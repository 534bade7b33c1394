#!/bin/busybox sh
# The emulated machine's init for the hot-plug check: the storage and USB
# modules, the drive helper given its capabilities, then the hot-plug probe,
# which follows the kernel's events while the host plugs disks in and out,
# then power off. Every line meant for the host starts with "ZT ".
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
/bin/hotplug_probe 60
echo "ZT exit status=$?"
poweroff -f
