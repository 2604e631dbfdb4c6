#!/usr/bin/env bash
# Builds everything and runs every test: a normal build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"
jobs=$(nproc)
# Each step's heading carries the time since the start, so a run's log shows
# where its time goes.
step() { printf '== [%dm%02ds] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

step "The normal build"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"

step "The build under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHELM_SANITIZE=ON -DHELM_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build "$root/build-asan" -j "$jobs"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "The headless demo tour (scripts/play.sh without a display)"
(unset DISPLAY WAYLAND_DISPLAY; bash "$root/scripts/play.sh")
tours=$(find "$root/build/stage/frames" -maxdepth 1 -name 'tour-*.png' | wc -l)
[ "$tours" -ge 10 ] || { echo "the demo tour wrote $tours frames" >&2; exit 1; }
step "Tests (normal build)"
ctest --test-dir "$root/build" -j "$jobs" --output-on-failure
# CTest runs each case in a process of its own; run as one process, a case
# that leaves the process changed (an environment variable, a stand-in's
# state) fails a later one.
step "The shell's tests as one process"
"$root/build/tests/app_tests" --gtest_brief=1
step "The rasteriser's tests at 1 and at 8 shading threads, and on the SSE2 kernels"
for threads in 1 8; do
  HELM_RASTER_THREADS=$threads "$root/build/tests/platform_d3d8_tests" --gtest_brief=1
done
HELM_RASTER_SIMD=sse2 "$root/build/tests/platform_d3d8_tests" --gtest_brief=1
# CI keeps within its time on two cores: the engine's and the data layer's
# readers are fuzzed for 10 s each here; scripts/fuzz.sh runs every target,
# the game's included, for longer.
step "Fuzzing the data readers (bounded time)"
HELM_FUZZ_GAME=0 bash "$root/tests/fuzz/run.sh" 10 "$root/build-fuzz"
# Under the sanitizers the end-to-end cases that load, play, possess and save
# run; the screen tour, the controller road, the attract demo, the full-screen
# start, the display, the archive road, the twenty-track walk, the characters
# on the tracks and the data builds (tool runs, not the game) are left to the
# normal build above.
step "Tests (AddressSanitizer and UndefinedBehaviorSanitizer)"
ctest --test-dir "$root/build-asan" -j "$jobs" --output-on-failure \
  -E 'FrontEnd\.(EveryScreenIsReached|AControllerAlone|TheAttractDemo|AScriptedRun)|DisplayTest\.|ArchiveTest\.|DataBuildTest\.|LevelsLoad\.EveryTrack|Tracks\.'
step "Done"
