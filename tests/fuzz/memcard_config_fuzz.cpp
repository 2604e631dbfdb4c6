// Fuzzes MemCardUI_Setup over any bytes as "MemCard.cfg" (sizes, colours
// and image names); a second set-up replaces what the first made.

#include "game/memcard_ui.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    fuzz::Serve(data, size);
    MemCardUI_Setup();
    MemCardUI_Setup();
    MemCardUI_Shutdown();
    return 0;
}
