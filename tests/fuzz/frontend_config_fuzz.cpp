// Fuzzes the front end's reading of "FrontEnd\FrontEnd.cfg" (the same bytes
// also serve the text files and anything else it opens) and its screen
// machine over what was read: every screen is entered, updated and left in
// turn, and back is asked of each. Nodes exist; scenes, sprites, sounds and
// fonts do not, so nothing is drawn. Whatever the file holds, the focus of
// every screen stays within its items.
#include <cstdlib>
#include <cstring>

#include "engine/node.h"
#include "frontend/front_end.h"
#include "frontend/screen_machine.h"
#include "game/game_context.h"
#include "game/race_setup.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    static bool nodes = Node_Init() != 0;
    (void)nodes;
    fuzz::Serve(data, size);
    memset(Game_GetContext(), 0, sizeof(GameContext));
    GameSetup_Reset();
    FrontEndMemory* memory = FrontEnd_GetMemory();
    memset(memory, 0, sizeof *memory);
    for (int32_t& slot : memory->history) slot = -1;
    FrontEnd_Init(nullptr);
    FrontEnd* fe = FrontEnd_Get();
    if (!fe) return 0;
    for (int32_t screen = 1; screen < FRONTEND_SCREENS; screen++) {
        if (!FrontEnd_Get()) break;
        FrontEnd_PushScreen(screen, 1);
        for (int frame = 0; frame < 3 && FrontEnd_Get(); frame++) FrontEnd_Update(nullptr, 0.05f);
        if (!FrontEnd_Get()) break;
        FrontEndScreen* s = FrontEnd_CurrentScreen();
        if (s && s->itemCount > 0) {
            int32_t focus = FrontEnd_GetFocus(s->index);
            if (focus < 0 || focus >= s->itemCount) abort();
        }
        FrontEnd_IsItemLocked(-1);
        FrontEnd_IsItemLocked(1000);
        FrontEnd_ScreenAnimValue(screen, 1000);
        FrontEnd_PopScreen();
    }
    if (FrontEnd* left = FrontEnd_Get()) FrontEnd_Exit(left->state);
    return 0;
}
