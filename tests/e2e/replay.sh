#!/usr/bin/env bash
# Replays through the built game: --record with a name holding spaces, taken from the directory
# the launcher says the command was started in, then --replay --check of it equal, and --replay
# in a window at x8 to its end; --record
# without a name into the dated folder; and the clear verdicts: a path that cannot be written
# (status 1 before anything starts), a replay cut short, empty, random or of another version
# (status 1, one line on standard error, never a crash).
#
#   replay.sh GAME CLOSE_WINDOW
set -euo pipefail

game=$(realpath "$1")
close_window=$(realpath "$2")
e2e_name=replay
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
show_failure() {
    [[ -f $work/err ]] && { echo "--- standard error"; cat "$work/err"; }
    [[ -f $work/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$work/brevox.log"; }
}

data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
cp -r "$data" "$work/data"
cd "$work"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" # as in play_game.sh
export SDL_AUDIODRIVER=dummy

# refused STATUS TEXT ARGS...: the game given ARGS ends with STATUS and one line on standard
# error holding TEXT.
refused() {
    local want=$1 text=$2 status=0
    shift 2
    "$game" "$@" >"$work/out" 2>"$work/err" || status=$?
    [[ $status -eq $want ]] || fail "$* ended with $status, not $want"
    [[ $(wc -l <"$work/err") -eq 1 ]] && grep -q -F -- "$text" "$work/err" ||
        fail "$*: not one line saying '$text'"
}

# Nothing starts on a path that cannot be written: no log either.
refused 1 "cannot write the replay /proc/no/such.replay" --record /proc/no/such.replay
[[ ! -e brevox.log ]] || fail "a log was written before the replay file failed"
refused 2 "--check goes with --replay" --check
XDG_DATA_HOME="$work/xdg" refused 1 "no replay recorded yet in $work/xdg/brevox/replays" --replay

# A name with spaces, from the directory the launcher says the command was started in.
start_xvfb 640x480
mkdir "$work/start dir"
BREVOX_START_DIR="$work/start dir" "$game" --computer both --record "a match.replay" >"$work/out" &
game_pid=$!
wait_for "the frame rate in the title" title_has_rate
continue_to_field
wait_for "the computer's serve" serve_prompt_gone
"$close_window" "$(window)"
game_exit 0
replay="$work/start dir/a match.replay"
grep -q -x -F "brevox: replay recorded to $replay" "$work/out" || fail "no line naming $replay"
BREVOX_START_DIR="$work/start dir" "$game" --replay "a match.replay" --check >"$work/out" ||
    fail "the check of the recording failed: $(cat "$work/out")"
grep -q -E '^replay a match.replay: [0-9]+ frames, [1-9][0-9]* checks, all equal$' "$work/out" ||
    fail "not all equal: $(cat "$work/out")"

# In a window at x8 (Right three times from x1) it plays to its end, equal, with status 0.
BREVOX_START_DIR="$work/start dir" "$game" --replay "a match.replay" >"$work/out" &
game_pid=$!
wait_for "the replay's window" title_has_rate
xdotool key --delay 60 Right Right Right
game_exit 0
grep -q -E '^replay a match.replay: [0-9]+ frames, [1-9][0-9]* checks, all equal$' "$work/out" ||
    fail "the replay in a window did not play to its end equal: $(cat "$work/out")"

# Hostile files: each one line and status 1.
head -c "$(($(stat -c %s "$replay") * 2 / 3))" "$replay" >cut.replay
refused 1 "before its end mark" --replay cut.replay --check
: >empty.replay
refused 1 "empty file" --replay empty.replay --check
head -c 3000 /dev/urandom >random.replay
refused 1 "random.replay: " --replay random.replay --check
printf 'BREVOXRP\x07\x00\x04' | gzip >version.replay
refused 1 "format version 7, this brevox plays version 1" --replay version.replay --check
refused 1 "cannot be read" --replay missing.replay --check

# Without a name: a new dated file under XDG_DATA_HOME, named at the end.
XDG_DATA_HOME="$work/xdg" "$game" --record --computer both >"$work/out" &
game_pid=$!
wait_for "the frame rate in the title" title_has_rate
"$close_window" "$(window)"
game_exit 0
dated=$(ls "$work"/xdg/brevox/replays/*.brevox-replay)
grep -q -x -F "brevox: replay recorded to $dated" "$work/out" || fail "no line naming $dated"
# --replay without a name takes the newest there (the desktop's "Play the last replay"), not
# one written earlier.
cp "$replay" "$work/xdg/brevox/replays/older.brevox-replay"
touch -d '1 hour ago' "$work/xdg/brevox/replays/older.brevox-replay"
XDG_DATA_HOME="$work/xdg" "$game" --replay --check >"$work/out" ||
    fail "the dated replay does not check equal: $(cat "$work/out")"
grep -q -E "^replay $dated: [0-9]+ frames" "$work/out" || fail "not the newest: $(cat "$work/out")"
echo "$e2e_name: passed"
