# Sourced by run.sh (its variables: root, out, seconds; its functions: compile,
# obj_of, build, queue).
# The game's targets (the level file, "Load.dat", sectioned text, the text
# lists, save records and files; the front end's and the menus'
# configurations) stand on everything below them: every library's sources go
# into one archive, from which each target links what it uses, over the real
# engine instance with the in-memory file table.
echo "== fuzz: building the game's archive"
mapfile -t gamesources < <(ls "$root"/common/*.cpp
  find "$root"/platform "$root"/gfx "$root"/physics -name '*.cpp'
  ls "$root"/app/*.cpp
  find "$root"/engine "$root"/game "$root"/frontend -name '*.cpp')
compile "${gamesources[@]}"
rm -f "$out/libgame_fuzz.a"
ar rcs "$out/libgame_fuzz.a" $(for s in "${gamesources[@]}"; do obj_of "$s"; done)
gamelibs=($(pkg-config --libs sdl2 libpng libavformat libavcodec libavutil libswscale libswresample) -lqhull_r -lz -lpthread)
# Each seed starts with the byte that picks the target's case: a small level
# file and a short list; a record of the fresh game, and as a file with a
# short one; the compiled configuration for every front-end file.
mkdir -p "$out/seeds/game" "$out/seeds/frontend"
{ printf '\x00'; cat "$out/seeds/config/kart.cfb"; } > "$out/seeds/game/kart.cfb"
printf '\x010,3,x,7\r\nFrog\nLogo.bmp,2,TRUE,FALSE\nintro,TRUE,PAL2x\n12\n' > "$out/seeds/game/list.txt"
for c in 2 3; do
  { printf "\\x0$c"; head -c 1936 /dev/zero; } > "$out/seeds/game/zero$c.sav"
done
printf '\x03short' > "$out/seeds/game/short.sav"
for c in 0 1 2 3; do
  { printf "\\x0$c"; cat "$out/seeds/config/kart.cfb"; } > "$out/seeds/frontend/kart$c.cfb"
done
for target in game frontend; do
  build ${target}_fuzz "$root/tests/fuzz/${target}_fuzz.cpp" "$out/libgame_fuzz.a" "${gamelibs[@]}"
  queue $target -- -max_len=8192 "$out/seeds/$target"
done

# Entities, level objects and the control modes: configuration text (entity
# configurations, with a dictionary of their keys) or generated mode data run
# through the configuration compiler into one entity of a minimal level, or
# compiled configurations read by a mode directly (their first byte picks).
mkdir -p "$out/seeds/entity_config" "$out/seeds/modes"
printf 'Entity\n{\n  type = "player"\n  hudFont = "a"\n  colArea0 = "0 0 0 1 1 1"\n}\n' > "$out/seeds/entity_config/entity.txt"
printf '\x00\x00\x01\x02\x03\x04\x05\x01\x02\x03\x04\x05\x01\x02\x03\x04\x05\x80\x80\xff\x00\x10\x20' \
  > "$out/seeds/modes/camrel.bin"
printf '\x00\x02\x03\x03\x03\x03\x03\x03\x03\x03\x03\x03\x01\x00\x01\x05\x09\xff\x00\xff\x00\xf0' \
  > "$out/seeds/modes/skitter.bin"
{ printf '\x01'; cat "$out/seeds/config/kart.cfb"; } > "$out/seeds/modes/kart.cfb"
for target in entity_config modes; do
  build ${target}_fuzz "$root/tests/fuzz/${target}_fuzz.cpp" "$root/tools/lib/cfgc.cpp" "$root/tools/lib/toolfile.cpp" \
    "$out/libgame_fuzz.a" "${gamelibs[@]}"
  dict=()
  [[ -f "$root/tests/fuzz/${target}.dict" ]] && dict=(-dict="$root/tests/fuzz/${target}.dict")
  queue $target -- "${dict[@]}" -max_len=4096 "$out/seeds/$target"
done
