#!/usr/bin/env bash
# Starts the built game in hostile surroundings, each on a virtual X server of its own making
# (640x480), and checks the log's verdicts, the exit status and no crash or sanitizer report:
#   no display at all: the window fails, the start ends in order with status 1;
#   the menu's fullscreen at 800x600, a mode the screen lacks: the restart fails, status 1;
#   no sound device (ALSA without a PCM): the sound system and the five samples fail, the game
#   plays silently, and ALSA's complaints stay off standard error;
#   no data/ directory; every file of data/ cut to half its size; every one replaced by as
#   many random bytes: each picture and sample gets its verdict, the game plays;
#   a working directory the game cannot write to: no log, the game plays;
# each game that plays ends with status 0 at its window's close button; then
#   SIGTERM and SIGINT while the game waits for the serve: it ends in order, with status 143
#   and 130, as a process ended by that signal would report;
# and last, the X server stopped while the game waits for the serve: the game ends with status 1,
#   its log saying so and ending in order.
# (A focus loss with keys held is the keyboard's unit tests' case.)
#
#   hostile.sh GAME CLOSE_WINDOW
set -euo pipefail

game=$(realpath "$1")
close_window=$(realpath "$2")
data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
e2e_name=hostile
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
chmod 755 "$work" # the read-only case runs as another user where we run as root
case_dir=
more_cleanup() { chmod -R u+w "$work" 2>/dev/null || true; }
show_failure() {
    echo "case ${case_dir##*/}"
    [[ -f $case_dir/stderr ]] && { echo "--- standard error"; cat "$case_dir/stderr"; }
    [[ -f $case_dir/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$case_dir/brevox.log"; }
}
# The log holds TEXT, line ends included (grep would take each line of it as a pattern of its own).
log_has() {
    local log
    log=$(<"$case_dir/brevox.log")
    [[ $log == *"$1"* ]] || fail "the log lacks: $1"
}
expect_log_lines() { # COUNT REGEX
    local got
    got=$(grep -c -E -- "$2" "$case_dir/brevox.log") || true
    [[ $got -eq $1 ]] || fail "the log has $got lines like '$2', not $1"
}

# start NAME [ENV OPTIONS...] [-- PREFIX...]: starts the game in $work/NAME through env with those
# options (VAR=VALUE, -u VAR), under PREFIX (a command that runs it as another user).
start() {
    case_dir=$work/$1
    shift
    local vars=()
    while (($# > 0)) && [[ $1 != -- ]]; do
        vars+=("$1")
        shift
    done
    (($# > 0)) && shift
    (cd "$case_dir" && exec env "${vars[@]}" "$@" "$game" 2>"$case_dir/stderr") &
    game_pid=$!
}

# play: the game runs (its frame rate in the title), "continue" plays the welcome and opens the
# intro, SPACE held leads to the field and its prompt to serve.
play() {
    wait_for "the frame rate in the title" title_has_rate
    continue_to_field
}
close_game() { "$close_window" "$(window)"; }

# finish STATUS: that exit status, no sanitizer report, and the end banner unless there is no log.
finish() {
    game_exit "$1"
    ! grep -q -E 'Sanitizer|runtime error' "$case_dir/stderr" || fail "a sanitizer report"
    [[ ! -e $case_dir/brevox.log ]] || ended_in_order "$case_dir/brevox.log"
}

start_xvfb 640x480
# The unit tests look for leaks; here the OpenGL driver is unloaded at exit (see play_game.sh).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export SDL_AUDIODRIVER=dummy

pictures=(font.tga intro.bmp client.tga background.tga medal_ace.tga medal_fast.tga medal_slow.tga)
sounds=(ace.wav fastball.wav slowball.wav voice.wav apply.wav)
texture_line='^ \(texture\) loading (TGA|BMP) texture data/'
sound_line='^ \(cgame\) loading sound file data/'

for name in no_display no_mode no_sound no_data truncated random read_only sigterm sigint \
    lost_display; do
    mkdir "$work/$name"
    [[ $name == no_data ]] || cp -r "$data" "$work/$name/data"
done

start no_display -u DISPLAY
finish 1
log_has $' (window) creating main window : FAILED\n\n+ initialization abnormal\n\n+ cleaning up main objects\n'
grep -q -F "no display available" "$case_dir/stderr" || fail "no word of it on standard error"

# A screen of 640x480 has no mode of 800x600: the menu's fullscreen at that size fails its
# restart, and the game ends in order with status 1.
start no_mode
wait_for "the frame rate in the title" title_has_rate
xdotool key --delay 40 Right Down Right Down Down Down Return
finish 1
log_has $' (driver) trying to apply the mode : FAILED\n+ loop quit requested..\n'

# No sound device: SDL's ALSA driver finds no PCM at all (an empty ALSA configuration, on any
# machine). ALSA's own complaints stay off standard error; the log tells.
: >"$work/no_pcm.conf"
start no_sound SDL_AUDIODRIVER=alsa ALSA_CONFIG_PATH="$work/no_pcm.conf"
play
close_game
finish 0
log_has $' (cgame) loading DXPLAY sound system : FAILED\n'
! grep -q "ALSA" "$case_dir/stderr" || fail "ALSA speaks on standard error: $(cat "$case_dir/stderr")"
expect_log_lines 5 "$sound_line[a-z]+\.wav : FAILED$"
expect_log_lines 7 "$texture_line.* : OK$"

start no_data
play
close_game
finish 0
expect_log_lines 7 "$texture_line[a-z_]+\.(tga|bmp) : FAILED \[unable to open file\]$"
expect_log_lines 5 "$sound_line[a-z]+\.wav : FAILED$"
log_has $' (cgame) loading DXPLAY sound system : OK\n'

# Cut to half: the pictures' pixels end early; a sample keeps its headers and plays what is left.
for file in "${pictures[@]}" "${sounds[@]}"; do
    truncate -s $(($(stat -c %s "$data/$file") / 2)) "$work/truncated/data/$file"
done
start truncated
play
close_game
finish 0
expect_log_lines 6 "$texture_line[a-z_]+\.tga : FAILED \[image size error [0-9]+ and expected [0-9]+$"
expect_log_lines 1 "${texture_line}intro\.bmp : FAILED \[read error\]$"
expect_log_lines 5 "$sound_line[a-z]+\.wav : OK$"

# Random bytes, the same at every run.
python3 - "$work/random/data" "${pictures[@]}" "${sounds[@]}" <<'EOF'
import os, random, sys
folder, names = sys.argv[1], sys.argv[2:]
generator = random.Random(1)
for name in names:
    path = os.path.join(folder, name)
    size = os.path.getsize(path)
    with open(path, "wb") as f:
        f.write(bytes(generator.getrandbits(8) for _ in range(size)))
EOF
start random
play
close_game
finish 0
expect_log_lines 7 "$texture_line.* : FAILED \[(unsupported format|invalid file format)\]$"
expect_log_lines 5 "$sound_line[a-z]+\.wav : FAILED$"

# Read-only: as root the permissions would not hold, so the game runs as nobody then.
chmod 555 "$work/read_only"
as_user=()
((EUID != 0)) || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
start read_only -- "${as_user[@]}"
play
close_game
finish 0
[[ ! -e $case_dir/brevox.log ]] || fail "a log was written"

# The signals that end a process: the game ends in order, as after a quit, but says by its
# status which signal ended it. A shell starts a command in the background with SIGINT ignored;
# it is given back its default here, as a terminal's Ctrl+C would find it.
for signal in TERM INT; do
    name=sig${signal,,}
    start "$name" --default-signal=INT
    play
    kill -"$signal" "$game_pid"
    finish $((128 + $(kill -l "$signal")))
    log_has $'\n+ cleaning up main objects\n'
    expect_log_lines 0 'FAILED'
done

# The display goes away mid-game, as when the desktop session ends: Xlib would exit() from inside
# the call that found it gone, with the sound threads and SDL still running.
start lost_display
play
display_goes_away "$xvfb_pid" "$case_dir/brevox.log" "$case_dir/stderr"
xvfb_pid=

echo "hostile: passed"
