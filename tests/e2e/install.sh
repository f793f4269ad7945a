#!/usr/bin/env bash
# Installs the built game into a fresh prefix with cmake --install and checks what a desktop
# sees of it: the desktop entry (desktop-file-validate) and the AppStream metainfo (appstreamcli
# validate, no error and no warning), both named by the build's id, their icons, the copyright
# file and the changelog, the manual page (compressed, rendered by man without a warning),
# --help and --version through the installed launcher (no window, no log, nothing made in the
# user's directories), a bad --computer (status 2), and starts of the launcher from another directory on a virtual X server
# of its own, each until the menu shows, then "quit":
#   1. XDG_STATE_HOME unset: the game runs in $HOME/.local/state/brevox, in a window whose class
#      (WM_CLASS) is the desktop entry's StartupWMClass;
#   2. the desktop entry's action "Play against the computer", by its Exec line: the computer's
#      paddle goes to the middle of the field on its own before the serve;
#   3. the prefix moved elsewhere and XDG_STATE_HOME set, its brevox/data a link to the old
#      place: the launcher finds the game from where it lies and points the link anew.
#
#   install.sh BUILD_DIR APP_ID
set -euo pipefail

build=$1
id=$2
e2e_name=install
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
state=
show_failure() {
    [[ -n $state && -f $state/brevox.log ]] && { echo "--- brevox.log"; grep -v '^ GL_' "$state/brevox.log"; }
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"

# The desktop entry, named by the id, starts the launcher, names its window's class and an icon
# installed at every size and as a scalable drawing.
entry=$prefix/share/applications/$id.desktop
[[ -f $entry ]] || fail "no desktop entry $id.desktop"
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"
[[ -x $prefix/bin/$(sed -n '1,/^$/s/^Exec=//p' "$entry") ]] || fail "the entry's Exec is not the launcher"
action=$(sed -n '/^\[Desktop Action computer\]$/,/^\[/s/^Exec=//p' "$entry")
[[ $action == "brevox --computer right" ]] || fail "the computer action runs '$action'"
replay_action=$(sed -n '/^\[Desktop Action replay\]$/,/^\[/s/^Exec=//p' "$entry")
[[ $replay_action == "brevox --replay" ]] || fail "the replay action runs '$replay_action'"
host_action=$(sed -n '/^\[Desktop Action host\]$/,/^\[/s/^Exec=//p' "$entry")
[[ $host_action == "brevox --host" ]] || fail "the host action runs '$host_action'"
join_action=$(sed -n '/^\[Desktop Action join\]$/,/^\[/s/^Exec=//p' "$entry")
[[ $join_action == "brevox --join" ]] || fail "the join action runs '$join_action'"
wm_class=$(sed -n '1,/^$/s/^StartupWMClass=//p' "$entry")
[[ $wm_class == "$id" ]] || fail "StartupWMClass is '$wm_class', not $id"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ $icon == "$id" ]] || fail "the entry's icon is '$icon', not $id"
for size in 16 24 32 48 64 128 256 512; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/$icon.png
    [[ -f $png && $(identify -format %wx%h "$png") == "${size}x$size" ]] || fail "no $size x $size icon $icon"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$icon.svg
python3 -c 'import sys, xml.etree.ElementTree as t
sys.exit(t.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' "$svg" 2>/dev/null ||
    fail "no scalable icon $icon.svg"

# The metainfo a software centre reads: valid without a warning, its id, its launchable entry and
# its newest release this build's version.
metainfo=$prefix/share/metainfo/$id.metainfo.xml
[[ -f $metainfo ]] || fail "no metainfo $id.metainfo.xml"
out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
grep -q -E '^(E|W):' <<<"$out" && fail "appstreamcli validate: $out"
# metainfo_at PATH: the text of the metainfo's first element at PATH (ElementTree's form).
metainfo_at() {
    python3 -c 'import sys, xml.etree.ElementTree as t; print(t.parse(sys.argv[1]).findtext(sys.argv[2]))' \
        "$metainfo" "$1"
}
[[ $(metainfo_at id) == "$id" ]] || fail "the metainfo's id is not $id"
[[ $(metainfo_at launchable) == "$id.desktop" ]] || fail "the metainfo does not launch $id.desktop"
release=$(python3 -c 'import sys, xml.etree.ElementTree as t
print(t.parse(sys.argv[1]).find("releases/release").get("version"))' "$metainfo")
[[ "brevox $release" == $("$prefix/bin/brevox" --version) ]] ||
    fail "the metainfo's newest release is '$release', not the version of brevox"
grep -q -F "MIT" "$prefix/share/doc/brevox/copyright" || fail "no licence in share/doc/brevox/copyright"
[[ $(zcat "$prefix/share/doc/brevox/changelog.gz" | head -n 1) == "brevox ($release) "* ]] ||
    fail "the changelog's newest release is not $release"

page=$prefix/share/man/man6/brevox.6.gz
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/man.txt" 2>"$work/man.err" ||
    fail "man -l failed: $(cat "$work/man.err")"
[[ ! -s $work/man.err ]] || fail "man -l warns: $(cat "$work/man.err")"
grep -q "^EXIT STATUS" "$work/man.txt" || fail "the manual page has no exit status"

# --help and --version: the game's answer on standard output, status 0, even without a display.
export HOME=$work/home
mkdir -p "$work/elsewhere" "$HOME"
cd "$work/elsewhere"
unset DISPLAY WAYLAND_DISPLAY XDG_STATE_HOME
help=$("$prefix/bin/brevox" --help) || fail "--help failed"
grep -q -F "brevox.log" <<<"$help" || fail "--help says nothing of the log"
grep -q -F "Left Shift, Left Ctrl" <<<"$help" || fail "--help lists no keys"
[[ $("$prefix/bin/brevox" --version) == "brevox 0.7a" ]] || fail "--version is wrong"
[[ -z $(ls -A) && -z $(ls -A "$HOME") ]] || fail "--help or --version left files behind"
status=0
"$prefix/bin/brevox" --computer sideways 2>"$work/bad.err" || status=$?
[[ $status -eq 2 && $(<"$work/bad.err") == "brevox: --computer wants left, right or both" ]] ||
    fail "--computer sideways: status $status, $(cat "$work/bad.err")"

start_xvfb 640x480
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/sound.raw
# Under the sanitizer build, leaks are checked by the unit tests (see play_game.sh).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

menu_on_show() {
    local id
    title_has_rate || return 1
    # The menu's white title over black.
    import -window root "$work/menu.png"
    [[ $(convert "$work/menu.png" -crop 240x40+200+2 +repage -format "%[fx:round(100*mean)]" \
        info:) -gt 8 ]]
}

# Starts PREFIX's launcher from $work/elsewhere with ARGS, waits for the menu, chooses "quit" (Up
# wraps round to it) and checks that the game ran in $state and ended with status 0.
play_from() {
    "$1/bin/brevox" "${@:2}" &
    game_pid=$!
    wait_for "the menu" menu_on_show
    [[ $(xprop -id "$(window)" WM_CLASS) == "WM_CLASS(STRING) = \"$id\", \"$id\"" ]] ||
        fail "the window's class: $(xprop -id "$(window)" WM_CLASS), not $id"
    xdotool key --delay 60 Up Return
    game_exit 0
    [[ $(readlink "$state/data") == "$1/share/brevox/data" ]] || fail "data is not linked to $1"
    grep -q -F "+ loop quit requested.." "$state/brevox.log" || fail "no log in $state"
    [[ $(grep -c -E '^ \(texture\) loading .* : OK$' "$state/brevox.log") -eq 7 ]] ||
        fail "a picture did not load"
    grep -q FAILED "$state/brevox.log" && fail "a step failed"
    [[ ! -e brevox.log ]] || fail "a log in the directory the launcher was started from"
}

state=$HOME/.local/state/brevox
play_from "$prefix"

# The action's Exec line, as a desktop runs it: the right paddle, the computer's, leaves the
# bottom for the middle of the field while the person's stays down.
computer_paddle_in_middle() {
    rgb_at 6x40+632+220 && ((rgb[0] > 40)) && rgb_at 6x40+2+220 && ((rgb[0] < 20))
}
read -r -a words <<<"$action"
"$prefix/bin/${words[0]}" "${words[@]:1}" &
game_pid=$!
wait_for "the menu" menu_on_show
continue_to_field
wait_for "the computer's paddle in the middle" computer_paddle_in_middle
xdotool key Escape
wait_for "the menu" menu_on_show
xdotool key --delay 60 Down Down Return
game_exit 0
grep -q -F -x " (computer) taking the right paddle : OK" "$state/brevox.log" ||
    fail "the action did not start the computer"

mkdir -p "$work/xdg/brevox"
ln -s "$prefix/share/brevox/data" "$work/xdg/brevox/data"
mv "$prefix" "$work/moved"
export XDG_STATE_HOME=$work/xdg
state=$XDG_STATE_HOME/brevox
# A replay named with a relative path lands where the launcher was started, and checks from there.
play_from "$work/moved" --record "a run.replay"
"$work/moved/bin/brevox" --replay "a run.replay" --check | grep -q "all equal$" ||
    fail "the replay recorded through the launcher is not in $PWD or does not check equal"
echo "install: passed"
