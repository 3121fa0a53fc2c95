#!/usr/bin/env bash
# Builds the core with ThreadSanitizer and runs its tests, then a bounded
# stress test of concurrent, stopped and threaded renders. Fails on the first
# race or other report, and on any map that differs from the definition.
# Usage: thread_check.sh [stress seconds [seed]].
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_install "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}"

# One run at a time per checkout: two would build the same tree at once.
mkdir -p "$VELMORA_ROOT/build"
exec 9>"$VELMORA_ROOT/build/.thread_check.lock"
flock 9

start=$SECONDS
velmora_log "thread sanitizer build"
velmora_build "$VELMORA_ROOT/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_SANITIZE_THREAD=ON -DVELMORA_BUILD_UI=OFF -DVELMORA_WARNINGS_AS_ERRORS=ON

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1${TSAN_OPTIONS:+ $TSAN_OPTIONS}"
velmora_log "core tests under thread sanitizer"
(cd "$VELMORA_ROOT/build/tsan" && ctest --output-on-failure -j 2)

velmora_log "thread stress test"
"$VELMORA_ROOT/build/tsan/tests/velmora_thread_stress" "${1:-60}" ${2:+"$2"}
velmora_log "thread check passed in $((SECONDS - start)) s"
