# What the end-to-end scripts (and tools/make-screenshots) share, sourced after `set -euo pipefail`: a scratch directory
# ($work), a virtual X server of the script's own, waiting for the game, holding its polled keys,
# failing with what shows why, and cleaning up. The script sets e2e_name before sourcing and may
# define show_failure (what to print after the message, e.g. the game's log) and more_cleanup
# (run after the game has ended and before the X server goes).
#
# The scripts wait for what they must see, never for a span of time. Their deadlines only end a
# hang: 30 s for each wait, times BREVOX_E2E_TIME_FACTOR (a whole number, default 1), which the
# sanitizer build's tests set to 3 (tests/CMakeLists.txt) and a loaded machine may raise.

time_factor=${BREVOX_E2E_TIME_FACTOR:-1}
if [[ ! $time_factor =~ ^[1-9][0-9]*$ ]]; then
    echo "$e2e_name: BREVOX_E2E_TIME_FACTOR is '$time_factor', not a whole number from 1" >&2
    exit 1
fi
wait_seconds=$((30 * time_factor))

work=$(mktemp -d)
xvfb_pid=
game_pid=
failed=

# A run of the game that the script plays records it with "${record_args[@]}". When the script
# fails, that replay and the game's log are kept in e2e-failures/NAME/ of the directory the
# script was started in (under ctest, the build's tests/ folder), or of BREVOX_E2E_KEEP:
# `brevox --replay e2e-failures/NAME/NAME.replay` shows what the game was given, and --check
# proves it plays the same game again.
record_args=(--record "$work/$e2e_name.replay")
kept_dir=${BREVOX_E2E_KEEP:-$PWD/e2e-failures}/$e2e_name
rm -rf "$kept_dir"
relay_pids=() # start_relay's, ended in the cleanup
relay_script=$(cd "$(dirname "${BASH_SOURCE[0]}")/../net" && pwd -P)/relay.py
rgb=() # the last rgb_at's means

# end_process PID: asks it to end (SIGTERM), and forces it after 5 s (scaled).
end_process() {
    [[ -n $1 ]] || return 0
    kill "$1" 2>/dev/null || return 0
    local deadline=$((SECONDS + 5 * time_factor))
    while kill -0 "$1" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# The game first: a game whose X server or compositor went away first may never end; its replay
# is whole once it has ended.
e2e_cleanup() {
    end_process "$game_pid"
    [[ -z $failed ]] || keep_failure
    if declare -F more_cleanup >/dev/null; then more_cleanup; fi
    local pid
    for pid in "${relay_pids[@]}"; do end_process "$pid"; done
    end_process "$xvfb_pid"
    rm -rf "$work"
}
trap e2e_cleanup EXIT
trap 'exit 1' HUP INT TERM

keep_failure() {
    [[ -f $work/$e2e_name.replay ]] || return 0
    mkdir -p "$kept_dir" && cp "$work/$e2e_name.replay" "$kept_dir/" || return 0
    [[ ! -f $work/brevox.log ]] || cp "$work/brevox.log" "$kept_dir/"
    local log
    for log in "$work"/*/brevox.log; do # each side's, where two games play
        [[ ! -f $log ]] || cp "$log" "$kept_dir/$(basename "$(dirname "$log")").log"
    done
    echo "$e2e_name: its replay and logs are kept in $kept_dir" >&2
}

fail() {
    failed=1
    echo "$e2e_name: $*" >&2
    if declare -F show_failure >/dev/null; then show_failure >&2 || true; fi
    exit 1
}

# wait_for WHAT COMMAND...: waits for COMMAND to succeed, and gives up at once if the game has ended.
wait_for() {
    local what=$1 deadline=$((SECONDS + wait_seconds))
    shift
    until "$@"; do
        [[ -z $game_pid ]] || kill -0 "$game_pid" 2>/dev/null || fail "the game ended waiting for $what"
        ((SECONDS < deadline)) || fail "gave up waiting for $what"
        sleep 0.1
    done
}

# poll_until SECONDS COMMAND...: polls COMMAND until it succeeds; 1 when SECONDS (scaled) run out
# or at once when COMMAND says 2, never.
poll_until() {
    local deadline=$((SECONDS + $1 * time_factor)) status
    shift
    until "$@"; do
        status=$?
        ((status != 2 && SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# hold_key KEY WHAT COMMAND...: holds KEY down until COMMAND succeeds (as wait_for), then lets it
# go. SPACE and the paddle keys are polled, read once a frame: a tap that `xdotool key` presses and
# releases within one slow frame is never seen, by design.
hold_key() {
    local key=$1
    shift
    xdotool keydown "$key"
    wait_for "$@"
    xdotool keyup "$key"
}

# start_relay PORT_VAR TO_PORT [OPTION...]: a relay (tests/net/relay.py) from a free port of its
# own to TO_PORT on this machine, which makes the link bad as its OPTIONs say (--delay MS, --jitter
# MS, --loss PERCENT, --seed N, ...); sets PORT_VAR to its port once it listens. The Nth relay
# (from 0) is ${relay_pids[N]}, says what it does into $work/relay-N.err (its counts when it ends)
# and is ended in the cleanup. SIGUSR1 cuts its link, SIGUSR2 restores it.
start_relay() {
    local port_var=$1 to_port=$2 n=${#relay_pids[@]}
    shift 2
    python3 "$relay_script" --listen 0 --to "127.0.0.1:$to_port" \
        --ready-file "$work/relay-$n.port" "$@" 2>"$work/relay-$n.err" &
    relay_pids+=($!)
    wait_for "relay $n's port" relay_listens "$n"
    printf -v "$port_var" '%s' "$(<"$work/relay-$n.port")"
}
relay_listens() {
    kill -0 "${relay_pids[$1]}" 2>/dev/null || fail "relay $1 ended: $(<"$work/relay-$1.err")"
    test -s "$work/relay-$1.port"
}

# game_exit STATUS: waits for the game to end and checks its exit status.
game_exit() {
    local status=0 deadline=$((SECONDS + wait_seconds))
    while kill -0 "$game_pid" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "the game does not end"
        sleep 0.1
    done
    wait "$game_pid" || status=$?
    game_pid=
    [[ $status -eq $1 ]] || fail "exit status $status, not $1"
}

# log_count TEXT: how many lines of the game's log ($work/brevox.log) hold TEXT; has_log_count
# TEXT N: at least N do. restarts: the video restarts the log has told of.
log_count() { grep -c -F -- "$1" "$work/brevox.log" 2>/dev/null || true; }
has_log_count() { [[ $(log_count "$1") -ge $2 ]]; }
restarts() { log_count "+ vid_restart successfull!"; }

# ended_in_order LOG: the log closes with the end banner.
ended_in_order() {
    tail -c 27 "$1" | grep -q -F -- "---- brevox ended ----" || fail "no end banner in $1"
}

# start_xvfb WxH: an X server whose only display mode is that size, as DISPLAY. -noreset: the
# server would otherwise reset between two starts of the game, and the second find no display.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
    xvfb_pid=$!
    wait_for "the X server" test -s "$work/display"
    export DISPLAY=":$(cat "$work/display")"
    unset WAYLAND_DISPLAY SDL_VIDEODRIVER # the game would take the desktop's compositor
}

# screen_rgb REGION: the mean red, green and blue, each in 0..100, over a region WxH+X+Y of the
# screen as it is now, y counted from the top. Quicker than a screenshot kept on disk, for the
# waits that must see a change soon.
screen_rgb() {
    import -window root -crop "$1" +repage \
        -format '%[fx:round(100*mean.r)] %[fx:round(100*mean.g)] %[fx:round(100*mean.b)]' info:
}

# rgb_at REGION: sets rgb to screen_rgb's three means; fails when the screen could not be read.
rgb_at() {
    local out
    out=$(screen_rgb "$1") || return 1
    read -r -a rgb <<<"$out"
    ((${#rgb[@]} == 3))
}

# green_word_at REGION: a green word of the game's text fills REGION (its green stands 15 above
# red and blue): status 0, else 1, and 2 when the screen could not be read. Without its font the
# game draws each letter as a block of its colour: that passes too.
green_word_at() {
    rgb_at "$1" || return 2
    ((rgb[1] >= rgb[0] + 15 && rgb[1] >= rgb[2] + 15))
}

# In a 640x480 window or fullscreen: SPACE in the intro's "Press SPACE to enter" and in the
# field's "Press SPACE to start", shown while the game waits for the serve and no medal shows.
intro_shown() { green_word_at 98x18+241+300; }
serve_prompt_shown() { green_word_at 108x18+232+239; }
serve_prompt_gone() {
    local status=0
    serve_prompt_shown || status=$?
    ((status == 1))
}
# A point's medal at the centre of the field: gold, more red than blue, where the field is blue.
medal_shown() { rgb_at 60x60+290+190 && ((rgb[0] > rgb[2] + 20)); }
# The menu: its white title over black, nothing at the bottom.
menu_shown() {
    rgb_at 240x40+200+2 && ((rgb[0] >= 12)) && rgb_at 640x60+0+400 && ((rgb[0] + rgb[1] + rgb[2] < 6))
}
# The field: blue over the whole window, where the menu is black.
field_shown() { rgb_at 640x480+0+0 && ((rgb[2] >= rgb[0] + 8)); }

# continue_to_field: from the menu as it opens, "continue", the intro, then SPACE held until the
# field's prompt to serve shows.
continue_to_field() {
    xdotool key --delay 60 Down Down Down Return
    wait_for "the intro picture" intro_shown
    hold_key space "the prompt to serve" serve_prompt_shown
}

window() { xdotool search --name '^brevox' 2>/dev/null | head -n 1; }
title_has_rate() {
    local id
    id=$(window) || return 1
    [[ -n $id ]] && xdotool getwindowname "$id" | grep -q -E '\[[0-9]+ FPS\]$'
}

# display_goes_away SERVER_PID LOG STDERR: ends the display server the game runs on (an X server
# or a Wayland compositor) as a closing desktop session does. The game must end with status 1,
# its LOG saying so and ending in order after the sound stopped, and one line on STDERR (its
# standard error); neither Xlib's own word nor a sanitizer's there.
display_goes_away() {
    end_process "$1"
    game_exit 1
    local log
    log=$(<"$2")
    [[ $log == *$'\n+ display lost, ending..\n (cgame) releasing sound samples\n (cgame) closing DXPLAY sound system\n'* ]] ||
        fail "the log does not say that the display went away, then stop the sound"
    ended_in_order "$2"
    [[ $(grep -c -F ": the display went away; the game ended" "$3") -eq 1 ]] ||
        fail "not one line of the lost display on standard error"
    ! grep -q -E 'XIO|Sanitizer|runtime error' "$3" || fail "Xlib or a sanitizer spoke on standard error"
}
