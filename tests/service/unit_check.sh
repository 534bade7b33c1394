#!/bin/bash
# zentrova.service: systemd-analyze verify finds nothing (ExecStart pointed at
# the build's program), and the unit keeps what the drive helper needs: no
# option that sets or implies NoNewPrivileges=, the helper's three
# capabilities in the bounding set, none of its own.
# unit_check.sh SOURCE_DIR SERVICE_PROGRAM
set -u
unit="$1/share/systemd/zentrova.service"
fail() { echo "FAIL: $*" >&2; exit 1; }
value() { sed -n "s/^$1=//p" "$unit"; }

for option in NoNewPrivileges DynamicUser RestrictSUIDSGID SystemCallFilter SystemCallArchitectures \
    RestrictAddressFamilies RestrictNamespaces PrivateDevices ProtectKernelTunables \
    ProtectKernelModules ProtectKernelLogs ProtectClock MemoryDenyWriteExecute RestrictRealtime \
    LockPersonality; do
    ! grep -q "^$option=" "$unit" || fail "$option= would keep the helper from its capabilities"
done
[ "$(value CapabilityBoundingSet | tr ' ' '\n' | sort | xargs)" = \
    "CAP_DAC_READ_SEARCH CAP_SYS_ADMIN CAP_SYS_RAWIO" ] || fail "CapabilityBoundingSet: $(value CapabilityBoundingSet)"
grep -qx "AmbientCapabilities=" "$unit" || fail "AmbientCapabilities= is not empty"
for line in "SupplementaryGroups=zentrova" "StateDirectory=zentrova/service" "ProtectSystem=strict" \
    "ProtectHome=yes" "PrivateTmp=yes" "ReadWritePaths=-/var/lib/prometheus/node-exporter"; do
    grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
grep -q "^User=" "$unit" || fail "the unit runs as root"

command -v systemd-analyze >/dev/null || { echo "SKIPPED: systemd-analyze missing (Debian package systemd)"; exit 77; }
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
sed "s|^ExecStart=.*|ExecStart=$2|" "$unit" >"$scratch/zentrova.service"
out=$(systemd-analyze verify --man=no "$scratch/zentrova.service" 2>&1)
status=$?
if [ $status -ne 0 ] && grep -qiE "Failed to (initialize|connect|create|set up)|System has not been booted" <<<"$out"; then
    echo "SKIPPED: systemd-analyze cannot run here: $out"
    exit 77
fi
[ $status -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze verify: $out"
echo "systemd-analyze verify: clean"
