#!/usr/bin/env bash
# Builds Zentrova and installs it: the programs into /opt/zentrova, the menu
# entry and icon where the desktop finds them, a "Zentrova" folder with
# launchers on the desktop of the user who asked, and the receipt that lists
# every installed path (the uninstaller's installed-or-not test).
#
# Run as yourself; the install part asks for root through sudo. DESTDIR
# installs everything under another root instead (no root needed).
# ZENTROVA_SKIP_BUILD=1 installs an existing build from BUILD_DIR (build/).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
root="${DESTDIR:-}"

if [ "${ZENTROVA_SKIP_BUILD:-0}" != 1 ]; then
    scripts/deps.sh
    cmake --preset default
    cmake --build --preset default -j "$(nproc)"
fi
if [ -z "$root" ] && [ "$(id -u)" -ne 0 ]; then
    exec sudo env ZENTROVA_SKIP_BUILD=1 BUILD_DIR="$build_dir" "$0"
fi

# Every path comes from the programs' own layout table.
declare -A at
while IFS='=' read -r key value; do
    at[$key]="$value"
done < <("$build_dir/share/desktop/zentrova_layout_paths" ${root:+"$root"})

DESTDIR="$root" cmake --install "$build_dir" --prefix "${at[bundle]#"$root"}"
# The build tree stays its owner's, also after an install through sudo.
chown --reference="$build_dir" "$build_dir/install_manifest.txt"
bundle="${at[bundle]}"

installed=()
while IFS= read -r path || [ -n "$path" ]; do
    installed+=("${path#"$root"}")
done < "$build_dir/install_manifest.txt"

copy() { # source destination mode
    install -D -m "$3" "$1" "$2"
    installed+=("${2#"$root"}")
}
copy "$bundle/share/applications/zentrova.desktop" "${at[menu_entry]}" 644
copy "$bundle/share/icons/hicolor/256x256/apps/zentrova.png" "${at[icon]}" 644
copy "$bundle/share/polkit-1/actions/org.zentrova.uninstall.policy" "${at[policy]}" 644

desktop="${at[desktop]}"
# A desktop folder made here belongs to its user, not to root.
if [ ! -d "$(dirname "$desktop")" ]; then
    mkdir -p "$(dirname "$desktop")"
    [ -n "$root" ] || chown "${at[user]}:" "$(dirname "$desktop")"
fi
copy "$bundle/share/applications/zentrova.desktop" "$desktop/Zentrova.desktop" 755
copy "$bundle/share/applications/zentrova-uninstall.desktop" "$desktop/Uninstall Zentrova.desktop" 755
installed+=("${desktop#"$root"}")
if [ -z "$root" ]; then
    chown -R "${at[user]}:" "$desktop"
fi

receipt="${at[receipt]}"
mkdir -p "$(dirname "$receipt")"
{
    echo "Version: ${at[version]}"
    echo "Installed: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
    printf 'Path: %s\n' "${installed[@]}"
} > "$receipt.tmp"
sync "$receipt.tmp"
mv -f "$receipt.tmp" "$receipt"

if [ -z "$root" ]; then
    command -v update-desktop-database >/dev/null && update-desktop-database -q /usr/share/applications || true
    command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t /usr/share/icons/hicolor || true
fi
echo "Zentrova ${at[version]} installed in $bundle; remove it with \"Uninstall Zentrova\" in $desktop."
