#!/usr/bin/env bash
# Builds everything and runs every test: a normal build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"
jobs=$(nproc)
# Each step's heading carries the time since the start and the CPU time the
# steps before it took (user and system, every process), so a run's log
# shows where its time goes.
step() {
  local -a stat
  read -r -a stat < /proc/$$/stat  # fields 16 and 17: the children's CPU time in ticks
  printf '== [%dm%02ds, CPU %ds] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) \
    $(((stat[15] + stat[16]) / $(getconf CLK_TCK))) "$*"
}

step "The normal build"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"

# clang 14 (the fuzz targets' compiler) makes the sanitizer build in about
# half the time gcc takes, and its tests run faster; the normal build keeps
# gcc and its warnings. A report needs no more than line tables.
step "The build under AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DHELM_SANITIZE=ON -DHELM_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" >/dev/null
cmake --build "$root/build-asan" -j "$jobs"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# The end-to-end cases copy the 20 MB, 800-file stage into a scratch folder
# for each run of the program; on a disk file system making and removing
# those files costs a third of their time, so the scratch folders go to
# memory when /dev/shm has room (4 GB) and TMPDIR names no place of its own.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -ge 4194304 ]; then
  TMPDIR=$(mktemp -d /dev/shm/helm-ci.XXXXXX)
  export TMPDIR
  trap 'rm -rf "$TMPDIR"' EXIT
fi
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "The headless demo tour (scripts/play.sh without a display)"
(unset DISPLAY WAYLAND_DISPLAY; bash "$root/scripts/play.sh")
tours=$(find "$root/build/stage/frames" -maxdepth 1 -name 'tour-*.png' | wc -l)
[ "$tours" -ge 10 ] || { echo "the demo tour wrote $tours frames" >&2; exit 1; }
# One case more than there are cores: cases that wait on a child process, a
# clip's pace or the disk would leave a core idle.
step "Tests (normal build)"
ctest --test-dir "$root/build" -j $((jobs + 1)) --output-on-failure
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
ctest --test-dir "$root/build-asan" -j $((jobs + 1)) --output-on-failure \
  -E 'FrontEnd\.(EveryScreenIsReached|AControllerAlone|TheAttractDemo|AScriptedRun)|DisplayTest\.|ArchiveTest\.|DataBuildTest\.|LevelsLoad\.EveryTrack|Tracks\.'
step "Done"
