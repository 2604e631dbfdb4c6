#!/usr/bin/env bash
# Builds the Direct3D 8 stand-in's tests under ThreadSanitizer (build-tsan)
# and runs them with the rasteriser's worker pool at 2 and 8 threads, so that
# every flush shades tiles on several threads at once.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-$(nproc)}

cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELM_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target platform_d3d8_tests

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
for threads in 2 8; do
  echo "== platform_d3d8_tests under ThreadSanitizer, HELM_RASTER_THREADS=$threads"
  HELM_RASTER_THREADS=$threads "$root/build-tsan/tests/platform_d3d8_tests" --gtest_brief=1
done
