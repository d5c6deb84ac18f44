#!/usr/bin/env bash
# tour.sh PROGRAM STATE SIM_LOG QUEUES OUT
#
# The demo's tour: plays Quellon on a virtual X server the way a user would
# work it, keyboard only, each step waited for on the screen, never by time.
#   PROGRAM  the quellon binary
#   STATE    the daemon simulator's state file, where a written timer shows
#   SIM_LOG  the daemon simulator's log
#   QUEUES   the demo queue list (data/demo/queues): which queues the window lists
#   OUT      folder for a screenshot of each step and the logs of the program,
#            the X server and the window manager
# The program gets the environment the tour was given: CUPS_SERVER and
# ZELD_PORT lead it to the demo's scheduler and simulator.
# When a step fails, the tour names it, shows what is on the screen instead
# (every window's title, a screenshot of each) and the end of the program's
# and the simulator's logs, and exits with status 1.
set -uo pipefail
. "$(dirname "$0")/lib.sh"

[ $# -eq 5 ] || { echo "usage: tour.sh PROGRAM STATE SIM_LOG QUEUES OUT" >&2; exit 2; }
program=$1 state=$2 sim_log=$3 queues=$4 out=$5

TOUR_TIMEOUT=20
# The simulator gives this printer a firmware too old for the setting.
OLD_FIRMWARE_QUEUE=Brelko-M240C-Old

# Everything the tour starts ends with it, whichever way it leaves.
started=()
trap 'for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done' EXIT

current_step="begin"
step() {
    current_step=$1
    say "step: $1"
}

# fail WHY: names the failing step, shows what is there instead, ends the tour.
fail() {
    say "step \"$current_step\" failed: $1"
    show_screen
    show_log "the program's log" "$out/quellon.log"
    show_log "the daemon simulator's log" "$sim_log"
    exit 1
}

# Titles and pictures of the windows up now: a warning's text is in its picture.
show_screen() {
    [ -n "${DISPLAY:-}" ] || return 0
    import -window root "$out/failed-screen.png" 2>/dev/null &&
        say "the whole screen: $out/failed-screen.png"
    local id n=0
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        n=$((n + 1))
        say "window on the screen: \"$(xdotool getwindowname "$id")\"," \
            "picture: $out/failed-window-$n.png"
        import -window "$id" "$out/failed-window-$n.png" 2>/dev/null
    done
    [ "$n" -gt 0 ] || say "no window on the screen"
}

# show_log WHAT FILE: the end of a log, cut to the width of a terminal.
show_log() {
    if [ -s "$2" ]; then
        say "$1 ($2) ends with:"
        tail -n 8 "$2" | cut -c 1-160 | sed 's/^/    /'
    else
        say "$1 ($2) is empty"
    fi
}

start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp \
        3>"$out/display" 2>"$out/xvfb.log" &
    started+=($!)
    wait_for "the X server" "$TOUR_TIMEOUT" test -s "$out/display" || return 1
    export DISPLAY=":$(head -n 1 "$out/display")"
    # A window manager, so that focus and close requests behave as on a desktop.
    openbox --sm-disable >"$out/openbox.log" 2>&1 &
    started+=($!)
    wait_for "the window manager" "$TOUR_TIMEOUT" xprop -root _NET_SUPPORTING_WM_CHECK
}

# find_window TITLE: prints the id of the visible window with that title.
find_window() {
    timeout "$TOUR_TIMEOUT" xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1
}

window_gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# close_and_wait TITLE KEY: presses KEY and waits for the window to go.
close_and_wait() {
    xdotool key "$2"
    wait_for "\"$1\" to close" "$TOUR_TIMEOUT" window_gone "$1" ||
        fail "\"$1\" stayed open after $2"
}

# expect_window TITLE: waits for the window and puts its id in $window, or
# fails the step.
expect_window() {
    window=$(find_window "$1") && [ -n "$window" ] && return 0
    fail "no window \"$1\" appeared within ${TOUR_TIMEOUT}s"
}

shot() {
    import -window root "$out/$1.png" && say "  $out/$1.png: $2"
}

# The queues the window lists, in the scheduler's order (which is the list's).
listed_queues() {
    lpstat -e | grep -F -x -f <(awk '$1 !~ /^#/ && $3 == "listed" { print $1 }' "$queues")
}

# The timer the simulator stored for QUEUE, empty before the first write.
timer_value() { awk -v q="$1" '$1 == q { print $2 }' "$state" 2>/dev/null; }

timer_is() { [ "$(timer_value "$1")" = "$2" ]; }

stored_timer() {
    local t
    t=$(timer_value "$1")
    if [ -z "$t" ]; then
        echo "not written yet (the simulator's default)"
    elif [ $((t & 0x8000)) -ne 0 ]; then
        echo "$t (off, $((t & 0x7fff)) hours kept)"
    else
        echo "$t (on, $t hours)"
    fi
}

mkdir -p "$out" && rm -f "$out"/*.png "$out"/*.log "$out/display"

step "start a virtual X server with a window manager"
start_display || fail "see $out/xvfb.log and $out/openbox.log"
say "touring on the virtual display $DISPLAY; screenshots in $out"

step "read the listed queues from the scheduler and $queues"
listed=($(listed_queues))
[ ${#listed[@]} -gt 0 ] || fail "the scheduler has none of the queues $queues marks listed"
first=${listed[0]}
say "stored timer of $first before: $(stored_timer "$first")"

step "start Quellon: its main window appears"
"$program" >"$out/quellon.log" 2>&1 &
quellon=$!
started+=($quellon)
expect_window Quellon
main=$window
xdotool windowactivate --sync "$main"

step "select the first printer, $first"
xdotool key Down
shot 01-main-window "the printer list, the first printer ($first) selected"

step "open the settings of $first"
xdotool key Tab space
expect_window "Auto Shutdown Settings"
shot 02-settings "its auto shutdown setting as the printer reports it"

step "choose 6 hours"
# The check box has the focus; the period row is usable only while it is on.
t=$(timer_value "$first")
[ $(( ${t:-0} & 0x8000 )) -ne 0 ] && xdotool key space
# Open the period list, go to its top, then down to "6", and pick it.
xdotool key Tab space
for i in 1 2 3 4 5 6 7 8; do xdotool key Up; done
for i in 1 2 3 4 5; do xdotool key Down; done
xdotool key Return
shot 03-six-hours "switched to 6 hours"

step "OK: the printer $first stores 6 hours"
xdotool key Tab
close_and_wait "Auto Shutdown Settings" space
wait_for "the simulator to store 6 for $first" "$TOUR_TIMEOUT" timer_is "$first" 6 ||
    fail "the simulator holds $(stored_timer "$first") for $first"
say "stored timer of $first after OK: $(stored_timer "$first")"

step "open the settings of $first again"
xdotool key space
expect_window "Auto Shutdown Settings"
shot 04-reopened "opened again: the printer now reports 6 hours"
close_and_wait "Auto Shutdown Settings" Escape

step "open the settings of $OLD_FIRMWARE_QUEUE: a warning about its firmware"
row=$(printf '%s\n' "${listed[@]}" | grep -n -x -F "$OLD_FIRMWARE_QUEUE" | cut -d: -f1)
[ -n "$row" ] || fail "$queues does not list $OLD_FIRMWARE_QUEUE"
# Back to the list, to its top, then down to the row.
xdotool key shift+Tab Home
for ((i = 1; i < row; i++)); do xdotool key Down; done
xdotool key Tab space
expect_window Warning
shot 05-firmware-warning "$OLD_FIRMWARE_QUEUE: its firmware is too old for the setting"
close_and_wait Warning Return

step "Escape on the main window ends Quellon"
xdotool windowactivate --sync "$main" key Escape
wait_for "Quellon to end" "$TOUR_TIMEOUT" bash -c "! kill -0 $quellon" ||
    fail "Quellon still runs"
wait "$quellon"
status=$?
say "stored timer of $first at the end: $(stored_timer "$first")"
[ "$status" -eq 0 ] || fail "Quellon ended with status $status"
say "tour done: Quellon ended with status 0"
