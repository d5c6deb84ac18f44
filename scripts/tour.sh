# The demo's tour, played on a virtual X server the way a user would work the
# program: keyboard only, each step waited for on the screen, never by time.
# Sourced by scripts/demo, which has started CUPS and the simulator.

TOUR_TIMEOUT=20

start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp \
        3>"$run/display" 2>"$run/xvfb.log" &
    wait_for "the X server" "$TOUR_TIMEOUT" test -s "$run/display" || return 1
    export DISPLAY=":$(head -n 1 "$run/display")"
    # A window manager, so that focus and close requests behave as on a desktop.
    openbox --sm-disable >"$run/openbox.log" 2>&1 &
    wait_for "the window manager" "$TOUR_TIMEOUT" xprop -root _NET_SUPPORTING_WM_CHECK
}

# find_window TITLE: prints the id of the visible window with that title.
find_window() {
    timeout "$TOUR_TIMEOUT" xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1
}

window_gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

shot() {
    import -window root "$shots/$1.png" && say "  $shots/$1.png: $2"
}

# The timer the simulator stored for QUEUE, empty before the first write.
timer_value() { awk -v q="$1" '$1 == q { print $2 }' "$tour_state" 2>/dev/null; }

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

# Position of QUEUE among the listed (supported) queues, in CUPS's order.
list_row() {
    lpstat -e | grep -v -x -e 'Brelko-M900' -e 'brelko-m220-lower' | grep -n -x "$1" | cut -d: -f1
}

run_tour() {
    local program=$1 main settings warn i first
    tour_state=$2
    shots="$QUELLON_ROOT/build/demo-screenshots"
    rm -rf "$shots" && mkdir -p "$shots"
    start_display || return 1
    first=$(lpstat -e | grep -v -x -e 'Brelko-M900' -e 'brelko-m220-lower' | head -n 1)
    say "no \$DISPLAY: touring on the virtual display $DISPLAY; screenshots in $shots"
    say "stored timer of $first before: $(stored_timer "$first")"

    "$program" >"$run/quellon.log" 2>&1 &
    local pid=$!
    main=$(find_window Quellon) || { say "the main window did not appear"; return 1; }
    xdotool windowactivate --sync "$main"
    xdotool key Down
    shot 01-main-window "the printer list, the first printer ($first) selected"

    xdotool key Tab space
    settings=$(find_window "Auto Shutdown Settings") || return 1
    shot 02-settings "its auto shutdown setting as the printer reports it"
    # The check box has the focus; the period row is usable only while it is on.
    local t
    t=$(timer_value "$first")
    [ $(( ${t:-0} & 0x8000 )) -ne 0 ] && xdotool key space
    # Open the period list, go to its top, then down to "6", and pick it.
    xdotool key Tab space
    for i in 1 2 3 4 5 6 7 8; do xdotool key Up; done
    for i in 1 2 3 4 5; do xdotool key Down; done
    xdotool key Return
    shot 03-six-hours "switched to 6 hours"
    xdotool key Tab space
    wait_for "the settings dialog to close" "$TOUR_TIMEOUT" window_gone "Auto Shutdown Settings" ||
        return 1
    say "stored timer of $first after OK: $(stored_timer "$first")"

    xdotool key space
    settings=$(find_window "Auto Shutdown Settings") || return 1
    shot 04-reopened "opened again: the printer now reports 6 hours"
    xdotool key Escape
    wait_for "the settings dialog to close" "$TOUR_TIMEOUT" window_gone "Auto Shutdown Settings" ||
        return 1

    # Back to the list, down to the printer whose firmware is too old.
    xdotool key shift+Tab Home
    for ((i = 1; i < $(list_row Brelko-M240C-Old); i++)); do xdotool key Down; done
    xdotool key Tab space
    warn=$(find_window Warning) || return 1
    shot 05-firmware-warning "Brelko-M240C-Old: its firmware is too old for the setting"
    xdotool key Return
    wait_for "the warning to close" "$TOUR_TIMEOUT" window_gone Warning || return 1

    xdotool windowactivate --sync "$main" key Escape
    wait_for "Quellon to end" "$TOUR_TIMEOUT" bash -c "! kill -0 $pid" || return 1
    wait "$pid"
    local status=$?
    say "Quellon ended with status $status"
    say "stored timer of $first at the end: $(stored_timer "$first")"
    return "$status"
}
