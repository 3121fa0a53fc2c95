#!/usr/bin/env bash
# The program without a display it can open: one line on standard error that
# says which display and why, and exit status 1, never an abort. A scale
# factor that is not a positive number is ignored, with one line saying so.
set -uo pipefail
program=${1:?usage: no_display.sh VELMORA}
passed=0
failed=0
check() {
  if [ "$1" = ok ]; then
    echo "no-display: ok - $2"
    passed=$((passed + 1))
  else
    echo "no-display: not ok - $2" >&2
    failed=$((failed + 1))
  fi
}

# run NAME EXPECTED-STATUS PATTERN [env assignments...] -- [arguments...]
run() {
  local name=$1 status=$2 pattern=$3
  shift 3
  local assignments=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do assignments+=("$1"); shift; done
  shift
  local err got
  err=$(mktemp)
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u QT_QPA_PLATFORM "${assignments[@]}" \
    timeout 3 "$program" "$@" 2>"$err" >/dev/null
  got=$?
  local lines
  lines=$(grep -c . "$err")
  if [ "$got" -eq "$status" ] && grep -q -E "$pattern" "$err" && { [ "$status" -ne 1 ] || [ "$lines" -eq 1 ]; }; then
    check ok "$name: status $got, $(head -n 1 "$err")"
  else
    check fail "$name: status $got (expected $status), said: $(tr '\n' '|' <"$err")"
  fi
  rm -f "$err"
}

nowhere='no Wayland display can be found \(XDG_RUNTIME_DIR is not set\); no X display is named'
run "no DISPLAY and no WAYLAND_DISPLAY" 1 "^velmora: no display could be opened: $nowhere" --
run "DISPLAY with no server" 1 'the X display ":97" \(DISPLAY\) could not be connected to' DISPLAY=:97 --
run "a garbage DISPLAY" 1 'the X display "\?\?garbage" \(DISPLAY\) could not be connected to' 'DISPLAY=??garbage' --
run "-platform wayland with no compositor" 1 ': no Wayland display can be found \(XDG_RUNTIME_DIR is not set\)\.$' -- -platform wayland
run "a Wayland display that is not there" 1 'the Wayland display "velmora-none" could not be connected to \(No such file or directory\)' \
  "XDG_RUNTIME_DIR=$(mktemp -d)" WAYLAND_DISPLAY=velmora-none -- -platform wayland
run "-platform without a name" 1 "^velmora: no display could be opened: $nowhere" -- -platform
run "QT_QPA_PLATFORM=xcb with no X server" 1 ': the X display ":96" \(DISPLAY\) could not be connected to\.$' \
  QT_QPA_PLATFORM=xcb DISPLAY=:96 --
# A bad scale factor is dropped and the program runs on (here offscreen,
# until the time limit ends it: status 124).
for scale in -1 -2 -0.75 -1.5 0 abc; do
  run "QT_SCALE_FACTOR=$scale" 124 "^velmora: QT_SCALE_FACTOR=\"$scale\" is not a positive number; it is ignored\.$" \
    QT_QPA_PLATFORM=offscreen "QT_SCALE_FACTOR=$scale" --
done

echo "no-display: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
