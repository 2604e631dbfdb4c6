# Sourced by run.sh (its variables: root, out, seconds; its functions: compile,
# obj_of, build, queue).
# The game's targets (the save record, the text lists, the level file,
# "Load.dat" and sectioned text) and the front end's (its configurations,
# the menus, "Menu.cfg", "MemCard.cfg" and save files) stand on everything
# below them: every
# library's sources go into one archive, from which each target links what
# it uses, over the real engine instance with the in-memory file table.
mkdir -p "$out/seeds/save_record" "$out/seeds/game_lists" "$out/seeds/game_config"
echo "== fuzz: building the game's archive"
mapfile -t gamesources < <(ls "$root"/common/*.cpp
  find "$root"/platform "$root"/gfx "$root"/physics -name '*.cpp'
  ls "$root"/app/*.cpp
  find "$root"/engine "$root"/game "$root"/frontend -name '*.cpp')
compile "${gamesources[@]}"
rm -f "$out/libgame_fuzz.a"
ar rcs "$out/libgame_fuzz.a" $(for s in "${gamesources[@]}"; do obj_of "$s"; done)
gamelibs=($(pkg-config --libs sdl2 libpng libavformat libavcodec libavutil libswscale libswresample) -lqhull_r -lz -lpthread)
# A record of the fresh game, a short list and a small level file.
head -c 1936 /dev/zero > "$out/seeds/save_record/zero.sav"
printf '0,3,x,7\r\nFrog\nLogo.bmp,2,TRUE,FALSE\nintro,TRUE,PAL2x\n12\n' > "$out/seeds/game_lists/list.txt"
cp "$out/seeds/config/kart.cfb" "$out/seeds/game_config/"
for target in frontend_config menu_config start_menu memcard_config; do
  mkdir -p "$out/seeds/$target"
  cp "$out/seeds/config/kart.cfb" "$out/seeds/$target/"
done
mkdir -p "$out/seeds/save_game"
head -c 1936 /dev/zero > "$out/seeds/save_game/zero.sav"
printf 'short' > "$out/seeds/save_game/short.sav"
for target in save_record game_lists game_config frontend_config menu_config start_menu memcard_config save_game; do
  build ${target}_fuzz "$root/tests/fuzz/${target}_fuzz.cpp" "$out/libgame_fuzz.a" "${gamelibs[@]}"
  queue $target -- -max_len=8192 "$out/seeds/$target"
done

# Entities, level objects and the control modes: configuration text (entity
# configurations, with a dictionary of their keys) or generated mode data run
# through the configuration compiler into one entity of a minimal level.
mkdir -p "$out/seeds/entity_config" "$out/seeds/walking_modes" "$out/seeds/vehicle_modes"
printf 'Entity\n{\n  type = "player"\n  hudFont = "a"\n  colArea0 = "0 0 0 1 1 1"\n}\n' > "$out/seeds/entity_config/entity.txt"
printf '\x00\x01\x02\x03\x04\x05\x01\x02\x03\x04\x05\x01\x02\x03\x04\x05\x80\x80\xff\x00\x10\x20' \
  > "$out/seeds/walking_modes/camrel.bin"
printf '\x02\x03\x03\x03\x03\x03\x03\x03\x03\x03\x03\x01\x00\x01\x05\x09\xff\x00\xff\x00\xf0' \
  > "$out/seeds/walking_modes/skitter.bin"
cp "$out/seeds/config/kart.cfb" "$out/seeds/vehicle_modes/"
for target in entity_config walking_modes vehicle_modes; do
  [[ -f "$root/tests/fuzz/${target}_fuzz.cpp" ]] || continue
  build ${target}_fuzz "$root/tests/fuzz/${target}_fuzz.cpp" "$root/tools/lib/cfgc.cpp" "$root/tools/lib/toolfile.cpp" \
    "$out/libgame_fuzz.a" "${gamelibs[@]}"
  dict=()
  [[ -f "$root/tests/fuzz/${target}.dict" ]] && dict=(-dict="$root/tests/fuzz/${target}.dict")
  queue $target -- "${dict[@]}" -max_len=4096 "$out/seeds/$target"
done
