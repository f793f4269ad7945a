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

game=$(realpath "$1")
close_window=$(realpath "$2")
e2e_name=play_game
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
shots=${BREVOX_E2E_SHOTS:-$work}
mkdir -p "$shots"
show_failure() { [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; }; }

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
"$game" "${record_args[@]}" &
game_pid=$!

# The screens of a 640x480 window, besides lib.sh's, as the screen is now.
# "Paused" in white over the blue field, where a medal would be gold.
paused_shown() { rgb_at 130x20+255+199 && ((rgb[2] >= 30 && rgb[2] > rgb[0])); }

wait_for "the frame rate in the title" title_has_rate
xdotool getwindowname "$(window)" | grep -q -E '^brevox \[build 0\.7a\]  \[[0-9]+ FPS\]$' ||
    fail "the title is not \"brevox [build 0.7a]  [N FPS]\""
grep -q -F " (cgame) loading DXPLAY sound system : OK" brevox.log || fail "no sound system"

# The menu: the white title over black, the options under it, nothing at the bottom.
shot menu
expect_mean menu 240x40+200+2 mean gt 8 "no title"
expect_mean menu 300x30+170+116 mean.r gt 5 "no options"
expect_mean menu 640x60+0+400 mean lt 2 "something below the menu"

# Each screen is waited for, and SPACE held until it has had its effect (lib.sh's hold_key). Held
# on through the field it would serve too, half a second later: it goes up as the prompt shows.
keys Down Down Down Return # "continue": the welcome, then the intro picture
wait_for "the intro picture" intro_shown
shot intro
hold_key space "the prompt to serve" serve_prompt_shown
shot serve

# The rally: a serve, then the right player's UP held until a point shows its medal.
xdotool keydown Up
hold_key space "the serve" serve_prompt_gone
shot play
wait_for "a point with its medal" medal_shown
shot medal
xdotool keyup Up

keys Escape # the menu over the game, then back to it
wait_for "the menu over the game" menu_shown
shot escape
keys Return
wait_for "the field again after \"continue\"" field_shown
shot back

# The next serve once the medal has gone, then the pause.
wait_for "the prompt to serve after the point" serve_prompt_shown
hold_key space "the second serve" serve_prompt_gone
keys p
wait_for "\"Paused\"" paused_shown
shot paused
keys p

# Each restart is waited for, and then the new window's frames, before the next key: a key
# typed before the window is there is lost. Fullscreen shows the rate on the frame instead of
# in the title.
keys F1
wait_for "the restart into fullscreen" has_log_count "+ vid_restart successfull!" 1
grep -q -F " (driver) trying to apply the mode : OK" brevox.log || fail "fullscreen mode not applied"
wait_for "the field in fullscreen" field_shown
keys F1
wait_for "the restart back into a window" has_log_count "+ vid_restart successfull!" 2
wait_for "the frame rate in the new window's title" title_has_rate

# The menu again: resolution 800x600, "apply changes", then "quit" (the highlight is still on
# "continue").
keys Escape
wait_for "the menu" menu_shown
keys Up Up Right Down Down Down Return
wait_for "the menu's restart" has_log_count "+ vid_restart successfull!" 3
wait_for "the frame rate in the 800x600 window's title" title_has_rate
keys Down Return
game_exit 0

grep -q -F "+ loop quit requested.." brevox.log || fail "quit did not end the loop"
[[ $(log_count " (cvars) changing value fullscreen : OK") -eq 2 ]] || fail "F1 not seen twice"
[[ $(<brevox.log) == *$' (cvars) changing value width : OK\n (cvars) changing value height : OK\n\n (menu) vid_restart requested\n'* ]] ||
    fail "the menu's resolution change is not in the log"
# Seven pictures at each of the four renderer starts, every one of them loaded.
[[ $(log_count " (texture) loading") -eq 28 && $(log_count " (texture) loading") -eq \
    $(grep -c -E '^ \(texture\) loading .* : OK$' brevox.log) ]] || fail "a picture did not load"
grep -q FAILED brevox.log && fail "a step failed"
ended_in_order brevox.log

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
game_exit 0
grep -q -F " (window) close message received" brevox.log || fail "no close message in the log"
grep -q -F "+ loop quit requested.." brevox.log && fail "the close ended the loop outside the pump"
ended_in_order brevox.log
echo "play_game: passed"
