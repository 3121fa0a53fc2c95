#!/usr/bin/env bash
# Runs a Windows test program under Wine on a private X server with openbox,
# as the window tests need a display; its exit code is this script's.
#
# Usage: run_in_wine_session.sh WINE_PREFIX PROGRAM [ARGUMENT...]
set -euo pipefail
prefix=${1:?usage: run_in_wine_session.sh WINE_PREFIX PROGRAM [ARGUMENT...]}
shift
report_prefix=wine-session
e2e=$(cd "$(dirname "${BASH_SOURCE[0]}")/../e2e" && pwd)
source "$e2e/x_session.sh"
source "$e2e/wine_prefix.sh"
wine_prefix_use "$prefix"
x_work_start
trap 'wine_prefix_stop; x_work_stop' EXIT
status=0
"$wine64_program" "$@" || status=$?
exit "$status"
