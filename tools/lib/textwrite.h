// Writers of the game's plain text files: the localised text tables and the
// small lists the game reads line by line without compiling them. Each
// writer checks that what it is given reads back unchanged through the
// game's own line readers, and refuses it otherwise (error set, nothing
// written): a line too long for the reader's buffer, a line break inside a
// value, a separator inside a field, an empty field the reader would skip.
// Lines end in a line feed.
//
//   text table   "KEY=text" per line; a key starting with "<" defines a
//                macro expanded in the texts of the lines after it
//   CharList.txt one character name a line, at most eight
//   Unlocked.cfg entry numbers (1..149) separated by commas
//   logos.cfg    "image,seconds,fade,skippable" a line (TRUE/FALSE)
//   movies list  "name,flag[,standard]" a line
//   Build.ver    the build number on the first line
//   game.ver     the version text, shown by the shell as it stands
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Longest line of a text table (the reader's line buffer holds 1023
// characters) and of the lists (their reader holds 255 with the line feed).
constexpr size_t TEXTWRITER_TABLE_LINE = 1023;
constexpr size_t TEXTWRITER_LIST_LINE = 254;
constexpr int TEXTWRITER_MAX_CHARACTERS = 8;
constexpr int TEXTWRITER_MAX_UNLOCK = 149;

struct TextWriterEntry {
    std::string key;  // "<NAME>" for a macro
    std::string text;
};

// The table's text. Refused: a key that is empty, holds "=" or a line
// break, or differs from an earlier key but looks the same to the game's
// lookup (case and blanks are ignored there); a text that is empty (the
// reader drops it) or holds a line break; a line over the limit. The same
// key twice is allowed: the second is the key's next index.
int TextWriter_Table(const std::vector<TextWriterEntry>& entries, std::string* out, std::string* error);

// One name a line, 1..8 names, each without blanks at either end, commas or
// line breaks.
int TextWriter_CharList(const std::vector<std::string>& names, std::string* out, std::string* error);

// The entries (each 1..149, each once) in the order given, at most 16 a
// line; then a line "Character N STARS" for each locked character (N 1..8,
// each once; STARS, the count that opens it, 1..1000000).
struct TextWriterLockedCharacter {
    int character;
    int stars;
};
int TextWriter_Unlocked(const std::vector<int>& entries, std::string* out, std::string* error,
                        const std::vector<TextWriterLockedCharacter>& locked = {});

struct TextWriterLogo {
    std::string image;  // the picture's data name
    float seconds = 2.0f;
    bool fade = true;
    bool skippable = true;
};
int TextWriter_Logos(const std::vector<TextWriterLogo>& logos, std::string* out, std::string* error);

struct TextWriterMovie {
    std::string name;      // the clip under Streams\VIDEO, without ".mpg"
    bool flag = false;     // handed to the player
    std::string standard;  // "", "PAL" or "NTSC"
};
int TextWriter_Movies(const std::vector<TextWriterMovie>& movies, std::string* out, std::string* error);

// "N\n" for a build number 0..999 (shown with three digits).
int TextWriter_BuildVersion(int build, std::string* out, std::string* error);
// The text with one line feed at its end; refused when it holds a NUL byte
// or is empty.
int TextWriter_GameVersion(const std::string& text, std::string* out, std::string* error);
