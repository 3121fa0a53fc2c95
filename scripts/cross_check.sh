#!/usr/bin/env bash
# Cross-builds the core and its tests with Debian's cross compiler for
# another processor and runs them there under qemu's user-mode emulator: the
# core's tests, the image readers on files written there, and the digests,
# which must be the ones recorded on x86-64.
#
# Usage: cross_check.sh TRIPLE   aarch64-linux-gnu (arm64) or s390x-linux-gnu (big-endian)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

triple=${1:?usage: cross_check.sh aarch64-linux-gnu|s390x-linux-gnu}
toolchain=$VELMORA_ROOT/cmake/toolchains/$triple.cmake
[ -f "$toolchain" ] || { velmora_log "no toolchain file for $triple"; exit 2; }
# GoogleTest's sources come with libgtest-dev; the readers check needs
# Pillow and ImageMagick on this machine.
velmora_install cmake make "g++-$triple" qemu-user-static libgtest-dev python3 python3-pil imagemagick
build=$VELMORA_ROOT/build/$triple
velmora_build "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=ON -DVELMORA_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DVELMORA_WARNINGS_AS_ERRORS=ON
(cd "$build" && ctest --output-on-failure -j 2)
