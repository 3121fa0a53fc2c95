#!/usr/bin/env bash
# The picture window in a real window, under Xvfb and openbox, driven with
# the mouse and keyboard through xdotool:
#  - a map wider than the screen (33000 x 300): the window stays on the
#    screen, shows the map's top-left part pixel for pixel, and Save writes
#    the core's file;
#  - at scale factor 1.5: a 301 x 201 map is shown whole, pixel for pixel,
#    in a client area the window manager did not round down, with the frame
#    at (300, 15).
#
# Usage: picture_e2e.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: picture_e2e.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$build/ui/velmora
render_map=$build/tests/e2e/velmora_render_map
control_centres=$build/tests/e2e/velmora_control_centres
python=/usr/bin/python3  # Debian's, which has Pillow

report_prefix=picture-e2e
source "$here/x_session.sh"

for file in "$program" "$render_map" "$control_centres"; do
  [ -x "$file" ] || fail "$file is not built"
done

work=$(mktemp -d)
program_pid=
stop() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  x_session_stop
  rm -rf "$work"
}
trap stop EXIT

x_session_start "$work"
mkdir "$work/files"

# start SCALE: starts the program at that scale factor and finds its windows
# and, in device pixels, its controls.
declare -A centre_x centre_y
start() {
  export QT_SCALE_FACTOR=$1
  local name x y
  while read -r name x y; do
    centre_x[$name]=$("$python" -c "print(round($x * $1))")
    centre_y[$name]=$("$python" -c "print(round($y * $1))")
  done < <("$control_centres")
  (cd "$work/files" && exec "$program") >"$work/program.log" 2>&1 &
  program_pid=$!
  x_find_window main "$program_pid" Velmora
  x_find_window picture "$program_pid" Picture
}

# geometry ID: sets client_x client_y client_w client_h of a window.
geometry() {
  local info
  info=$(xwininfo -id "$1")
  client_x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  client_y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  client_w=$(sed -n 's/^ *Width: *//p' <<<"$info")
  client_h=$(sed -n 's/^ *Height: *//p' <<<"$info")
}
# frame ID: sets frame_x frame_y frame_w frame_h from the frame extents.
frame() {
  local left right top bottom
  IFS=', ' read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p')
  geometry "$1"
  frame_x=$((client_x - ${left:-0}))
  frame_y=$((client_y - ${top:-0}))
  frame_w=$((client_w + ${left:-0} + ${right:-0}))
  frame_h=$((client_h + ${top:-0} + ${bottom:-0}))
}

# wait_for_picture SECONDS WHAT COMMAND: wait_until for a command that calls
# frame on the picture window; a failure shows where the window was.
wait_for_picture() {
  local limit=$1 what=$2 deadline=$((SECONDS + $1))
  until "$3" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] ||
      fail "no $what after ${limit}s: client ${client_w}x${client_h}, frame ${frame_w}x${frame_h} at ($frame_x, $frame_y)"
    sleep 0.1
  done
}

click() {
  xdotool mousemove --sync --window "$main" "${centre_x[$1]}" "${centre_y[$1]}" click 1
  wait_until 10 "focus on the form" x_active_is "$main"
}
type_into() {
  click "$1"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 -- "$2"
}
generate() {
  type_into IDC_WIDTH "$1"
  type_into IDC_HEIGHT "$2"
  click IDC_GENERATE
}
# The form and the picture overlap: bring the picture forward as the window
# manager's window switching does, and the form by a click on its
# bottom-left corner, which the picture never covers.
raise_picture() {
  xdotool windowactivate "$picture"
  wait_until 30 "picture window active" x_active_is "$picture"
}
raise_form() {
  geometry "$main"
  xdotool mousemove --sync --window "$main" 3 $((client_h - 3)) click 1
  wait_until 30 "form active" x_active_is "$main"
}
# shows_map WIDTH HEIGHT EXPECTED: the top-left WIDTH x HEIGHT pixels of the
# picture's client area are those of the map in EXPECTED.
shows_map() {
  import -window "$picture" "png:$work/shown.png" || fail "could not take a screenshot of the picture window"
  "$python" - "$work/shown.png" "$3" "$1" "$2" <<'PY'
import sys
from PIL import Image

shown = Image.open(sys.argv[1]).convert("RGB")
expected = Image.open(sys.argv[2]).convert("RGB")
width, height = int(sys.argv[3]), int(sys.argv[4])
if shown.size[0] < width or shown.size[1] < height:
    sys.exit(f"the client area is {shown.size[0]}x{shown.size[1]}, less than {width}x{height}")
a, b = shown.load(), expected.load()
for y in range(height):
    for x in range(width):
        if a[x, y] != b[x, y]:
            sys.exit(f"pixel ({x}, {y}) shows {a[x, y]}, the map has {b[x, y]}")
PY
}
close_program() {
  raise_form
  xdotool key alt+F4
  x_wait_exit "$program_pid" "end of the program after Alt+F4 on the form"
  program_pid=
  [ "$exit_status" = 0 ] || fail "the program exited with $exit_status"
}

# --- A map wider than the screen ---------------------------------------------
start 1
generate 33000 300
"$render_map" 33000 300 4 0.015 1 0.25 0 0 "$work/wide.bmp" || fail "the core could not render the wide map"
on_screen() {
  frame "$picture"
  [ "$client_h" -gt 300 ] && [ "$frame_x" = 200 ] && [ "$frame_y" = 10 ] &&
    [ $((frame_x + frame_w)) -le 1280 ] && [ $((frame_y + frame_h)) -le 1024 ]
}
wait_for_picture 60 "picture window of the wide map on the screen at (200, 10)" on_screen
pass "the window of a 33000x300 map stays on the screen: client ${client_w}x${client_h}, frame ${frame_w}x${frame_h} at (200, 10)"
grep -E 'QPainter|xcb_shm' "$work/program.log" && fail "the program warned about painting"

raise_picture
problem=$(shows_map "$client_w" 300 "$work/wide.bmp" 2>&1) || fail "the wide map's visible part is wrong: $problem"
pass "the visible ${client_w}x300 part of the wide map is shown pixel for pixel"

raise_form
type_into IDC_FILENAME wide.bmp
click IDC_SAVE
wait_until 60 "saved file" test -s "$work/files/wide.bmp"
cmp -s "$work/files/wide.bmp" "$work/wide.bmp" || fail "wide.bmp differs from the core's file"
pass "Save wrote the wide map's file byte for byte"
close_program

# --- Scale factor 1.5 --------------------------------------------------------
start 1.5
generate 301 201
"$render_map" 301 201 4 0.015 1 0.25 0 0 "$work/small.bmp" || fail "the core could not render the 301x201 map"
settled() {
  frame "$picture"
  [ "$client_w" -ge 301 ] && [ "$client_h" -ge 201 ] && [ "$frame_x" = 300 ] && [ "$frame_y" = 15 ]
}
wait_for_picture 30 "picture window holding 301x201 with its frame at (300, 15)" settled
pass "at scale 1.5 the client area is ${client_w}x${client_h} and the frame at (300, 15)"
raise_picture
problem=$(shows_map 301 201 "$work/small.bmp" 2>&1) || fail "at scale 1.5 the map is not shown whole: $problem"
pass "at scale 1.5 the 301x201 map is shown pixel for pixel"
close_program
pass "the program ends with exit code 0"

passed_all
