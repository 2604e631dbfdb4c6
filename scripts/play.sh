#!/usr/bin/env bash
# Builds everything and runs the game on the demo data from a staging folder
# in the build tree, so the clone stays clean.
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
if [ -x "$root/build/app/helm" ]; then
  cd "$stage" && exec "$root/build/app/helm" -quiet "$@"
fi
echo "The game itself is not built yet: what exists so far are the libraries"
echo "and their tests (run: bash scripts/test.sh). See README.md, 'Status'."
