#!/usr/bin/env bash
# Builds everything (installing what is missing) and runs every test: the
# release build and the program in a real window, then the core again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_install "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}"

# One test run at a time per checkout: two would build the same trees at once.
mkdir -p "$VELMORA_ROOT/build"
exec 9>"$VELMORA_ROOT/build/.test.lock"
flock 9

velmora_log "release build"
velmora_build "$VELMORA_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_BUILD_BENCH=ON -DVELMORA_WARNINGS_AS_ERRORS=ON
(cd "$VELMORA_ROOT/build/release" && ctest --output-on-failure -j 2)

# The benchmark must build and run; its timings are read by people, not checked here.
velmora_log "benchmark smoke run"
bench=$VELMORA_ROOT/build/release/bench/velmora_bench
# Google Benchmark 1.8 on wants a unit on the minimum time, which 1.7 refuses.
min_time=0.01s
"$bench" --benchmark_list_tests --benchmark_min_time=$min_time >/dev/null 2>&1 || min_time=0.01
"$bench" --benchmark_min_time=$min_time \
  --benchmark_filter='BM_OneThread(Defaults|BothSwitches)/512|BM_GrayLevels/|BM_MostOctaves(SwitchesOff|Persistence0.5)/' >/dev/null

# The program in a real window: its own X server and window manager, driven
# with the mouse and keyboard.
velmora_log "real-window test"
bash "$VELMORA_ROOT/tests/e2e/run_e2e.sh" "$VELMORA_ROOT/build/release"
bash "$VELMORA_ROOT/tests/e2e/generate_e2e.sh" "$VELMORA_ROOT/build/release"
bash "$VELMORA_ROOT/tests/e2e/picture_e2e.sh" "$VELMORA_ROOT/build/release"
bash "$VELMORA_ROOT/tests/e2e/hostile_e2e.sh" "$VELMORA_ROOT/build/release"
bash "$VELMORA_ROOT/tests/e2e/wayland_smoke.sh" "$VELMORA_ROOT/build/release"

# The installed program: install rules into a staging folder, the Debian
# package, and in CI the package installed for real with apt-get.
velmora_log "install test"
bash "$VELMORA_ROOT/tests/install/check_install.sh" stage "$VELMORA_ROOT/build/release"
(cd "$VELMORA_ROOT/build/release" && rm -f velmora_*.deb && cpack -G DEB >/dev/null)
package=$(ls "$VELMORA_ROOT"/build/release/velmora_*.deb)
velmora_log "built $(basename "$package")"
if [ "${CI:-}" = true ]; then
  velmora_log "installing $(basename "$package") with apt-get"
  velmora_as_root apt-get install -y -q "$package" >/dev/null
  bash "$VELMORA_ROOT/tests/install/check_install.sh" system
  velmora_as_root apt-get remove -y -q velmora >/dev/null
fi

velmora_log "sanitizer build"
velmora_build "$VELMORA_ROOT/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON \
  -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_UI=OFF -DVELMORA_WARNINGS_AS_ERRORS=ON
(cd "$VELMORA_ROOT/build/sanitize" && ctest --output-on-failure -j 2)
