#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine in the Wine prefix PREFIX, made
# on first use: no display, no debug output, and the first start's offers to
# install Mono and Gecko turned off. The prefix's server is kept for a
# minute after its last program ends, so that programs started one after
# another (a test run) share one Wine session instead of each starting and
# ending its own, which is slow and, with two at once, can hang. What the
# program prints is passed on as it is; its exit code is this script's.
#
# Usage: wine_run.sh PREFIX PROGRAM [ARGUMENT...]
set -euo pipefail
prefix=${1:?usage: wine_run.sh PREFIX PROGRAM [ARGUMENT...]}
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$(dirname "$prefix")"
# Nothing started here may hold the lock or this script's output open: the
# session's services outlive the program.
(
  flock 9
  [ -f "$prefix/system.reg" ] || "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  # A server is started here unless one serves the prefix already (then it
  # says so); a new one's session and its services are started at once.
  if "$server" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
exec "$wine" "$@"
