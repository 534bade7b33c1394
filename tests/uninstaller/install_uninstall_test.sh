#!/usr/bin/env bash
# Installs into a scratch root with DESTDIR, checks the menu entries and the
# receipt, then uninstalls: every path of the receipt is gone, nothing else.
set -euo pipefail
src=$1 build=$2 driver=$3
command -v desktop-file-validate >/dev/null || { echo "SKIPPED: desktop-file-validate is missing"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$root ZENTROVA_SKIP_BUILD=1 BUILD_DIR=$build "$src/scripts/install.sh" >"$tmp/install.log"
declare -A at
while IFS='=' read -r key value; do at[$key]=$value; done < <("$build/share/desktop/zentrova_layout_paths" "$root")
receipt=${at[receipt]}
[ -f "$receipt" ] || fail "no receipt"
grep -qx "Version: [0-9.]*" "$receipt" || fail "no version in the receipt"
grep -q "^Installed: " "$receipt" || fail "no install time in the receipt"
desktop-file-validate "${at[menu_entry]}" "${at[desktop]}"/*.desktop || fail "invalid .desktop file"
mapfile -t paths < <(sed -n 's/^Path: //p' "$receipt")
for p in "${at[bundle]}/bin/zentrova" "${at[bundle]}/bin/zentrova-uninstall" "${at[menu_entry]}" "${at[icon]}" "${at[policy]}"; do
    printf '%s\n' "${paths[@]}" | grep -qxF "${p#"$root"}" || fail "receipt lacks $p"
done

# Bystanders beside every installed place, and the monitor's data folder.
for p in opt/other/tool usr/share/applications/other.desktop usr/share/icons/hicolor/256x256/apps/other.png \
         usr/share/polkit-1/actions/other.policy var/lib/zentrova/other; do
    mkdir -p "$(dirname "$root/$p")" && touch "$root/$p"
done
touch "$(dirname "${at[desktop]}")/notes.txt"
mkdir -p "${at[data]}" && touch "${at[data]}/SMARTLog0"
(cd "$root" && find . -mindepth 1 | sed 's/^\.//' | sort) >"$tmp/before"

ZENTROVA_TEST_ROOT=$root QT_QPA_PLATFORM=offscreen DISPLAY= "$driver" >"$tmp/panels"
grep -qx "panel: Uninstall process completed successfully" "$tmp/panels" || fail "no success: $(cat "$tmp/panels")"
for p in "${paths[@]}"; do
    [ -e "$root$p" ] || [ -L "$root$p" ] && fail "left behind: $p"
done
(cd "$root" && find . -mindepth 1 | sed 's/^\.//' | sort) >"$tmp/after"
# Whatever went is in the receipt, the receipt itself, the data folder or a folder of the bundle.
while IFS= read -r gone; do
    case "$gone" in
        "${at[bundle]#"$root"}"|"${at[bundle]#"$root"}"/*|"${receipt#"$root"}"|"${at[data]#"$root"}"|"${at[data]#"$root"}"/*) ;;
        *) printf '%s\n' "${paths[@]}" | grep -qxF "$gone" || fail "removed what was not installed: $gone" ;;
    esac
done < <(comm -23 "$tmp/before" "$tmp/after")
[ "$(comm -13 "$tmp/before" "$tmp/after")" = "" ] || fail "new files appeared"
echo "installed $(( ${#paths[@]} )) paths, all removed, bystanders kept"
