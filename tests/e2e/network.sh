#!/usr/bin/env bash
# Network play between two processes of the built game on one machine, each on a virtual X
# server of its own, the guest's link through the tests' relay (60 ms round trip, 10 ms jitter,
# 5 % loss each way):
#   random datagrams at the host's port before anyone joins; a guest with a wrong code, refused
#   (status 1); the guest joins; a third machine, refused while the guest plays (status 1); both
#   sides through their menus into the field, the host's serve; each side's key moving its
#   paddle on both screens; P on the guest pauses both, P on the host resumes both; the guest
#   closes its window (status 0) and the host says so; the same command joins again and shows
#   the score the host kept; a link cut and back; the host quitting
#   in order, its replay of the match checking equal; a second host found on the "local
#   network" (loopback), with no answer to another code given on the command line, then joined
#   with a code typed in the window (a wrong one first), and killed: the guest says the link
#   went silent.
#
#   network.sh GAME CLOSE_WINDOW
set -euo pipefail

game=$(realpath "$1")
close_window=$(realpath "$2")
e2e_name=network
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
guest_xvfb_pid=
more_cleanup() { end_process "$guest_xvfb_pid"; }
show_failure() {
    local side
    for side in host guest; do
        [[ -f $work/$side/err ]] && { echo "--- $side's standard error"; cat "$work/$side/err"; }
        [[ -f $work/$side/brevox.log ]] &&
            { echo "--- $side's brevox.log"; grep -v '^ GL_' "$work/$side/brevox.log" | tail -n 40; }
    done
    return 0
}

data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd -P)
mkdir "$work/host" "$work/guest"
ln -s "$data" "$work/host/data"
ln -s "$data" "$work/guest/data"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" # as in play_game.sh
export SDL_AUDIODRIVER=dummy

start_xvfb 640x480
host_display=$DISPLAY
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$work/guest-display" 2>/dev/null &
guest_xvfb_pid=$!
wait_for "the guest's X server" test -s "$work/guest-display"
guest_display=":$(cat "$work/guest-display")"

# on DISPLAY COMMAND...: runs COMMAND with the screen and keys of that display.
on() { DISPLAY=$1 "${@:2}"; }
# host_says TEXT [N]: at least N (1) lines of the host's log hold TEXT; guest_says likewise.
says() { [[ $(grep -c -F -- "$2" "$work/$1/brevox.log" 2>/dev/null || true) -ge ${3:-1} ]]; }
host_says() { says host "$@"; }
guest_says() { says guest "$@"; }

# The host, on a free port (the next one too): it says how to join it, or ends at once when the
# port is taken.
host_pid=
host_answered() { grep -q "join with" "$work/host/out" 2>/dev/null || ! kill -0 "$host_pid" 2>/dev/null; }
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    rm -f "$work/host/out" # not the last try's, read before this one's is made
    (cd "$work/host" && DISPLAY=$host_display exec "$game" --host "$port" \
        --record "$work/$e2e_name.replay" >"$work/host/out" 2>"$work/host/err") &
    host_pid=$!
    game_pid=$host_pid
    poll_until 30 host_answered || fail "the host does not say how to join it"
    grep -q "join with" "$work/host/out" && break
    game_exit 1
done
grep -q "join with" "$work/host/out" || fail "no port to host on"
code=$(sed -n 's/.*--code \([0-9]\{4\}\)$/\1/p' "$work/host/out")
[[ -n $code ]] || fail "no join code in: $(cat "$work/host/out")"

# Garbage at the host's port before anyone joins: the host plays on.
python3 -c "
import os, socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for n in range(200):
    s.sendto(os.urandom(1 + n * 7 % 1200), ('127.0.0.1', $port))
"

start_relay relay_port "$port" --delay 60 --jitter 10 --loss 5 --seed 7

# joined_refused CODE TEXT: a guest that ends with status 1 and TEXT on its standard error.
join_refused() {
    local status=0
    (cd "$work/guest" && "$game" --join "127.0.0.1:$1" --code "$2" >/dev/null 2>"$work/refused.err") ||
        status=$?
    [[ $status -eq 1 ]] || fail "a join with code $2 at port $1 ended with $status, not 1"
    grep -q -F -- "$3" "$work/refused.err" || fail "not '$3' but: $(cat "$work/refused.err")"
}
join_refused "$relay_port" "$(printf '%04d' $(((10#$code + 1) % 10000)))" "the code is not its game's"

# The guest, through the relay.
start_guest() {
    (cd "$work/guest" && DISPLAY=$guest_display exec "$game" --join "127.0.0.1:$relay_port" \
        --code "$code" >"$work/guest/out" 2>"$work/guest/err") &
    guest_pid=$!
}
start_guest
game_pid=$guest_pid
wait_for "the guest to join" host_says "(net) the guest joined from"
on "$guest_display" wait_for "the guest's window" title_has_rate
join_refused "$port" "$code" "another guest plays there"
game_pid=$host_pid
on "$host_display" wait_for "the host's window" title_has_rate

# Into the field on both sides; the host serves.
on "$guest_display" xdotool key --delay 60 Down Down Down Return
on "$host_display" xdotool key --delay 60 Down Down Down Return
on "$host_display" wait_for "the host's intro" intro_shown
on "$host_display" hold_key space "the host's prompt to serve" serve_prompt_shown
on "$guest_display" wait_for "the prompt on the guest's screen" serve_prompt_shown
on "$host_display" hold_key space "the host's serve" serve_prompt_gone
on "$guest_display" wait_for "the serve on the guest's screen" serve_prompt_gone

# P on the guest, while the served ball crosses the field, pauses both; P on the host resumes.
paused_shown() { rgb_at 130x20+255+199 && ((rgb[2] >= 30 && rgb[2] > rgb[0])); }
playing() { ! paused_shown; }
on "$guest_display" xdotool key p
on "$host_display" wait_for "the guest's pause on the host's screen" paused_shown
on "$guest_display" wait_for "the pause on the guest's screen" paused_shown
wait_for "the host to say who paused" host_says "(net) paused by the guest"
on "$host_display" xdotool key p
on "$guest_display" wait_for "play again on the guest's screen" playing


# A paddle at the top of the field, where both start at the bottom: a light bar at that edge.
right_paddle_up() { rgb_at 8x60+630+20 && ((rgb[0] + rgb[1] + rgb[2] > 150)); }
left_paddle_up() { rgb_at 8x60+2+20 && ((rgb[0] + rgb[1] + rgb[2] > 150)); }
on "$guest_display" hold_key Up "the guest's paddle up on its screen" right_paddle_up
on "$host_display" wait_for "the guest's paddle up on the host's screen" right_paddle_up
on "$host_display" hold_key Shift_L "the host's paddle up on its screen" left_paddle_up
on "$guest_display" wait_for "the host's paddle up on the guest's screen" left_paddle_up

# The guest leaves by its close button, and comes back with the same command.
game_pid=$guest_pid
on "$guest_display" "$close_window" "$(on "$guest_display" window)"
game_exit 0
game_pid=$host_pid
wait_for "the host to hear the guest leave" host_says "(net) the guest left"
start_guest
game_pid=$guest_pid
wait_for "the guest to join again" host_says "(net) the guest joined from" 2
on "$guest_display" wait_for "the guest's window" title_has_rate
on "$guest_display" xdotool key --delay 60 Down Down Down Return
# The score the host kept, on both screens alike.
score_of() { on "$1" import -window root -crop 100x20+270+452 +repage "$work/$2.png"; }
same_score() {
    score_of "$host_display" host-score && score_of "$guest_display" guest-score &&
        [[ $(compare -metric AE "$work/host-score.png" "$work/guest-score.png" null: 2>&1) == 0 ]]
}
wait_for "the same score on both screens" same_score

# The link cut: each side says it went silent, and the guest joins again once it is back.
kill -USR1 "${relay_pids[0]}"
wait_for "the host to notice the silence" host_says "(net) the guest's link went silent"
wait_for "the guest to notice the silence" guest_says "The link to the host went silent"
kill -USR2 "${relay_pids[0]}"
wait_for "the guest to join by itself" host_says "(net) the guest joined from" 3

# The host quits by its close button: the guest says the other player left, and tries again.
game_pid=$host_pid
on "$host_display" "$close_window" "$(on "$host_display" window)"
game_exit 0
ended_in_order "$work/host/brevox.log"
game_pid=$guest_pid
wait_for "the guest to hear the host leave" guest_says "The other player left"
(cd "$work/host" && "$game" --replay "$work/$e2e_name.replay" --check >"$work/check.out") ||
    fail "the host's replay does not check equal: $(cat "$work/check.out")"
on "$guest_display" "$close_window" "$(on "$guest_display" window)"
game_exit 0
[[ ! -s $work/guest/err ]] || fail "the guest said on standard error: $(cat "$work/guest/err")"

# A host killed: a new guest, which found it on the local network, says the link went silent.
rm -f "$work/guest/brevox.log" "$work/host/out" # not the first host's, read before this one's
(cd "$work/host" && DISPLAY=$host_display exec "$game" --host "$port" >"$work/host/out" 2>&1) &
host_pid=$!
game_pid=$host_pid
wait_for "the host again" grep -q "join with" "$work/host/out"
code=$(sed -n 's/.*--code \([0-9]\{4\}\)$/\1/p' "$work/host/out")
# Found on the "local network" (loopback here): none with another code, then the host's.
status=0
"$game" --join --code "$(printf '%04d' $(((10#$code + 1) % 10000)))" --broadcast "127.0.0.1:$port" \
    2>"$work/refused.err" || status=$?
[[ $status -eq 1 ]] && grep -q -F "answered on the local network" "$work/refused.err" ||
    fail "a look for another code: status $status, $(cat "$work/refused.err")"
# The desktop's "Join a game on this network": no code given, it is typed in the window; a
# wrong one first.
(cd "$work/guest" && DISPLAY=$guest_display exec "$game" --join --broadcast "127.0.0.1:$port" \
    >"$work/guest/out" 2>"$work/guest/err") &
guest_pid=$!
game_pid=$guest_pid
on "$guest_display" wait_for "the guest's window" title_has_rate
wrong=$(printf '%04d' $(((10#$code + 1) % 10000)))
on "$guest_display" xdotool type --delay 60 "$wrong"
on "$guest_display" xdotool key Return
wait_for "the wrong code's failure" guest_says "(net) cannot join: no game with code $wrong"
on "$guest_display" xdotool type --delay 60 "$code"
on "$guest_display" xdotool key Return
game_pid=$guest_pid
wait_for "the guest to join the new host" guest_says "+ joined the network game at"
kill -KILL "$host_pid"
wait "$host_pid" 2>/dev/null || true
wait_for "the guest to notice the host is gone" guest_says "The link to the host went silent"
on "$guest_display" "$close_window" "$(on "$guest_display" window)"
game_exit 0
echo "$e2e_name: passed"
