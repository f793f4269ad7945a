#!/usr/bin/env bash
# Video restarts of the built game, over and over, on a virtual X server of its own whose only
# display mode is 640x480: after a point, in the wait for the serve, cycles of five restarts
#   F1 into fullscreen, F1 back, and the menu's resolution applied three times (800x600, 1024x768,
#   640x480, each time back to the game with "continue"),
# then the window's close button. Checks that every restart succeeded, that the game's resident
# memory and open file descriptors stay flat from cycle to cycle, that the screen after the
# last cycle (field, paddles, score) is the one before the first, and an orderly end.
#
#   restart_soak.sh GAME CLOSE_WINDOW [CYCLES]
# CYCLES defaults to 4 (20 restarts); tools/run-soak runs 100 (500 restarts).
set -euo pipefail

game=$(realpath "$1")
close_window=$(realpath "$2")
cycles=${3:-4}
e2e_name=restart_soak
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
show_failure() {
    [[ -f $work/brevox.log ]] && { echo "--- brevox.log (end)"; grep -v '^ GL_' "$work/brevox.log" | tail -n 40; }
}

has_restarts() { [[ $(restarts) -ge $1 ]]; }
keys() { xdotool key --delay 30 "$@"; }
shot() { import -window root "$work/$1.png"; }
# Resident memory in KiB and open file descriptors of the game.
resident_kib() { echo $(($(cut -d ' ' -f 2 "/proc/$game_pid/statm") * $(getconf PAGESIZE) / 1024)); }
descriptors() { find "/proc/$game_pid/fd" -mindepth 1 -maxdepth 1 | wc -l; }

start_xvfb 640x480

cp -r "$(dirname "${BASH_SOURCE[0]}")/../../data" "$work/data"
cd "$work"
# Leaks are the unit tests' to find under the sanitizer build (see play_game.sh). Its allocator
# keeps memory in pools of its own, so the resident size tells nothing there and is not checked.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
sanitized=0
grep -q -a -m 1 __asan_init "$game" && sanitized=1
export SDL_AUDIODRIVER=dummy
# One malloc arena and no rasterising threads: freed memory is used again at once, so the
# resident size follows what the game holds instead of what idle threads keep.
export MALLOC_ARENA_MAX=1 LP_NUM_THREADS=0
"$game" &
game_pid=$!

wait_for "the frame rate in the title" title_has_rate

# A point: "continue", the intro, the serve, the right paddle away from the level ball until the
# medal shows; then the prompt to serve once the medal's three seconds are over. Each step waits
# for its screen, and SPACE is held until it has had its effect (see play_game.sh).
continue_to_field
xdotool keydown Up
hold_key space "the serve" serve_prompt_gone
wait_for "a point with its medal" medal_shown
xdotool keyup Up
wait_for "the prompt to serve after the medal" serve_prompt_shown
shot before

# The game draws again after a restart: in a window its frame rate goes into the new window's
# title; fullscreen (640x480) shows the field and its prompt. A key typed before may be lost.
drawing_again() { title_has_rate || serve_prompt_shown; }

# One restart by KEYS, waited for with the new window's frames; then the game's resident memory
# and open descriptors.
memory=()
files=()
restart() {
    local count=$((${#memory[@]} + 1))
    keys "$@"
    wait_for "restart $count" has_restarts "$count"
    wait_for "the frames after restart $count" drawing_again
    memory+=("$(resident_kib)")
    files+=("$(descriptors)")
}

for ((cycle = 1; cycle <= cycles; cycle++)); do
    restart F1
    restart F1
    # The menu's next resolution: from "continue" up to "resolution", one to the right, down to
    # "apply changes"; then "continue" again.
    for _ in 1 2 3; do
        restart Escape Up Up Right Down Down Down Return
        keys Up Return
    done
done
echo "restart_soak: resident KiB after each restart: ${memory[*]}"
echo "restart_soak: open descriptors after each restart: ${files[*]}"

# Whole cycles are compared, since the resident size depends on the mode a restart went into.
# The heap grows over the first two cycles (in a long run, the first tenth) while the allocator
# and the OpenGL driver settle; they are left out. The floor of the later half of the remaining
# cycles may lie at most 4 MiB above that of the earlier half, a step the allocator may take once
# (it stays within 0.2 MiB here); more is a leak, in the bounded run of about 800 KiB a restart
# (a picture's pixels, a context's buffers), in the full run 20 KiB.
floor() { printf '%s\n' "$@" | sort -n | head -n 1; }
skip=$((cycles / 10 > 2 ? cycles / 10 : 2))
half=$(((cycles - skip) / 2))
((half > 0)) || fail "needs at least $((skip + 2)) cycles"
early=$(floor "${memory[@]:skip*5:half*5}")
late=$(floor "${memory[@]:(skip+half)*5}")
((sanitized || late - early <= 4096)) || fail "the resident floor rose from $early to $late KiB"
for ((i = skip * 5; i < ${#files[@]}; i++)); do
    [[ ${files[i]} -eq ${files[skip * 5]} ]] ||
        fail "open descriptors went from ${files[skip * 5]} to ${files[i]} at restart $((i + 1))"
done

# The game as it was: the same state, paddles and score on the screen.
wait_for "the field after the last restart" serve_prompt_shown
shot after
differ=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1) || true
[[ $differ == 0 ]] || fail "the screen after the restarts differs in $differ pixels"

"$close_window" "$(window)"
game_exit 0
[[ $(restarts) -eq $((cycles * 5)) ]] || fail "$(restarts) restarts, not $((cycles * 5))"
grep -q FAILED brevox.log && fail "a step failed"
ended_in_order brevox.log
echo "restart_soak: passed, $((cycles * 5)) restarts"
