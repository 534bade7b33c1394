#!/usr/bin/env bash
# The uninstaller on a real installation in a scratch root (made with DESTDIR).
# destdir: the menu entries, the helper's mode and the receipt (the welcome
#   window's pages among its paths) are checked, and
#   uninstalling leaves the staged root as it was before the install, file for
#   file (bystanders, folders and the desktop's caches).
# quit_e2e: a monitor on simulated drives and three xterms run under a real window
#   manager, one xterm typed as the desktop, one as a dock; after "Yes" the
#   monitor and the ordinary xterm were asked to close and are gone, and so
#   are the monitor's files; the desktop and the dock still run.
# Usage: system_test.sh install_destdir|quit_e2e <source> <build> <uninstaller_tests>
set -euo pipefail
# The staged install is made by whoever runs this, for the same user: an
# invoking user (through sudo) would be one the scratch files do not belong to.
unset SUDO_UID PKEXEC_UID
mode=${1#install_} src=$2 build=$3 tests=$4
tools=(desktop-file-validate update-desktop-database gtk-update-icon-cache) && [ "$mode" = destdir ] ||
    tools=(Xvfb openbox xprop xterm)
missing=$(for tool in "${tools[@]}"; do command -v "$tool" >/dev/null || echo "$tool"; done)
[ -z "$missing" ] || { echo "SKIPPED:" $missing "missing (scripts/deps.sh installs it)"; exit 77; }
tmp=$(mktemp -d) root=$tmp/root pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
uninstall() { ZENTROVA_TEST_ROOT=$root timeout 60 "$tests" --uninstall >"$tmp/panels" || fail "the uninstaller did not end: $(cat "$tmp/panels")"
    grep -qx "panel: Uninstall process completed successfully" "$tmp/panels" || fail "no success: $(cat "$tmp/panels")"; }
declare -A at
while IFS='=' read -r key value; do at[$key]=${value#"$root"}; done < <("$build/share/desktop/zentrova_layout_paths" "$root")
install_staged() { DESTDIR=$root ZENTROVA_SKIP_BUILD=1 BUILD_DIR=$build "$src/scripts/install.sh" >"$tmp/install.log" || fail "install: $(cat "$tmp/install.log")"; }

if [ "$mode" = destdir ]; then
    # Every path with its type and mode, and every file's content.
    tree() { (cd "$root" && find . -mindepth 1 -printf '%p %y %m\n' -type f -exec md5sum {} + | sort); }
    # Bystanders beside the installed places, some of whose folders the install must make.
    for p in opt/other/tool usr/share/applications/other.desktop usr/share/icons/hicolor/48x48/apps/other.png \
             var/lib/other; do
        mkdir -p "$(dirname "$root/$p")" && echo "$p" >"$root/$p"
    done
    update-desktop-database -q "$root${at[applications]}"
    gtk-update-icon-cache -q -t -f "$root${at[icon_theme]}"
    tree >"$tmp/before"
    install_staged
    grep -qx "Version: [0-9.]*" "$root${at[receipt]}" && grep -q "^Installed: " "$root${at[receipt]}" || fail "receipt without version or time"
    ! grep -q "^Group: " "$root${at[receipt]}" || fail "a staged install claims to have made a group"
    desktop-file-validate "$root${at[menu_entry]}" "$root${at[desktop]}"/*.desktop || fail "invalid .desktop file"
    [ "$(stat -c %a "$root${at[helper]}")" = 750 ] || fail "the drive helper is not mode 750"
    grep -q zentrova "$root${at[icon_theme]}/icon-theme.cache" || fail "the icon cache does not name the icon"
    icons=(${at[icons]})
    [ "$(find "$root${at[bundle]}/share/icons" -type f | wc -l)" = ${#icons[@]} ] ||
        fail "the bundle's icons and the layout's list of them differ"
    sed -n 's/^Path: //p' "$root${at[receipt]}" >"$tmp/paths"
    printf '%s\n' "${at[bundle]}/bin/zentrova" "${at[bundle]}/bin/zentrova-uninstall" "${at[helper]}" "${at[menu_entry]}" \
        "${at[policy]}" "${at[guide]}"/{backup,drive-care,smart,news}.html $(printf "${at[icon_theme]}/%s " ${at[icons]}) |
        grep -vxFf "$tmp/paths" &&
        fail "the receipt lacks these"
    mkdir -p "$root${at[data]}" && touch "$root${at[data]}/SMARTLog0" # as the monitor would
    DISPLAY= uninstall
    tree >"$tmp/after"
    diff "$tmp/before" "$tmp/after" || fail "the uninstall did not leave the staged root as it was (<: before, >: after)"
    # Over the Debian package's files it refuses, says why and touches nothing.
    mkdir -p "$(dirname "$root${at[package_marker]}")" && touch "$root${at[package_marker]}"
    tree >"$tmp/before"
    ! DESTDIR=$root ZENTROVA_SKIP_BUILD=1 BUILD_DIR=$build "$src/scripts/install.sh" >"$tmp/install.log" 2>&1 ||
        fail "install.sh installed over the package"
    grep -q "installed here with the Debian package zentrova.*sudo apt remove zentrova" "$tmp/install.log" ||
        fail "install.sh over the package: $(cat "$tmp/install.log")"
    tree >"$tmp/after"
    diff "$tmp/before" "$tmp/after" || fail "install.sh refused but changed the staged root"
    echo "installed $(wc -l <"$tmp/paths") paths, all removed with the folders made for them, bystanders and caches as before; refused over the package" && exit 0
fi

install_staged
within() { for _ in $(seq $(($1 * 10))); do "${@:2}" && return 0; sleep 0.1; done; return 1; } # seconds, condition...
windows() { for w in $(timeout 5 xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*'); do # of process $1
    timeout 5 xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -qw "$1" && echo "$w"; done; }
listed() { [ -n "$(windows "$1")" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }
declare -A log_of what_of
start() { "${@:2}" >"$tmp/$1.log" 2>&1 & pids+=($!) log_of[$!]=$tmp/$1.log what_of[$!]=$1; } # name, command...
start xvfb Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display"
within 10 test -s "$tmp/display" || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=:$(cat "$tmp/display")
start openbox openbox
within 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' || fail "openbox did not start"
# Started from the desktop, the monitor runs in the home folder.
cd "$root$(dirname "${at[data]}")"
QT_QPA_PLATFORM=xcb ZENTROVA_SIMULATED_DRIVES="$src/share/demo-drives.json" start monitor "$root${at[bundle]}/bin/zentrova"
monitor=$!
for kind in term desktop dock; do start "$kind" xterm -e sleep 600; declare "$kind=$!"; done
within 30 test -e "$root${at[data]}/SMARTLog0" || fail "the monitor made no data folder: $(cat "$tmp/monitor.log")"
# A client that ended before it showed a window could not start; its own status and words say why.
shown() { listed "$1" || gone "$1"; }
for pid in "$monitor" "$term" "$desktop" "$dock"; do
    # A bound, not a wait: on a machine loaded by a parallel test run a Qt
    # program's first window has been seen to take over 20 seconds.
    within 60 shown "$pid" || fail "process $pid (${what_of[$pid]}) has no managed window"
    status=0 && gone "$pid" && { wait "$pid" || status=$?; } &&
        fail "${what_of[$pid]} could not start (exit status $status): $(cat "${log_of[$pid]}")"
done
for kind in desktop dock; do xprop -id "$(windows "${!kind}")" -f _NET_WM_WINDOW_TYPE 32a -set _NET_WM_WINDOW_TYPE "_NET_WM_WINDOW_TYPE_${kind^^}"; done
uninstall
for pid in "$monitor" "$term"; do within 15 gone "$pid" || fail "process $pid is still running"; done
gone "$desktop" || gone "$dock" && fail "the desktop or the dock was asked to close"
for p in "${at[bundle]}" "${at[receipt]}" "${at[desktop]}" "${at[data]}"; do [ ! -e "$root$p" ] || fail "left behind: $p"; done
echo "the monitor and the ordinary xterm closed; the desktop and the dock kept"
