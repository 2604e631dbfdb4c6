// Recipes: the text sources the demo data generator reads (data/*.txt).
// One command a line; "#" starts a comment (at a line's start or after a
// blank); blanks separate words; double quotes group words into one
// ("Hello there"). A word of the form key=value (the key unquoted, the
// value possibly quoted: title="HELM demo") is an option; every other word
// is positional, the first being the command. Back-slashes are plain
// characters (data names are written as the game writes them).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RecipeLine {
    std::string file;                                          // the recipe as named in messages
    int line = 0;                                              // 1-based
    std::vector<std::string> words;                            // the command first
    std::vector<std::pair<std::string, std::string>> options;  // in order

    // "FILE:LINE" for messages.
    std::string Where() const { return file + ":" + std::to_string(line); }
};

// Reads recipe text into lines (blank and comment-only lines left out).
// 0 with error "FILE:LINE: what" for an unclosed quote, an option without a
// key, a NUL byte, or the same option twice on a line.
int Recipe_Parse(const std::string& text, const std::string& file, std::vector<RecipeLine>* out, std::string* error);
