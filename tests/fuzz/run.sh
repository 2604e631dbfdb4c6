#!/usr/bin/env bash
# Builds the data-layer, font-metrics, world-reader, plugin-reader,
# content-layer (objects, scene texts, scene caches, skin-weight caches,
# animation sets, shape files), input-script, game and front-end fuzz targets with clang
# 14's libFuzzer (apart from the CMake build) and runs each for a bounded time.
#   bash tests/fuzz/run.sh [seconds per target, default 20] [build folder]
# Needs the Debian packages clang-14 and libclang-rt-14-dev.
# Every source is compiled once, in parallel, into an object that every
# target linking it shares; the targets are built first and then run side by
# side, HELM_FUZZ_JOBS (default: the CPU count) at a time, each in a working
# folder of its own.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-20}
out=${2:-$root/build-fuzz}
mkdir -p "$out"
# Objects are named after their source's path: those of another checkout
# built into the same folder would be linked beside these.
rm -rf "$out/obj" "$out/log" "$out/run" "$out/queue"
mkdir -p "$out/obj" "$out/log" "$out/run"
parallel=${HELM_FUZZ_JOBS:-$(nproc)}
# Shows the end of a target's output: its last lines, or all that a failing
# run said about its failure.
fuzz_tail() {
  local log
  log=$(mktemp)
  cat > "$log"
  if grep -q -E 'ERROR|ABORTING|runtime error|Assertion|deadly signal' "$log"; then tail -n 120 "$log"; else tail -n 3 "$log"; fi
  rm -f "$log"
}

# Every input gets at most this many seconds (libFuzzer's -timeout; its own
# default is 20 minutes): a slow input is a finding at once.
timeout=${HELM_FUZZ_TIMEOUT:-5}

cxx=clang++-14
# Line tables are all a finding's stack needs.
flags=(-std=c++20 -gline-tables-only -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fno-omit-frame-pointer -DHELM_ASSERTS=1 -I"$root")
cflags_extra=$(pkg-config --cflags sdl2 libpng libavformat)

# The object of a source: named after the source's path.
obj_of() { echo "$out/obj/$(echo "$1" | md5sum | cut -c1-12).o"; }
# Compiles, side by side, the sources whose objects are not made yet.
compile() {
  local missing=() s
  for s in "$@"; do [[ -f $(obj_of "$s") ]] || missing+=("$s"); done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  # The AVX2 kernels build with the options their library gives them.
  printf '%s\n' "${missing[@]}" | xargs -P "$parallel" -I{} sh -c \
    'x=; case "$2" in *_avx2.cpp) x="-mavx2 -ffp-contract=off";; esac
     "$3" $4 $x -c "$2" -o "$1/$(echo "$2" | md5sum | cut -c1-12).o"' _ "$out/obj" {} "$cxx" "${flags[*]} $cflags_extra"
}
# build NAME INPUT...: a target from sources (compiled once), archives and
# linker options.
build() {
  local name=$1 a srcs=() inputs=()
  shift
  echo "== fuzz: building $name"
  for a in "$@"; do
    if [[ $a == *.cpp ]]; then srcs+=("$a"); inputs+=("$(obj_of "$a")"); else inputs+=("$a"); fi
  done
  compile "${srcs[@]}"
  "$cxx" "${flags[@]}" "${inputs[@]}" -o "$out/$name"
}
# queue NAME [VAR=VALUE...] -- ARG...: runs the target NAME_fuzz later, in
# its own working folder (the file layer looks at the working folder), on
# its corpus, for the time given.
queue() {
  local name=$1
  shift
  local envs=()
  while [[ $1 != -- ]]; do envs+=("$1"); shift; done
  shift
  mkdir -p "$out/corpus/$name" "$out/run/$name"
  printf '%q ' "$name" env SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "${envs[@]}" "$out/${name}_fuzz" \
    -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=0 "$@" "$out/corpus/$name" >> "$out/queue"
  echo >> "$out/queue"
}
# Runs the queued targets, $parallel at a time, then shows each one's end;
# fails when any target found something.
run_queue() {
  local name cmd
  while read -r name cmd; do
    while (( $(jobs -rp | wc -l) >= parallel )); do wait -n || true; done
    echo "== fuzz: running ${name}_fuzz for ${seconds} s"
    # No errexit in the job: a finding still leaves its status.
    (set +e; cd "$out/run/$name" && eval "$cmd" < /dev/null > "$out/log/$name.txt" 2>&1; echo $? > "$out/log/$name.rc") &
  done < "$out/queue"
  wait
  local failed=()
  while read -r name cmd; do
    echo "== fuzz: ${name}_fuzz"
    fuzz_tail < "$out/log/$name.txt"
    [[ $(cat "$out/log/$name.rc") == 0 ]] || failed+=("$name")
  done < "$out/queue"
  if [[ ${#failed[@]} -gt 0 ]]; then
    echo "== fuzz: a finding in ${failed[*]}" >&2
    return 1
  fi
}
# The readers and what they stand on; the engine lifecycle is replaced by the
# in-memory file table of fuzz_files.h.
common=("$root"/common/*.cpp
        "$root"/app/file.cpp "$root"/app/binfile.cpp "$root"/app/cache.cpp
        "$root"/app/config.cpp "$root"/app/wad.cpp
        "$root"/gfx/core/stream.cpp "$root"/gfx/core/error.cpp "$root"/gfx/core/freelist.cpp
        "$root"/platform/win32/clock.cpp "$root"/platform/win32/path.cpp "$root"/platform/win32/sysfile.cpp)

# The font reader stands on the engine core; the target replaces immediate mode.
font2d=("$root"/common/*.cpp "$root"/gfx/toolkit/2d/*.cpp)
for f in "$root"/gfx/core/*.cpp; do
  [[ $(basename "$f") == im3d.cpp ]] || font2d+=("$f")
done

# The sound system's fuzz target also needs the WAVE reader, the sound
# system with its name cache and hooks, and the DirectSound stand-in (SDL2).
# The stand-in mutes its buffers while the window has no focus, so the rest
# of the Win32 stand-in comes along.
sound=("$root"/app/wave.cpp "$root"/app/sound.cpp "$root"/app/namecache.cpp "$root"/app/hooks.cpp
       "$root"/platform/dsound/*.cpp)
for f in "$root"/platform/win32/*.cpp; do
  case $(basename "$f") in clock.cpp|path.cpp|sysfile.cpp) ;; *) sound+=("$f") ;; esac
done
sdl=($(pkg-config --cflags --libs sdl2))

mkdir -p "$out/seeds/config" "$out/seeds/data" "$out/seeds/font2d" "$out/seeds/wave"
# The compiled "Kart { Speed = 1.5 }" (the game targets' configuration too)
# and a small archive holding DATA\Levels\x.cfg for both kinds of open.
printf '\x04\x00\x00\x00Kart\x00\x00\x00\x00\x89\x18\x7a\xe7\x01\x00\x00\x00{\x00\x00\x00\x00\x00\x00\x00\x05\x00\x00\x00Speed\x00\x00\x00\x5e\x18\xb6\x95\x03\x00\x00\x001.5\x00\x00\x00\x00\x00\x01\x00\x00\x00' \
  > "$out/seeds/config/kart.cfb"
printf '\x57\x41\x44\x48\x9a\x00\x00\x00\x05\x00\x00\x00\x12\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\xff\xff\xff\xff\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\xff\xff\xff\xff\x0c\x00\x00\x00\x00\x00\x00\x00\x13\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x04\x00\x00\x00\x0c\x00\x00\x00\x00\x00\x00\x00\x13\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\x44\x41\x54\x41\x00\x4c\x65\x76\x65\x6c\x73\x00\x78\x2e\x63\x66\x67\x00\x6c\x69\x6e\x65\x20\x6f\x6e\x65\x0d\x0a\x6c\x69\x6e\x65\x20\x74\x77\x6f\x0a' \
  > "$out/seeds/data/small.wad"

# Two animations ("Idle", "Run"), the events "&AnimCommonTriggerType_Sound_a" and "Msg", two key events.
printf '\x02\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x05\x00\x00\x00a.lws\x00\x00\x00\x04\x00\x00\x00Idle\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x80\x3e\x00\x00\x00\x00\x01\x00\x00\x00\x03\x00\x00\x00b.l\x00\x00\x00\x00\x00\x03\x00\x00\x00Run\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x1e\x00\x00\x00&AnimCommonTriggerType_Sound_a\x00\x00\x03\x00\x00\x00Msg\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x3f\x00\x00\x80\x3f\x01\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x07' \
  > "$out/seeds/data/two.atf"

# One font of each kind; image names pick the target's generated images.
printf 'METRICS1\nwide.img\n12\n65 0 0 8 16\n0x12C 8 0 24 16\n' > "$out/seeds/font2d/rects.met"
printf 'METRICS2\ncells.img\n4\nAB\xc3\xa9\r\nCD\nquad.img mask.img\n3\nxyz' > "$out/seeds/font2d/cells.met"
printf 'METRICS3\nSeed\n A\nbegin\nmoveto 0 0\ncurveto 0 1 1 1 1 0\nclosepath\nmoveto 1.2 0\nend\n' > "$out/seeds/font2d/outline.met"
# A RIFF WAVE file of four 8-bit mono samples at 8000 Hz.
printf 'RIFF\x28\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x40\x1f\x00\x00\x01\x00\x08\x00data\x04\x00\x00\x00\x80\xc0\x40\xff' \
  > "$out/seeds/wave/blip.wav"

# The data layer's readers (configurations, animation sets, archives) take
# every input; the animation-set reader stands on its binary files.
cp "$out/seeds/config/kart.cfb" "$out/seeds/data/"
build data_fuzz "$root/tests/fuzz/data_fuzz.cpp" "${common[@]}" "$root"/engine/animfile.cpp "$root"/engine/loaderror.cpp
build font2d_fuzz "$root/tests/fuzz/font2d_fuzz.cpp" "${font2d[@]}"
build wave_fuzz "$root/tests/fuzz/wave_fuzz.cpp" "${common[@]}" "${sound[@]}" "${sdl[@]}"
for target in data font2d wave; do
  queue $target -- -max_len=4096 "$out/seeds/$target"
done

# The world's and the plugins' readers (atomic chunk, frame and sector
# extensions, key frames) over the engine and the Direct3D 8 stand-in, all
# compiled with the fuzzer. tests/fuzz/corpus/plugin keeps inputs that once
# found a fault.
world=("$root"/common/*.cpp "$root"/gfx/core/*.cpp "$root"/gfx/driver/*/*.cpp "$root"/gfx/world/*.cpp
       "$root"/gfx/toolkit/*/*.cpp "$root"/gfx/plugin/*/*.cpp "$root"/platform/direct3d/*.cpp "$root"/platform/win32/*.cpp)
mkdir -p "$out/seeds/plugin"
build plugin_fuzz "${world[@]}" "$root/tests/fuzz/plugin_fuzz.cpp" $(pkg-config --libs sdl2 libpng)
queue plugin HELM_PLUGIN_SEEDS="$out/seeds/plugin" -- -max_len=8192 "$out/seeds/plugin" "$root/tests/fuzz/corpus/plugin"

# The content layer's readers over the data layer's in-memory files: scene
# texts, scene caches and skin-weight caches (their first byte picks the
# reader), and the object parser (with the shape files below).
content=("$root"/engine/loaderror.cpp "$root"/engine/lwo.cpp "$root"/engine/lwonormals.cpp "$root"/app/colour.cpp)
scenes=("$root"/engine/scenetext.cpp "$root"/engine/scenecache.cpp "$root"/engine/scenedata.cpp)
skins=("$root"/engine/skincache.cpp "$root"/engine/nodeextra.cpp)
mkdir -p "$out/seeds/model" "$out/seeds/content"
# One triangle with a surface; scenes of a null, a keyed object and a light.
printf '\x46\x4f\x52\x4d\x00\x00\x00\x7e\x4c\x57\x4f\x32\x54\x41\x47\x53\x00\x00\x00\x02\x53\x00\x50\x4e\x54\x53\x00\x00\x00\x24\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x3f\x80\x00\x00\x00\x00\x00\x00\x3f\x80\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x50\x4f\x4c\x53\x00\x00\x00\x0c\x46\x41\x43\x45\x00\x03\x00\x00\x00\x01\x00\x02\x50\x54\x41\x47\x00\x00\x00\x08\x53\x55\x52\x46\x00\x00\x00\x00\x53\x55\x52\x46\x00\x00\x00\x18\x53\x00\x00\x00\x43\x4f\x4c\x52\x00\x0e\x3f\x80\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  > "$out/seeds/model/triangle.lwo"
printf '\x00LWSC\n3\n\nPreviewFirstFrame 0\nPreviewLastFrame 30\nFramesPerSecond 30\n\nAddNullObject Top\n\nLoadObjectLayer 1 Box.lwo\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  2\n  Key 1 0 0\n  Key 2 1 0\n  Behaviors 1 1\n}\nParentItem 10000000\nAddBone\nBoneName B\nBoneMotion\nNumChannels 1\nChannel 0\n{ Envelope\n  1\n  Key 0 0\n  Behaviors 1 1\n}\n\nAddLight\nLightIntensity (envelope)\n{ Envelope\n  1\n  Key 1 0\n  Behaviors\n}\n\n' \
  > "$out/seeds/content/scene.lws"
printf '\x00LWSC\n1\n\nLoadObject C:\\Box.lwo\nObjectMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\nEndBehavior 1\nObjDissolve (envelope)\n  1\n  1\n  0.5\n  0 0 0 0 0\nEndBehavior 1\nParentObject 1\n\n' \
  > "$out/seeds/content/scene1.lws"
# A boneless cache of one null ("A"), and a weight cache of one vertex and three bones.
printf '\x01\x00\x00\xf0\x41\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x41\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  > "$out/seeds/content/null.lsf"
printf '\x02\x01\x00\x00\x00\x03\x00\x00\x00\x01\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00' \
  > "$out/seeds/content/one.bwl"
build content_fuzz "$root/tests/fuzz/content_fuzz.cpp" "${common[@]}" "${content[@]}" "${scenes[@]}" "${skins[@]}"
queue content -- -max_len=8192 "$out/seeds/content"
# The script reader of scripted runs, with the DirectInput and Win32
# stand-ins it pushes its events through.
mkdir -p "$out/seeds/inputscript"
printf 'controller 1\nat 0.5\ntap Return\nhold "Left Shift" 0.2\nbutton 0 start on\naxis 0 leftx -0.5\nwait state == level timeout 2\nexpect player.pos.y >= 1\ncapture tour-01\nend\n' \
  > "$out/seeds/inputscript/tour.txt"
printf '1, 2, 3\n==\n1,2,3.5\n' > "$out/seeds/inputscript/compare.txt"
build inputscript_fuzz "$root/tests/fuzz/inputscript_fuzz.cpp" "$root"/platform/dinput/*.cpp "$root"/platform/win32/*.cpp \
  "${sdl[@]}"
queue inputscript -- -max_len=4096 "$out/seeds/inputscript"

# The object parser, and the physics shape-file reader with its fallback to
# the model: the engine layer's physics interface over the physics engine
# (qhull for the hulls), reading through the file layer.
physics=("$root"/physics/*/*.cpp "$root"/engine/physworld.cpp "$root"/engine/physbody.cpp
         "$root"/engine/physshape.cpp "$root"/engine/physray.cpp "$root"/engine/physconstraint.cpp
         "${content[@]}")
# One box hull of mass 1 (eight corners at +-0.5).
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x04\x00\x00\x00\x00\x80\x3f\x08\x00\x00\x00' > "$out/seeds/model/box.rbs"
for i in 0 1 2 3 4 5 6 7; do
  for axis in 1 2 4; do
    if (( i & axis )); then printf '\x00\x00\x00\x3f'; else printf '\x00\x00\x00\xbf'; fi
  done
done >> "$out/seeds/model/box.rbs"
build model_fuzz "$root/tests/fuzz/model_fuzz.cpp" "${common[@]}" "${physics[@]}" -lqhull_r
queue model -- -max_len=8192 "$out/seeds/model"

# The game's targets link one archive of every library built for fuzzing,
# the longest build here; HELM_FUZZ_GAME=0 leaves them out.
if [[ "${HELM_FUZZ_GAME:-1}" != 0 ]]; then
  source "$root/tests/fuzz/game_targets.sh"
fi
run_queue
echo "== fuzz: no crash in any target"

