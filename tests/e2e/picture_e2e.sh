#!/usr/bin/env bash
# The picture window in a real window (Xvfb, openbox, xdotool):
#  - a 33000 x 300 map: the window stays on the 1280 x 1024 screen at
#    (200, 10), shows the map's visible part pixel for pixel, and Save
#    writes the core's file;
#  - at scale factor 1.5: a 301 x 201 map is shown whole, pixel for pixel,
#    in a client area the window manager did not round down, with the frame
#    at (300, 15).
#
# Usage: picture_e2e.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: picture_e2e.sh BUILD_DIR}" && pwd)
program=$build/ui/velmora
render_map=$build/tests/e2e/velmora_render_map
python=/usr/bin/python3  # Debian's, which has Pillow

report_prefix=picture-e2e
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/x_session.sh"

x_work_start
mkdir "$work/files"

# start SCALE: runs the program at that scale factor, finds its windows and
# the centres of its controls in device pixels.
start() {
  export QT_SCALE_FACTOR=$1
  x_read_centres "$build/tests/e2e/velmora_control_centres" "$1"
  x_start_program "$work/files"
}

# frame ID: sets client_w client_h and frame_x frame_y frame_w frame_h.
frame() {
  local info left right top bottom
  info=$(xwininfo -id "$1")
  IFS=', ' read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p')
  left=${left:-0} right=${right:-0} top=${top:-0} bottom=${bottom:-0}
  client_w=$(sed -n 's/^ *Width: *//p' <<<"$info")
  client_h=$(sed -n 's/^ *Height: *//p' <<<"$info")
  frame_x=$(($(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info") - left))
  frame_y=$(($(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info") - top))
  frame_w=$((client_w + left + right))
  frame_h=$((client_h + top + bottom))
}

# The windows overlap. The picture comes forward by the window manager's
# activation, as window switching does; the form by a click on its
# bottom-left corner, which the picture never covers.
raise_picture() {
  xdotool windowactivate "$picture"
  wait_until 30 "picture window active" x_active_is "$picture"
}
raise_form() {
  frame "$main"
  xdotool mousemove --sync --window "$main" 3 $((client_h - 3)) click 1
  wait_until 30 "form active" x_active_is "$main"
}
# shows_map WIDTH HEIGHT FILE: the top-left WIDTH x HEIGHT pixels of the
# picture's client area are those of the map in FILE.
shows_map() {
  raise_picture
  import -window "$picture" "png:$work/shown.png" || fail "could not take a screenshot of the picture window"
  "$python" - "$work/shown.png" "$3" "$1" "$2" <<'PY'
import sys
from PIL import Image

shown, expected = (Image.open(name).convert("RGB") for name in sys.argv[1:3])
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
# generate WIDTH HEIGHT: types the size, presses Generate and renders the
# core's file for the start-up parameters into $work/WIDTHxHEIGHT.bmp.
generate() {
  type_into IDC_WIDTH "$1"
  type_into IDC_HEIGHT "$2"
  click IDC_GENERATE
  "$render_map" "$1" "$2" 4 0.015 1 0.25 0 0 "$work/$1x$2.bmp" || fail "the core could not render $1x$2"
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
on_screen() {
  frame "$picture"
  [ "$client_h" -gt 300 ] && [ "$frame_x" = 200 ] && [ "$frame_y" = 10 ] &&
    [ $((frame_x + frame_w)) -le 1280 ] && [ $((frame_y + frame_h)) -le 1024 ]
}
wait_until 60 "picture window of the 33000x300 map on the screen at (200, 10)" on_screen
pass "a 33000x300 map's window stays on the screen: client ${client_w}x${client_h}, frame ${frame_w}x${frame_h}"
problem=$(shows_map "$client_w" 300 "$work/33000x300.bmp" 2>&1) || fail "the map's visible part is wrong: $problem"
pass "its visible ${client_w}x300 part is shown pixel for pixel"
raise_form
type_into IDC_FILENAME wide.bmp
click IDC_SAVE
wait_until 60 "saved file" test -s "$work/files/wide.bmp"
cmp -s "$work/files/wide.bmp" "$work/33000x300.bmp" || fail "wide.bmp differs from the core's file"
pass "Save wrote the core's file byte for byte"
close_program

# --- Scale factor 1.5 --------------------------------------------------------
start 1.5
generate 301 201
holds_map_at_300_15() {
  frame "$picture"
  [ "$client_w" -ge 301 ] && [ "$client_h" -ge 201 ] && [ "$frame_x" = 300 ] && [ "$frame_y" = 15 ]
}
wait_until 30 "picture window holding 301x201 with its frame at (300, 15)" holds_map_at_300_15
pass "at scale 1.5 the client area is ${client_w}x${client_h} and the frame at (300, 15)"
problem=$(shows_map 301 201 "$work/301x201.bmp" 2>&1) || fail "at scale 1.5 the map is not shown whole: $problem"
pass "at scale 1.5 the 301x201 map is shown pixel for pixel"
close_program
pass "the program ends with exit code 0 at both scales"

passed_all
