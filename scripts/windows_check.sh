#!/usr/bin/env bash
# Cross-builds Velmora and its tests for 64-bit Windows with Debian's
# MinGW-w64 compiler and runs them under Wine: the core's tests (the kernel
# tests at every level this processor has, the save on Windows' file layer),
# the image readers on files written under Wine, the digests, which must be
# the ones recorded on Linux, the saved sample files, which must have the
# bytes a Linux build writes, the program layer's tests and the Win32
# windows' tests; then the program driven in real windows under Wine on a
# private X server, and its zip and installer. Prints its time.
#
# Usage: windows_check.sh [SCREENSHOT.png]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
start=$SECONDS

# GoogleTest's sources come with libgtest-dev; the readers check needs
# Pillow and ImageMagick on this machine.
velmora_install "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}" "${VELMORA_WINDOWS_PACKAGES[@]}"
# The file the real-window test compares with comes from the native release
# tree, with the test command's options so that neither reconfigures the other.
cmake -S "$VELMORA_ROOT" -B "$VELMORA_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_BUILD_BENCH=ON -DVELMORA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$VELMORA_ROOT/build/release" -j "$(nproc)" --target velmora_render_map
build=$VELMORA_ROOT/build/x86_64-w64-mingw32
velmora_build "$build" -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/toolchains/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_GTEST_SOURCE_DIR=/usr/src/googletest -DVELMORA_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j "$(nproc)" --target velmora_zip velmora_msi
# The tests' Wine session is ended however this script ends.
trap 'WINEPREFIX=$build/wine "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true' EXIT
status=0
(cd "$build" && ctest --output-on-failure -j 2) || status=$?
if [ "$status" -eq 0 ]; then
  bash "$VELMORA_ROOT/tests/e2e/win32_e2e.sh" "$build" "$VELMORA_ROOT/build/release/tests/e2e/velmora_render_map" \
    ${1:+"$1"} || status=$?
fi
if [ "$status" -eq 0 ]; then
  bash "$VELMORA_ROOT/tests/install/check_windows_package.sh" "$build" || status=$?
fi
took=$((SECONDS - start))
velmora_log "windows check: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $((took / 60))m$(printf %02d $((took % 60)))s"
exit "$status"
