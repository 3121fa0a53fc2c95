#!/usr/bin/env bash
# Cross-builds the core and its tests for 64-bit Windows with Debian's
# MinGW-w64 compiler and runs them under Wine: the core's tests (the kernel
# tests at every level this processor has, the save on Windows' file layer),
# the image readers on files written under Wine, the digests, which must be
# the ones recorded on Linux, and the saved sample files, which must have the
# bytes a Linux build writes. Prints its time.
#
# Usage: windows_check.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
start=$SECONDS

# GoogleTest's sources come with libgtest-dev; the readers check needs
# Pillow and ImageMagick on this machine.
velmora_install "${VELMORA_WINDOWS_PACKAGES[@]}"
build=$VELMORA_ROOT/build/x86_64-w64-mingw32
velmora_build "$build" -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/toolchains/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_GTEST_SOURCE_DIR=/usr/src/googletest -DVELMORA_WARNINGS_AS_ERRORS=ON
# The tests' Wine session is ended however this script ends.
trap 'WINEPREFIX=$build/wine "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true' EXIT
status=0
(cd "$build" && ctest --output-on-failure -j 2) || status=$?
took=$((SECONDS - start))
velmora_log "windows check: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $((took / 60))m$(printf %02d $((took % 60)))s"
exit "$status"
