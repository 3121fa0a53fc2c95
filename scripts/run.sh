#!/usr/bin/env bash
# Builds the program (installing what is missing) and starts it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_install "${VELMORA_BUILD_PACKAGES[@]}"
velmora_build "$VELMORA_ROOT/build/app" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
exec "$VELMORA_ROOT/build/app/ui/velmora"
