#!/usr/bin/env bash
# The machines Velmora must build, pass its tests and make the same bytes on,
# one stage each:
#   x86-64    the digests on emulated x86-64 processors without AVX-512 and without AVX
#   clang     the whole project built with Clang 16, all its tests
#   arm64     the core and its tests cross-built for arm64, run under qemu
#   s390x     the same for s390x, which is big-endian
#   windows   the program and its tests cross-built for 64-bit Windows, run under Wine:
#             the core's, the program layer's and the Win32 windows' tests, the program
#             driven in real windows, its zip and its installer
#   debian12  the README's run and test commands on a fresh minimal Debian 12, as a user with sudo
#   debian13  the same on a fresh minimal Debian 13, as root, then everything with its Clang
# Prints a pass or fail line with the time of each stage, and a stage's log
# (kept in build/portability) when it fails; exits non-zero when any failed.
# The fresh roots need root (debootstrap, mount).
#
# Usage: portability.sh [STAGE...]   (default: every stage, in the order above)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(x86-64 clang arm64 s390x windows debian12 debian13)
logs=$VELMORA_ROOT/build/portability
mkdir -p "$logs"

stage_x86-64() {
  [ "$(uname -m)" = x86_64 ] || { velmora_log "this machine is no x86-64 one"; return 1; }
  velmora_install "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}"
  # The test command's release tree, with its options, so that neither
  # reconfigures the other.
  velmora_build "$VELMORA_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON \
    -DVELMORA_BUILD_BENCH=ON -DVELMORA_WARNINGS_AS_ERRORS=ON
  bash "$VELMORA_ROOT/tests/portability/check_digest.sh" "$VELMORA_ROOT/build/release/tests/velmora_map_digest"
}
stage_clang() { bash "$VELMORA_ROOT/scripts/clang_check.sh" clang++-16; }
stage_arm64() { bash "$VELMORA_ROOT/scripts/cross_check.sh" aarch64-linux-gnu; }
stage_s390x() { bash "$VELMORA_ROOT/scripts/cross_check.sh" s390x-linux-gnu; }
stage_windows() { bash "$VELMORA_ROOT/scripts/windows_check.sh" "$logs/windows.png"; }
stage_debian12() {
  bash "$VELMORA_ROOT/scripts/fresh_root.sh" --user --screenshot "$logs/debian12.png" bookworm
}
stage_debian13() {
  bash "$VELMORA_ROOT/scripts/fresh_root.sh" --screenshot "$logs/debian13.png" \
    --then "bash scripts/clang_check.sh" trixie
}

failed=0
summary=()
for stage in "${stages[@]}"; do
  if ! declare -F "stage_$stage" >/dev/null; then
    echo "portability: no stage $stage (stages: x86-64 clang arm64 s390x windows debian12 debian13)" >&2
    exit 2
  fi
  printf '==> portability: %s ...\n' "$stage" >&2
  start=$SECONDS
  status=0
  ("stage_$stage") >"$logs/$stage.log" 2>&1 </dev/null || status=$?
  took=$((SECONDS - start))
  time=$(printf '%dm%02ds' $((took / 60)) $((took % 60)))
  if [ "$status" -eq 0 ]; then
    line="portability: PASS $stage ($time)"
  else
    line="portability: FAIL $stage ($time, exit code $status; log in $logs/$stage.log)"
    failed=1
    echo "--- the end of $stage's log:" >&2
    tail -n 80 "$logs/$stage.log" >&2
  fi
  echo "$line" >&2
  summary+=("$line")
done
printf '%s\n' "${summary[@]}"
exit $failed
