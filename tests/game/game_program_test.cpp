// The game's set-up and context over the whole engine, inside the program.
#include <gtest/gtest.h>

#include "program_fixture.h"

namespace {

class GameProgramTest : public ProgramTest {};

TEST_F(GameProgramTest, EveryLanguageOptionShowsTheEnglishTexts)
{
    // The data has English texts only: whatever language is chosen, they are read.
    gametest::WriteData("language/english.txt", "LS_TITLE=Title\n");
    for (const char* option : {"", "-Language German", "-Language French", "-Language Spanish", "-Language Italian"}) {
        RunProgram(
            [option] {
                GameState* root = Game_Setup();
                char text[32];
                EXPECT_STREQ(Text_Get("LS_TITLE", 0, text, sizeof text), "Title") << option;
                Game_Exit(root);
                State_Reset();
            },
            (std::string("-quiet ") + option).c_str());
    }
}

}  // namespace
