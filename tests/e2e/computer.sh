#!/usr/bin/env bash
# Plays the built game against the computer, on a virtual X server of its own (640x480):
#   1. --computer right: the person sets the quickest game speed, continues from the menu,
#      enters the field, switches to fullscreen and back with F1, then serves whenever the prompt
#      shows and never moves; the computer returns the ball and wins three points before the
#      person wins three (a point now and then goes to the person: a fast serve beats it);
#   2. --computer both: after the intro the game plays on its own until both sides have scored
#      and SECONDS (default 0) have passed, the people touching nothing; then "quit".
# The points are read from the score at the bottom of the field: each change of a side's number
# on the screen is a point for that side. Checks the log's line for the computer, a log without
# a FAILED step and exit status 0.
#
#   computer.sh GAME [SECONDS]
set -euo pipefail

game=$1
span=${2:-0}
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
# its pixels, only while the red ball is nowhere near it. Each change of a number is a point.
left_points=0
right_points=0
left_look=
right_look=
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
        [[ $left == "$left_look" ]] || left_points=$((left_points + 1))
        [[ $right == "$right_look" ]] || right_points=$((right_points + 1))
    fi
    left_look=$left
    right_look=$right
}

# Starts the game with ARGS, sets the game speed to *** (the quickest rallies) with "apply
# changes", goes through "continue" and the intro into the field, and reads the score 0 - 0 there.
enter_field() {
    rm -f brevox.log
    "$game" "$@" &
    game_pid=$!
    wait_for "the frame rate in the title" title_has_rate
    xdotool key --delay 60 Down Down Right Right Down Down Return Up Return
    wait_for "the intro picture" intro_shown
    hold_key space "the prompt to serve" serve_prompt_shown
    left_points=0 right_points=0 left_look= right_look=
    wait_for "the score" read_score
}

# Ends the game by the menu's "quit" and checks its log.
quit_and_check() {
    xdotool key Escape
    wait_for "the menu" menu_over_field
    xdotool key --delay 60 Down Down Return # from "continue" to "quit"
    game_exit 0
    grep -q -F -x " (computer) taking $1 : OK" brevox.log || fail "no computer line for $1 in the log"
    grep -q FAILED brevox.log && fail "a step failed"
    ended_in_order brevox.log
}
menu_over_field() { rgb_at 640x60+0+400 && ((rgb[0] + rgb[1] + rgb[2] < 6)); }

# 1. Against the computer: the person serves whenever the prompt shows (the computer serves
# its own balls whatever SPACE does) and never moves. The serve alternates, the person's first:
# of the first five points the computer's three cannot all follow its own two serves, so it has
# returned a serve of the person's and won the rally.
person_serves_until() {
    read_score || true
    ((left_points < 3)) || fail "the person won $left_points points against the computer"
    ((right_points < $1)) || return 0
    if serve_prompt_shown; then
        xdotool keydown space
        poll_until 30 serve_prompt_gone || true
        xdotool keyup space
    fi
    return 1
}
enter_field --computer right
# The computer stays through two video restarts: F1 into fullscreen and back.
restarts() { [[ $(grep -c -F -- "+ vid_restart successfull!" brevox.log) -ge $1 ]]; }
xdotool key F1
wait_for "the restart into fullscreen" restarts 1
wait_for "the score in fullscreen" read_score
xdotool key F1
wait_for "the restart back into a window" restarts 2
wait_for "the frame rate in the new window's title" title_has_rate
poll_until 180 person_serves_until 3 || fail "the computer did not win three points"
quit_and_check "the right paddle"
echo "computer: right paddle won $right_points points, the person $left_points"

# 2. The computer against itself, no key touched after the intro.
enter_field --computer both
started=$SECONDS
both_scored() {
    read_score || true
    ((left_points > 0 && right_points > 0 && SECONDS - started >= span))
}
poll_until $((180 + span)) both_scored || fail "not both sides scored"
title_has_rate || fail "the game stopped drawing"
quit_and_check "both paddles"
echo "computer: both paddles, left $left_points and right $right_points points in $((SECONDS - started)) s"
echo "computer: passed"
