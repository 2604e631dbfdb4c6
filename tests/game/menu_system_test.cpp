#include "game/menu_system.h"

#include <gtest/gtest.h>

#include <string>

#include "app/config.h"
#include "common/hash.h"
#include "game/ingame_menu.h"
#include "menu_input_fixture.h"

namespace {

class MenuTest : public MenuInputTest {
protected:
    void TearDown() override
    {
        Menu_Free(menu_);
        menu_ = nullptr;
        MenuInputTest::TearDown();
    }

    // Loads a menu compiled from the text; fails the test without one.
    MenuSystem* Load(const std::string& text)
    {
        WriteConfig("Menu.cfg", text);
        menu_ = Menu_Load("Menu.cfg");
        EXPECT_NE(menu_, nullptr);
        return menu_;
    }
    // Opens the menu on the page and runs the frame that opening takes.
    void Open(const char* page)
    {
        ASSERT_EQ(Menu_GoToByName(menu_, page, 1), 1);
        Menu_SetOpen(menu_, 1, 1);
        Keys({});
        Menu_Update(menu_);
    }
    // One frame with these keys; the menu's result.
    uint32_t Frame(std::initializer_list<uint8_t> keys)
    {
        Keys(keys);
        return Menu_Update(menu_);
    }
    uint32_t Press(uint8_t key)
    {
        uint32_t result = Frame({key});
        Frame({});
        return result;
    }
    MenuPage* Page() { return Menu_GetCurrentPage(menu_); }

    MenuSystem* menu_ = nullptr;
};

const char* const kPages =
    "MenuData {\n"
    " main {\n"
    "  closeDownMenuOnBackup = TRUE\n"
    "  title {\n   TextPosition = 10, 20\n   TextLocalName = LS_TITLE\n  }\n"
    "  play {\n   MenuItem = TRUE\n   MenuSelection = start Level\n   TextPosition = 1, 2\n  }\n"
    "  options {\n   MenuItem = TRUE\n   MenuItemInitSelected = TRUE\n   MenuLink = optionsPage\n"
    "   TextPosition = 3, 4\n   TextFontName = SECONDARY\n   TextColour = 10:20:30:40\n  }\n"
    "  nowhere {\n   MenuItem = TRUE\n   MenuLink = missingPage\n  }\n"
    "  quiet {\n   MenuLink = optionsPage\n   MenuSelection = never\n  }\n"
    " }\n"
    " optionsPage = x\n"
    " empty {\n  closeDownMenuOnBackup = TRUE\n }\n"
    " labels {\n  one {\n   ImageColour = 255:0:0:255\n   FPVal0 = 1\n  }\n  two {\n   FPVal1 = 2.5\n  }\n }\n"
    "}\n"
    "optionsPage {\n"
    " back {\n  MenuItem = TRUE\n  MenuItemBackup = TRUE\n }\n"
    " away {\n  MenuItem = TRUE\n  MenuLink = main\n  MenuLinkAddToHistory = FALSE\n }\n"
    "}\n";

TEST_F(MenuTest, EntryTextIsCopiedBoundedAndOnlyIntoLiteralTexts)
{
    ASSERT_NE(Load(kPages), nullptr);
    const std::string longText(3000, 'x');
    Menu_SetEntryText(menu_, "main", "options", longText.c_str());
    const MenuText* options = Menu_FindPage(menu_, Name_Hash("main", 1, 1))->entries[2].text;
    EXPECT_EQ(strlen(options->literal), (size_t)MENU_TEXT_BUFFER - 1);
    Menu_SetEntryText(menu_, "main", "title", "changed");  // a text id: nothing
    EXPECT_EQ(Menu_FindPage(menu_, Name_Hash("main", 1, 1))->entries[0].text->literal, nullptr);
    Menu_SetEntryText(menu_, "main", "nowhere", "x");  // no text block
    Menu_SetEntryText(menu_, "nopage", "options", "x");
    Menu_SetEntryText(nullptr, "main", "options", "x");
    Menu_SetEntryText(menu_, "main", "options", "Best: 12");
    EXPECT_STREQ(options->literal, "Best: 12");
    MenuText* title = Menu_FindPage(menu_, Name_Hash("main", 1, 1))->entries[0].text;
    MenuText_SetFlags(title, MENU_TEXT_CYCLING, 1);
    EXPECT_EQ(MenuText_TestFlags(title, MENU_TEXT_CYCLING), 1);
}

int g_shutdowns = 0;
void CountShutdown(MenuPage* page, MenuSystem*, void*)
{
    g_shutdowns++;
    EXPECT_EQ(page->entryCount, 0);  // its entries went first
}

TEST_F(MenuTest, EveryPageShutsDownOnceEvenWithoutEntries)
{
    ASSERT_NE(Load(kPages), nullptr);
    for (int32_t p = 0; p < menu_->pageCount; p++) menu_->pages[p].shutdown = CountShutdown;
    g_shutdowns = 0;
    Menu_Free(menu_);
    menu_ = nullptr;
    EXPECT_EQ(g_shutdowns, 4);
    // Every operation accepts no menu.
    Menu_Render(nullptr);
    EXPECT_EQ(Menu_Update(nullptr) + Menu_IsOpen(nullptr) + Menu_GoToByName(nullptr, "main", 1) +
                  Menu_GetCurrentHash(nullptr),
              0u);
    MenuTest_SetOpen(1);
    EXPECT_EQ(Menu_IsOpen(nullptr), 1);
    MenuTest_SetOpen(0);
}

TEST_F(MenuTest, FocusMovesOverMenuItemsWithoutWrapping)
{
    ASSERT_NE(Load(kPages), nullptr);
    Open("main");
    EXPECT_EQ(Page()->focus, 2);  // the initially selected item
    const std::pair<uint8_t, int32_t> steps[] = {{kKeyUp, 1}, {kKeyUp, 1}, {kKeyDown, 2}, {kKeyDown, 3}, {kKeyDown, 3}};
    for (auto [key, focus] : steps) {
        Press(key);
        EXPECT_EQ(Page()->focus, focus) << (int)key;
    }
    // A page without MenuItems never moves, and select acts on entry 0: nothing.
    Open("labels");
    EXPECT_EQ(Page()->focus, 0);
    Press(kKeyDown);
    EXPECT_EQ(Page()->focus, 0);
    EXPECT_EQ(Press(kKeySelect), 0u);
    Press(kKeyBack);  // no history, and the page does not close on a backup
    EXPECT_EQ(Menu_IsOpen(menu_), 1);
    Open("empty");
    EXPECT_EQ(Press(kKeySelect), 0u);
}

TEST_F(MenuTest, SelectionsComeBackOnceAndLinksAndBackupsWalkTheHistory)
{
    ASSERT_NE(Load(kPages), nullptr);
    // Opening and selecting in the same frame does nothing.
    ASSERT_EQ(Menu_GoToByName(menu_, "MAIN", 1), 1);
    Menu_SetOpen(menu_, 1, 1);
    Keys({kKeySelect});
    EXPECT_EQ(Menu_Update(menu_), 0u);
    Keys({});
    Menu_Update(menu_);
    const uint32_t main = Name_Hash("main", 1, 1);
    Press(kKeySelect);  // options: a link, remembered
    EXPECT_EQ(Menu_GetCurrentHash(menu_), Name_Hash("optionsPage", 1, 1));
    EXPECT_EQ(menu_->historyCount, 1);
    Press(kKeySelect);  // a backup: back to main
    EXPECT_EQ(Menu_GetCurrentHash(menu_), main);
    EXPECT_EQ(std::make_pair(menu_->historyCount, Page()->focus), std::make_pair(0, 2));
    // Back walks the history; a link that is not remembered leaves it alone.
    Press(kKeySelect);
    Press(kKeyBack);
    EXPECT_EQ(Menu_GetCurrentHash(menu_), main);
    for (uint8_t key : {kKeySelect, kKeyDown, kKeySelect}) Press(key);  // away
    EXPECT_EQ(Menu_GetCurrentHash(menu_), main);
    EXPECT_EQ(menu_->historyCount, 1);
    MenuHistory_Clear(menu_);
    // Without history, back closes a page that asks so, and so does a backup entry.
    Press(kKeyBack);
    EXPECT_EQ(Menu_IsOpen(menu_), 0);
    Open("optionsPage");
    Press(kKeySelect);
    EXPECT_EQ(Menu_IsOpen(menu_), 0);
    Open("main");
    // A link to a missing page stays, and takes back only its own entry.
    MenuHistory_Push(menu_, 3);
    Press(kKeyDown);
    Press(kKeySelect);
    EXPECT_EQ(Menu_GetCurrentHash(menu_), main);
    int32_t top = -1;
    ASSERT_EQ(MenuHistory_Peek(menu_, &top), 1);
    EXPECT_EQ(top, 3);
    MenuHistory_Clear(menu_);
    // A selection closes the menu and comes back in that frame only.
    Press(kKeyUp);
    Press(kKeyUp);
    uint32_t result = Frame({kKeySelect});
    EXPECT_TRUE(Menu_NameMatches("Start Level", result));
    EXPECT_FALSE(Menu_NameMatches("play", result));
    EXPECT_EQ(Menu_IsOpen(menu_), 0);
    EXPECT_EQ(Frame({}), 0u);
    EXPECT_EQ(Frame({kKeySelect}), 0u);  // closed
}

// The pause menu's sliders step by sixteenths, both directions in one frame, even on a page without knobs.
TEST_F(MenuTest, PauseMenuSlidersStepBySixteenthsEvenWithoutKnobs)
{
    Load("MenuData {\n pauseMenuMain {\n  sfxScrollBarRange = 160, 0\n  musicScrollBarRange = 160, 10\n"
         "  sfxVolumeSelection {\n   MenuItem = TRUE\n  }\n  musicVolumeSelection {\n   MenuItem = TRUE\n  }\n"
         "  resume {\n   MenuItem = TRUE\n  }\n  sfxVolumeAdjuster {\n   ImageAlpha = 200\n   ImagePosition = 100, 50\n  }\n"
         "  musicVolumeAdjuster {\n   ImageAlpha = 200\n   ImagePosition = 100, 80\n  }\n }\n"
         " bare {\n  sfxVolumeSelection {\n   MenuItem = TRUE\n  }\n }\n}\n");
    ASSERT_NE(menu_, nullptr);
    Game_SetFrameTime(0.05f);
    GameContext* ctx = Game_GetContext();
    struct Case {
        const char* page;
        int32_t focus;
        float from;
        std::initializer_list<uint8_t> keys;
        float to;
    } cases[] = {
        {"pauseMenuMain", 0, 0.5f, {kKeyLeft}, 0.4375f}, {"pauseMenuMain", 0, 0.3f, {kKeyRight}, 0.3125f},
        {"pauseMenuMain", 0, 0.3f, {kKeyLeft, kKeyRight}, 0.25f}, {"pauseMenuMain", 0, 0.0f, {kKeyLeft}, 0.0f},
        {"pauseMenuMain", 0, 1.0f, {kKeyRight}, 1.0f}, {"pauseMenuMain", 2, 0.5f, {kKeyLeft}, 0.5f},
        {"pauseMenuMain", 1, 0.5f, {kKeyLeft, kKeyRight}, 0.5f}, {"bare", 0, 0.5f, {kKeyRight}, 0.5625f},
    };
    for (const Case& c : cases) {
        ConfigNode* cfg = Config_Open("Menu.cfg");
        Config_SetSection(cfg, (std::string("MenuData::") + c.page).c_str());
        MenuPage* page = Menu_FindPage(menu_, Name_Hash(c.page, 1, 1));
        InGameMenu_Callbacks_PauseMenuMainInit(page, menu_, cfg);
        Config_Close(cfg);
        int32_t resume = -1;
        MenuPage_FindEntryByName(page, "resume", &resume);  // on "bare", none
        page->focus = c.focus;
        ctx->effectsVolume = ctx->musicVolume = c.from;
        for (int frame = 0; frame < 2; frame++) {  // the second frame waits for the repeat
            Keys(c.keys);
            InGameMenu_Callbacks_PauseMenuMainUpdate(page, menu_, nullptr);
        }
        EXPECT_EQ(c.focus == 1 ? ctx->musicVolume : ctx->effectsVolume, c.to) << c.page << " " << c.from;
        InGameMenu_Callbacks_PauseMenuMainShutdown(page, menu_, nullptr);
        EXPECT_EQ(page->userData, nullptr);
        InGameMenu_Callbacks_PauseMenuMainUpdate(page, menu_, nullptr);  // no record: nothing
    }
}

}  // namespace
