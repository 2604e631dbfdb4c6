#include "game/menu_system.h"

#include <gtest/gtest.h>

#include <string>

#include "common/hash.h"
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
    " labels {\n  one {\n   ImageColour = 255:0:0:255\n  }\n  two {\n   FPVal1 = 2.5\n  }\n }\n"
    "}\n"
    "optionsPage {\n"
    " back {\n  MenuItem = TRUE\n  MenuItemBackup = TRUE\n }\n"
    " away {\n  MenuItem = TRUE\n  MenuLink = main\n  MenuLinkAddToHistory = FALSE\n }\n"
    "}\n";

TEST_F(MenuTest, PagesAndEntriesLoadWithTheirKeysReadOnlyForMenuItems)
{
    ASSERT_NE(Load(kPages), nullptr);
    ASSERT_EQ(menu_->pageCount, 4);
    EXPECT_EQ(menu_->player, GAME_ANY_PLAYER);
    MenuPage* main = Menu_FindPage(menu_, Name_Hash("MAIN", 1, 1));
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->flags, (uint32_t)MENU_PAGE_CLOSE_ON_BACKUP);
    ASSERT_EQ(main->entryCount, 5);
    struct Expected {
        const char* name;
        uint32_t flags;
        const char* target;
    } expected[] = {
        {"title", 0, nullptr},
        {"play", MENU_ENTRY_ITEM | MENU_ENTRY_SELECTION, "STARTLEVEL"},
        {"options", MENU_ENTRY_ITEM | MENU_ENTRY_INIT_SELECTED | MENU_ENTRY_LINK | MENU_ENTRY_ADD_TO_HISTORY,
         "optionsPage"},
        {"nowhere", MENU_ENTRY_ITEM | MENU_ENTRY_LINK | MENU_ENTRY_ADD_TO_HISTORY, "missingPage"},
        {"quiet", 0, nullptr},  // no MenuItem: its link and selection are not read
    };
    for (int i = 0; i < 5; i++) {
        int32_t index = -1;
        MenuEntry* e = MenuPage_FindEntryByName(main, expected[i].name, &index);
        ASSERT_NE(e, nullptr) << expected[i].name;
        EXPECT_EQ(index, i);
        EXPECT_EQ(e->flags, expected[i].flags) << expected[i].name;
        EXPECT_EQ(e->target, expected[i].target ? Name_Hash(expected[i].target, 1, 1) : 0u) << expected[i].name;
    }
    // Text blocks: a text id, or else a literal buffer; the secondary font cycles.
    const MenuText* title = main->entries[0].text;
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->textId, Text_Id("LS_TITLE"));
    EXPECT_EQ(title->literal, nullptr);
    EXPECT_FLOAT_EQ(title->scale, 1.0f);
    EXPECT_FLOAT_EQ(title->selScale, 1.0f);
    const MenuText* options = main->entries[2].text;
    ASSERT_NE(options, nullptr);
    EXPECT_NE(options->literal, nullptr);
    EXPECT_EQ(MenuText_TestFlags(options, MENU_TEXT_CYCLING), 1);
    EXPECT_EQ(options->colour[1], 20);
    EXPECT_EQ(options->selColour[3], 40);
    EXPECT_EQ(main->entries[3].text, nullptr);
    // A plain key under MenuData names the top-level section of the page.
    MenuPage* opts = Menu_FindPage(menu_, Name_Hash("optionsPage", 1, 1));
    ASSERT_NE(opts, nullptr);
    ASSERT_EQ(opts->entryCount, 2);
    EXPECT_EQ(opts->entries[0].flags, (uint32_t)(MENU_ENTRY_ITEM | MENU_ENTRY_BACKUP));
    EXPECT_EQ(opts->entries[1].flags, (uint32_t)(MENU_ENTRY_ITEM | MENU_ENTRY_LINK));
    // Image and value blocks only where their keys are.
    MenuPage* labels = Menu_FindPage(menu_, Name_Hash("labels", 1, 1));
    ASSERT_NE(labels, nullptr);
    ASSERT_NE(labels->entries[0].image, nullptr);
    EXPECT_EQ(labels->entries[0].image->size[0], -1.0f);
    EXPECT_EQ(labels->entries[0].values, nullptr);
    EXPECT_EQ(labels->entries[1].image, nullptr);
    ASSERT_NE(labels->entries[1].values, nullptr);
    EXPECT_FLOAT_EQ(labels->entries[1].values->values[1], 2.5f);
    EXPECT_EQ(Menu_Load("Missing.cfg"), nullptr);
}

TEST_F(MenuTest, FocusMovesOverMenuItemsWithoutWrapping)
{
    ASSERT_NE(Load(kPages), nullptr);
    Open("main");
    EXPECT_EQ(Page()->focus, 2);  // the initially selected item
    const struct {
        uint8_t key;
        int32_t focus;
    } steps[] = {{kKeyUp, 1}, {kKeyUp, 1}, {kKeyDown, 2}, {kKeyDown, 3}, {kKeyDown, 3}};
    for (const auto& s : steps) {
        Press(s.key);
        EXPECT_EQ(Page()->focus, s.focus);
    }
    // A page without MenuItems never moves, and select acts on entry 0: nothing.
    Open("labels");
    EXPECT_EQ(Page()->focus, 0);
    Press(kKeyDown);
    EXPECT_EQ(Page()->focus, 0);
    EXPECT_EQ(Press(kKeySelect), 0u);
    EXPECT_EQ(Menu_IsOpen(menu_), 1);
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
    Press(kKeySelect);  // options: a link, remembered
    EXPECT_EQ(Menu_GetCurrentHash(menu_), Name_Hash("optionsPage", 1, 1));
    EXPECT_EQ(menu_->historyCount, 1);
    Press(kKeySelect);  // a backup: back to main
    EXPECT_EQ(Menu_GetCurrentHash(menu_), Name_Hash("main", 1, 1));
    EXPECT_EQ(menu_->historyCount, 0);
    EXPECT_EQ(Page()->focus, 2);
    // A link to a missing page stays, and takes back only its own entry.
    MenuHistory_Push(menu_, 3);
    Press(kKeyDown);
    Press(kKeySelect);
    EXPECT_EQ(Menu_GetCurrentHash(menu_), Name_Hash("main", 1, 1));
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

TEST_F(MenuTest, BackClosesAFreshMenuOnlyOnAPageThatSaysSo)
{
    ASSERT_NE(Load(kPages), nullptr);
    Open("optionsPage");
    Press(kKeyBack);
    EXPECT_EQ(Menu_IsOpen(menu_), 1);
    Open("main");
    Press(kKeyBack);
    EXPECT_EQ(Menu_IsOpen(menu_), 0);
    // A link not remembered leaves the history alone; back then has none.
    Open("optionsPage");
    Press(kKeyDown);
    Press(kKeySelect);
    EXPECT_EQ(Menu_GetCurrentHash(menu_), Name_Hash("main", 1, 1));
    EXPECT_EQ(menu_->historyCount, 0);
    // Select on a page without entries does nothing; only the menu's player goes back.
    Open("empty");
    EXPECT_EQ(Press(kKeySelect), 0u);
    EXPECT_EQ(Menu_IsOpen(menu_), 1);
    Menu_SetPlayer(menu_, 1);
    Press(kKeyBack);
    EXPECT_EQ(Menu_IsOpen(menu_), 1);
    Menu_SetPlayer(menu_, 0);
    Press(kKeyBack);
    EXPECT_EQ(Menu_IsOpen(menu_), 0);
}

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
    EXPECT_EQ(Menu_Update(nullptr), 0u);
    Menu_Render(nullptr);
    EXPECT_EQ(Menu_IsOpen(nullptr), 0);
    EXPECT_EQ(Menu_GoToByName(nullptr, "main", 1), 0);
    EXPECT_EQ(Menu_GetCurrentHash(nullptr), 0u);
    MenuTest_SetOpen(1);
    EXPECT_EQ(Menu_IsOpen(nullptr), 1);
    MenuTest_SetOpen(0);
}

}  // namespace
