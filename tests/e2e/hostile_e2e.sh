#!/usr/bin/env bash
# The real-window test of a user who pushes: in its own X server and window
# manager it checks that
# - the Generate progress dialog leaves the keyboard on the form: Return
#   typed there does not cancel, and Alt+F4 on the form ends the program;
# - Save runs in the background: its progress dialog opens, input meanwhile
#   is dropped (three clicks on Save make one save, a Generate clicked
#   meanwhile does nothing), Cancel leaves the target as it was, and a close
#   during a save ends the program with 0 within 1.5 s; no temporary is left;
# - SIGTERM, SIGINT and SIGHUP during a save leave no temporary, and a file
#   size limit gives a warning instead of killing the program;
# - a map for which memory runs short gives a warning and the program stays
#   responsive, with a previous map and without one;
# - with no file descriptor left, Save's warning is drawn and the program
#   stays responsive.
#
# Usage: hostile_e2e.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: hostile_e2e.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$build/ui/velmora
control_centres=$build/tests/e2e/velmora_control_centres
slow_writes=$build/tests/e2e/libvelmora_slow_writes.so

report_prefix=e2e-hostile
source "$here/x_session.sh"

for file in "$program" "$control_centres" "$slow_writes"; do
  [ -f "$file" ] || fail "$file is not built"
done
command -v prlimit >/dev/null || fail "prlimit is not installed"

x_work_start
x_read_centres "$control_centres"
files=$work/files
mkdir "$files"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# window_gone TITLE: no visible window has that title.
window_gone() { [ -z "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)" ]; }
# free_mb: the megabytes free on the files folder's file system.
free_mb() { echo $(($(df -B1 --output=avail "$files" | tail -n 1) / 1000000)); }
# no_warning_instead TITLE: fails if a warning shows while a window titled
# TITLE is awaited (a save refused for want of disk space, say).
no_warning_instead() {
  [ "$1" = 'Warning!' ] || window_gone 'Warning!' ||
    fail "a warning showed instead of the window \"$1\" ($(free_mb) MB free beside the files)"
}
# find_titled VAR TITLE SECONDS: the visible window titled TITLE, or fails.
find_titled() {
  local var=$1 title=$2 deadline=$(($(now_ms) + $3 * 1000)) id=""
  until id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1) && [ -n "$id" ]; do
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended while waiting for \"$title\""
    no_warning_instead "$title"
    [ "$(now_ms)" -lt "$deadline" ] || fail "no window \"$title\" after $3 s"
    sleep 0.05
  done
  printf -v "$var" '%s' "$id"
}
# save_shows_progress: clicks Save until its progress window shows. A
# cancelled save's window goes at once, but the program drops input until
# the save has stopped, so a click right after a Cancel may be dropped; a
# click during a save is dropped too, so clicking again never saves twice.
save_shows_progress() {
  local deadline=$(($(now_ms) + 20000)) id=""
  while :; do
    click IDC_SAVE
    local until=$(($(now_ms) + 3000))
    while [ "$(now_ms)" -lt "$until" ]; do
      id=$(xdotool search --onlyvisible --name '^Save$' 2>/dev/null | head -n 1) && [ -n "$id" ] && return 0
      no_warning_instead Save
      sleep 0.05
    done
    [ "$(now_ms)" -lt "$deadline" ] || fail "no window \"Save\" after 20 s of clicks on Save"
  done
}
# temporaries: lists any temporary a save left in the files folder.
temporaries() { find "$files" -maxdepth 1 -name '.velmora-*' | head -n 3; }
no_temporaries() { [ -z "$(temporaries)" ] || fail "a save left $(temporaries)"; }
# pixel_at ID X Y: the colour of the screen pixel at (X, Y) of window ID's
# client area.
pixel_at() {
  x_geometry "$1"
  import -window root -crop "1x1+$((client_x + $2))+$((client_y + $3))" -depth 8 txt:- |
    sed -n 's/.*\(#[0-9A-F]\{6\}\).*/\1/p'
}
# A pixel of the picture window's client area that the form does not cover.
probe_pixel() {
  x_geometry "$picture"
  pixel_at "$picture" $((client_w - 30)) $((client_h / 2))
}
# The map is drawn once the picture window, moved to (200, 10), no longer
# shows the window background there, the form's too.
map_drawn() {
  x_geometry "$picture"
  [ "$client_x" -gt 150 ] && [ "$(probe_pixel)" != "$background" ]
}
# generate WIDTH HEIGHT: a map of that size with the other start values, in
# a program that has made none; returns once it is drawn, as input to the
# form is dropped until then.
generate() {
  x_geometry "$main"
  background=$(pixel_at "$main" 3 $((client_h - 3)))
  type_into IDC_WIDTH "$1"
  type_into IDC_HEIGHT "$2"
  click IDC_GENERATE
  wait_until 60 "the map drawn" map_drawn
}
# saved_map WIDTH HEIGHT: the size of a saved map's file.
saved_size() { echo $((54 + ($1 * 3 + 3) / 4 * 4 * $2)); }
# size_of FILE
size_of() { stat -c %s "$1"; }
# press CONTROL: clicks a control of the form when a window may open at once.
press() { xdotool mousemove --sync --window "$main" "${centre_x[$1]}" "${centre_y[$1]}" click 1; }
old_file() { printf 'old file\n' >"$1"; }
is_old() { [ "$(cat "$1")" = "old file" ]; }
dismiss_warning() {
  local box
  find_titled box 'Warning!' 30
  xdotool windowactivate --sync "$box" key Return
  wait_until 10 "warning closed" window_gone 'Warning!'
}

# --- The progress dialog leaves the keyboard on the form --------------------
x_start_program "$files"
type_into IDC_WIDTH 4096
type_into IDC_HEIGHT 4096
type_into IDC_OCTAVES 2147483647
type_into IDC_PERSISTENCE 0.9999
click IDC_VARY_AMPLITUDE
click IDC_GENERATE
find_titled progress Generate 10
sleep 0.5
x_active_is "$main" || fail "the progress dialog took the focus from the form"
xdotool key Return
sleep 0.5
window_gone Generate && fail "Return typed into the form cancelled the render"
pass "the progress dialog leaves the keyboard on the form, and Return there does not cancel"
xdotool key alt+F4
x_ends_with_zero "Alt+F4 on the form during a render" 1500
pass "Alt+F4 on the form during a render ends the program with 0"

# --- Save in the background ---------------------------------------------------
# A save runs as fast as the disk takes it, which can be well under the 0.4 s
# after which its progress shows. Here each of its 1 MiB writes first waits
# 10 ms, so that a 10000 x 10000 map's save (300 MB) lasts at least 2.9 s.
# Each case removes its file when done.
slowly=(LD_PRELOAD="$slow_writes" VELMORA_WRITE_DELAY_MS=10)
map_bytes=$(saved_size 10000 10000)
[ "$(free_mb)" -gt $((map_bytes * 5 / 2 / 1000000)) ] ||
  fail "the saves need $((map_bytes * 5 / 2 / 1000000)) MB free beside the files, there are $(free_mb) MB"
x_start_program "$files" env "${slowly[@]}"
generate 10000 10000
type_into IDC_FILENAME "$files/big.bmp"
old_file "$files/big.bmp"
click IDC_SAVE
click IDC_SAVE
click IDC_SAVE
type_into IDC_WIDTH 100
click IDC_GENERATE
find_titled progress Save 10
pass "a long save shows its progress dialog"
wait_until 120 "the save finished" window_gone Save
[ "$(size_of "$files/big.bmp")" = "$map_bytes" ] || fail "big.bmp has $(size_of "$files/big.bmp") bytes"
inode=$(stat -c %i "$files/big.bmp")
sleep 3
[ "$(stat -c %i "$files/big.bmp")" = "$inode" ] || fail "clicks during the save saved again afterwards"
window_gone Save || fail "clicks during the save saved again afterwards"
x_geometry "$picture"
[ "$client_w" -gt 100 ] || fail "a Generate clicked during the save ran afterwards"
no_temporaries
rm "$files/big.bmp"
pass "input during a save is dropped: one save, no Generate afterwards"

old_file "$files/cancelled.bmp"
type_into IDC_FILENAME "$files/cancelled.bmp"
save_shows_progress
find_titled progress Save 1
x_geometry "$progress"
xdotool mousemove --sync --window "$progress" $((client_w - 50)) $((client_h - 22)) click 1
wait_until 10 "the save cancelled" window_gone Save
is_old "$files/cancelled.bmp" || fail "Cancel changed the target"
no_temporaries
pass "Cancel leaves the target as it was and no temporary"

old_file "$files/closed.bmp"
type_into IDC_FILENAME "$files/closed.bmp"
save_shows_progress
xdotool windowactivate --sync "$main" key alt+F4
x_ends_with_zero "Alt+F4 on the form during a save" 1500
is_old "$files/closed.bmp" || [ "$(size_of "$files/closed.bmp")" = "$map_bytes" ] ||
  fail "closing during the save left closed.bmp with $(size_of "$files/closed.bmp") bytes"
no_temporaries
rm "$files/closed.bmp"
pass "closing the form during a save ends the program with 0 within 1.5 s, with no temporary"

# --- Signals and a file size limit --------------------------------------------
for signal in TERM INT HUP; do
  # With the signals' default actions, whatever this script inherited (under
  # nohup SIGHUP is ignored, and the program rightly keeps ignoring it).
  x_start_program "$files" env --default-signal=TERM,INT,HUP "${slowly[@]}"
  generate 10000 10000
  type_into IDC_FILENAME "$files/signal.bmp"
  click IDC_SAVE
  find_titled progress Save 10
  kill -s "$signal" "$program_pid"
  wait_until 10 "the program ended by SIG$signal" x_process_ended "$program_pid"
  wait "$program_pid" 2>/dev/null || true
  program_pid=
  no_temporaries
done
pass "SIGTERM, SIGINT and SIGHUP during a save leave no temporary"

(cd "$files" && exec prlimit --fsize=1048576 -- "$program") >"$work/program.log" 2>&1 &
program_pid=$!
x_find_window main "$program_pid" Velmora
x_find_window picture "$program_pid" Picture
generate 1000 1000
old_file "$files/limited.bmp"
type_into IDC_FILENAME "$files/limited.bmp"
press IDC_SAVE
find_titled box 'Warning!' 30
is_old "$files/limited.bmp" || fail "a save past the file size limit changed the target"
no_temporaries
dismiss_warning
xdotool windowactivate --sync "$main" key alt+F4
x_ends_with_zero "Alt+F4 after a save past the file size limit" 5000
pass "a save past the file size limit warns; the program lives on and the old file is intact"

# --- Memory nearly exhausted ---------------------------------------------------
for previous in no yes; do
  x_start_program "$files"
  [ "$previous" = yes ] && generate 600 300
  x_geometry "$picture"
  before="$client_w $client_h"
  type_into IDC_WIDTH 12000
  type_into IDC_HEIGHT 12000
  in_use=$(awk '/^VmSize:/ { print $2 * 1024 }' "/proc/$program_pid/status")
  prlimit --pid "$program_pid" --as=$((in_use + 432000000 + 3 * 1048576)):
  press IDC_GENERATE
  dismiss_warning
  prlimit --pid "$program_pid" --as=unlimited:
  x_geometry "$picture"
  [ "$client_w $client_h" = "$before" ] || fail "the picture window is ${client_w}x$client_h, before it was $before"
  xdotool windowactivate --sync "$main" key alt+F4
  x_ends_with_zero "Alt+F4 after a map without memory" 5000
done
pass "a map without the memory it needs warns and keeps the previous map and window, with and without one"

# --- No file descriptor left --------------------------------------------------
x_start_program "$files"
generate 600 300
type_into IDC_FILENAME "$files/descriptors.bmp"
open_now=$(ls "/proc/$program_pid/fd" | wc -l)
prlimit --pid "$program_pid" --nofile="$open_now":
press IDC_SAVE
find_titled box 'Warning!' 30
sleep 0.5
import -window "$box" "png:$work/warning.png" || fail "could not take a screenshot of the warning"
colours=$(convert "$work/warning.png" -format '%k' info:)
[ "$colours" -gt 2 ] || fail "the warning is not drawn ($colours colours)"
dismiss_warning
prlimit --pid "$program_pid" --nofile=1024:
xdotool windowactivate --sync "$main" key alt+F4
x_ends_with_zero "Alt+F4 after a save without descriptors" 5000
pass "with no descriptor left, Save's warning is drawn and the program stays responsive"

passed_all
