#!/usr/bin/env bash
# Plays the built game as two players would, on a virtual X server of its own whose only display
# mode is 640x480, with SDL's disk audio driver recording what the game plays:
#   the menu, "continue" (the welcome), the intro, SPACE, a rally with paddle keys held until a
#   point earns its medal, ESCAPE and "continue", P twice, F1 into fullscreen and back, the
#   menu's resolution changed to 800x600 and applied, and "quit";
# then a second start ended by the window's close button.
# Checks screenshots of each screen, the exit codes, the log and the recorded sound.
#
#   play_game.sh GAME CLOSE_WINDOW
# With BREVOX_E2E_SHOTS=DIR the screenshots are kept in DIR.
set -euo pipefail

game=$1
close_window=$2
e2e_name=play_game
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
shots=${BREVOX_E2E_SHOTS:-$work}
mkdir -p "$shots"
show_failure() { [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; }; }

log_count() { grep -c -F -- "$1" "$work/brevox.log" 2>/dev/null || true; }
has_log_count() { [[ $(log_count "$1") -ge $2 ]]; }
keys() { xdotool key --delay 60 "$@"; }

# Takes a screenshot NAME.png and prints the mean of a channel (mean.r, mean.g, mean.b, or the
# grey level "mean") over a region given as WxH+X+Y, with y counted from the top, in 0..100.
shot() { import -window root "$shots/$1.png"; }
mean() {
    local region=$2 channel=${3:-mean}
    convert "$shots/$1.png" -crop "$region" +repage -format "%[fx:round(100*$channel)]" info:
}
expect_mean() { # NAME REGION CHANNEL OP VALUE WHAT
    local got
    got=$(mean "$1" "$2" "$3")
    test "$got" "-$4" "$5" || fail "$6 ($1: mean $3 over $2 is $got, expected -$4 $5)"
}

start_xvfb 640x480

data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
cp -r "$data" "$work/data"
cd "$work"
# Under the sanitizer build, leaks are checked by the unit tests: at this process's exit the
# system's OpenGL driver is unloaded, and what it keeps can no longer be told from our own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/sound.raw
"$game" &
game_pid=$!

title_has_rate() {
    local id
    id=$(window) || return 1
    [[ -n $id ]] && xdotool getwindowname "$id" | grep -q -E '^brevox \[build 0\.7a\]  \[[0-9]+ FPS\]$'
}
wait_for "the frame rate in the title" title_has_rate
grep -q -F " (cgame) loading DXPLAY sound system : OK" brevox.log || fail "no sound system"

# The menu: the white title over black, the options under it, nothing at the bottom.
shot menu
expect_mean menu 240x40+200+2 mean gt 8 "no title"
expect_mean menu 300x30+170+116 mean.r gt 5 "no options"
expect_mean menu 640x60+0+400 mean lt 2 "something below the menu"

# Each screen is waited for: on a loaded machine the game may take a while to get there, and
# the serve is refused until its delay has passed.
intro_on_show() { shot intro && [[ $(mean intro 640x120+0+360 mean.b) -gt 8 ]]; }
serve_on_show() { shot serve && [[ $(mean serve 440x22+100+238) -gt 20 ]]; }
keys Down Down Down Return # "continue": the welcome, then the intro picture
wait_for "the intro picture" intro_on_show

keys space # the playing field, waiting for the serve
wait_for "the prompt to serve" serve_on_show

# The rally: a serve, then the right player's UP held until a point shows its medal (the disc
# at the centre, gold: more red than blue, where the field is blue).
xdotool keydown Up keydown space
sleep 0.3
xdotool keyup space
shot play
medal_on_show() {
    shot rally
    [[ $(mean rally 60x60+290+190 mean.r) -gt $(($(mean rally 60x60+290+190 mean.b) + 20)) ]]
}
wait_for "a point with its medal" medal_on_show
xdotool keyup Up
cp "$shots/rally.png" "$shots/medal.png"

keys Escape # the menu over the game, then back to it
sleep 0.5
shot escape
expect_mean escape 240x40+200+2 mean gt 8 "ESCAPE did not open the menu"
keys Return
sleep 0.5
shot back
expect_mean back 640x480+0+0 mean.b gt 15 "continue did not go back to the field"

sleep 1 # the serve delay after the point
xdotool keydown space
sleep 0.3
xdotool keyup space
keys p
sleep 0.5
shot paused
expect_mean paused 130x20+255+199 mean gt 15 "no \"Paused\""
keys p

keys F1
wait_for "the restart into fullscreen" has_log_count "+ vid_restart successfull!" 1
grep -q -F " (driver) trying to apply the mode : OK" brevox.log || fail "fullscreen mode not applied"
keys F1
wait_for "the restart back into a window" has_log_count "+ vid_restart successfull!" 2

# The menu again: resolution 800x600, "apply changes", then "quit" (the highlight is still on
# "continue").
keys Escape
sleep 0.3
keys Up Up Right Down Down Down Return
wait_for "the menu's restart" has_log_count "+ vid_restart successfull!" 3
keys Down Return
status=0
wait "$game_pid" || status=$?
game_pid=
[[ $status -eq 1 ]] || fail "exit code $status, not 1"

grep -q -F "+ loop quit requested.." brevox.log || fail "quit did not end the loop"
[[ $(log_count " (cvars) changing value fullscreen : OK") -eq 2 ]] || fail "F1 not seen twice"
[[ $(<brevox.log) == *$' (cvars) changing value width : OK\n (cvars) changing value height : OK\n\n (menu) vid_restart requested\n'* ]] ||
    fail "the menu's resolution change is not in the log"
# Seven pictures at each of the four renderer starts, every one of them loaded.
[[ $(log_count " (texture) loading") -eq 28 && $(log_count " (texture) loading") -eq \
    $(grep -c -E '^ \(texture\) loading .* : OK$' brevox.log) ]] || fail "a picture did not load"
grep -q FAILED brevox.log && fail "a step failed"
tail -c 27 brevox.log | grep -q -F -- "---- brevox ended ----" || fail "no end banner"

# The welcome and the medal's call, each whole, in the recorded output (44100 Hz stereo, each
# mono sample twice).
for sound in voice ace; do
    python3 - "$work/data/$sound.wav" "$work/sound.raw" <<'EOF' || fail "$sound.wav is not in the recorded sound"
import sys
wav, raw = (open(p, "rb").read() for p in sys.argv[1:])
pcm = wav[wav.index(b"data") + 8:]
stereo = b"".join(pcm[i:i + 2] * 2 for i in range(0, len(pcm), 2))
sys.exit(0 if stereo in raw else 1)
EOF
done

# A second start, ended by the window's close button.
rm -f brevox.log
"$game" &
game_pid=$!
wait_for "the frame rate in the title" title_has_rate
"$close_window" "$(window)"
status=0
wait "$game_pid" || status=$?
game_pid=
[[ $status -eq 1 ]] || fail "exit code $status after the close, not 1"
grep -q -F " (window) close message received" brevox.log || fail "no close message in the log"
grep -q -F "+ loop quit requested.." brevox.log && fail "the close ended the loop outside the pump"
tail -c 27 brevox.log | grep -q -F -- "---- brevox ended ----" || fail "no end banner"
echo "play_game: passed"
