# A private X session for the real-window tests: Xvfb on a free display with
# openbox managing it. Sourced by the test scripts, not run.
#
#   x_session_start WORKDIR [XVFB_OPTION...]   starts both and exports DISPLAY;
#                                               x_session_stop ends them
#   x_work_start [XVFB_OPTION...]   a work folder $work and the session, both
#                                   ended (with the program) when the script exits
#   x_read_centres HELPER [SCALE], x_start_program DIR [LAUNCHER...], x_geometry ID,
#   x_client_size_is ID W H, click CONTROL, type_into CONTROL TEXT
#   wait_until SECONDS WHAT COMMAND...
#   x_find_window VAR PID TITLE, x_active_is ID, x_wait_exit PID WHAT,
#   x_ends_with_zero WHAT MILLISECONDS
#   pass MESSAGE, fail MESSAGE, passed_all
#
# Reports start with $report_prefix (set it before sourcing). fail also shows
# the end of the X server's, window manager's, compositor's and program's
# output kept in $work.

x_session_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
xvfb_pid=
openbox_pid=

# Reports go to the script's own output even from inside a command whose
# output wait_until discards.
exec 4>&1 5>&2
passed=0
pass() {
  passed=$((passed + 1))
  echo "$report_prefix: ok - $*" >&4
}
fail() {
  echo "$report_prefix: FAIL - $*" >&5
  local log
  for log in xvfb openbox weston program; do
    if [ -n "${work:-}" ] && [ -s "$work/$log.log" ]; then
      echo "$report_prefix: $log output:" >&5
      tail -n 20 "$work/$log.log" >&5
    fi
  done
  echo "$report_prefix: $passed passed, 1 failed" >&4
  exit 1
}
passed_all() {
  echo "$report_prefix: $passed passed, 0 failed"
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND until it succeeds; fails
# naming WHAT when it has not within SECONDS.
wait_until() {
  local limit=$1 what=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what after ${limit}s"
    sleep 0.1
  done
}

x_session_start() {
  local work=$1
  shift
  # -noreset: by default the server resets when its last client leaves, and a
  # client connecting during the reset fails.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  wait_until 30 "display number from Xvfb" test -s "$work/display"
  export DISPLAY=:$(head -n 1 "$work/display")
  wait_until 30 "X server on $DISPLAY" xdpyinfo

  openbox --sm-disable --config-file "$x_session_dir/openbox-rc.xml" >"$work/openbox.log" 2>&1 &
  openbox_pid=$!
  wait_until 30 "openbox managing the screen" x_session_has_wm

  # The program's environment: this X server, a private runtime directory.
  export QT_QPA_PLATFORM=xcb
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR WAYLAND_DISPLAY
}

x_session_has_wm() {
  kill -0 "$openbox_pid" 2>/dev/null || fail "openbox ended at start-up"
  xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}

x_session_stop() {
  local pid
  for pid in "$openbox_pid" "$xvfb_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  openbox_pid=
  xvfb_pid=
}

# x_find_window VAR PID TITLE: the visible top-level window titled exactly
# TITLE, while process PID runs.
x_find_window() {
  local var=$1 pid=$2 title=$3 deadline=$((SECONDS + 30)) id=""
  while true; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for \"$title\""
    id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ] && [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$title" ]; then
      break
    fi
    [ "$SECONDS" -lt "$deadline" ] || fail "no window \"$title\" after 30s"
    sleep 0.1
  done
  printf -v "$var" '%s' "$id"
}

# x_active_is ID: the window manager has given window ID the focus.
x_active_is() {
  [ "$(($(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# *//p')))" = "$1" ]
}

x_process_ended() {
  ! kill -0 "$1" 2>/dev/null
}

# x_wait_exit PID WHAT: waits up to 30 s for process PID, a child of the
# script, to end, and sets exit_status to its exit code.
x_wait_exit() {
  wait_until 30 "$2" x_process_ended "$1"
  exit_status=0
  wait "$1" || exit_status=$?
}

# x_ends_with_zero WHAT MILLISECONDS: the program started by x_start_program
# ends within that time, with exit code 0.
x_ends_with_zero() {
  local deadline=$(($(date +%s%N) / 1000000 + $2))
  while kill -0 "$program_pid" 2>/dev/null && [ "$(($(date +%s%N) / 1000000))" -lt "$deadline" ]; do
    sleep 0.02
  done
  kill -0 "$program_pid" 2>/dev/null && fail "the program still runs $2 ms after $1"
  exit_status=0
  wait "$program_pid" || exit_status=$?
  program_pid=
  [ "$exit_status" = 0 ] || fail "the program exited with $exit_status after $1"
}

# x_work_start [XVFB_OPTION...]: a fresh work folder in $work and the X
# session; when the script exits, the program started by x_start_program is
# stopped, then the session, and the folder is removed.
x_work_start() {
  work=$(mktemp -d)
  program_pid=
  trap x_work_stop EXIT
  x_session_start "$work" "$@"
}

x_work_stop() {
  if [ -n "${program_pid:-}" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  x_session_stop
  rm -rf "$work"
}

# x_read_centres HELPER [SCALE]: fills the arrays centre_x and centre_y, by
# control name, from the control-centres helper, in device pixels at SCALE
# (default 1).
x_read_centres() {
  local helper=$1 scale=${2:-1} name x y
  declare -gA centre_x centre_y
  while read -r name x y; do
    centre_x[$name]=$x
    centre_y[$name]=$y
  done < <("$helper" | awk -v s="$scale" '{ printf "%s %d %d\n", $1, $2 * s + 0.5, $3 * s + 0.5 }')
  [ -n "${centre_x[IDC_GENERATE]:-}" ] || fail "the control helper printed no controls"
}

# x_start_program DIR: starts $program in DIR, its output in
# $work/program.log, and finds its windows: sets program_pid, main and picture.
x_start_program() {
  local dir=$1
  shift
  (cd "$dir" && exec "$@" "$program") >"$work/program.log" 2>&1 &
  program_pid=$!
  x_find_window main "$program_pid" Velmora
  x_find_window picture "$program_pid" Picture
}

# x_geometry ID: sets client_x client_y client_w client_h of the window's
# client area, and mapped.
x_geometry() {
  local info
  info=$(xwininfo -id "$1")
  client_x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  client_y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  client_w=$(sed -n 's/^ *Width: *//p' <<<"$info")
  client_h=$(sed -n 's/^ *Height: *//p' <<<"$info")
  mapped=$(sed -n 's/.*Map State: *//p' <<<"$info")
}

# x_client_size_is ID W H: the window is shown with a client area of W x H.
x_client_size_is() {
  x_geometry "$1"
  [ "$client_w" = "$2" ] && [ "$client_h" = "$3" ] && [ "$mapped" = IsViewable ]
}

# click CONTROL: clicks a control of the form ($main) by its name and waits
# for the window manager to focus the form, since keys go to the focused
# window. type_into CONTROL TEXT: replaces the text of a field.
click() {
  xdotool mousemove --sync --window "$main" "${centre_x[$1]}" "${centre_y[$1]}" click 1
  wait_until 10 "focus on the form" x_active_is "$main"
}
type_into() {
  click "$1"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 -- "$2"
}
