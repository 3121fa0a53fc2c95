#!/usr/bin/env bash
# The real-window test of a long Generate. In its own X server and window
# manager it makes a small map, then starts a render that takes minutes and
# checks that the progress dialog opens within 1 s, that the form repaints
# while the render runs, that Escape cancels it and the picture window still
# shows the small map pixel for pixel, and that Alt+F4 on the form during a
# second long render ends the program with 0 within 1 s.
#
# Usage: generate_e2e.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: generate_e2e.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$build/ui/velmora
render_map=$build/tests/e2e/velmora_render_map
control_centres=$build/tests/e2e/velmora_control_centres
python=/usr/bin/python3  # Debian's, which has Pillow

report_prefix=e2e-generate
source "$here/x_session.sh"

for file in "$program" "$render_map" "$control_centres"; do
  [ -x "$file" ] || fail "$file is not built"
done

# -bs: without backing store the X server cannot put back a part of a window
# that another window covered; the program must paint it again.
x_work_start -bs
x_read_centres "$control_centres"
x_start_program "$work"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
not() { ! "$@"; }

# above A B: window A is higher in the stacking order than window B.
above() {
  local stacking a b
  # Bottom to top, each id between two spaces of its own.
  stacking=" $(xprop -root _NET_CLIENT_LIST_STACKING | sed -n 's/.*# *//p' | sed 's/, /  /g') "
  a=$(printf '0x%x' "$1")
  b=$(printf '0x%x' "$2")
  [[ "$stacking" == *" $b "*" $a "* ]]
}
raise_form() {
  x_geometry "$main"
  xdotool mousemove --sync --window "$main" 3 $((client_h - 3)) click 1
  wait_until 30 "form above the picture window" above "$main" "$picture"
}
# show_picture FILE: brings the picture window up and stores what it shows.
show_picture() {
  x_geometry "$picture"
  xdotool mousemove --sync --window "$picture" $((client_w - 4)) $((client_h - 4)) click 1
  wait_until 30 "picture window above the form" above "$picture" "$main"
  import -window "$picture" "png:$1" || fail "could not take a screenshot of the picture window"
}
# find_progress VAR SECONDS: the visible progress dialog, or fails.
find_progress() {
  local var=$1 deadline=$(($(now_ms) + $2 * 1000)) id=""
  until id=$(xdotool search --onlyvisible --name '^Generate$' 2>/dev/null | head -n 1) && [ -n "$id" ]; do
    [ "$(now_ms)" -lt "$deadline" ] || fail "no progress dialog after $2 s"
  done
  printf -v "$var" '%s' "$id"
}
progress_gone() {
  [ -z "$(xdotool search --onlyvisible --name '^Generate$' 2>/dev/null)" ]
}
images() {
  "$python" - "$@" <<'PY'
import sys
from PIL import Image

what, first, second = sys.argv[1:4]
a = Image.open(first).convert("RGB")
b = Image.open(second).convert("RGB")
if a.size != b.size:
    sys.exit(f"{a.size[0]}x{a.size[1]} pixels, expected {b.size[0]}x{b.size[1]}")
# Pixels inside the rectangle left,top,right,bottom are not compared.
left, top, right, bottom = (int(v) for v in sys.argv[4].split(",")) if len(sys.argv) > 4 else (0, 0, 0, 0)
if what == "repainted" and len(set(a.getdata())) < 3:
    sys.exit("the form is blank")
pa, pb = a.load(), b.load()
for y in range(a.size[1]):
    for x in range(a.size[0]):
        if not (left <= x < right and top <= y < bottom) and pa[x, y] != pb[x, y]:
            sys.exit(f"pixel ({x}, {y}) is {pa[x, y]}, expected {pb[x, y]}")
PY
}

# --- A small map first -----------------------------------------------------
type_into IDC_WIDTH 480
type_into IDC_HEIGHT 360
click IDC_GENERATE
wait_until 60 "picture window of 480x360" x_client_size_is "$picture" 480 360
"$render_map" 480 360 4 0.015 1 0.25 0 0 "$work/expected.bmp" || fail "the core could not render the expected map"
show_picture "$work/before.png"
problem=$(images same "$work/before.png" "$work/expected.bmp" 2>&1) || fail "the small map is not shown: $problem"
x_geometry "$picture"
picture_before="$client_x $client_y $client_w $client_h"
pass "the small map is shown"

# --- A long render: progress, repaints, Escape -----------------------------
raise_form
type_into IDC_WIDTH 4096
type_into IDC_HEIGHT 4096
type_into IDC_OCTAVES 2147483647
type_into IDC_PERSISTENCE 0.9999
click IDC_VARY_AMPLITUDE
xdotool mousemove --sync --window "$main" "${centre_x[IDC_GENERATE]}" "${centre_y[IDC_GENERATE]}"
started=$(now_ms)
xdotool click 1
# Off the form, so that no button is drawn under the pointer.
xdotool mousemove 1270 1010
find_progress progress 1
pass "the progress dialog opened after $(($(now_ms) - started)) ms"

# Cover the form with another program's window and uncover it: what the
# form then shows, around the progress dialog, must be what it showed before.
# red_at X Y: the screen pixel at (X, Y) is pure red.
red_at() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- | grep -q '#FF0000'
}
import -window "$main" "png:$work/form-before.png" || fail "could not take a screenshot of the form"
x_geometry "$main"
probe_x=$((client_x + 20)) probe_y=$((client_y + 20))
xmessage -geometry 800x600+0+0 -bg red -fg red cover >/dev/null 2>&1 &
cover_pid=$!
wait_until 30 "red window over the form" red_at "$probe_x" "$probe_y"
kill "$cover_pid"
wait "$cover_pid" 2>/dev/null || true
wait_until 10 "form painted again" not red_at "$probe_x" "$probe_y"
import -window "$main" "png:$work/form-after.png" || fail "could not take a screenshot of the form"
x_geometry "$main"
form_x=$client_x form_y=$client_y
x_geometry "$progress"
# The dialog with a margin for its frame.
skip="$((client_x - form_x - 10)),$((client_y - form_y - 40)),$((client_x - form_x + client_w + 10)),$((client_y - form_y + client_h + 10))"
problem=$(images repainted "$work/form-after.png" "$work/form-before.png" "$skip" 2>&1) ||
  fail "the form did not repaint during the render: $problem"
pass "the form repaints during the render"

# Escape goes to the window with the focus: click the dialog first.
xdotool mousemove --sync --window "$progress" 3 3 click 1
wait_until 10 "focus on the progress dialog" x_active_is "$progress"
xdotool key Escape
wait_until 10 "progress dialog closed after Escape" progress_gone
wait_until 30 "picture window back at 480x360" x_client_size_is "$picture" 480 360
x_geometry "$picture"
[ "$client_x $client_y $client_w $client_h" = "$picture_before" ] ||
  fail "the picture window is at $client_x $client_y $client_w $client_h, before it was $picture_before"
show_picture "$work/after.png"
problem=$(images same "$work/after.png" "$work/expected.bmp" 2>&1) ||
  fail "the picture window does not show the small map after Escape: $problem"
pass "Escape cancels and the picture window shows the small map pixel for pixel"

# --- Alt+F4 on the form during a long render ---------------------------------
raise_form
click IDC_GENERATE
find_progress progress 10
# A click on the form gives it the focus, though the form ignores the click.
raise_form
wait_until 10 "focus on the form during the render" x_active_is "$main"
closed=$(now_ms)
xdotool key alt+F4
x_ends_with_zero "Alt+F4 on the form" 1000
pass "Alt+F4 on the form during a render ends the program with 0 after $(($(now_ms) - closed)) ms"

passed_all
