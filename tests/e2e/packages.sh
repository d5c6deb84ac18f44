#!/usr/bin/env bash
# Checks the Debian packages that scripts/package built (in build/deb/, or
# the folder given): their version agrees with the sources, each holds exactly
# its own files, the command line's dependencies pull in no GTK+, GDK or X
# library, the unpacked programs start, and, as root, installing and purging
# them in a throw-away copy of this system leaves nothing of theirs behind.
# Exit status: 0 when every check passed.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"

version=$(dpkg-parsechangelog -l "$QUELLON_ROOT/debian/changelog" -S Version) || exit 1
arch=$(dpkg --print-architecture)

# PROGRAM --version must print the packages' version, with no display and
# no CUPS scheduler to talk to.
starts() {
    local program=$1 output
    output=$(env -u DISPLAY timeout 20 "$program" --version 2>&1) &&
        grep -qF "$version" <<<"$output" && return 0
    say "packages: '$program --version' did not print the version $version: $output"
    return 1
}

# Run by the check below in a mount namespace of its own: lays a tmpfs-backed
# overlay over /, installs the packages there with dpkg and purges them again,
# then looks at what the overlay's upper layer kept. The real system is never
# written to; the overlay goes when the namespace ends.
if [ "${1:-}" = --inside-namespace ]; then
    dir=$2 quellon_deb=$3 quellonctl_deb=$4
    mount -t tmpfs quellon-packages "$dir" || exit 1
    mkdir "$dir/upper" "$dir/work" "$dir/root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$dir/upper,workdir=$dir/work" "$dir/root" &&
        mount --rbind /dev "$dir/root/dev" && mount -t proc proc "$dir/root/proc" &&
        # An empty /run: no CUPS scheduler is reachable, as on a machine where
        # it is stopped or absent.
        mount -t tmpfs run "$dir/root/run" && mount -t tmpfs tmp "$dir/root/tmp" || exit 1
    cp "$quellon_deb" "$quellonctl_deb" "$dir/root/tmp/"
    # man-db's trigger would index every manual page of the system: minutes,
    # and nothing this check looks at.
    rm -f "$dir/root/var/lib/man-db/auto-update"
    in_root() { chroot "$dir/root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C "$@"; }
    starts_in_root() { in_root bash -c "$(declare -f say starts); version=$version; starts $1"; }
    run_dpkg() {
        in_root dpkg "$@" >>"$dir/dpkg.log" 2>&1 && return 0
        cat "$dir/dpkg.log"
        say "packages: dpkg $* failed"
        exit 1
    }
    status=0
    # The command line alone first, as a print server installs it.
    run_dpkg -i "/tmp/${quellonctl_deb##*/}"
    starts_in_root quellonctl || status=1
    # The plugin where the monitoring systems look, and it knows its name.
    [[ $(in_root /usr/lib/nagios/plugins/check_quellon --version 2>&1) == "check_quellon $version"* ]] ||
        { say "packages: /usr/lib/nagios/plugins/check_quellon does not answer as the plugin"; status=1; }
    # Ansible, where this system has it, finds the modules without being told.
    if [ -x "$dir/root/usr/bin/ansible-doc" ]; then
        for module in quellon_timer quellon_timer_info; do
            in_root env LANG=C.UTF-8 HOME=/tmp ansible-doc "$module" 2>&1 |
                grep -q "^> ${module^^} " ||
                { say "packages: ansible-doc does not find $module"; status=1; }
        done
    fi
    run_dpkg -i "/tmp/${quellon_deb##*/}"
    starts_in_root quellon || status=1
    run_dpkg --purge quellon quellonctl
    # What the upper layer holds under /usr and /etc that the system did not
    # have before was left behind; a whiteout is a file of the system that
    # the packages took away. Files the system had and the triggers of other
    # packages rewrote (icon and menu caches) are theirs, not ours.
    while IFS= read -r -d '' path; do
        rel=${path#"$dir/upper"}
        if [ -c "$path" ]; then
            say "packages: installing and purging them removed $rel"
            status=1
        elif [ ! -e "$rel" ] && [ ! -L "$rel" ]; then
            say "packages: purging them left $rel"
            status=1
        fi
    done < <(find "$dir/upper/usr" "$dir/upper/etc" -mindepth 1 -print0 2>/dev/null)
    exit "$status"
fi

out=${1:-$QUELLON_ROOT/build/deb}
quellon_deb="$out/quellon_${version}_${arch}.deb"
quellonctl_deb="$out/quellonctl_${version}_${arch}.deb"
failed=0
fail() { say "packages: $*"; failed=1; }

for deb in "$quellon_deb" "$quellonctl_deb"; do
    [ -f "$deb" ] || { say "packages: no $deb (scripts/package builds it)"; exit 1; }
done

# The package version, the program's and the AppStream release must move
# together.
cmake_version=$(sed -nE 's/^project\(quellon VERSION ([0-9.]+).*/\1/p' "$QUELLON_ROOT/CMakeLists.txt")
release=$(grep -m1 -oE '<release version="[^"]+"' "$QUELLON_ROOT"/data/*.metainfo.xml.in | cut -d'"' -f2)
[ "${version%-*}" = "$cmake_version" ] ||
    fail "debian/changelog is at $version, CMakeLists.txt at $cmake_version"
[ "$release" = "$cmake_version" ] ||
    fail "the AppStream metadata's newest release is $release, CMakeLists.txt's version $cmake_version"

# Exactly these files, each in one package: so nothing lands under
# /usr/local, nothing is shipped twice, and nothing is left out.
expected_quellon="/usr/bin/quellon
/usr/share/applications/quellon.desktop
/usr/share/icons/hicolor/scalable/apps/quellon.svg
/usr/share/man/man1/quellon.1.gz
/usr/share/metainfo/org.quellon.Quellon.metainfo.xml"
expected_quellonctl="/usr/bin/quellonctl
/usr/lib/nagios/plugins/check_quellon
/lib/systemd/system/quellonctl-apply.service
/lib/systemd/system/quellonctl-apply.timer
/usr/share/ansible/plugins/module_utils/quellonctl.py
/usr/share/ansible/plugins/modules/quellon_timer.py
/usr/share/ansible/plugins/modules/quellon_timer_info.py
/usr/share/bash-completion/completions/quellonctl
/usr/share/doc/quellonctl/examples/check_quellon.cfg
/usr/share/doc/quellonctl/examples/check_quellon.conf
/usr/share/doc/quellonctl/examples/policy.example
/usr/share/doc/quellonctl/examples/quellonctl-apply-metrics.conf
/usr/share/man/man1/quellonctl.1.gz
$(grep -v '^#' "$QUELLON_ROOT/po/LINGUAS" | sed 's|.*|/usr/share/locale/&/LC_MESSAGES/quellon.mo|')"
for pkg in quellon quellonctl; do
    deb="$out/${pkg}_${version}_${arch}.deb"
    expected="expected_$pkg"
    differences=$(diff <(printf '%s\n/usr/share/doc/%s/changelog.gz\n/usr/share/doc/%s/copyright\n' \
                                "${!expected}" "$pkg" "$pkg" | sort) \
                       <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort))
    [ -z "$differences" ] ||
        fail "$pkg does not hold exactly its files (<: missing, >: not its own):"$'\n'"$differences"
done

# What installing the command line pulls in, all the way down.
depends=$(dpkg-deb -f "$quellonctl_deb" Pre-Depends Depends | sed -E 's/^[A-Za-z-]+: //' |
          tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/:any//; s/ //g' | grep -v '^$' | sort -u)
graphical=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                --no-replaces --no-enhances $depends | grep -E '^<?(libgtk|libgdk|libx11|libxcb)' |
            sort -u)
[ -z "$graphical" ] || fail "quellonctl's dependencies pull in $(tr '\n' ' ' <<<"$graphical")"

# The desktop package's translated texts (the validators' checks are in
# scripts/package).
unpacked=$(mktemp -d) overlay=$(mktemp -d)
trap 'rm -rf "$unpacked" "$overlay"' EXIT
dpkg-deb -x "$quellon_deb" "$unpacked"
dpkg-deb -x "$quellonctl_deb" "$unpacked"
grep -q '^Name\[ja\]=' "$unpacked/usr/share/applications/quellon.desktop" ||
    fail "the menu entry has no Japanese name"
grep -q '<summary xml:lang="ja">' "$unpacked"/usr/share/metainfo/*.metainfo.xml ||
    fail "the AppStream metadata has no Japanese summary"

starts "$unpacked/usr/bin/quellonctl" || failed=1
[ "$(readlink "$unpacked/usr/lib/nagios/plugins/check_quellon")" = ../../../bin/quellonctl ] ||
    fail "check_quellon is not a relative link to quellonctl"
starts "$unpacked/usr/bin/quellon" || failed=1

if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    say "packages: not root, so installing and purging them is not checked"
elif dpkg-query -W -f='${db:Status-Abbrev}\n' quellon quellonctl 2>/dev/null | grep -qv '^un'; then
    say "packages: quellon or quellonctl is installed here, so purging them is not checked"
else
    unshare --mount --propagation private "$0" --inside-namespace "$overlay" \
        "$quellon_deb" "$quellonctl_deb" || failed=1
fi

[ "$failed" -eq 0 ] && say "packages: all checks passed"
exit "$failed"
