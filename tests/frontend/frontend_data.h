// A small front-end data set for the scenario tests: every screen without a
// scene, the sound list, and items that lead along every road (Main's items
// in order: PlayGame, Options, LoadSave, Credits, Tutorial_Levels). Level
// items name progress entries 1..12 (LevelSelect2 and LevelSelectZ) and
// 21..30 (LevelSelect3). Tests add or replace whole sections with `extra`:
// a standard section whose name starts a line of `extra` ("Name {") is
// left out.
#pragma once

#include <string>

namespace fedata {

inline std::string Items(int count, const std::string& body, int firstReturnValue = -1)
{
    std::string s;
    for (int i = 0; i < count; i++) {
        s += " Item" + std::to_string(i) + " {\n  " + body + "\n";
        if (firstReturnValue >= 0) s += "  ReturnValue = " + std::to_string(firstReturnValue + i) + "\n";
        s += " }\n";
    }
    return s;
}

inline std::string Screen(const std::string& name, const std::string& body)
{
    return name + " {\n NoScene = TRUE\n" + body + "}\n";
}

// Whether `extra` has a section of that name.
inline bool Replaces(const std::string& extra, const std::string& name)
{
    const std::string head = name + " {";
    for (size_t at = extra.find(head); at != std::string::npos; at = extra.find(head, at + 1))
        if (at == 0 || extra[at - 1] == '\n') return true;
    return false;
}

inline std::string FrontEndConfig(const std::string& extra = "", float demoWaitTime = 0.0f)
{
    std::string sounds =
        "ScreenChange = s.wav\n MoveFocus = s.wav\n Invalid = s.wav\n Cheat = s.wav\n Generic = s.wav\n";
    for (int c = 0; c < 8; c++) sounds += " Announcer_Char = s.wav\n";
    std::string cfg = extra;
    auto add = [&](const std::string& name, const std::string& body) {
        if (!Replaces(extra, name)) cfg += Screen(name, body);
    };
    cfg += "Settings {\n DemoWaitTime = " + std::to_string(demoWaitTime) + "\n SOUNDS {\n SoundList {\n " + sounds +
           "}\n }\n}\n";
    add("FrontEnd_Title", "");
    cfg += Screen("FrontEnd_Main",
                  " Item0 {\n  Link = FrontEnd_PlayGame\n }\n Item1 {\n  Link = FrontEnd_Options\n }\n"
                  " Item2 {\n  Link = FrontEnd_LoadSave\n }\n Item3 {\n  Link = FrontEnd_Credits\n }\n"
                  " Item4 {\n  Link = Tutorial_Levels\n }\n");
    add("FrontEnd_PlayGame", Items(3, "Link = FrontEnd_PlayerSelect", 0));
    cfg +=
        Screen("FrontEnd_Options",
               " Item0 {\n  Link = FrontEnd_ControllerOptions\n }\n Item1 {\n  Link = FrontEnd_ControllerOptions2\n }\n"
               " Item2 {\n  Link = FrontEnd_GameOptions\n }\n Item3 {\n  Link = FrontEnd_SoundOptions\n }\n");
    cfg += Screen("FrontEnd_LoadSave",
                  " Item0 {\n  Link = MemCardUIMode_Save\n }\n Item1 {\n  Link = MemCardUIMode_Load\n }\n");
    add("FrontEnd_Credits", Items(1, "Style = Ignore"));
    add("FrontEnd_PlayerSelect", Items(3, "Link = FrontEnd_Engine"));
    add("FrontEnd_PlayerSelect2", Items(3, "Link = FrontEnd_LevelSelect2"));
    add("FrontEnd_Engine", Items(3, "Link = FrontEnd_CupSelect", 0));
    add("FrontEnd_CupSelect", Items(5, "Link = FrontEnd_Launch"));
    add("FrontEnd_LevelSelect", Items(5, "Link = FrontEnd_Launch"));
    add("FrontEnd_LevelSelect2", Items(12, "Link = FrontEnd_Launch", 1));
    add("FrontEnd_LevelSelect3", Items(10, "Link = FrontEnd_Launch", 21));
    add("FrontEnd_LevelSelectZ", Items(12, "Link = FrontEnd_Launch", 1));
    add("FrontEnd_ControllerOptions", Items(9, "Pos = 100, 100"));
    add("FrontEnd_ControllerOptions2", Items(3, "Pos = 100, 100", 1));
    add("FrontEnd_GameOptions", Items(3, "Pos = 100, 100"));
    add("FrontEnd_SoundOptions", Items(3, "Pos = 100, 100"));
    add("Tutorial_Levels", " Item0 {\n  UserData = level1.cfg\n  Link = FrontEnd_Launch\n }\n");
    add("FrontEnd_CompletedGame", Items(1, "Pos = 100, 100"));
    add("FrontEnd_Launch", "");
    return cfg;
}

}  // namespace fedata
