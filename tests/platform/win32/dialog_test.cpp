#include "platform/win32/dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_test.h"

namespace {

const DialogControlTemplate kControls[] = {
    {-1, DIALOG_GROUPBOX, "Pick:"},
    {10, DIALOG_COMBOBOX, ""},
    {11, DIALOG_CHECKBOX, "Everything"},
    {12, DIALOG_RADIO, "One"},
    {13, DIALOG_RADIO, "Two"},
    {1, DIALOG_DEFBUTTON, "&Go"},
    {2, DIALOG_BUTTON, "E&xit"},
};
const DialogTemplate kTemplate = {"Test Dialog", "MS Sans Serif", 8, 200, 100, kControls, 7};

// What the procedure saw: "id/notification" per command.
std::vector<std::string> g_commands;

intptr_t Proc(Window* dialog, uint32_t message, uintptr_t wParam, intptr_t)
{
    if (message == WM_INITDIALOG) {
        for (const char* item : {"red", "green", "blue"}) {
            intptr_t index = Dialog_SendItemMessage(dialog, 10, CB_ADDSTRING, 0, (intptr_t)item);
            Dialog_SendItemMessage(dialog, 10, CB_SETITEMDATA, (uintptr_t)index, 100 + index);
        }
        Dialog_SendItemMessage(dialog, 10, CB_SETCURSEL, 1, 0);
        Dialog_CheckButton(dialog, 12, 1);
        Window_Enable(Dialog_GetItem(dialog, 13), 0);
        return 0;
    }
    if (message != WM_COMMAND) return 0;
    uint32_t id = wParam & 0xFFFF, code = (uint32_t)(wParam >> 16);
    g_commands.push_back(std::to_string(id) + "/" + std::to_string(code));
    if (id == 1 && code == BN_CLICKED) Dialog_End(dialog, 1 + Dialog_SendItemMessage(dialog, 10, CB_GETCURSEL, 0, 0));
    if (id == 2 && code == BN_CLICKED) Dialog_End(dialog, 0);
    return 1;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Win32Test_ResetAll();
        g_commands.clear();
        ASSERT_EQ(Dialog_RegisterTemplate(104, &kTemplate), 1);
    }
    void TearDown() override { Win32Test_ResetAll(); }
};

TEST_F(DialogTest, WithoutAUserTheDefaultButtonAnswersAndScriptedCommandsActAsTheUser)
{
    // Standard input of a test run is not a terminal.
    EXPECT_EQ(Dialog_Box(nullptr, 104, nullptr, Proc, 0), 2);  // "green" stayed selected
    EXPECT_EQ(g_commands, (std::vector<std::string>{"1/0"}));
    EXPECT_EQ(Dialog_Box(nullptr, 999, nullptr, Proc, 0), -1);
    // Scripted commands act as the user on enabled controls.
    g_commands.clear();
    // 1 the list, 2 the check box, 3 and 4 the radios, 5 Go, 6 Exit.
    const char* script[] = {"1 2", "1 7", "2", "4", "3", "6"};
    Dialog_SetScript(script, 6);
    EXPECT_EQ(Dialog_Box(nullptr, 104, nullptr, Proc, 0), 0);
    // "1 7" names no item and "4" a disabled radio: neither reached the procedure.
    EXPECT_EQ(g_commands, (std::vector<std::string>{"10/1", "11/0", "12/0", "2/0"}));
}

TEST_F(DialogTest, ControlsKeepListsChecksAndItemData)
{
    Window* dialog = Dialog_Create(nullptr, 104, nullptr, Proc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Dialog_SendItemMessage(dialog, 10, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(Dialog_SendItemMessage(dialog, 10, CB_GETITEMDATA, 2, 0), 102);
    EXPECT_EQ(Dialog_SendItemMessage(dialog, 10, CB_GETITEMDATA, 3, 0), CB_ERR);
    char text[256];
    EXPECT_EQ(Dialog_SendItemMessage(dialog, 10, CB_GETLBTEXT, 0, (intptr_t)text), 3);
    EXPECT_STREQ(text, "red");
    EXPECT_EQ(Dialog_IsButtonChecked(dialog, 12), 1u);
    EXPECT_EQ(Dialog_Command(dialog, "4"), 0);  // "Two" is disabled: the user can't pick it
    Window_SetFocus(Dialog_GetItem(dialog, 10));
    EXPECT_EQ(Dialog_GetFocus(dialog), Dialog_GetItem(dialog, 10));
    Dialog_SendItemMessage(dialog, 10, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(Dialog_SendItemMessage(dialog, 10, CB_GETCURSEL, 0, 0), CB_ERR);
    Window* control = Dialog_GetItem(dialog, 10);
    EXPECT_EQ(Window_Destroy(dialog), 1);
    EXPECT_EQ(Window_IsEnabled(control), 0);  // the controls went with the dialog
}

}  // namespace
