#!/usr/bin/env bash
# Builds everything and runs the program from a staging folder in the build
# tree, so the clone stays clean. Until the game is built the program shows
# the shell's own test screen: windowed with a display; without one it ends
# after 5 s and says where it wrote its last frame.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)"
stage="$root/build/stage"
mkdir -p "$stage"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
fi
cd "$stage" && exec "$root/build/app/helm" -quiet "$@"
