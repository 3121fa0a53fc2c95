#!/usr/bin/env bash
# The real-window test. Starts its own X server (Xvfb) and window manager
# (openbox), runs the built program in it and drives it only as a person
# would, with the mouse and keyboard through xdotool: types a size and
# parameters, clicks the vary boxes and Generate, types a file name, clicks
# Save, and closes the window with Alt+F4. Checks that the saved file is the
# core's for those parameters, that the picture window shows the map's pixels
# in a client area of exactly the map's size at (200, 10), that the picture
# window refuses its own close, and that the program exits with 0.
#
# Usage: run_e2e.sh BUILD_DIR [SCREENSHOT.png]
#   BUILD_DIR      a build tree with the program and the test helpers
#   SCREENSHOT     where to store a picture of both windows after Generate
set -euo pipefail

build=$(cd "${1:?usage: run_e2e.sh BUILD_DIR [SCREENSHOT.png]}" && pwd)
screenshot_out=${2:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$build/ui/velmora
render_map=$build/tests/e2e/velmora_render_map
control_centres=$build/tests/e2e/velmora_control_centres
python=/usr/bin/python3  # Debian's, which has Pillow

# The map the test makes: asymmetric, not the start-up values, both boxes on.
map_width=480
map_height=360
octaves=5
frequency=0.03
amplitude=1.5
persistence=0.5

report_prefix=e2e
source "$here/x_session.sh"

for file in "$program" "$render_map" "$control_centres"; do
  [ -x "$file" ] || fail "$file is not built"
done
for tool in Xvfb openbox xdotool xwininfo xprop xdpyinfo import "$python"; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
"$python" -c 'import PIL' 2>/dev/null || fail "$python has no Pillow (python3-pil)"

# --- An X server on a free display, and a window manager -----------------
x_work_start
pass "Xvfb runs on $DISPLAY with openbox managing it"

# --- Where the controls are, and the program --------------------------------
x_read_centres "$control_centres"
mkdir "$work/files"
x_start_program "$work/files"
pass "both windows open"

x_geometry "$main"
[ "$client_w" = "${centre_x[IDD_MAIN]}" ] && [ "$client_h" = "${centre_y[IDD_MAIN]}" ] ||
  fail "the form's client area is ${client_w}x${client_h}, its template says ${centre_x[IDD_MAIN]}x${centre_y[IDD_MAIN]}"
pass "the form is ${client_w}x${client_h} as its template says"

# --- Drive the form as a person does --------------------------------------
# Keys go to the focused window: wait for the window manager to focus the
# form before anything is typed.
type_into IDC_WIDTH "$map_width"
type_into IDC_HEIGHT "$map_height"
type_into IDC_OCTAVES "$octaves"
type_into IDC_FREQUENCY "$frequency"
type_into IDC_AMPLITUDE "$amplitude"
type_into IDC_PERSISTENCE "$persistence"
click IDC_VARY_FREQUENCY
click IDC_VARY_AMPLITUDE
# Escape must leave the form open; the steps below show that it did.
xdotool key Escape
click IDC_GENERATE

wait_until 60 "picture window of ${map_width}x${map_height}" x_client_size_is "$picture" "$map_width" "$map_height"
pass "the picture window's client area is exactly ${map_width}x${map_height}"

frame_origin() {
  local extents
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p')
  x_geometry "$1"
  local left top
  left=$(cut -d, -f1 <<<"$extents" | tr -d ' ')
  top=$(cut -d, -f3 <<<"$extents" | tr -d ' ')
  frame_x=$((client_x - ${left:-0}))
  frame_y=$((client_y - ${top:-0}))
}
picture_at_200_10() {
  frame_origin "$picture"
  [ "$frame_x" = 200 ] && [ "$frame_y" = 10 ]
}
wait_until 30 "picture window frame at (200, 10)" picture_at_200_10
pass "the picture window's frame is at (200, 10)"

"$render_map" "$map_width" "$map_height" "$octaves" "$frequency" "$amplitude" "$persistence" 1 1 \
  "$work/expected.bmp" || fail "the core could not render the expected map"

# Bring the picture window to the front as a person would, by clicking it.
on_top() {
  local stacking top
  stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed -n 's/.*# *//p')
  top=${stacking##*, }
  [ "$((top))" = "$1" ]
}
# The form covers the picture's left part: click near its bottom-right corner.
click_picture() {
  x_geometry "$picture"
  xdotool mousemove --sync --window "$picture" $((client_w - 4)) $((client_h - 4)) click 1
}
click_picture
wait_until 30 "picture window on top" on_top "$picture"

compare_images() {
  "$python" - "$1" "$2" <<'PY'
import sys
from PIL import Image

shown = Image.open(sys.argv[1]).convert("RGB")
expected = Image.open(sys.argv[2]).convert("RGB")
if shown.size != expected.size:
    sys.exit(f"the window shows {shown.size[0]}x{shown.size[1]} pixels, the map has {expected.size[0]}x{expected.size[1]}")
a, b = shown.load(), expected.load()
for y in range(expected.size[1]):
    for x in range(expected.size[0]):
        if a[x, y] != b[x, y]:
            sys.exit(f"pixel ({x}, {y}) shows {a[x, y]}, the map has {b[x, y]}")
PY
}
import -window "$picture" "png:$work/picture.png" || fail "could not take a screenshot of the picture window"
problem=$(compare_images "$work/picture.png" "$work/expected.bmp" 2>&1) ||
  fail "the picture window does not show the map: $problem"
pass "the picture window shows the map pixel for pixel"

# --- Save ------------------------------------------------------------------
# The picture now covers the form's right part: bring the form forward by
# clicking its bottom-left corner, which nothing covers.
raise_form() {
  x_geometry "$main"
  xdotool mousemove --sync --window "$main" 3 $((client_h - 3)) click 1
  wait_until 30 "form on top" on_top "$main"
}
raise_form
type_into IDC_FILENAME saved.bmp
click IDC_SAVE
wait_until 30 "saved file" test -s "$work/files/saved.bmp"
cmp -s "$work/files/saved.bmp" "$work/expected.bmp" ||
  fail "saved.bmp differs from the core's file for the same parameters"
pass "Save wrote the core's file byte for byte"

if [ -n "$screenshot_out" ]; then
  frame_origin "$picture"
  right=$((client_x + client_w + 8))
  bottom=$((client_y + client_h + 8))
  x_geometry "$main"
  [ "$((client_x + client_w + 8))" -gt "$right" ] && right=$((client_x + client_w + 8))
  [ "$((client_y + client_h + 8))" -gt "$bottom" ] && bottom=$((client_y + client_h + 8))
  import -window root -crop "${right}x${bottom}+0+0" +repage "png:$screenshot_out" ||
    fail "could not store the screenshot"
  echo "e2e: screenshot stored in $screenshot_out"
fi

# --- The picture window refuses its own close -------------------------------
click_picture
wait_until 30 "picture window on top" on_top "$picture"
xdotool key alt+F4
# A second Generate of another size must find the picture window still there.
raise_form
type_into IDC_WIDTH 64
type_into IDC_HEIGHT 48
click IDC_GENERATE
wait_until 60 "picture window of 64x48 after Alt+F4 on it" x_client_size_is "$picture" 64 48
kill -0 "$program_pid" 2>/dev/null || fail "the program ended after Alt+F4 on the picture window"
pass "Alt+F4 on the picture window leaves it open"

# --- Close the form with the window manager's close ------------------------
raise_form
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the program after Alt+F4 on the form"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status"
pass "Alt+F4 on the form ends the program with exit code 0"

passed_all
