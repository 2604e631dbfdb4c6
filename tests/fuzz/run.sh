#!/usr/bin/env bash
# Builds the data-layer, font-metrics, world-reader, plugin-reader,
# content-layer (objects, scene texts, scene caches, skin-weight caches,
# animation sets, shape files), input-script, game and front-end fuzz targets with clang
# 14's libFuzzer (apart from the CMake build) and runs each for a bounded time.
#   bash tests/fuzz/run.sh [seconds per target, default 20] [build folder]
# Needs the Debian packages clang-14 and libclang-rt-14-dev.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-20}
out=${2:-$root/build-fuzz}
mkdir -p "$out"
# Objects are named after their source's path: those of another checkout
# built into the same folder would be linked beside these.
rm -rf "$out/obj"
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
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fno-omit-frame-pointer -DHELM_ASSERTS=1 -I"$root")
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
sound=("$root"/app/wave.cpp "$root"/app/sound.cpp "$root"/app/namecache.cpp "$root"/app/hooks.cpp
       "$root"/platform/dsound/*.cpp "$root"/platform/win32/com.cpp)
sdl=($(pkg-config --cflags --libs sdl2))

mkdir -p "$out/seeds/config" "$out/seeds/wad" "$out/seeds/font2d" "$out/seeds/wave" "$out/seeds/atf" "$out/run"
# The compiled "Kart { Speed = 1.5 }" and a small archive holding
# DATA\Levels\x.cfg for both kinds of open.
printf '\x04\x00\x00\x00Kart\x00\x00\x00\x00\x89\x18\x7a\xe7\x01\x00\x00\x00{\x00\x00\x00\x00\x00\x00\x00\x05\x00\x00\x00Speed\x00\x00\x00\x5e\x18\xb6\x95\x03\x00\x00\x001.5\x00\x00\x00\x00\x00\x01\x00\x00\x00' \
  > "$out/seeds/config/kart.cfb"
printf '\x57\x41\x44\x48\x9a\x00\x00\x00\x05\x00\x00\x00\x12\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\xff\xff\xff\xff\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\xff\xff\xff\xff\x0c\x00\x00\x00\x00\x00\x00\x00\x13\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x04\x00\x00\x00\x0c\x00\x00\x00\x00\x00\x00\x00\x13\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\x44\x41\x54\x41\x00\x4c\x65\x76\x65\x6c\x73\x00\x78\x2e\x63\x66\x67\x00\x6c\x69\x6e\x65\x20\x6f\x6e\x65\x0d\x0a\x6c\x69\x6e\x65\x20\x74\x77\x6f\x0a' \
  > "$out/seeds/wad/small.wad"

# Two animations ("Idle", "Run"), the events "&AnimCommonTriggerType_Sound_a" and "Msg", two key events.
printf '\x02\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x05\x00\x00\x00a.lws\x00\x00\x00\x04\x00\x00\x00Idle\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x80\x3e\x00\x00\x00\x00\x01\x00\x00\x00\x03\x00\x00\x00b.l\x00\x00\x00\x00\x00\x03\x00\x00\x00Run\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x1e\x00\x00\x00&AnimCommonTriggerType_Sound_a\x00\x00\x03\x00\x00\x00Msg\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x3f\x00\x00\x80\x3f\x01\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x07' \
  > "$out/seeds/atf/two.atf"

# One font of each kind; image names pick the target's generated images.
printf 'METRICS1\nwide.img\n12\n65 0 0 8 16\n0x12C 8 0 24 16\n' > "$out/seeds/font2d/rects.met"
printf 'METRICS2\ncells.img\n4\nAB\xc3\xa9\r\nCD\nquad.img mask.img\n3\nxyz' > "$out/seeds/font2d/cells.met"
printf 'METRICS3\nSeed\n A\nbegin\nmoveto 0 0\ncurveto 0 1 1 1 1 0\nclosepath\nmoveto 1.2 0\nend\n' > "$out/seeds/font2d/outline.met"
# A RIFF WAVE file of four 8-bit mono samples at 8000 Hz.
printf 'RIFF\x28\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x40\x1f\x00\x00\x01\x00\x08\x00data\x04\x00\x00\x00\x80\xc0\x40\xff' \
  > "$out/seeds/wave/blip.wav"

for target in config wad; do
  echo "== fuzz: building ${target}_fuzz"
  "$cxx" "${flags[@]}" "$root/tests/fuzz/${target}_fuzz.cpp" "${common[@]}" -o "$out/${target}_fuzz"
done
# The animation-set file reader stands on the binary files of the data layer.
echo "== fuzz: building atf_fuzz"
"$cxx" "${flags[@]}" "$root/tests/fuzz/atf_fuzz.cpp" "${common[@]}" "$root"/engine/animfile.cpp \
  "$root"/engine/loaderror.cpp -o "$out/atf_fuzz"
echo "== fuzz: building font2d_fuzz"
"$cxx" "${flags[@]}" "$root/tests/fuzz/font2d_fuzz.cpp" "${font2d[@]}" -o "$out/font2d_fuzz"
echo "== fuzz: building wave_fuzz"
"$cxx" "${flags[@]}" "$root/tests/fuzz/wave_fuzz.cpp" "${common[@]}" "${sound[@]}" "${sdl[@]}" -o "$out/wave_fuzz"
for target in config wad font2d wave atf; do
  echo "== fuzz: running ${target}_fuzz for ${seconds} s"
  mkdir -p "$out/corpus/$target"
  # Run in a folder of its own: the file layer looks at the working folder.
  (cd "$out/run" && "$out/${target}_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
     -max_len=4096 -print_final_stats=0 "$out/corpus/$target" "$out/seeds/$target" 2>&1 | fuzz_tail)
done

# The world reader: the atomic chunk with the world plugins attached over
# the engine and the Direct3D 8 stand-in, all compiled with the fuzzer.
world=("$root"/common/*.cpp "$root"/gfx/core/*.cpp "$root"/gfx/driver/*/*.cpp "$root"/gfx/world/*.cpp
       "$root"/gfx/toolkit/*/*.cpp "$root"/platform/direct3d/*.cpp "$root"/platform/win32/*.cpp)
mkdir -p "$out/obj/world" "$out/seeds/world" "$out/corpus/world"
echo "== fuzz: building world_fuzz"
printf '%s\n' "${world[@]}" "$root/tests/fuzz/world_fuzz.cpp" | xargs -P 6 -I{} sh -c \
  '"$3" $4 -c "$2" -o "$1/$(echo "$2" | md5sum | cut -c1-12).o"' _ \
  "$out/obj/world" {} "$cxx" "${flags[*]} $(pkg-config --cflags sdl2 libpng)"
"$cxx" "${flags[@]}" "$out"/obj/world/*.o $(pkg-config --libs sdl2 libpng) -o "$out/world_fuzz"
echo "== fuzz: running world_fuzz for ${seconds} s"
(cd "$out/run" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy HELM_WORLD_SEEDS="$out/seeds/world" \
   "$out/world_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -max_len=8192 -print_final_stats=0 \
   "$out/corpus/world" "$out/seeds/world" 2>&1 | fuzz_tail)
# The plugin readers (atomic chunk, frame and sector extensions, key
# frames): the world's objects without its target, and the plugins.
# tests/fuzz/corpus/plugin keeps inputs that once found a fault.
plugin=("$root"/gfx/plugin/*/*.cpp "$root/tests/fuzz/plugin_fuzz.cpp")
mkdir -p "$out/obj/plugin" "$out/seeds/plugin" "$out/corpus/plugin"
echo "== fuzz: building plugin_fuzz"
printf '%s\n' "${plugin[@]}" | xargs -P 6 -I{} sh -c \
  '"$3" $4 -c "$2" -o "$1/$(echo "$2" | md5sum | cut -c1-12).o"' _ \
  "$out/obj/plugin" {} "$cxx" "${flags[*]} $(pkg-config --cflags sdl2 libpng)"
worldTarget="$out/obj/world/$(echo "$root/tests/fuzz/world_fuzz.cpp" | md5sum | cut -c1-12).o"
engine=()
for o in "$out"/obj/world/*.o; do [[ $o == "$worldTarget" ]] || engine+=("$o"); done
"$cxx" "${flags[@]}" "${engine[@]}" "$out"/obj/plugin/*.o $(pkg-config --libs sdl2 libpng) -o "$out/plugin_fuzz"
echo "== fuzz: running plugin_fuzz for ${seconds} s"
(cd "$out/run" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy HELM_PLUGIN_SEEDS="$out/seeds/plugin" \
   "$out/plugin_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -max_len=8192 -print_final_stats=0 \
   "$out/corpus/plugin" "$out/seeds/plugin" "$root/tests/fuzz/corpus/plugin" 2>&1 | fuzz_tail)

# The content layer's readers: objects, scene texts, scene caches and
# skin-weight caches, over the data layer's in-memory files.
content=("$root"/engine/loaderror.cpp "$root"/engine/lwo.cpp "$root"/engine/lwonormals.cpp "$root"/app/colour.cpp)
scenes=("$root"/engine/scenetext.cpp "$root"/engine/scenecache.cpp "$root"/engine/scenedata.cpp)
skins=("$root"/engine/skincache.cpp "$root"/engine/nodeextra.cpp)
mkdir -p "$out/seeds/lwo" "$out/seeds/scenetext" "$out/seeds/scenecache" "$out/seeds/skincache"
# One triangle with a surface; a scene with a null, a keyed object and a light.
printf '\x46\x4f\x52\x4d\x00\x00\x00\x7e\x4c\x57\x4f\x32\x54\x41\x47\x53\x00\x00\x00\x02\x53\x00\x50\x4e\x54\x53\x00\x00\x00\x24\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x3f\x80\x00\x00\x00\x00\x00\x00\x3f\x80\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x50\x4f\x4c\x53\x00\x00\x00\x0c\x46\x41\x43\x45\x00\x03\x00\x00\x00\x01\x00\x02\x50\x54\x41\x47\x00\x00\x00\x08\x53\x55\x52\x46\x00\x00\x00\x00\x53\x55\x52\x46\x00\x00\x00\x18\x53\x00\x00\x00\x43\x4f\x4c\x52\x00\x0e\x3f\x80\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  > "$out/seeds/lwo/triangle.lwo"
printf 'LWSC\n3\n\nPreviewFirstFrame 0\nPreviewLastFrame 30\nFramesPerSecond 30\n\nAddNullObject Top\n\nLoadObjectLayer 1 Box.lwo\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  2\n  Key 1 0 0\n  Key 2 1 0\n  Behaviors 1 1\n}\nParentItem 10000000\nAddBone\nBoneName B\nBoneMotion\nNumChannels 1\nChannel 0\n{ Envelope\n  1\n  Key 0 0\n  Behaviors 1 1\n}\n\nAddLight\nLightIntensity (envelope)\n{ Envelope\n  1\n  Key 1 0\n  Behaviors\n}\n\n' \
  > "$out/seeds/scenetext/scene.lws"
printf 'LWSC\n1\n\nLoadObject C:\\Box.lwo\nObjectMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\nEndBehavior 1\nObjDissolve (envelope)\n  1\n  1\n  0.5\n  0 0 0 0 0\nEndBehavior 1\nParentObject 1\n\n' \
  > "$out/seeds/scenetext/scene1.lws"
# A boneless cache of one null ("A"), and a weight cache of one vertex and three bones.
printf '\x00\x00\xf0\x41\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x41\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  > "$out/seeds/scenecache/null.lsf"
printf '\x01\x00\x00\x00\x03\x00\x00\x00\x01\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00' \
  > "$out/seeds/skincache/one.bwl"
for target in lwo scenetext scenecache skincache; do
  echo "== fuzz: building ${target}_fuzz"
  sources=("${content[@]}")
  case $target in
    scenetext|scenecache) sources+=("${scenes[@]}") ;;
    skincache) sources+=("${skins[@]}") ;;
  esac
  "$cxx" "${flags[@]}" "$root/tests/fuzz/${target}_fuzz.cpp" "${common[@]}" "${sources[@]}" -o "$out/${target}_fuzz"
done
for target in lwo scenetext scenecache skincache; do
  echo "== fuzz: running ${target}_fuzz for ${seconds} s"
  mkdir -p "$out/corpus/$target"
  (cd "$out/run" && "$out/${target}_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
     -max_len=8192 -print_final_stats=0 "$out/corpus/$target" "$out/seeds/$target" 2>&1 | fuzz_tail)
done
# The script reader of scripted runs, with the DirectInput and Win32
# stand-ins it pushes its events through.
mkdir -p "$out/seeds/inputscript" "$out/corpus/inputscript"
printf 'controller 1\nat 0.5\ntap Return\nhold "Left Shift" 0.2\nbutton 0 start on\naxis 0 leftx -0.5\nwait state == level timeout 2\nexpect player.pos.y >= 1\ncapture tour-01\nend\n' \
  > "$out/seeds/inputscript/tour.txt"
printf '1, 2, 3\n==\n1,2,3.5\n' > "$out/seeds/inputscript/compare.txt"
echo "== fuzz: building inputscript_fuzz"
"$cxx" "${flags[@]}" "$root/tests/fuzz/inputscript_fuzz.cpp" "$root"/platform/dinput/*.cpp "$root"/platform/win32/*.cpp \
  "${sdl[@]}" -o "$out/inputscript_fuzz"
echo "== fuzz: running inputscript_fuzz for ${seconds} s"
(cd "$out/run" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$out/inputscript_fuzz" -max_total_time="$seconds" -timeout="$timeout" \
   -rss_limit_mb=2048 -max_len=4096 -print_final_stats=0 "$out/corpus/inputscript" "$out/seeds/inputscript" 2>&1 | fuzz_tail)

# The physics shape-file reader and its fallback to the model: the engine
# layer's physics interface over the physics engine (qhull for the hulls) and
# the object parser, reading through the file layer.
physics=("$root"/physics/*/*.cpp "$root"/engine/physworld.cpp "$root"/engine/physbody.cpp
         "$root"/engine/physshape.cpp "$root"/engine/physray.cpp "$root"/engine/physconstraint.cpp
         "${content[@]}")
mkdir -p "$out/seeds/rbs" "$out/corpus/rbs"
# One box hull of mass 1 (eight corners at +-0.5).
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x04\x00\x00\x00\x00\x80\x3f\x08\x00\x00\x00' > "$out/seeds/rbs/box.rbs"
for i in 0 1 2 3 4 5 6 7; do
  for axis in 1 2 4; do
    if (( i & axis )); then printf '\x00\x00\x00\x3f'; else printf '\x00\x00\x00\xbf'; fi
  done
done >> "$out/seeds/rbs/box.rbs"
# The object parser's seed: a refused shape file falls back to the model.
cp "$out/seeds/lwo/triangle.lwo" "$out/seeds/rbs/"
echo "== fuzz: building rbs_fuzz"
"$cxx" "${flags[@]}" "$root/tests/fuzz/rbs_fuzz.cpp" "${common[@]}" "${physics[@]}" -lqhull_r -o "$out/rbs_fuzz"
echo "== fuzz: running rbs_fuzz for ${seconds} s"
(cd "$out/run" && "$out/rbs_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -max_len=4096 \
   -print_final_stats=0 "$out/corpus/rbs" "$out/seeds/rbs" 2>&1 | fuzz_tail)

# The game's targets link one archive of every library built for fuzzing,
# the longest build here; HELM_FUZZ_GAME=0 leaves them out.
if [[ "${HELM_FUZZ_GAME:-1}" != 0 ]]; then
  source "$root/tests/fuzz/game_targets.sh"
fi
echo "== fuzz: no crash in any target"

