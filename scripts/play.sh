#!/usr/bin/env bash
# Builds what is missing (the program and the demo data in build/stage) and
# starts the game from build/stage, so the clone stays clean: in a window
# when there is a display; without one (neither DISPLAY nor WAYLAND_DISPLAY
# set) it plays the demo tour data/scripts/tour.txt headless and writes its
# frames to build/stage/frames. Arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target helm demo_stage
stage="$root/build/stage"

# Player 0's keys, read from the game's keyboard binding table (column 0 of
# player 0's row) and named by their DirectInput key codes.
print_keys() {
  local row
  row=$(sed -n '/kKeyboard\[4\]\[PLAYER_ACTIONS\] = {/{n;p;q}' "$root/game/players.cpp" | tr -d '{} ' | tr ',' ' ')
  declare -A name=([C8]=Up [D0]=Down [CB]=Left [CD]=Right [1C]=Return [36]="Right Shift" [9D]="Right Ctrl"
    [35]=/ [34]=. [33]=, [39]=Space [0E]=Backspace [D2]=Insert [D3]=Delete)
  local actions=("move up" "move down" "move left" "move right" "jump, menu select" "special move"
    "fire" "close attack, take over a creature, menu back" "camera" "camera reset" "start, menu back"
    "next checkpoint" "previous target" "next target")
  echo "Keys (player 0; Escape pauses in a level and quits on the main menu):"
  local i=0 code
  for code in $row; do
    code=${code#0x}
    printf '  %-12s %s\n' "${name[$code]:-key 0x$code}" "${actions[$i]}"
    i=$((i + 1))
  done
  echo "A connected game controller takes player 0 (stick and buttons); the keyboard then plays player 1."
}

cd "$stage"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  print_keys
  exec "$root/build/helm/helm" -quiet "$@"
fi

# No display: nobody can play, so the tour plays itself.
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
frames="$stage/frames"
mkdir -p "$frames"
rm -f "$frames"/tour-*.png
status=0
HELM_SCRIPT="$root/data/scripts/tour.txt" HELM_CAPTURE_DIR="$frames" "$root/build/helm/helm" -quiet "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "Headless: the demo tour stopped with exit code $status (see the line above)." >&2
  exit "$status"
fi
count=$(find "$frames" -maxdepth 1 -name 'tour-*.png' | wc -l)
if [ "$count" -eq 0 ]; then
  # Another copy runs: the game said so and left at once.
  echo "Headless: the demo tour did not play (see the line above)."
  exit 0
fi
echo "Headless: played the demo tour; $count frames in build/stage/frames/ (tour-*.png). Run with a display (or under xvfb-run) to play."
