#!/bin/busybox sh
# The emulated machine's init: storage modules, then each probe run (and
# the service's, when the host put it in), then power off. Every line meant for the host starts with "ZT "; "ZT run NAME"
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
# The service as its unit runs it: a user and group of its own (1001) and
# the group zentrova besides, so that it may run the helper. It polls every
# drive at its start; once the text file has a sample of each, it is stopped
# and must be gone within 2 s. Its capabilities are read while it runs; the
# file, its journal lines and how it ended go to the host, which compares
# the samples with the user run's.
watch_service() {
    local pid tries state status
    echo "ZT run service"
    mkdir -p /etc/zentrova /srv/textfile /srv/zentrova && chown 1001:1001 /srv/textfile /srv/zentrova &&
        printf 'textfile_dir=/srv/textfile\ndata_dir=/srv/zentrova\ninterval_minutes=1\n' \
            >/etc/zentrova/service.conf || echo "ZT service-setup-failed"
    # A minute of the drives' intervals lasts 0.3 s: their own timers poll too
    # while the guest waits, and SIGTERM may come in the middle of a poll.
    HOME=/srv/zentrova LANG=C.UTF-8 ZENTROVA_SERVICE_MINUTE_MS=300 /bin/smart_probe as 1001 1001 1000 \
        /bin/zentrova-service --config /etc/zentrova/service.conf 2>/srv/journal &
    pid=$!
    tries=0
    until [ "$(grep -c -E '^zentrova_drive_last_poll_timestamp_seconds\{device="/dev/(sda|sdb|nvme0|nvme1)"' \
        /srv/textfile/zentrova.prom 2>/dev/null)" = 4 ]; do
        tries=$((tries + 1))
        [ "$tries" -le 200 ] && [ -d "/proc/$pid" ] || { echo "ZT service-no-samples"; break; }
        sleep 0.2
    done
    # Some timed polls more, each of which must not tell the same event again.
    sleep 1
    grep -E '^(Uid|Gid|Groups|Cap(Inh|Prm|Eff|Amb|Bnd)):' "/proc/$pid/status" | sed 's/^/ZT service-status /'
    kill -TERM "$pid"
    # A child that has ended stays as a zombie until it is waited for.
    tries=0
    while state=$(cut -d ' ' -f 3 "/proc/$pid/stat" 2>/dev/null) && [ "$state" != Z ] && [ "$tries" -lt 10 ]; do
        tries=$((tries + 1))
        sleep 0.2
    done
    [ "$state" = Z ] || [ -z "$state" ] && echo "ZT service-ended within=2s" || kill -KILL "$pid"
    wait "$pid"
    status=$?
    echo "ZT service-exit status=$status"
    sed 's/^/ZT service-journal /' /srv/journal
    grep -v '^#' /srv/textfile/zentrova.prom 2>/dev/null | sed 's/^/ZT prom /'
}
# The helper as the install step leaves it: root's, for the group zentrova
# (gid 1000, the ordinary user's group) alone, then its capabilities, which a
# change of owner would clear.
chown 0:1000 /libexec/zentrova-ata && chmod 0750 /libexec/zentrova-ata || echo "ZT helper-mode-failed"
/bin/smart_probe grant /libexec/zentrova-ata
probe user user
[ -x /bin/zentrova-service ] && watch_service
rm -f /libexec/zentrova-ata
probe nohelper user
# The helper's file barrier on this kernel, tried by root, whom nothing else
# would stop.
echo "ZT run landlock"
/bin/smart_probe landlock
echo "ZT exit status=$?"
probe root
poweroff -f
