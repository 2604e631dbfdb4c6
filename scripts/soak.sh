#!/usr/bin/env bash
# A soak of the whole program (not part of CI): scripted play, level after
# level, in the sanitizer build, for SOAK_SECONDS of wall time (default
# 1800). Each level runs as one process for SOAK_SLICE seconds (default
# 600): a script walks, turns, jumps, pauses and resumes, over and over,
# on the fixed 20 ms step; then the process is asked to end (SIGTERM, the
# window's close) and shuts down normally, so the leak check runs.
# Each cycle ends with a restart from the pause menu, so the level unloads
# and loads again and the player never wanders off far enough to finish or
# leave the level. Resident memory is sampled every 10 s; after the first
# SOAK_SETTLE seconds of a process (default 300, at most half a slice) it
# must grow by less than 2 %, and no run may print a sanitizer report. The
# sanitizer's quarantine of freed memory is held to 16 MB, so that it is
# full well within the settling time and what grows after is the program.
#   bash scripts/soak.sh [build folder, default build-asan]
# The figures go to stdout and the runs' folders stay in $SOAK_DIR
# (default /tmp/helm-soak).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-asan}
total=${SOAK_SECONDS:-1800}
slice=${SOAK_SLICE:-600}
settle=${SOAK_SETTLE:-300}
(( settle > slice / 2 )) && settle=$((slice / 2))
work=${SOAK_DIR:-/tmp/helm-soak}

if [[ ! -d $build ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELM_SANITIZE=ON -DHELM_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
fi
build=$(cd "$build" && pwd)
cmake --build "$build" -j6 --target helm demo_stage

levels=()
for f in "$root"/data/configs/levels/level*.cfg; do
  n=${f##*/level}; n=${n%.cfg}
  [[ $n =~ ^[0-9]+$ ]] && levels+=("$n")
done
(( ${#levels[@]} )) || { echo "soak: no level in data/configs/levels" >&2; exit 1; }
IFS=$'\n' levels=($(sort -n <<<"${levels[*]}")); unset IFS

# One cycle of play: about 20 s of game time, 2500 times (then it idles).
script=$work/soak-script.txt
mkdir -p "$work"
{
  echo "# made by scripts/soak.sh"
  echo "wait state == level timeout 600"
  echo "after 1"
  echo "tap Return"
  for ((c = 0; c < 2500; c++)); do  # the script reader takes up to 1 MB
    echo "after 0.5"; echo "hold Up 1"
    echo "after 1.2"; echo "tap Return"
    echo "after 1"; echo "hold Right 0.6"
    echo "after 1"; echo "hold Up 0.8"
    echo "after 1"; echo "hold Left 0.6"
    echo "after 1"; echo "tap Return"
    echo "after 1"; echo "hold Down 1"
    echo "after 1.5"; echo "tap Escape"
    echo "after 1"; echo "tap Escape"
    # Restart through the pause menu (resume, restart, ...): the level
    # unloads and loads again, and the player starts over where it began.
    echo "after 1"; echo "tap Escape"
    echo "after 0.5"; echo "tap Down"
    echo "after 0.5"; echo "tap Return"
    echo "after 2"; echo "tap Return"
  done
  echo "at 86400"
  echo "end"
} > "$script"

failed=0
start=$(date +%s)
round=0
while (( $(date +%s) - start < total )); do
  level=${levels[$((round % ${#levels[@]}))]}
  round=$((round + 1))
  folder=$work/run-$round-level$level
  rm -rf "$folder"
  cp -r "$build/stage" "$folder"
  left=$((total - ($(date +%s) - start)))
  seconds=$(( left < slice ? left : slice ))
  (cd "$folder" && exec env SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy HELM_RASTER_THREADS=1 \
      HELM_SCRIPT="$script" HELM_RANDOM_SEED=$round HELM_MUTEX_NAME=helm-soak-$$ \
      ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/app/helm" -quiet -leveltype Glim -levelnumber "$level" > output.txt 2>&1) &
  pid=$!
  samples=()
  early=0
  for ((t = 0; t < seconds; t += 10)); do
    sleep $(( seconds - t < 10 ? seconds - t : 10 ))
    kill -0 "$pid" 2>/dev/null || { early=1; break; }
    samples+=("$t $(awk '/^VmRSS/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)")
  done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  printf '%s\n' "${samples[@]}" > "$folder/rss.txt"
  base=$(awk -v s="$settle" '$1 >= s {print $2; exit}' "$folder/rss.txt")
  last=$(tail -1 "$folder/rss.txt" | awk '{print $2}')
  first=$(head -1 "$folder/rss.txt" | awk '{print $2}')
  verdict=ok
  if (( early )); then
    verdict="the program ended by itself (see $folder/output.txt)"
  elif grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: .*Sanitizer" "$folder/output.txt"; then
    verdict="sanitizer report (see $folder/output.txt)"
  elif [[ -n $base && -n $last ]] && (( last * 100 >= base * 102 )); then
    verdict="memory grew from $base kB to $last kB after the first ${settle} s"
  fi
  [[ $verdict == ok ]] || failed=1
  echo "level $level, ${seconds} s: RSS ${first:-?} kB at start, ${base:-?} kB at ${settle} s, ${last:-?} kB at the end: $verdict"
done
exit $failed
