#!/usr/bin/env bash
# Builds the whole project (core, windows, tests, benchmark) with Clang and
# runs its tests: the core's, the offscreen window tests, the image readers
# and the digests, which must be the same bytes as with GCC.
#
# Usage: clang_check.sh [CLANG++]   (default clang++; for example clang++-16)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

compiler=${1:-clang++}
velmora_install "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}" "${compiler/clang++/clang}"
build=$VELMORA_ROOT/build/$compiler
velmora_log "$compiler: $("$compiler" --version | head -n 1)"
velmora_build "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON -DVELMORA_WARNINGS_AS_ERRORS=ON
(cd "$build" && ctest --output-on-failure -j 2)
