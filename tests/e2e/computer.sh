#!/usr/bin/env bash
# The built game against the computer, on a virtual X server of its own (640x480): that
# --computer right is wired through the whole program. The person sets the quickest game speed,
# continues from the menu, enters the field, switches to fullscreen and back with F1, then serves
# whenever the prompt shows and never moves. The computer must serve its own balls, return one
# of the person's serves and win that point; then "quit". How well it plays is measured by the
# computer's soak in the unit tests (tools/run-soak runs it long).
# The points are read from the score at the bottom of the field: each change of a side's number
# on the screen is a point for that side. Checks the log's line for the computer, a log without
# a FAILED step and exit status 0.
#
#   computer.sh GAME
set -euo pipefail

game=$(realpath "$1")
e2e_name=computer
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
show_failure() {
    echo "points: left $left_points, right $right_points"
    [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; }
}

start_xvfb 640x480
data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
cp -r "$data" "$work/data"
cd "$work"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" # as in play_game.sh
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/sound.raw

# The score "L - R" at the bottom of a 640x480 field: each side's number, read as a signature of
# its pixels, only while the red ball is nowhere near it. Each change of a number is a point;
# last_scorer is the side that scored the last one seen (left or right).
left_points=0
right_points=0
left_look=
right_look=
last_scorer=
ball_near_score() {
    local red
    red=$(convert "$work/score.png" -crop 160x40+240+440 +repage \
        -fx '(r>0.5&&g<0.3&&b<0.3)?1:0' -format '%[fx:round(100000*mean)]' info:)
    ((red > 0))
}
read_score() {
    import -window root "$work/score.png" || return 1
    ! ball_near_score || return 1
    local left right
    left=$(convert "$work/score.png" -crop 24x16+283+455 +repage -format '%#' info:)
    right=$(convert "$work/score.png" -crop 24x16+333+455 +repage -format '%#' info:)
    if [[ -n $left_look ]]; then
        [[ $left == "$left_look" ]] || { left_points=$((left_points + 1)) last_scorer=left; }
        [[ $right == "$right_look" ]] || { right_points=$((right_points + 1)) last_scorer=right; }
    fi
    left_look=$left
    right_look=$right
}

menu_over_field() { rgb_at 640x60+0+400 && ((rgb[0] + rgb[1] + rgb[2] < 6)); }

# Starts the game with --computer right, sets the game speed to *** (the quickest rallies) with
# "apply changes", goes through "continue" and the intro into the field, and reads the score 0 - 0
# there.
"$game" --computer right "${record_args[@]}" &
game_pid=$!
wait_for "the frame rate in the title" title_has_rate
xdotool key --delay 60 Down Down Right Right Down Down Return Up Return
wait_for "the intro picture" intro_shown
hold_key space "the prompt to serve" serve_prompt_shown
wait_for "the score" read_score

# The computer stays through two video restarts: F1 into fullscreen and back.
xdotool key F1
wait_for "the restart into fullscreen" has_log_count "+ vid_restart successfull!" 1
wait_for "the score in fullscreen" read_score
xdotool key F1
wait_for "the restart back into a window" has_log_count "+ vid_restart successfull!" 2
wait_for "the frame rate in the new window's title" title_has_rate

# The serve alternates, the person's first: the Nth point follows the Nth serve. A point of the
# computer's after an odd number of points followed a serve of the person's, which it returned.
# The person, who never moves, misses nearly every ball; the computer returns most serves, so
# a dozen points without one would be no chance but a fault.
returned_a_serve_and_scored() {
    read_score || true
    local points=$((left_points + right_points))
    ((points < 12)) || return 2
    [[ $last_scorer == right ]] && ((points % 2 == 1)) && return 0
    if serve_prompt_shown; then
        xdotool keydown space
        poll_until 30 serve_prompt_gone || true
        xdotool keyup space
    fi
    return 1
}
poll_until 60 returned_a_serve_and_scored ||
    fail "the computer did not win a point after a serve of the person's"
((right_points >= 1)) || fail "the computer never scored"

xdotool key Escape
wait_for "the menu" menu_over_field
xdotool key --delay 60 Down Down Return # from "continue" to "quit"
game_exit 0
grep -q -F -x " (computer) taking the right paddle : OK" brevox.log || fail "no computer line in the log"
grep -q FAILED brevox.log && fail "a step failed"
ended_in_order brevox.log
echo "computer: passed, the person $left_points and the computer $right_points points"
