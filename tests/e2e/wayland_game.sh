#!/usr/bin/env bash
# Plays the built game on a Wayland desktop: weston, nested in a virtual X server of its own
# (weston's X11 backend gives it a keyboard seat), with both DISPLAY and WAYLAND_DISPLAY set as in
# a Wayland session, so that XWayland would be at hand too. The game must take SDL's Wayland
# driver (no X window of its own) and, with xdotool typing into weston's window:
#   F1 four times, fullscreen at 640x480 in between (weston's output is 1024x768: the compositor
#   scales the mode), the menu's resolution changed to 800x600 and applied, F1 into fullscreen at
#   800x600 and back, and a close request from the close button of its title bar;
# then end with exit status 0 and a complete log without any FAILED step.
# Then weston stopped under a game that runs: it must end with status 1 and its log's end.
# Then a compositor without a seat: the game must leave it for X11.
#
#   wayland_game.sh GAME
# Exits 77 (skipped) when weston cannot be started at all. With BREVOX_E2E_SHOTS=DIR the
# screenshots are kept in DIR.
set -euo pipefail

game=$(realpath -- "$1")
e2e_name=wayland_game
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
shots=${BREVOX_E2E_SHOTS:-$work}
mkdir -p "$shots"
weston_pid=

# lib.sh ends the game first: with its compositor gone, SDL's Wayland driver would never return
# to it. Then weston, before the X server it runs in.
more_cleanup() { end_process "$weston_pid"; }
show_failure() {
    [[ -s $work/stderr ]] && { echo "--- standard error"; cat "$work/stderr"; }
    [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; }
    [[ -f $work/weston.log ]] && { echo "--- weston.log"; tail -n 20 "$work/weston.log"; }
}

keys() { xdotool key --delay 80 "$@"; }
# f1 CHECK...: presses F1, waits for the restart it asks for and then for the picture CHECK looks
# for, before any other key: a key typed before the new window is there may be lost.
f1() {
    local count=$(($(restarts) + 1))
    keys F1
    wait_for "restart $count" has_log_count "+ vid_restart successfull!" "$count"
    wait_for "the game's picture after restart $count" "$@"
}
game_has_x_window() { [[ -n $(xdotool search --name '^brevox' 2>/dev/null) ]]; }

# Weston's output fills the top left 1024x768 of the X screen. shot NAME takes a screenshot
# NAME.png of it and sets `box` to the width, height, left and top of the menu's green headings,
# which sit centred in the game's window; it fails when there are none.
shot() {
    import -window root -crop 1024x768+0+0 +repage "$shots/$1.png"
    local found
    found=$(convert "$shots/$1.png" -fuzz 10% -fill black +opaque 'rgb(0,255,0)' -format '%@' \
        info: 2>/dev/null)
    [[ $found =~ ^([1-9][0-9]*)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    box=("${BASH_REMATCH[@]:1}")
}
# The mean grey level of a region WxH+X+Y of a screenshot, in 0..100.
mean() { convert "$shots/$1.png" -crop "$2" +repage -format '%[fx:round(100*mean)]' info:; }
# Fullscreen: the game's black fills the left corners of the output; with the game in a window,
# the desktop's grey shows at the bottom left.
fullscreen_shown() {
    shot "$1" && [[ $(mean "$1" 60x60+0+0) -lt 2 && $(mean "$1" 60x60+0+700) -lt 2 ]]
}
in_window() { shot "$1" && [[ $(mean "$1" 60x60+0+700) -gt 20 ]]; }
near() { (($1 - $2 <= 3 && $2 - $1 <= 3)); }
# grown_by NAME GAIN CENTRE: a window keeps its left edge when it grows, so the headings centred
# in it move right by half of what it gains.
grown_by() { shot "$1" && near $((box[2] + box[0] / 2 - $3)) $(($2 / 2)); }
# In a window the game draws one pixel a pixel: its headings are as wide as in fullscreen at
# 800x600 by 800/1024.
window_shown() { shot "$1" && near $((box[0] * 1024 / 800)) "$full_width"; }

# start_weston BACKEND [OPTIONS...]: weston on its own socket, in a runtime directory of its own.
start_weston() {
    export XDG_RUNTIME_DIR=$work/runtime
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
    weston --backend="$1" --socket=brevox-e2e --idle-time=0 "${@:2}" >"$work/weston.log" 2>&1 &
    weston_pid=$!
    poll_until 30 weston_listens
}
weston_listens() { # 2 when weston has ended: it never will
    kill -0 "$weston_pid" 2>/dev/null || return 2
    [[ -S $XDG_RUNTIME_DIR/brevox-e2e ]]
}

start_game() {
    rm -f brevox.log
    WAYLAND_DISPLAY=brevox-e2e "$game" 2>"$work/stderr" &
    game_pid=$!
    wait_for "the main loop" has_log_count "+ entering main loop.." 1
}

start_xvfb 1280x1024

if ! start_weston x11-backend.so --width=1024 --height=768; then
    echo "wayland_game: weston does not start; skipped" >&2
    tail -n 20 "$work/weston.log" >&2
    exit 77
fi

data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
cp -r "$data" "$work/data"
cd "$work"
# Under the sanitizer build, leaks are checked by the unit tests: at this process's exit the
# system's OpenGL driver is unloaded, and what it keeps can no longer be told from our own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null

start_game
wait_for "the menu on the screen" shot menu
centre_640=$((box[2] + box[0] / 2))
game_has_x_window && fail "the game took the X server, not SDL's Wayland driver"

# F1 four times: fullscreen at 640x480, a window, fullscreen, a window.
f1 fullscreen_shown fullscreen-640x480
f1 in_window window-640x480
f1 fullscreen_shown fullscreen-640x480-again
f1 in_window window-640x480-again
[[ $(log_count " (driver) enumerating display modes for fullscreen : ") -eq 2 &&
    $(log_count "choosed 640x480x16bits [0Hz]") -eq 2 &&
    $(log_count " (driver) trying to apply the mode : OK") -eq 2 ]] ||
    fail "fullscreen at 640x480 not chosen at the display's default rate and applied twice"

# The menu, open since the start with "screen mode" highlighted: resolution 800x600, then
# "apply changes"; F1 into fullscreen at 800x600, with a look at it, and back.
keys Down Right Down Down Down Return
wait_for "the menu's restart" has_log_count "+ vid_restart successfull!" 5
wait_for "the window at 800x600" grown_by window-800x600 $((800 - 640)) "$centre_640"
f1 fullscreen_shown fullscreen
grep -q -F "choosed 800x600x16bits [0Hz]" brevox.log || fail "fullscreen at 800x600 not chosen"
full_width=${box[0]}
headings_depth=$((box[3] * 800 / 1024)) # below the window's top
f1 window_shown window

# The close button ends the title bar, 24 pixels high, above the window's top right corner. The
# pointer comes into weston's window from outside (weston may have missed its arrival under the
# pointer) and to the button from inside the game's window, as a player's would; a click that
# comes before the decorations are ready for it is clicked again.
right=$((box[2] + box[0] / 2 + 400))
top=$((box[3] - headings_depth))
close_clicked() {
    xdotool mousemove 1200 1000 sleep 0.2 mousemove $((right - 60)) $((top + 60)) sleep 0.2 \
        mousemove $((right - 12)) $((top - 12)) sleep 0.2 click 1
    poll_until 2 has_log_count " (window) close message received" 1
}
wait_for "the close request" close_clicked
game_exit 0
ended_in_order brevox.log
grep -q FAILED brevox.log && fail "a step failed"
# The window keeps the focus through every restart, and the keyboard is taken at once each time.
[[ $(log_count " (input) trying to acquire : OK") -eq 7 ]] || fail "the keyboard not taken at once"
[[ $(log_count " (texture) loading") -eq 56 && $(log_count " (texture) loading") -eq \
    $(grep -c -E '^ \(texture\) loading .* : OK$' brevox.log) ]] || fail "a picture did not load"

# The compositor goes away under the game, as when the desktop session ends: SDL's Wayland
# driver would hang in its next pump.
start_game
wait_for "the menu on the screen" shot menu-again
display_goes_away "$weston_pid" brevox.log "$work/stderr"
weston_pid=

# A compositor without a seat, whose use would crash SDL: the game takes X11 instead.
start_weston headless-backend.so || fail "weston's headless backend does not start"
start_game
wait_for "the game's X window" game_has_x_window
kill -TERM "$game_pid"
game_exit 143
ended_in_order brevox.log
echo "wayland_game: passed"
