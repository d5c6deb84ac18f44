#!/usr/bin/env bash
# The systemd units as built: `systemd-analyze verify` finds nothing to say
# about them, and the service keeps its hardening, also with the metrics
# switched on by the example drop-in. Only ExecStart's program
# changes, to the built quellonctl, and the manual page the units name is
# the built one.
# Usage: systemd_units_test.sh BUILD_DIR
set -uo pipefail
build=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/man/man1"
cp "$build/man/quellonctl.1" "$dir/man/man1/" || exit 1
cp "$build/data/systemd/quellonctl-apply.timer" "$dir/" || exit 1
sed -E "s|^ExecStart=/[^ ]*/quellonctl |ExecStart=$build/quellonctl/quellonctl |" \
    "$build/data/systemd/quellonctl-apply.service" >"$dir/quellonctl-apply.service"
# The metrics' options come in as a word of their own, unbraced: unset, it is
# no argument at all ("${...}" would be an empty one).
grep -q "^ExecStart=$build/quellonctl/quellonctl -q \$QUELLONCTL_METRICS apply /" \
    "$dir/quellonctl-apply.service" ||
    { echo "the service runs no 'quellonctl -q \$QUELLONCTL_METRICS apply' of an absolute path"; exit 1; }

# verify DROPIN THRESHOLD: as shipped, then with the metrics switched on by
# the example drop-in. systemd's exposure score (0 to 10, given in tenths)
# must stay near the 1.1 the service has: a hardening setting lost shows here.
verify() {
    local said status
    said=$(MANPATH="$dir/man" systemd-analyze verify "$dir"/quellonctl-apply.{service,timer} 2>&1)
    status=$?
    [ "$status" -eq 0 ] && [ -z "$said" ] ||
        { echo "systemd-analyze verify${1:+ with $1}: $status"$'\n'"$said"; exit 1; }
    systemd-analyze security --offline=true --threshold="$2" "$dir/quellonctl-apply.service" >/dev/null ||
        { systemd-analyze security --offline=true "$dir/quellonctl-apply.service"; exit 1; }
}
verify "" 15
mkdir "$dir/quellonctl-apply.service.d"
cp "$(dirname "$0")/../../data/systemd/quellonctl-apply-metrics.conf" \
    "$dir/quellonctl-apply.service.d/metrics.conf" || exit 1
verify "the metrics drop-in" 16
