#!/usr/bin/env bash
# Builds the Windows program on Debian with MinGW-w64, installing what is
# missing: one statically linked build/windows/ui_win32/velmora.exe, the
# download build/windows/velmora-VERSION-windows-x86_64.zip holding it, and
# the installer velmora-VERSION-windows-x86_64.msi beside it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_install cmake make "${VELMORA_WINDOWS_PACKAGES[@]}"
build=$VELMORA_ROOT/build/windows
cmake -S "$VELMORA_ROOT" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/toolchains/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target velmora_zip velmora_msi
velmora_log "built $build/ui_win32/velmora.exe, $(cd "$build" && ls velmora-*-windows-x86_64.zip velmora-*-windows-x86_64.msi | tr '\n' ' ')"
