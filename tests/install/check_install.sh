#!/usr/bin/env bash
# Checks the installed program.
#
#   check_install.sh stage BUILD_DIR   installs into a staging folder (DESTDIR)
#                                      and checks the files, the desktop entry
#                                      and that the staged binary starts
#   check_install.sh system            checks the program that the Debian
#                                      package installed under /usr
#
# Starting means: under a private X server with a window manager, both
# windows open, and the window manager's close (Alt+F4) on the form ends the
# program with exit code 0.
set -euo pipefail

report_prefix=install
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/e2e/x_session.sh"

work=$(mktemp -d)
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
  fi
  x_session_stop
  rm -rf "$work"
}
trap cleanup EXIT

case "${1:-}" in
  stage)
    build=${2:?usage: check_install.sh stage BUILD_DIR}
    root=$work/stage
    DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" ||
      fail "cmake --install failed: $(cat "$work/install.log")"
    pass "cmake --install into a staging folder"
    ;;
  system)
    root=
    ;;
  *)
    echo "usage: check_install.sh stage BUILD_DIR | system" >&2
    exit 2
    ;;
esac

program=$root/usr/bin/velmora
desktop=$root/usr/share/applications/velmora.desktop
metainfo=$root/usr/share/metainfo/invalid.velmora.Velmora.metainfo.xml
[ -x "$program" ] || fail "$program is not an installed program"
[ -f "$desktop" ] || fail "no desktop entry at $desktop"
for size in 48 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/velmora.png
  [ -f "$icon" ] || fail "no ${size}x${size} icon at $icon"
  [ "$(identify -format '%wx%h %m' "$icon")" = "${size}x${size} PNG" ] ||
    fail "$icon is not a ${size}x${size} PNG"
done
pass "the binary, the desktop entry and both icons are where they belong"

problems=$(desktop-file-validate "$desktop" 2>&1) || fail "the desktop entry does not validate: $problems"
[ -z "$problems" ] || fail "the desktop entry has warnings: $problems"
grep -qx 'Exec=velmora' "$desktop" || fail "the desktop entry's Exec line is not the bare program"
pass "the desktop entry validates"

[ -f "$metainfo" ] || fail "no AppStream metainfo at $metainfo"
problems=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "the AppStream metainfo does not validate: $problems"
grep -q '<launchable type="desktop-id">velmora.desktop</launchable>' "$metainfo" ||
  fail "the AppStream metainfo does not launch the installed desktop entry"
pass "the AppStream metainfo validates and names the desktop entry"

x_session_start "$work"
"$program" >"$work/program.log" 2>&1 &
program_pid=$!
x_find_window main "$program_pid" Velmora
x_find_window picture "$program_pid" Picture
pass "the installed program opens both windows"

# Alt+F4 goes to the focused window through the window manager's binding.
xdotool mousemove --sync --window "$main" 3 3 click 1
wait_until 10 "focus on the form" x_active_is "$main"
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the program after Alt+F4"
program_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status: $(tail -n 5 "$work/program.log")"
pass "Alt+F4 closes it with exit code 0"

passed_all
