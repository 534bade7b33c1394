#!/usr/bin/env bash
# The Debian package (packaging/): usage package_test.sh MODE SOURCE BUILD
# OUT, in one of the modes
#   build    makes the package into OUT with cpack from the test build tree
#            BUILD, already built. Its install rules are the product's (the
#            tests install nothing, and only the product's components go in),
#            so no product preset is built here a second time;
#   contents its control fields and its file list;
#   scripts  the maintainer scripts: sh -n, and preinst, postinst and postrm
#            run in a scratch root with stand-ins for the group and file tools;
#   lintian  lintian on it: no errors (warnings are listed in docs/install.md).
set -euo pipefail
mode=$1 src=$2 build=$3 out=$4
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^project(Zentrova VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
deb="$out/zentrova_${version}_amd64.deb"
needs_deb() { [ -f "$deb" ] || fail "no $deb (the test package_build makes it)"; }

case $mode in
build)
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps missing (scripts/deps.sh installs dpkg-dev)"
    # Never through a mount of a chroot left behind (its /dev is the host's).
    ! grep -qF " $out/" /proc/mounts || fail "something is mounted under $out"
    rm -rf "$out" && mkdir -p "$out"
    cd "$build" && cpack -G DEB -B "$out" --config CPackConfig.cmake >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log"; fail "cpack failed"; }
    needs_deb
    ;;

contents)
    needs_deb
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)|$(field Version)|$(field Architecture)" = "zentrova|$version|amd64" ] ||
        fail "control: $(field Package) $(field Version) $(field Architecture)"
    depends=$(field Depends)
    for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 libsqlite3-0 libplist3 libcap2 \
        libseccomp2 libcap2-bin adduser; do
        [[ ", $depends," =~ [,\ ]$lib[\ ,] ]] || fail "Depends lacks $lib: $depends"
    done
    ! grep -Eqi 'gtest|gmock|googletest|benchmark|pkexec|policykit' <<<"$depends" ||
        fail "Depends names a test tool or pkexec: $depends"
    listing=$(dpkg-deb -c "$deb")
    paths=$(awk '{ sub(/^\./, "", $6); print $6 }' <<<"$listing" | sed 's,/$,,')
    has() { grep -qxF "$1" <<<"$paths" || fail "the package lacks $1"; }
    # Every path of the installed layout, as the programs name it.
    declare -A at
    while IFS='=' read -r key value; do at[$key]=$value; done < <(
        SUDO_UID=0 "$build/share/desktop/zentrova_layout_paths")
    for key in helper package_marker menu_entry icon; do has "${at[$key]}"; done
    for icon in ${at[icons]}; do has "${at[icon_theme]}/$icon"; done
    has "${at[bundle]}/bin/zentrova"
    has "${at[bundle]}/bin/zentrova-uninstall"
    has "${at[bundle]}/bin/zentrova-service"
    has /lib/systemd/system/zentrova.service
    has /usr/lib/sysusers.d/zentrova-service.conf
    for page in "$src"/share/guide/*.html "$src"/share/guide/*.css; do
        has "${at[guide]}/${page##*/}"
    done
    has /usr/share/doc/zentrova/copyright
    grep -q -- '-rwxr-x--- root/root .*/libexec/zentrova-ata$' <<<"$listing" ||
        fail "the helper is not mode 0750 and root's in the package"
    # Nothing of the tests, the build tree or scripts/install.sh's removal.
    if bad=$(grep -Ei 'test|gtest|CMakeFiles|cmake|manifest|\.o$|zentrova-uninstall\.desktop|polkit|receipt|\.pkg$' <<<"$paths"); then
        fail "the package holds $bad"
    fi
    ! grep -v -E '^/(opt/zentrova|usr/share/(applications|icons/hicolor|doc/zentrova|lintian/overrides)|lib/systemd/system|usr/lib/sysusers\.d)(/|$)|^/(opt|usr|usr/share|usr/share/(icons|doc|lintian)|lib|lib/systemd|usr/lib)?$' <<<"$paths" ||
        fail "the package installs outside its places"
    ;;

scripts)
    debian="$src/packaging/debian"
    for script in preinst postinst postrm; do
        sh -n "$debian/$script" || fail "$script: sh -n"
    done
    scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
    # Stand-ins that note each call in order; each group and user is a file.
    mkdir "$scratch/bin"
    for tool in getent addgroup chgrp chmod setcap groupdel userdel systemd-sysusers; do
        printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$tool" "$scratch" >"$scratch/bin/$tool"
    done
    echo '[ -e "${0%/*}/../$1.$2" ]' >>"$scratch/bin/getent"
    echo ': >"${0%/*}/../group.zentrova"' >>"$scratch/bin/addgroup"
    echo 'rm "${0%/*}/../group.$1"' >>"$scratch/bin/groupdel"
    echo ': >"${0%/*}/../passwd.zentrova-service"' >>"$scratch/bin/systemd-sysusers"
    echo 'rm "${0%/*}/../passwd.$1"' >>"$scratch/bin/userdel"
    chmod +x "$scratch/bin"/*
    run() { # script arguments...: its output, then the calls it made on a line each
        rm -f "$scratch/calls"
        DPKG_ROOT="$scratch/root" ZENTROVA_GETENT="$scratch/bin/getent" \
            ZENTROVA_ADDGROUP="$scratch/bin/addgroup" ZENTROVA_CHGRP="$scratch/bin/chgrp" \
            ZENTROVA_CHMOD="$scratch/bin/chmod" ZENTROVA_SETCAP="$scratch/bin/setcap" ZENTROVA_SYSUSERS="$scratch/bin/systemd-sysusers" \
            ZENTROVA_GROUPDEL="$scratch/bin/groupdel" ZENTROVA_USERDEL="$scratch/bin/userdel" sh "$debian/$1" "${@:2}" 2>&1 ||
            echo "exit $?"
        cat "$scratch/calls" 2>/dev/null || true
    }
    helper="$scratch/root/opt/zentrova/libexec/zentrova-ata"
    made="$scratch/root/var/lib/zentrova/group-made-by-package"
    join() { printf '%s\n' "$@"; }
    expect() { # what, output, expected output
        [ "$2" = "$3" ] || fail "$1: got
$2
expected
$3"
    }
    hint="zentrova: members of the group zentrova may read the drives; add one with: sudo adduser USER zentrova (it counts from the next log-in)"
    helper_calls=("chgrp zentrova $helper" "chmod 0750 $helper"
        "setcap cap_sys_rawio,cap_dac_read_search,cap_sys_admin+ep $helper"
        "getent passwd zentrova-service")
    user_made=("systemd-sysusers --root=$scratch/root zentrova-service.conf" "getent passwd zentrova-service")
    # A fresh install makes the group and notes it; the group goes on the
    # helper before its capabilities, which a change of group clears.
    expect "postinst configure, no group" "$(run postinst configure)" \
        "$(join "$hint" "getent group zentrova" "addgroup --system --quiet zentrova" "${helper_calls[@]}" "${user_made[@]}")"
    [ -f "$made" ] || fail "postinst did not note the group it made"
    # An upgrade keeps the group and its note and sets the capabilities again.
    expect "postinst configure on upgrade" "$(run postinst configure "$version")" \
        "$(join "$hint" "getent group zentrova" "${helper_calls[@]}")"
    [ -f "$made" ] || fail "the upgrade lost the note of the group"
    expect "postrm remove" "$(run postrm remove)" ""
    [ -d "$scratch/root/opt" ] || fail "postrm remove did not put back /opt, which dpkg took"
    expect "postrm purge" "$(run postrm purge)" "$(join "getent group zentrova" "groupdel zentrova" \
        "getent passwd zentrova-service" "userdel zentrova-service" "getent group zentrova-service")"
    [ ! -e "$scratch/root/var/lib/zentrova" ] || fail "purge left /var/lib/zentrova"
    # A group that was there before is not the package's to remove.
    : >"$scratch/group.zentrova"
    : >"$scratch/passwd.zentrova-service"
    run postinst configure >/dev/null
    [ ! -e "$made" ] || fail "postinst noted a group it did not make"
    expect "postrm purge, group not made" "$(run postrm purge)" ""
    # preinst: over an install of scripts/install.sh it stops and names the way out.
    expect "preinst install" "$(run preinst install)" ""
    mkdir -p "$scratch/root/var/lib/zentrova" && : >"$scratch/root/var/lib/zentrova/Install Zentrova.pkg"
    # A package removed but not purged, then scripts/install.sh: the purge
    # leaves the group that install now uses.
    rm "$scratch/group.zentrova" "$scratch/passwd.zentrova-service" && run postinst configure >/dev/null
    expect "postrm purge beside a receipt" "$(run postrm purge)" ""
    output=$(run preinst install)
    [[ "$output" == *"sudo /opt/zentrova/bin/zentrova-uninstall"*"exit 1" ]] ||
        fail "preinst over scripts/install.sh's install: $output"
    ;;

lintian)
    command -v lintian >/dev/null || skip "lintian missing (scripts/deps.sh installs it)"
    needs_deb
    # Root gets a warning of its own from lintian, which is no finding.
    report=$(lintian --fail-on error --allow-root "$deb" 2>&1) || { echo "$report"; fail "lintian found errors"; }
    echo "${report:-lintian: clean}"
    ;;
*) fail "unknown mode $mode" ;;
esac
echo "package $mode: ok"
