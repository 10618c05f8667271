#!/usr/bin/env bash
# The window under Wine, driven as a user drives it, on the X display the
# suite runs on: vorland.exe starts with the title "Vorland"; File, Open (by
# their mnemonics) brings up the open dialog with its caption; an archive
# typed into the dialog is opened, and its one entry, a picture, previews
# (the window shows many more colours than before); File, Exit ends it.
# Screenshots of each step are kept in WORK_FOLDER.
#   window.sh VORLAND_EXE VORLAND_CLI_EXE SAMPLE_ARCHIVE WORK_FOLDER
set -euo pipefail
exe=$1 cli=$2 sample=$3 work=$4
skip() { echo "SKIPPED: $*"; exit 0; }
[ -n "${DISPLAY:-}" ] || skip "no X display (run under xvfb-run)"
for tool in wine winepath xdotool import convert; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
rm -rf "$work" && mkdir -p "$work/in"
fail() {
    echo "FAILED: $*" >&2
    import -window root "$work/failed.png" 2>/dev/null || true
    exit 1
}

# An archive whose root holds one picture.
wine "$cli" render "$(winepath -w "$sample")" 'images\sky.tga' -o "$(winepath -w "$work/in/sky.png")"
wine "$cli" pack "$(winepath -w "$work/in")" -o "$(winepath -w "$work/one.big")" 2>/dev/null

wine "$exe" >/dev/null 2>&1 &
started=$!
trap 'kill $started 2>/dev/null || true' EXIT
window=$(timeout 60 xdotool search --sync --name '^Vorland$' | head -1) ||
    fail "no window titled \"Vorland\" appeared"
[ "$(xdotool getwindowname "$window")" = Vorland ] || fail "the title is not \"Vorland\""
sleep 1
# colours WINDOW FILE: the number of distinct colours of the window.
colours() {
    import -window root "$2"
    eval "$(xdotool getwindowgeometry --shell "$1")"
    convert "$2" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -unique-colors -format '%w' info:
}
empty=$(colours "$window" "$work/1-started.png")

xdotool windowfocus --sync "$window" key alt+f
sleep 1
xdotool key o
dialog=$(timeout 30 xdotool search --sync --name '^Open \.BIG archive$' | head -1) ||
    fail "File, Open did not bring up \"Open .BIG archive\""
import -window root "$work/2-dialog.png"
xdotool type --delay 10 "$(winepath -w "$work/one.big")"
xdotool key Return
for _ in $(seq 50); do
    xdotool search --name '^Open \.BIG archive$' >/dev/null || break
    sleep 0.2
done
sleep 1
opened=$(colours "$window" "$work/3-opened.png")

# Into the table (after the up button and the path), onto its one row.
xdotool windowfocus --sync "$window" key Tab Tab Down
sleep 2
shown=$(colours "$window" "$work/4-preview.png")
echo "distinct colours: started $empty, archive open $opened, picture shown $shown"
[ "$shown" -gt $((opened * 3)) ] || fail "no picture was previewed"

# File, Exit ends the program; the open menu shows the five entries.
xdotool windowfocus --sync "$window" key alt+f
sleep 1
import -window root "$work/5-file-menu.png"
xdotool key e # "&Exit"
for _ in $(seq 50); do
    kill -0 "$started" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$started" 2>/dev/null && fail "File, Exit did not end the program"
wait "$started" || true
echo "the window started, opened $work/one.big through its dialog and previewed sky.png"
