#!/usr/bin/env bash
# The program under a Wayland compositor: weston's headless backend with
# Xwayland, in a private runtime directory.
#  - Where an X display is named (Xwayland), the program takes the X11
#    platform although WAYLAND_DISPLAY is set too, opens both windows on the
#    X display, and a close request from the window manager (WM_DELETE_WINDOW
#    on the form) ends it with exit code 0.
#  - Where none is named, it takes the Wayland platform and opens both
#    windows as Wayland toplevels (read from the client's protocol log).
#    The headless compositor has no input devices and no way to send a
#    window a close request, so that run is ended by a signal.
#
# Usage: wayland_smoke.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: wayland_smoke.sh BUILD_DIR}" && pwd)
program=$build/ui/velmora
python=/usr/bin/python3

report_prefix=wayland
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/x_session.sh"

[ -x "$program" ] || fail "$program is not built"
for tool in weston Xwayland xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

work=$(mktemp -d)
weston_pid=
program_pid=
stop() {
  local pid
  for pid in "$program_pid" "$weston_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap stop EXIT

# weston refuses a runtime directory that others may read.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_SCALE_FACTOR
weston --backend=headless-backend.so --xwayland --socket=velmora --idle-time=0 >"$work/weston.log" 2>&1 &
weston_pid=$!
xwayland_display() {
  kill -0 "$weston_pid" 2>/dev/null || fail "weston ended at start-up"
  x_display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log")
  [ -n "$x_display" ] && [ -S "$XDG_RUNTIME_DIR/velmora" ]
}
wait_until 30 "weston with Xwayland" xwayland_display
pass "weston runs headless, with Xwayland on $x_display"

# platform_plugin: the platform plugin the running program has loaded.
platform_plugin() {
  grep -oE 'libq(xcb|wayland-generic)\.so' "/proc/$program_pid/maps" | sort -u | tr '\n' ' '
}

# --- An X display is named: X11 through Xwayland ---------------------------
DISPLAY=$x_display WAYLAND_DISPLAY=velmora XDG_SESSION_TYPE=wayland "$program" >"$work/program.log" 2>&1 &
program_pid=$!
export DISPLAY=$x_display
x_find_window main "$program_pid" Velmora
x_find_window picture "$program_pid" Picture
[ "$(platform_plugin)" = "libqxcb.so " ] || fail "the program loaded $(platform_plugin)instead of the X11 plugin alone"
pass "with DISPLAY and WAYLAND_DISPLAY set, the program opens both windows through X11"

# What a window manager sends for its close button: WM_DELETE_WINDOW.
"$python" - "$main" <<'PY' || fail "could not send the close request"
import ctypes, sys

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = x11.XInternAtom.restype = ctypes.c_void_p
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
ulong = ctypes.c_ulong
# XClientMessageEvent: type, serial, send_event, display, window, message_type, format, data; an
# XEvent is 24 longs.
fields = [("type", ctypes.c_int), ("serial", ulong), ("send", ctypes.c_int), ("display", ctypes.c_void_p),
          ("window", ulong), ("message_type", ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
          ("padding", ctypes.c_long * 12)]
message = type("ClientMessage", (ctypes.Structure,), {"_fields_": fields})()
display = x11.XOpenDisplay(None) or sys.exit("cannot open the X display")
message.type, message.window, message.format = 33, int(sys.argv[1]), 32
message.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
message.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x11.XSendEvent(display, message.window, 0, 0, ctypes.byref(message)) or sys.exit("XSendEvent failed")
x11.XCloseDisplay(display)  # flushes the request
PY
x_wait_exit "$program_pid" "end of the program after the close request"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status after the close request"
pass "a close request on the form ends the program with exit code 0"
unset DISPLAY

# --- No X display: Wayland -------------------------------------------------
WAYLAND_DISPLAY=velmora WAYLAND_DEBUG=client "$program" >"$work/program.log" 2>&1 &
program_pid=$!
toplevel_titled() {
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended under Wayland: $(grep -v '^\[' "$work/program.log" | tail -n 5)"
  # Wayland's protocol log names objects xdg_toplevel@N before libwayland 1.23, xdg_toplevel#N since.
  grep -qE "xdg_toplevel[@#][0-9]+\.set_title\(\"$1\"\)" "$work/program.log"
}
wait_until 30 "Wayland window \"Velmora\"" toplevel_titled Velmora
wait_until 30 "Wayland window \"Picture\"" toplevel_titled Picture
[ "$(platform_plugin)" = "libqwayland-generic.so " ] || fail "the program loaded $(platform_plugin)instead of the Wayland plugin alone"
kill -0 "$program_pid" 2>/dev/null || fail "the program ended under Wayland"
pass "with only WAYLAND_DISPLAY set, the program opens both windows through Wayland"

passed_all
