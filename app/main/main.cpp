// The program's entry on Linux: turns argv into the one command-line string
// the shell's entry takes, fills the hook table with what the engine layer
// and the game offer, and runs the shell.
//
// HELM_MUTEX_NAME (tests only) gives the single-instance lock another name,
// so parallel test runs and a running game don't stop each other.
#include <cstdlib>
#include <vector>

#include "app/hooks.h"
#include "app/shell.h"
#include "platform/win32/entry.h"
#include "platform/win32/mutex.h"

namespace {

// The engine layer's and the game's operations the shell calls. Neither
// layer exists yet: every slot stays empty, so the shell runs its own main
// view and, instead of the game, its test screen. Their libraries fill the
// slots here (Scene_Init ... Game_Setup, Game_LoadMovieList).
AppHooks MakeHooks()
{
    AppHooks hooks = {};
    return hooks;
}

}  // namespace

int main(int argc, char** argv)
{
    size_t length = Entry_BuildCommandLine(argc, argv, nullptr, 0);
    std::vector<char> commandLine(length + 1);
    Entry_BuildCommandLine(argc, argv, commandLine.data(), commandLine.size());
    if (const char* name = getenv("HELM_MUTEX_NAME")) Mutex_SetTestName(name);
    AppHooks hooks = MakeHooks();
    AppHooks_Install(&hooks);
    static int instance;  // the module instance is only compared, never read
    int result = App_Main(&instance, nullptr, commandLine.data(), 1);
    Entry_Shutdown();
    return result;
}
