#!/usr/bin/env bash
# Builds Zentrova and installs it: the programs into /opt/zentrova, the menu
# entry and icon where the desktop finds them, a "Zentrova" folder with
# launchers on the desktop of the user who asked, the group whose members may
# run the drive helper, and the receipt that lists every installed path, the
# folders and the group this install made (the uninstaller's installed-or-not
# test and its list of what to undo).
#
# Run as yourself; the install part asks for root through sudo. DESTDIR
# installs everything under another root instead (no root needed, no group).
# It builds the product alone, without the tests, in build-product/.
# ZENTROVA_SKIP_BUILD=1 installs an existing build from BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build-product}"
root="${DESTDIR:-}"
root="${root%/}"

# The Debian package's files are apt's to replace and remove: an install of
# this script over them would leave both with a wrong list of what is there.
refuse_over_package() {
    echo "install.sh: Zentrova is installed here with the Debian package zentrova," \
        "and apt keeps, upgrades and removes its files; remove it first with: sudo apt remove zentrova" >&2
    exit 1
}
if [ -z "$root" ]; then
    case "$(dpkg-query -W -f='${db:Status-Status}' zentrova 2>/dev/null)" in
    "" | not-installed | config-files) ;;
    *) refuse_over_package ;;
    esac
fi

if [ "${ZENTROVA_SKIP_BUILD:-0}" != 1 ]; then
    scripts/deps.sh product
    cmake --preset product -B "$build_dir"
    cmake --build "$build_dir" -j "$(nproc)"
fi
if [ -z "$root" ] && [ "$(id -u)" -ne 0 ]; then
    exec sudo env ZENTROVA_SKIP_BUILD=1 BUILD_DIR="$build_dir" "$0"
fi

# Every path comes from the programs' own layout table.
declare -A at
while IFS='=' read -r key value; do
    at[$key]="$value"
done < <("$build_dir/share/desktop/zentrova_layout_paths" ${root:+"$root"})

[ ! -e "${at[package_marker]}" ] || refuse_over_package

# The uninstall launcher runs the uninstaller through pkexec.
if [ -z "$root" ] && ! command -v pkexec >/dev/null; then
    echo "install.sh: pkexec is missing (Debian package pkexec); the uninstall launcher needs it" >&2
    exit 1
fi

receipt="${at[receipt]}"
group="${at[group]}"
# What an earlier install made is still this installation's to undo.
made=()
if [ -f "$receipt" ]; then
    mapfile -t made < <(grep -E '^(Group|Folder): ' "$receipt" || true)
fi
# Makes a folder and its missing parents, noting each one it made, parents
# first, so that the uninstaller removes those it leaves empty and no others.
# A command given after the folder runs mkdir (as_user).
make_folder() { # folder [command...]
    local dir=$1 missing=()
    while [ "$dir" != "$root" ] && [ ! -d "$dir" ]; do
        missing=("$dir" "${missing[@]}")
        dir=$(dirname "$dir")
    done
    "${@:2}" mkdir -p "$1" || return
    for dir in "${missing[@]}"; do
        made+=("Folder: ${dir#"$root"}")
    done
}

# The drive helper's group exists before the helper is installed: it is
# given the group first and its capabilities after.
if [ -n "$root" ]; then
    echo "install.sh: no group $group in a staged install (DESTDIR)"
elif ! getent group "$group" >/dev/null; then
    groupadd --system "$group"
    made+=("Group: $group")
fi
if [ -z "$root" ] && [ "$(id -u "${at[user]}")" -ne 0 ] &&
    ! id -nG "${at[user]}" | tr ' ' '\n' | grep -qxF "$group"; then
    usermod -a -G "$group" "${at[user]}"
    echo "install.sh: ${at[user]} may read the drives once logged out and logged in again (group $group)"
fi

make_folder "$(dirname "${at[bundle]}")"
DESTDIR="$root" cmake --install "$build_dir" --prefix "${at[bundle]#"$root"}"
# The build tree stays its owner's, also after an install through sudo; a
# link there is the link's to own, not what it points at.
chown -h --reference="$build_dir" "$build_dir/install_manifest.txt"
bundle="${at[bundle]}"

installed=()
while IFS= read -r path || [ -n "$path" ]; do
    installed+=("${path#"$root"}")
done < "$build_dir/install_manifest.txt"

copy() { # source destination mode
    make_folder "$(dirname "$2")"
    install -m "$3" "$1" "$2"
    installed+=("${2#"$root"}")
}
copy "$bundle/share/applications/zentrova.desktop" "${at[menu_entry]}" 644
for icon in ${at[icons]}; do # each size, as "16x16/apps/zentrova.png"
    copy "$bundle/share/icons/hicolor/$icon" "${at[icon_theme]}/$icon" 644
done
copy "$bundle/share/polkit-1/actions/org.zentrova.uninstall.policy" "${at[policy]}" 644
# The headless service's unit and its system user, installed but not
# enabled (sudo systemctl enable --now zentrova).
copy "$bundle/share/systemd/zentrova.service" "$root/lib/systemd/system/zentrova.service" 644
copy "$bundle/share/systemd/zentrova-service.conf" "$root/usr/lib/sysusers.d/zentrova-service.conf" 644
if [ -z "$root" ] && command -v systemd-sysusers >/dev/null; then
    systemd-sysusers zentrova-service.conf ||
        echo "install.sh: systemd-sysusers failed: zentrova.service has no user yet" >&2
fi

# The desktop folder's path is the user's to shape (user-dirs.dirs, links in
# the home): the user makes it and its launchers, so that it lands only where
# the user may write and belongs to the user. A staged install has no user.
as_user() {
    if [ -n "$root" ]; then "$@"; else runuser -u "${at[user]}" -- "$@"; fi
}
desktop="${at[desktop]}"
make_folder "$(dirname "$desktop")" as_user && as_user mkdir -p "$desktop" || {
    echo "install.sh: ${at[user]} may not make $desktop; mend that and install again" >&2
    exit 1
}
for launcher in "zentrova.desktop:Zentrova.desktop" "zentrova-uninstall.desktop:Uninstall Zentrova.desktop"; do
    as_user install -m 755 "$bundle/share/applications/${launcher%%:*}" "$desktop/${launcher#*:}"
    installed+=("${desktop#"$root"}/${launcher#*:}")
done
installed+=("${desktop#"$root"}")

make_folder "$(dirname "$receipt")"
{
    echo "Version: ${at[version]}"
    echo "Installed: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
    [ ${#made[@]} -eq 0 ] || printf '%s\n' "${made[@]}" | awk '!seen[$0]++'
    printf 'Path: %s\n' "${installed[@]}"
} > "$receipt.tmp"
sync "$receipt.tmp"
mv -f "$receipt.tmp" "$receipt"

# Only caches that are there already: one made here would outlive the uninstall.
refresh() { # cache program arguments...
    [ -e "$1" ] && command -v "$2" >/dev/null || return 0
    "${@:2}" || echo "install.sh: $2 failed: $1 may not show Zentrova yet" >&2
}
refresh "${at[applications]}/mimeinfo.cache" update-desktop-database -q "${at[applications]}"
refresh "${at[icon_theme]}/icon-theme.cache" gtk-update-icon-cache -q -t -f "${at[icon_theme]}"
echo "Zentrova ${at[version]} installed in $bundle; remove it with \"Uninstall Zentrova\" in $desktop."
