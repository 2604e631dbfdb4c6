#!/usr/bin/env bash
# A soak of the whole program (not part of CI): scripted play, level after
# level, for SOAK_SECONDS of wall time (default 1800). Each level runs for
# SOAK_SLICE seconds (default 600) as two processes side by side, one of
# the sanitizer build and one of the normal build: a script walks, turns,
# jumps, pauses and resumes on the fixed 20 ms step, and ends each cycle
# with a restart from the pause menu, so the level unloads and loads again
# and the player never wanders off far enough to finish or leave the
# level. Then both are asked to end (SIGTERM, the window's close) and shut
# down normally, so the leak check runs.
# No run may print a sanitizer report. Resident memory is sampled every
# 10 s; after the first SOAK_SETTLE seconds (default 300, at most half a
# slice) the normal build's must grow by less than 2 %. The sanitizer
# build's is printed beside it: its allocator keeps freed memory in
# quarantine and in per-size pools, so its resident size creeps without
# any leak, and it is not judged.
#   bash scripts/soak.sh [sanitizer build, default build-asan] [normal build, default build]
# The figures go to stdout and the runs' folders stay in $SOAK_DIR
# (default /tmp/helm-soak).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-asan}
plain=${2:-$root/build}
total=${SOAK_SECONDS:-1800}
slice=${SOAK_SLICE:-600}
settle=${SOAK_SETTLE:-300}
(( settle > slice / 2 )) && settle=$((slice / 2))
work=${SOAK_DIR:-/tmp/helm-soak}

if [[ ! -d $build ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELM_SANITIZE=ON -DHELM_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
fi
if [[ ! -d $plain ]]; then
  cmake -S "$root" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
build=$(cd "$build" && pwd)
plain=$(cd "$plain" && pwd)
cmake --build "$build" -j6 --target helm demo_stage
cmake --build "$plain" -j6 --target helm

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

# Resident kB of a process, or 0 once it is gone.
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# The growth verdict of a run's samples ("t kB" lines): empty when flat.
growth() {
  local base last
  base=$(awk -v s="$settle" '$1 >= s {print $2; exit}' "$1")
  last=$(tail -1 "$1" | awk '{print $2}')
  if [[ -n $base && -n $last ]] && (( last * 100 >= base * 102 )); then
    echo "memory grew from $base kB to $last kB after the first ${settle} s"
  fi
}

# "first, at the settling time, last" of a run's samples.
figures() {
  awk -v s="$settle" 'NR == 1 {f = $2} $1 >= s && !b {b = $2} {l = $2}
    END {printf "%s kB at start, %s kB at %d s, %s kB at the end", f ? f : "?", b ? b : "?", s, l ? l : "?"}' "$1"
}

failed=0
start=$(date +%s)
round=0
while (( $(date +%s) - start < total )); do
  level=${levels[$((round % ${#levels[@]}))]}
  round=$((round + 1))
  folder=$work/run-$round-level$level
  rm -rf "$folder" "$folder-plain"
  cp -r "$build/stage" "$folder"
  cp -r "$build/stage" "$folder-plain"
  left=$((total - ($(date +%s) - start)))
  seconds=$(( left < slice ? left : slice ))
  run() {  # folder, build, mutex suffix
    cd "$1" && exec env SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy HELM_RASTER_THREADS=1 \
      HELM_SCRIPT="$script" HELM_RANDOM_SEED=$round HELM_MUTEX_NAME=helm-soak-$$-$3 \
      ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16 UBSAN_OPTIONS=print_stacktrace=1 \
      "$2/helm/helm" -quiet -leveltype Glim -levelnumber "$level" > output.txt 2>&1
  }
  (run "$folder" "$build" asan) &
  pid=$!
  (run "$folder-plain" "$plain" plain) &
  plainPid=$!
  : > "$folder/rss.txt"
  : > "$folder-plain/rss.txt"
  early=0
  for ((t = 0; t < seconds; t += 10)); do
    sleep $(( seconds - t < 10 ? seconds - t : 10 ))
    kill -0 "$pid" 2>/dev/null && kill -0 "$plainPid" 2>/dev/null || { early=1; break; }
    echo "$t $(rss "$pid")" >> "$folder/rss.txt"
    echo "$t $(rss "$plainPid")" >> "$folder-plain/rss.txt"
  done
  kill -TERM "$pid" "$plainPid" 2>/dev/null || true
  wait "$pid" || true
  wait "$plainPid" || true
  verdict=ok
  if (( early )); then
    verdict="a program ended by itself (see $folder/output.txt and $folder-plain/output.txt)"
  elif grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: .*Sanitizer" "$folder/output.txt"; then
    verdict="sanitizer report (see $folder/output.txt)"
  elif [[ -n $(growth "$folder-plain/rss.txt") ]]; then
    verdict=$(growth "$folder-plain/rss.txt")
  fi
  [[ $verdict == ok ]] || failed=1
  echo "level $level, ${seconds} s: RSS $(figures "$folder-plain/rss.txt") (sanitizer build: $(figures "$folder/rss.txt")): $verdict"
done
exit $failed
