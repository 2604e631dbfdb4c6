// Sectioned text files (".tdf"): compiled configurations of timed sections
// of positioned text lines. Each front-end screen may have one (info texts,
// credits), and the loading screen has one. The lines of the current
// section fade in, stay, fade out and give way to the next section (after
// the last, the first); or the owner holds the section, or makes it follow
// the focused item of its screen.
//
// File layout: groups "Section0", "Section1", ... (counted up to the first
// missing one), each with
//   DisplayTime, FadeTime     seconds
//   Secondary, Centre         section defaults of the lines' font and centring
//   Item<n>                   "x, y, size": exactly three numbers, else the
//                             line keeps its slot but draws nothing
//   Item<n>Text               the text
//   Item<n>Box                "w, h": lay the text out in that box
//   Item<n>Colour             "r, g, b" bytes (default 255, 255, 255)
//   Item<n>Alpha              0..255 (default 255)
//   Item<n>Font               1 main font, 2 secondary (default by Secondary)
//   Item<n>Spacing            line spacing in a box (default 1.0)
//   Item<n>Centre             centred in its box (default the section's Centre)
// Lines are read for n = 0, 1, ... up to the first missing "Item<n>"; a
// section keeps at most 32 of them.
//
// Fonts: the main font is the kart font (Game_GetKartFont), font 2 the
// context's secondary font; a line whose font is missing draws nothing.
#pragma once

#include <cstdint>

constexpr int TEXTFILE_LINES = 32;

struct TextFileLine {
    float x, y;         // virtual-screen position
    float w, h;         // box; 0, 0 = no box
    float size;
    uint8_t colour[4];  // r, g, b, alpha
    char* text;         // owned; null draws nothing
    float spacing;
    int32_t font;       // 1 main, 2 secondary
    uint32_t centred;
};

struct TextFileSection {
    float displayTime;
    float fadeTime;
    uint32_t secondary;
    TextFileLine lines[TEXTFILE_LINES];
    int32_t lineCount;
    float time;   // seconds into the section
    float alpha;  // 0..1
};

struct TextFile {
    TextFileSection* sections;  // owned
    int32_t sectionCount;
    int32_t current;
    uint32_t hold;         // the section's alpha is `alpha`, its time stands
    uint32_t followFocus;  // the section is `focus` (clamped), its alpha `alpha`
    float alpha;
    float masterFade;      // multiplies everything drawn; 1.0 after loading
    int32_t focus;         // the owner's focused item, for followFocus
};

// Reads the file into text (whatever it held is freed first). 1 when the
// file opened (a file without sections gives an empty text file); 0 when it
// is missing, with text empty. The name is a data name for Config_Open.
int FrontEnd_LoadTextFile(const char* fileName, TextFile* text);
// Frees the sections and the line texts; the record is left empty.
void TextFile_Free(TextFile* text);

// One step of the timing (nothing for a text file without sections).
void TextFile_Update(TextFile* text, float dt);
// Draws the current section's lines (nothing without sections or fonts).
void TextFile_Draw(TextFile* text);

// n clamped to 0..count - 1 (nothing without sections).
void TextFile_SetSection(TextFile* text, int32_t n);
// Section n, or null out of range.
TextFileSection* TextFile_GetSection(TextFile* text, int32_t n);
// Replaces the line's text with a copy; ignored out of range. 1 when done.
int TextFile_SetLineText(TextFile* text, int32_t section, int32_t line, const char* string);
