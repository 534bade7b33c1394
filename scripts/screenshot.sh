#!/usr/bin/env bash
# Takes the pictures of the main window in docs/ on the demo drives, under a
# virtual X server, in a scratch folder so no data folder is left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target zentrova_screenshot zentrova grab_screen notify_probe \
    zentrova_demo_history
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p docs
cd "$work"
# The demo's past, as scripts/demo.sh seeds it: a week of sda's unchanged
# counts and a month of the NVMe drive's wear.
mkdir -p Zentrodat
"$root/build/monitor/history/zentrova_demo_history" "$root/share/demo-drives.json" Zentrodat
LC_ALL=C.UTF-8 ZENTROVA_SIMULATED_DRIVES="$root/share/demo-drives.json" \
    xvfb-run -a -s "-screen 0 1280x900x24" \
    "$root/build/monitor/zentrova_screenshot" "$root/docs/main-window.png" "$root/docs/main-window-log.png" \
    "$root/docs/main-window-settings.png" "$root/docs/main-window-nvme.png" \
    "$root/docs/main-window-history.png"
echo "Wrote docs/main-window.png, docs/main-window-log.png, docs/main-window-settings.png," \
    "docs/main-window-nvme.png and docs/main-window-history.png"
# The tray menu and a notification, on a desktop with a real tray and
# notification server (the same run as the desktop test).
"$root/tests/desktop/desktop_e2e.sh" "$root" "$root/build" "$root/docs" >/dev/null
echo "Wrote docs/tray-menu.png and docs/notification.png"
