#!/usr/bin/env bash
# A running monitor on simulated drives, an xterm and test clients under a
# real window manager: after the uninstaller's "Yes" the monitor and the
# ordinary clients have been asked to close and are gone, the monitor's files
# are gone, and the desktop-type and dock-type clients are still there.
set -euo pipefail
src=$1 build=$2 driver=$3 client=$4
for tool in Xvfb openbox xprop xterm; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/deps.sh installs it)"; exit 77; }
done
tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Polls a condition for up to $1 seconds.
within() {
    local limit=$(( $1 * 10 )); shift
    for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
    return 1
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! alive "$1"; }
# Whether the window manager lists a window of process $1.
listed() {
    local w
    for w in $(xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*'); do
        xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -qw "$1" && return 0
    done
    return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
within 10 test -s "$tmp/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$tmp/display")
openbox >"$tmp/openbox.log" 2>&1 &
pids+=($!)
within 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' || fail "openbox did not start"

root=$tmp/root
declare -A at
while IFS='=' read -r key value; do at[$key]=$value; done < <("$build/share/desktop/zentrova_layout_paths" "$root")
mkdir -p "${at[bundle]}/bin" "${at[desktop]}" "$(dirname "${at[receipt]}")" "$(dirname "${at[data]}")"
cp "$build/monitor/zentrova" "${at[bundle]}/bin/zentrova"
touch "${at[receipt]}" "${at[desktop]}/Zentrova.desktop"

# Started from the desktop, the monitor runs in the home folder.
(cd "$(dirname "${at[data]}")" && QT_QPA_PLATFORM=xcb ZENTROVA_SIMULATED_DRIVES="$src/share/demo-drives.json" \
    exec "${at[bundle]}/bin/zentrova") >"$tmp/monitor.log" 2>&1 &
monitor=$!; pids+=($monitor)
xterm -e sleep 600 &
term=$!; pids+=($term)
for kind in normal desktop dock; do
    "$client" "$kind" >"$tmp/$kind.log" 2>&1 &
    declare "$kind=$!"; pids+=($!)
done
# After the splash the monitor has made its logs and shows its welcome window.
within 30 test -e "${at[data]}/SMARTLog0" || fail "the monitor made no data folder: $(cat "$tmp/monitor.log")"
for pid in "$monitor" "$term" "$normal" "$desktop" "$dock"; do
    within 15 listed "$pid" || fail "process $pid has no managed window"
done

ZENTROVA_TEST_ROOT=$root QT_QPA_PLATFORM=offscreen "$driver" >"$tmp/panels"
grep -qx "panel: Uninstall process completed successfully" "$tmp/panels" || fail "no success: $(cat "$tmp/panels")"
within 15 gone "$monitor" || fail "the monitor is still running"
within 15 gone "$term" || fail "xterm is still running"
within 15 gone "$normal" || fail "the ordinary client is still running"
grep -q "normal asked to close" "$tmp/normal.log" || fail "the ordinary client was not asked politely"
alive "$desktop" || fail "the desktop-type client was asked to close"
alive "$dock" || fail "the dock-type client was asked to close"
for p in "${at[bundle]}" "${at[receipt]}" "${at[desktop]}" "${at[data]}"; do
    [ -e "$p" ] && fail "left behind: $p"
done
echo "monitor, xterm and the ordinary client closed; desktop and dock clients kept"
