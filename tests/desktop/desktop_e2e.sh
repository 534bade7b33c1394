#!/usr/bin/env bash
# The monitor on a desktop with a real notification server (dunst) and a real
# system tray (trayer) under Xvfb, each on a private session bus:
# - the same fact told twice leaves one notification, not two; the failing
#   drive's is critical, the others normal;
# - without a server nothing is sent and one debug line says so;
# - on the demo drives (sdc at its worn-out reading) the tray icon docks and
#   lists the drives, the tray menu's sdc entry reads it, its failure is told
#   as a critical notification after the temperature panel, the tray follows,
#   and a click on the notification shows sdc;
# - without a tray there is no icon and no complaint.
# Usage: desktop_e2e.sh <source> <build> [folder for pictures]
set -euo pipefail
src=$1 build=$2 pictures=${3:-}
tools=(Xvfb dbus-daemon dunst dunstctl trayer openbox xdotool xwininfo xprop)
missing=$(for tool in "${tools[@]}"; do command -v "$tool" >/dev/null || echo "$tool"; done)
[ -z "$missing" ] || { echo "SKIPPED:" $missing "missing (scripts/deps.sh installs it)"; exit 77; }
tmp=$(mktemp -d) pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; for f in "$tmp"/*.log; do echo "--- $f"; tail -20 "$f"; done; exit 1; }
within() { for _ in $(seq $(($1 * 10))); do "${@:2}" && return 0; sleep 0.1; done; return 1; } # seconds, condition...
start() { "${@:2}" >"$tmp/$1.log" 2>&1 & pids+=($!); } # name, command...

export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS
start xvfb Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$tmp/display"
within 10 test -s "$tmp/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$tmp/display")
# Session buses that start nothing by themselves: a server is there only when
# the test starts one.
cat >"$tmp/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=$tmp</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
CONF
# Started here, not in a command substitution's subshell, so that the exit
# ends them too.
bus() { # name
    start "$1" dbus-daemon --config-file="$tmp/bus.conf" --nofork --print-address=1
    within 10 grep -q '^unix:' "$tmp/$1.log" || fail "dbus-daemon $1 did not start"
}
address() { grep -m1 '^unix:' "$tmp/$1.log"; }
bus bus && bus quiet_bus
with_server=$(address bus) without_server=$(address quiet_bus)
export DBUS_SESSION_BUS_ADDRESS=$with_server
start openbox openbox
# dunst tells each notification to a script: its summary and urgency.
cat >"$tmp/told.sh" <<'TOLD'
#!/bin/sh
printf '%s|%s\n' "$2" "$5" >>"$(dirname "$0")/told"
TOLD
chmod +x "$tmp/told.sh"
cat >"$tmp/dunstrc" <<RC
[global]
    width = 320
    origin = top-right
    offset = 10x40
    sort = yes
[told]
    appname = Zentrova
    script = $tmp/told.sh
RC
start dunst dunst -config "$tmp/dunstrc"
within 10 dunstctl is-paused >/dev/null 2>&1 || fail "dunst did not start"
displayed() { dunstctl count displayed; }

# Replacing, urgency, and no server.
"$build/tests/desktop/notify_probe" 2>"$tmp/probe.err" || fail "notify_probe failed"
within 5 eval '[ "$(displayed)" = 2 ]' || fail "$(displayed) notifications shown, not 2 (the repeat must replace)"
within 5 eval '[ "$(wc -l <"$tmp/told" 2>/dev/null)" = 3 ]' || fail "dunst was told $(cat "$tmp/told")"
printf '%s\n' "Drive /dev/sdc is over its critical temperature|NORMAL" \
    "Drive /dev/sdc is over its critical temperature|NORMAL" "Drive /dev/sdc is about to fail|CRITICAL" |
    diff - "$tmp/told" || fail "summaries or urgencies differ (<: expected)"
dunstctl close-all && rm "$tmp/told"
DBUS_SESSION_BUS_ADDRESS=$without_server "$build/tests/desktop/notify_probe" 2>"$tmp/quiet.err" ||
    fail "notify_probe failed without a server"
[ "$(grep -c 'no desktop notifications are sent: no notification server on the session bus' "$tmp/quiet.err")" = 1 ] ||
    fail "not one line on the missing server: $(cat "$tmp/quiet.err")"
echo "a repeat replaced its notification, urgencies right, nothing sent without a server"

# The demo drives, sdc at its last, worn-out reading.
python3 - "$src/share/demo-drives.json" "$tmp/drives.json" <<'PY'
import json, sys
drives = json.load(open(sys.argv[1]))
for d in drives["drives"]:
    if d["bsdName"] == "sdc":
        d["readings"] = d["readings"][-1:]
json.dump(drives, open(sys.argv[2], "w"))
PY
start trayer trayer --edge top --align right --widthtype request --height 24 --transparent false
# grep reads the whole tree: an early exit would fail the pipe.
windows() { xwininfo -root -tree 2>/dev/null | grep -F -- "$1" >/dev/null; }
trayer_panel='"panel": ("panel" "trayer")'
within 10 windows "$trayer_panel" || fail "trayer did not start"
monitor() { # name: the monitor in a folder of its own
    mkdir -p "$tmp/$1/config" && cd "$tmp/$1" &&
        start "$1" env HOME="$tmp/$1" XDG_CONFIG_HOME="$tmp/$1/config" ZENTROVA_DEBUG_DETECTION=1 \
            ZENTROVA_SIMULATED_DRIVES="$tmp/drives.json" "$build/monitor/zentrova" && cd - >/dev/null
}
said() { grep -qF -- "$2" "$tmp/$1.log"; }
monitor tray
within 20 said tray "zentrova: tray: Zentrova; /dev/sda: OK, 36 °C; /dev/sdb: OK, 41 °C; /dev/sdc: OK, 55 °C; /dev/nvme0: OK, 38 °C" ||
    fail "the tray's tooltip does not list the drives"
# Docked and laid out: on the screen, where it was a moment ago too.
icon_at() { xwininfo -root -tree | grep -A6 -F "$trayer_panel" | grep -F '("zentrova" "Zentrova")' |
    sed -nE '1s/.* \+([0-9]+)\+([0-9]+)$/\1 \2/p'; }
docked() { local before; before=$(icon_at) && [ -n "$before" ] && sleep 0.3 && [ "$(icon_at)" = "$before" ]; }
within 10 docked || fail "no Zentrova icon docked in the tray: $(xwininfo -root -tree)"
read -r x y < <(icon_at)
badge() { "$build/tests/desktop/grab_screen" --count d32f2f "$x" "$y" 22 22 2>/dev/null; } # the failed state's red
[ "$(badge)" = 0 ] || fail "the tray icon shows a failure before any"
# The tray menu: Show Zentrova, then the drives; the third drive is sdc. The
# keys go to the menu only once it is up, and it opens only once start-up is
# over: the welcome window, the one framed window then (the splash closed
# before the icon docked), would otherwise take them or close the menu.
shown() { xdotool search --onlyvisible --class zentrova 2>/dev/null | sort; }
unframed() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }
framed() { for w in $(shown); do unframed "$w" || echo "$w"; done; }
within 20 eval '[ -n "$(framed)" ]' || fail "the monitor did not finish its start-up"
icon_window=$(($(xwininfo -root -tree | grep -A6 -F "$trayer_panel" | grep -F '("zentrova" "Zentrova")' | awk '{print $1}')))
menu() { for w in $(shown); do [ "$w" != "$icon_window" ] && unframed "$w" && echo "$w"; done; }
xdotool mousemove $((x + 8)) $((y + 8)) click 3
within 10 eval '[ -n "$(menu)" ]' || fail "the tray menu did not open"
[ -z "$pictures" ] || { sleep 1; "$build/tests/desktop/grab_screen" "$pictures/tray-menu.png" 880 0 400 200; }
xdotool key Down Down Down Down Return
within 20 grep -qx "Drive /dev/sdc is over its critical temperature|NORMAL" "$tmp/told" 2>/dev/null ||
    fail "no notification before the temperature panel"
! grep -q "about to fail" "$tmp/told" || fail "the failure was told before the temperature panel was answered"
# The panel is the one dialog among the monitor's windows; it gets the key once it is up.
panel() { for w in $(shown); do xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep DIALOG >/dev/null && echo "$w"; done; }
within 20 eval '[ -n "$(panel)" ]' || fail "no temperature panel"
xdotool windowactivate --sync "$(panel)" 2>/dev/null || true
xdotool key Return
within 20 grep -qx "Drive /dev/sdc is about to fail|CRITICAL" "$tmp/told" 2>/dev/null || fail "no critical notification for sdc"
within 20 said tray "/dev/sdc: Failed, 55 °C" || fail "the tray's tooltip does not show sdc failed"
within 10 eval '[ "$(badge)" -gt 10 ]' || fail "the tray icon has no red badge"
[ -z "$pictures" ] || { sleep 1; "$build/tests/desktop/grab_screen" "$pictures/notification.png" 780 0 500 300; }
# The window hidden with a click on the icon, then the notification clicked.
windows_up=$(framed | wc -l)
xdotool mousemove $((x + 8)) $((y + 8)) click 1
within 10 eval '[ "$(framed | wc -l)" -lt "$windows_up" ]' || fail "a click on the icon did not hide the window"
dunstctl action 0 # the critical one comes first
within 20 eval '[ "$(grep -c "zentrova: showing /dev/sdc" "$tmp/tray.log")" = 2 ]' || fail "the click did not show sdc"
echo "tray docked and followed sdc's failure; its critical notification showed sdc when clicked"

# No tray: no icon, no complaint.
kill "${pids[@]: -2}" # trayer and the monitor
within 10 eval '[ -z "$(shown)" ]' || fail "the monitor did not end"
within 10 eval '! windows "$trayer_panel"' || fail "trayer did not end"
monitor plain
# The splash first; the welcome window once start-up, tray icon and all, is done.
within 20 eval '[ -n "$(shown)" ]' || fail "the monitor did not start without a tray"
splash=$(shown)
within 20 eval '[ -n "$(shown | grep -vxF "$splash")" ]' || fail "the monitor did not finish its start-up"
! said plain "zentrova: tray:" || fail "a tray icon without a tray"
! grep -qi "systemtray\|QSystemTrayIcon" "$tmp/plain.log" || fail "complaints: $(cat "$tmp/plain.log")"
echo "without a tray: no icon, no complaint"
