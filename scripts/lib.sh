# Shared by scripts/demo, scripts/tour.sh and scripts/test: package
# installation, builds, waiting, and the clean-up of every process a run
# started.

QUELLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building the program needs (appstream: the rules that translate the
# AppStream metadata); debian/control's Build-Depends name the same.
BUILD_PACKAGES=(g++ make cmake pkg-config gettext appstream libgtk2.0-dev libcups2-dev)
# What running it needs on top. libgail-common holds the toolkit's half of
# what a screen reader reads; libgtk2.0-0 only recommends it, and nothing
# here installs recommendations.
RUN_PACKAGES=("${BUILD_PACKAGES[@]}" cups-daemon cups-client xvfb xauth x11-utils xdotool
              openbox imagemagick fonts-dejavu-core locales procps libgail-common)
# What building the Debian packages and checking them adds (dpkg-buildpackage
# wants build-essential, whatever debian/control names).
PACKAGING_TOOLS=(build-essential debhelper dpkg-dev lintian desktop-file-utils)
PACKAGE_PACKAGES=("${BUILD_PACKAGES[@]}" "${PACKAGING_TOOLS[@]}")
# What the tests, the sanitizer build, the fuzzers, the benchmarks and the
# package checks add (systemd for systemd-analyze, which checks the units;
# ansible-core runs the Ansible modules; prometheus for promtool, which checks
# the metrics, and prometheus-node-exporter, which serves them); the last
# line is the screen reader's
# side: the bridge, the accessibility bus and the python bindings the
# accessibility test reads the windows with, on a session bus of its own.
TEST_PACKAGES=("${RUN_PACKAGES[@]}" "${PACKAGING_TOOLS[@]}" libgtest-dev libbenchmark-dev
               valgrind clang clang-format libclang-rt-14-dev man-db groff-base systemd ansible-core
               prometheus prometheus-node-exporter
               libatk-adaptor at-spi2-core python3 python3-pyatspi dbus dbus-bin)

say() { printf 'quellon: %s\n' "$*"; }

# Installs the packages that are missing; silent when all are there.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        say "missing Debian packages: ${missing[*]} (run as root, or install them first)"
        return 1
    fi
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# wait_for WHAT SECONDS COMMAND...: polls COMMAND until it succeeds; says
# what it gave up on after SECONDS.
wait_for() {
    local what=$1 seconds=$2; shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        if [ $SECONDS -ge $deadline ]; then
            say "gave up waiting for $what after ${seconds}s"
            return 1
        fi
        sleep 0.05
    done
}

# junit_counts FILE: "passed failed skipped" from ctest's JUnit report. A test
# ctest could not start is "notrun" like a deliberate skip; only a skip carries
# a SKIP_ reason, so anything else not run counts as failed, as ctest does.
junit_counts() {
    awk '
        /<testcase /   { status = $0; sub(/.*status="/, "", status); sub(/".*/, "", status)
                         if (status == "run") p++; else if (status == "fail") f++
                         else if (status == "notrun") pending = 1
                         next }
        pending && /<skipped message="SKIP_/ { s++; pending = 0; next }
        pending && /<\/testcase>|<skipped / { f++; pending = 0 }
        END { printf "%d %d %d\n", p, f, s }' "$1"
}
# configure_and_build DIR [cmake options...] [-- targets...]: everything
# unless targets are named.
configure_and_build() {
    local dir=$1; shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift && targets=(--target "$@")
    mkdir -p "$dir"
    cmake -S "$QUELLON_ROOT" -B "$dir" -Wno-dev "${options[@]}" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log"
        say "configuring $dir failed"
        return 1
    }
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >"$dir/build.log" 2>&1 || {
        grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 80
        say "build in $dir failed (full log: $dir/build.log)"
        return 1
    }
}

# Every process started during a run carries this marker in its environment,
# so that a run can end exactly what it started, however it was interrupted.
QUELLON_RUN_ID="${QUELLON_RUN_ID:-run-$$-$RANDOM}"
export QUELLON_RUN_ID

stop_run_processes() {
    local pid sig
    for sig in TERM KILL; do
        for pid in $(grep -l -z -s -x "QUELLON_RUN_ID=$QUELLON_RUN_ID" /proc/[0-9]*/environ |
                     cut -d/ -f3); do
            [ "$pid" = "$$" ] || kill -"$sig" "$pid" 2>/dev/null || true
        done
        [ "$sig" = TERM ] && sleep 0.3
    done
    return 0
}
