#!/usr/bin/env bash
# The real-window test of the Windows program, under Wine. In its own X
# server (Xvfb) and window manager (openbox) it runs velmora.exe and drives
# it only as a person would, with the mouse and keyboard through xdotool;
# what the Win32 controls hold, which X cannot tell, a helper reads from
# outside (velmora_win32_probe). It checks:
#  - the start-up texts, the focus in Octaves with its text selected, the
#    per-monitor DPI awareness, that Escape leaves the form open, that Enter
#    presses only a focused button and the space bar flips a focused box;
#  - that typing and clicks reach the form, and Generate shows the map pixel
#    for pixel in a client area of exactly its size, the frame at (200, 10)
#    and behind the form;
#  - that Save writes the Linux build's file byte for byte, and that the
#    picture window refuses its own close;
#  - that a map wider than the screen gets a scroll bar and its visible part
#    is shown pixel for pixel;
#  - that a long Generate opens the progress window without taking the
#    keyboard, drops what is typed meanwhile, and that Cancel and Escape each
#    keep the previous map and the picture window's place;
#  - that Alt+F4 on the form, also during a long Generate, ends the program
#    with exit code 0;
#  - at 150 % (144 dots per inch, in a Wine prefix of its own): the form grown
#    with it, and a 401 x 301 map shown whole, pixel for pixel, with the frame
#    at (300, 15);
#  - the icon sizes, version and manifest built into velmora.exe.
#
# Usage: win32_e2e.sh WINDOWS_BUILD_DIR RENDER_MAP [SCREENSHOT.png]
#   WINDOWS_BUILD_DIR  a MinGW build tree with velmora.exe and the probe
#   RENDER_MAP         velmora_render_map of a native (Linux) build: the core's
#                      map and file to compare with
#   SCREENSHOT         where to store a picture of both windows after Generate
set -euo pipefail

usage="usage: win32_e2e.sh WINDOWS_BUILD_DIR RENDER_MAP [SCREENSHOT.png]"
build=$(cd "${1:?$usage}" && pwd)
render_map=$(realpath "${2:?$usage}")
screenshot_out=${3:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$build/ui_win32/velmora.exe
probe_exe=$build/tests/ui_win32/velmora_win32_probe.exe
python=/usr/bin/python3  # Debian's, which has Pillow

report_prefix=win32-e2e
source "$here/x_session.sh"
source "$here/wine_prefix.sh"

for file in "$exe" "$probe_exe" "$render_map"; do
  [ -f "$file" ] || fail "$file is not built"
done
for tool in Xvfb openbox xdotool xwininfo xprop xdpyinfo import wineserver "$wine64_program" "$python"; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

wine_prefix_use "$build/wine-windows"
x_work_start
trap 'wine_prefix_stop; x_work_stop' EXIT
pass "Xvfb runs on $DISPLAY with openbox managing it, Wine prefix $WINEPREFIX"

probe() { "$wine64_program" "$probe_exe" "$@"; }

# --- What is built into the program -------------------------------------------
resources=$(probe resources "$exe" | tr -d "\r") || fail "the probe could not read velmora.exe"
version=$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
grep -qx "icon=16,32,48,256" <<<"$resources" || fail "the icon sizes are not 16, 32, 48, 256: $resources"
grep -qx "version=$version" <<<"$resources" || fail "the version is not $version: $resources"
grep -qx "manifest_dpi=PerMonitorV2" <<<"$resources" || fail "the manifest asks for no per-monitor DPI: $resources"
pass "velmora.exe holds its icon at 16, 32, 48 and 256 pixels, version $version and its manifest"

# --- Start --------------------------------------------------------------------
# read_centres: where the form's controls are, at the prefix's DPI.
read_centres() {
  declare -gA centre_x centre_y
  while read -r name x y; do
    centre_x[$name]=$x
    centre_y[$name]=$y
  done < <(probe centres | tr -d '\r')
  [ -n "${centre_x[IDC_GENERATE]:-}" ] || fail "the probe found no controls"
}
# start_program: starts velmora.exe in $work/files and finds its windows.
start_program() {
  (cd "$work/files" && exec "$wine64_program" "$exe") >"$work/program.log" 2>&1 &
  program_pid=$!
  x_find_window main "$program_pid" Velmora
  x_find_window picture "$program_pid" Picture
}
read_centres
mkdir "$work/files"
started=$SECONDS
start_program
pass "both windows open ($((SECONDS - started)) s after the start)"

# form_is NAME=VALUE...: the form shows each of these, as the probe reads it.
form_is() {
  local shown expected
  shown=$(probe form | tr -d '\r') || return 1
  for expected in "$@"; do
    grep -qxF -- "$expected" <<<"$shown" || return 1
  done
}
# expect_form WHAT NAME=VALUE...: fails naming WHAT, with what the form shows.
expect_form() {
  local what=$1
  shift
  wait_until 30 "$what" form_is "$@" || true
  form_is "$@" || fail "$what: the form shows $(probe form | tr -d '\r' | tr '\n' ' ')"
}
expect_form "start-up texts" IDC_WIDTH=512 IDC_HEIGHT=512 IDC_OCTAVES=4 IDC_FREQUENCY=0.015 \
  IDC_PERSISTENCE=0.25 IDC_AMPLITUDE=1 IDC_FILENAME= IDC_VARY_FREQUENCY=unchecked IDC_VARY_AMPLITUDE=unchecked
pass "the form starts with 512, 512, 4, 0.015, 0.25 and 1, both boxes unchecked"
expect_form "focus" focus=IDC_OCTAVES selection=0,1 dpi_awareness=2
pass "the focus starts in Octaves with its text selected; the windows are per-monitor DPI aware"

x_geometry "$main"
[ "$client_w $client_h" = "${centre_x[IDD_MAIN]} ${centre_y[IDD_MAIN]}" ] ||
  fail "the form's client area is ${client_w}x${client_h}, its template makes ${centre_x[IDD_MAIN]}x${centre_y[IDD_MAIN]}"
pass "the form's client area is ${client_w}x${client_h}, as its template makes it"

wait_until 30 "focus on the form" x_active_is "$main"
xdotool key Escape
sleep 1
kill -0 "$program_pid" 2>/dev/null || fail "the program ended after Escape"
expect_form "form after Escape" IDC_WIDTH=512
pass "Escape leaves the form open"

# Enter presses the button that has the focus and nothing else; the space bar
# flips a box that has it.
x_geometry "$picture"
picture_at_start="$client_w $client_h"
xdotool key Return
sleep 1
x_geometry "$picture"
[ "$client_w $client_h" = "$picture_at_start" ] || fail "Enter in the Octaves field made a map"
xdotool key Tab Tab Tab Tab Tab
expect_form "focus on Generate after five tabs" focus=IDC_GENERATE
xdotool key Return
wait_until 60 "picture window of 512x512 after Enter on Generate" x_client_size_is "$picture" 512 512
xdotool key Tab space
expect_form "Vary Amplitude flipped by the space bar" focus=IDC_VARY_AMPLITUDE IDC_VARY_AMPLITUDE=checked
xdotool key space
expect_form "Vary Amplitude flipped back" IDC_VARY_AMPLITUDE=unchecked
pass "Enter does nothing in a field and presses the button with the focus; the space bar flips a box"

# --- Typing and Generate ------------------------------------------------------
click() {
  xdotool mousemove --sync --window "$main" "${centre_x[$1]}" "${centre_y[$1]}" click 1
  wait_until 10 "focus on the form" x_active_is "$main"
}
type_into() {
  click "$1"
  xdotool key --clearmodifiers End shift+Home
  xdotool type --delay 20 -- "$2"
}
# set_map W H OCTAVES FREQUENCY AMPLITUDE PERSISTENCE: types a map's values.
set_map() {
  type_into IDC_WIDTH "$1"
  type_into IDC_HEIGHT "$2"
  type_into IDC_OCTAVES "$3"
  type_into IDC_FREQUENCY "$4"
  type_into IDC_AMPLITUDE "$5"
  type_into IDC_PERSISTENCE "$6"
  expect_form "typed values" "IDC_WIDTH=$1" "IDC_HEIGHT=$2" "IDC_OCTAVES=$3" "IDC_FREQUENCY=$4" \
    "IDC_AMPLITUDE=$5" "IDC_PERSISTENCE=$6"
}
set_map 480 360 5 0.03 1.5 0.5
click IDC_VARY_FREQUENCY
click IDC_VARY_AMPLITUDE
expect_form "both boxes checked" IDC_VARY_FREQUENCY=checked IDC_VARY_AMPLITUDE=checked
pass "typing and clicks reach the form"

click IDC_GENERATE
wait_until 60 "picture window of 480x360" x_client_size_is "$picture" 480 360
picture_frame_at_200_10() { probe form | tr -d '\r' | grep -q '^picture_frame=200,10,'; }
wait_until 30 "picture window frame at (200, 10)" picture_frame_at_200_10
expect_form "picture window's client area" picture_client=480,360 picture_bars=
pass "the picture window's client area is exactly 480x360, its frame at (200, 10)"

# above A B: window A is higher in the stacking order than window B.
above() {
  local stacking
  stacking=" $(xprop -root _NET_CLIENT_LIST_STACKING | sed -n 's/.*# *//p' | sed 's/, /  /g') "
  [[ "$stacking" == *" $(printf '0x%x' "$2") "*" $(printf '0x%x' "$1") "* ]]
}
above "$main" "$picture" || fail "the picture window is not behind the form after Generate"
pass "Generate puts the picture window behind the form"

# The form covers the picture's left part; its top-right corner is free (and
# holds no scroll bar).
raise_picture() {
  x_geometry "$picture"
  xdotool mousemove --sync --window "$picture" $((client_w - 30)) 10 click 1
  wait_until 30 "picture window above the form" above "$picture" "$main"
}
raise_form() {
  x_geometry "$main"
  xdotool mousemove --sync --window "$main" 3 $((client_h - 3)) click 1
  wait_until 30 "form above the picture window" above "$main" "$picture"
}
# shows_map FILE WIDTH HEIGHT: the top-left WIDTH x HEIGHT pixels of the
# picture's client area are those of the map in FILE.
shows_map() {
  import -window "$picture" "png:$work/shown.png" || fail "could not take a screenshot of the picture window"
  "$python" - "$work/shown.png" "$1" "$2" "$3" <<'PY'
import sys
from PIL import Image

shown = Image.open(sys.argv[1]).convert("RGB")
expected = Image.open(sys.argv[2]).convert("RGB")
width, height = int(sys.argv[3]), int(sys.argv[4])
if shown.size[0] < width or shown.size[1] < height:
    sys.exit(f"the window shows {shown.size[0]}x{shown.size[1]} pixels, fewer than {width}x{height}")
a, b = shown.load(), expected.load()
for y in range(height):
    for x in range(width):
        if a[x, y] != b[x, y]:
            sys.exit(f"pixel ({x}, {y}) shows {a[x, y]}, the map has {b[x, y]}")
PY
}
"$render_map" 480 360 5 0.03 1.5 0.5 1 1 "$work/expected.bmp" || fail "the core could not render the expected map"
raise_picture
problem=$(shows_map "$work/expected.bmp" 480 360 2>&1) || fail "the picture window does not show the map: $problem"
pass "the picture window shows the map pixel for pixel"

# --- Save ---------------------------------------------------------------------
raise_form
type_into IDC_FILENAME saved.bmp
click IDC_SAVE
wait_until 30 "saved file" test -s "$work/files/saved.bmp"
wait_until 10 "complete saved file" cmp -s "$work/files/saved.bmp" "$work/expected.bmp" ||
  fail "saved.bmp differs from the Linux build's file for the same parameters"
pass "Save wrote the Linux build's file byte for byte"

if [ -n "$screenshot_out" ]; then
  x_geometry "$picture"
  import -window root -crop "$((client_x + client_w + 8))x$((client_y + client_h + 8))+0+0" +repage \
    "png:$screenshot_out" || fail "could not store the screenshot"
  echo "win32-e2e: screenshot stored in $screenshot_out"
fi

# --- The picture window refuses its own close ------------------------------------
raise_picture
xdotool key alt+F4
sleep 1
kill -0 "$program_pid" 2>/dev/null || fail "the program ended after Alt+F4 on the picture window"
xdotool search --onlyvisible --name '^Picture$' >/dev/null || fail "Alt+F4 closed the picture window"
pass "Alt+F4 on the picture window leaves it open"

# --- A map wider than the screen --------------------------------------------------
raise_form
type_into IDC_WIDTH 2000
type_into IDC_HEIGHT 300
click IDC_GENERATE
wide_map() {
  local shown
  shown=$(probe form | tr -d '\r')
  grep -qx "picture_bars=horizontal" <<<"$shown" &&
    grep -qx "picture_client=[0-9]*,300" <<<"$shown" &&
    IFS=, read -r frame_left frame_top frame_right frame_bottom < <(sed -n 's/^picture_frame=//p' <<<"$shown") &&
    [ "$frame_left,$frame_top" = 200,10 ] && [ "$frame_right" -le 1280 ] &&
    visible_w=$(sed -n 's/^picture_client=\([0-9]*\),.*/\1/p' <<<"$shown")
}
wait_until 60 "a picture window within the screen with a horizontal scroll bar" wide_map
"$render_map" 2000 300 5 0.03 1.5 0.5 1 1 "$work/wide.bmp" || fail "the core could not render the wide map"
raise_picture
# The window is sized before the render and shows the previous map until the
# new one is complete.
wait_until 60 "the wide map shown" shows_map "$work/wide.bmp" "$visible_w" 300 || true
problem=$(shows_map "$work/wide.bmp" "$visible_w" 300 2>&1) || fail "the wide map's visible part is not shown: $problem"
x_geometry "$picture"
picture_before="$client_x $client_y $client_w $client_h"
pass "a 2000x300 map gets a horizontal scroll bar in a window that stays on the screen, its visible ${visible_w}x300 pixels shown"

# --- Long Generates: progress, dropped input, Cancel, Escape, close ----------------
now_ms() { echo $(($(date +%s%N) / 1000000)); }
progress_shown() {
  progress=$(xdotool search --onlyvisible --name '^Generate$' 2>/dev/null | head -n 1) && [ -n "$progress" ]
}
progress_gone() {
  [ -z "$(xdotool search --onlyvisible --name '^Generate$' 2>/dev/null)" ]
}
# long_generate: starts a render that takes minutes and waits for its
# progress window; the form keeps the keyboard.
long_generate() {
  raise_form
  click IDC_GENERATE
  generate_started=$(now_ms)
  wait_until 60 "progress window" progress_shown
  x_active_is "$main" || fail "the progress window took the keyboard from the form"
}
# kept_wide_map WHAT: after a cancelled render the picture window is where it
# was and shows the wide map.
kept_wide_map() {
  wait_until 30 "progress window closed after $1" progress_gone
  wait_until 30 "picture window back at 2000x300" expect_form_quiet
  x_geometry "$picture"
  [ "$client_x $client_y $client_w $client_h" = "$picture_before" ] ||
    fail "after $1 the picture window is at $client_x $client_y $client_w $client_h, before it was $picture_before"
  raise_picture
  problem=$(shows_map "$work/wide.bmp" "$visible_w" 300 2>&1) ||
    fail "after $1 the picture window does not show the previous map: $problem"
}
expect_form_quiet() { form_is "picture_client=$visible_w,300" picture_frame=200,10,"$frame_right","$frame_bottom"; }

raise_form
type_into IDC_WIDTH 4096
type_into IDC_HEIGHT 4096
type_into IDC_OCTAVES 2147483647
type_into IDC_PERSISTENCE 0.9999
click IDC_VARY_FREQUENCY
expect_form "the slow map's values" IDC_VARY_FREQUENCY=unchecked IDC_VARY_AMPLITUDE=checked
long_generate
pass "a long Generate opens the progress window after $(($(now_ms) - generate_started)) ms, the keyboard stays on the form"

# What is typed or clicked during the render is dropped, not kept for later.
xdotool mousemove --sync --window "$main" "${centre_x[IDC_WIDTH]}" "${centre_y[IDC_WIDTH]}" click 1
xdotool type --delay 20 77
read -r cancel_x cancel_y < <(probe cancel Generate | tr -d '\r')
xdotool mousemove --sync --window "$progress" "$cancel_x" "$cancel_y" click 1
kept_wide_map Cancel
expect_form "fields after the cancelled render" IDC_WIDTH=4096 IDC_HEIGHT=4096
pass "Cancel keeps the previous map and the picture window's place; what was typed meanwhile was dropped"

long_generate
xdotool key Escape
kept_wide_map Escape
pass "Escape during a long Generate keeps the previous map too"

long_generate
closed=$(now_ms)
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the program after Alt+F4 during a render"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status after Alt+F4 during a render"
pass "Alt+F4 on the form during a render ends the program with exit code 0 after $(($(now_ms) - closed)) ms"

# --- A plain close ---------------------------------------------------------------
start_program
wait_until 30 "focus on the form" x_active_is "$main"
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the program after Alt+F4 on the form"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status"
pass "Alt+F4 on the form ends the program with exit code 0"

# --- At 150 % ----------------------------------------------------------------------
# Wine's one screen at 144 dots per inch, in a prefix of its own; the setting
# takes effect in the next session.
form_96="${centre_x[IDD_MAIN]}x${centre_y[IDD_MAIN]}"
wine_prefix_stop
wine_prefix_use "$build/wine-windows-144"
"$wine64_program" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1 ||
  fail "could not set Wine's DPI to 144"
wineserver -w
read_centres
start_program
x_geometry "$main"
[ "$client_w $client_h" = "${centre_x[IDD_MAIN]} ${centre_y[IDD_MAIN]}" ] && [ "$client_w" -gt "${form_96%x*}" ] ||
  fail "at 144 DPI the form's client area is ${client_w}x${client_h}, at 96 DPI it was $form_96"
expect_form "per-monitor DPI awareness" dpi_awareness=2
type_into IDC_WIDTH 401
type_into IDC_HEIGHT 301
click IDC_GENERATE
wait_until 60 "picture window of 401x301" x_client_size_is "$picture" 401 301
expect_form "picture window at (300, 15)" picture_client=401,301
wait_until 30 "picture window frame at (300, 15)" eval "probe form | tr -d '\r' | grep -q '^picture_frame=300,15,'"
"$render_map" 401 301 4 0.015 1 0.25 0 0 "$work/scaled.bmp" || fail "the core could not render the 401x301 map"
raise_picture
wait_until 60 "the 401x301 map shown" shows_map "$work/scaled.bmp" 401 301 || true
problem=$(shows_map "$work/scaled.bmp" 401 301 2>&1) || fail "at 144 DPI the map is not shown pixel for pixel: $problem"
raise_form
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the program at 144 DPI"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status at 144 DPI"
pass "at 144 DPI the form grows to ${client_w}x${client_h}, a 401x301 map is shown whole, pixel for pixel, the frame at (300, 15)"

passed_all
