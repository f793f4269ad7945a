#!/usr/bin/env bash
# Plays the built game as a player would, on a virtual X server of its own whose only display
# mode is 640x480: start-up, the frame rate in the title, F1 into fullscreen and back, then the
# window's close button. Checks the exit code and the log, every picture loaded included.
#
#   play_window.sh GAME CLOSE_WINDOW
set -euo pipefail

game=$1
close_window=$2
work=$(mktemp -d)
xvfb_pid=
game_pid=

cleanup() {
    [[ -n $game_pid ]] && kill "$game_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "play_window: $*" >&2
    [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; } >&2
    exit 1
}

# Waits up to 20 s for a command to succeed.
wait_for() {
    local what=$1
    shift
    for _ in $(seq 200); do
        "$@" && return 0
        sleep 0.1
    done
    fail "gave up waiting for $what"
}

log_count() { grep -c -F -- "$1" "$work/brevox.log" 2>/dev/null || true; }
has_log_count() { [[ $(log_count "$1") -ge $2 ]]; }

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for "the X server" test -s "$work/display"
export DISPLAY=":$(cat "$work/display")"

data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
cp -r "$data" "$work/data"
cd "$work"
# Under the sanitizer build, leaks are checked by the unit tests: at this process's exit the
# system's OpenGL driver is unloaded, and what it keeps can no longer be told from our own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
"$game" &
game_pid=$!

title_has_rate() {
    local id
    id=$(xdotool search --name '^brevox' 2>/dev/null | head -n 1) || return 1
    [[ -n $id ]] && xdotool getwindowname "$id" | grep -q -E '^brevox \[build 0\.7a\]  \[[0-9]+ FPS\]$'
}
wait_for "the frame rate in the title" title_has_rate

xdotool key F1
wait_for "the restart into fullscreen" has_log_count "+ vid_restart successfull!" 1
grep -q -F " (driver) trying to apply the mode : OK" brevox.log || fail "fullscreen mode not applied"

xdotool key F1
wait_for "the restart back into a window" has_log_count "+ vid_restart successfull!" 2

"$close_window" "$(xdotool search --name '^brevox' | head -n 1)"
status=0
wait "$game_pid" || status=$?
game_pid=
[[ $status -eq 1 ]] || fail "exit code $status, not 1"

grep -q -F " (window) close message received" brevox.log || fail "no close message in the log"
grep -q -F "+ loop quit requested.." brevox.log && fail "the close ended the loop outside the pump"
[[ $(log_count " (cvars) changing value fullscreen : OK") -eq 2 ]] || fail "F1 not seen twice"
# Seven pictures at each of the three renderer starts, every one of them loaded.
[[ $(log_count " (texture) loading") -eq 21 && $(log_count " (texture) loading") -eq \
    $(grep -c -E '^ \(texture\) loading .* : OK$' brevox.log) ]] || fail "a picture did not load"
tail -c 27 brevox.log | grep -q -F -- "---- brevox ended ----" || fail "no end banner"
echo "play_window: passed"
