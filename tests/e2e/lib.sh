# What the end-to-end scripts share, sourced after `set -euo pipefail`: a scratch directory
# ($work), a virtual X server of the script's own, waiting for the game, failing with what shows
# why, and cleaning up. The script sets e2e_name before sourcing and may define show_failure
# (what to print after the message, e.g. the game's log) and more_cleanup.

work=$(mktemp -d)
xvfb_pid=
game_pid=

e2e_cleanup() {
    [[ -n $game_pid ]] && kill "$game_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    if declare -F more_cleanup >/dev/null; then more_cleanup; fi
    rm -rf "$work"
}
trap e2e_cleanup EXIT

fail() {
    echo "$e2e_name: $*" >&2
    if declare -F show_failure >/dev/null; then show_failure >&2 || true; fi
    exit 1
}

# Waits up to 30 s for a command to succeed, and gives up at once if the game has ended.
wait_for() {
    local what=$1
    shift
    for _ in $(seq 300); do
        "$@" && return 0
        [[ -z $game_pid ]] || kill -0 "$game_pid" 2>/dev/null || fail "the game ended waiting for $what"
        sleep 0.1
    done
    fail "gave up waiting for $what"
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

window() { xdotool search --name '^brevox' 2>/dev/null | head -n 1; }
title_has_rate() {
    local id
    id=$(window) || return 1
    [[ -n $id ]] && xdotool getwindowname "$id" | grep -q -E '\[[0-9]+ FPS\]$'
}
