#!/usr/bin/env bash
# Builds the program (installing what is missing) and starts it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_install "${VELMORA_BUILD_PACKAGES[@]}"
velmora_build "$VELMORA_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
program="$VELMORA_ROOT/build/release/ui/velmora"
if [ ! -x "$program" ]; then
  velmora_log "the core is built; the windows are not built yet"
  exit 0
fi
exec "$program"
