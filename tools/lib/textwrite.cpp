#include "tools/lib/textwrite.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "common/hash.h"

namespace {

int Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return 0;
}

bool HasBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

bool Trimmed(const std::string& s)
{
    return !s.empty() && !isspace((unsigned char)s.front()) && !isspace((unsigned char)s.back());
}

// A field of a comma-separated list line: not empty, no comma, no line
// break, no blanks at its ends (the reader trims them).
bool Field(const std::string& s) { return Trimmed(s) && s.find(',') == std::string::npos && !HasBreak(s); }

int Lines(const std::vector<std::string>& lines, std::string* out, std::string* error)
{
    std::string text;
    for (const std::string& line : lines) {
        if (line.size() > TEXTWRITER_LIST_LINE)
            return Fail(error, "line \"" + line.substr(0, 40) + "...\" is longer than the game reads");
        text += line + "\n";
    }
    *out = text;
    return 1;
}

std::string Number(float v)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

}  // namespace

int TextWriter_Table(const std::vector<TextWriterEntry>& entries, std::string* out, std::string* error)
{
    std::map<uint32_t, std::string> keys;  // lookup hash -> the key first written with it
    std::string text;
    for (const TextWriterEntry& e : entries) {
        if (e.key.empty() || e.key.find('=') != std::string::npos || HasBreak(e.key))
            return Fail(error, "text key \"" + e.key + "\" is empty or holds \"=\" or a line break");
        if (HasBreak(e.text)) return Fail(error, "the text of " + e.key + " holds a line break");
        const bool macro = e.key[0] == '<';
        if (!macro) {
            if (e.text.empty()) return Fail(error, "the text of " + e.key + " is empty; the game would drop it");
            const uint32_t hash = Name_Hash(e.key.c_str(), 1, 1);
            if (hash == 0) return Fail(error, "text key \"" + e.key + "\" can never be found");
            auto [it, fresh] = keys.emplace(hash, e.key);
            if (!fresh && it->second != e.key)
                return Fail(error, "text keys \"" + it->second + "\" and \"" + e.key + "\" are one key to the game");
        }
        const std::string line = e.key + "=" + e.text;
        if (line.size() > TEXTWRITER_TABLE_LINE)
            return Fail(error, "the line of " + e.key + " is longer than the game reads");
        text += line + "\n";
    }
    *out = text;
    return 1;
}

int TextWriter_CharList(const std::vector<std::string>& names, std::string* out, std::string* error)
{
    if (names.empty() || (int)names.size() > TEXTWRITER_MAX_CHARACTERS)
        return Fail(error, "the character list holds 1 to 8 names");
    for (const std::string& n : names)
        if (!Field(n)) return Fail(error, "character name \"" + n + "\" is empty, has blanks at an end or a comma");
    return Lines(names, out, error);
}

int TextWriter_Unlocked(const std::vector<int>& entries, std::string* out, std::string* error,
                        const std::vector<TextWriterLockedCharacter>& locked)
{
    std::vector<std::string> lines;
    std::vector<bool> seen(TEXTWRITER_MAX_UNLOCK + 1, false);
    for (size_t i = 0; i < entries.size(); i++) {
        const int n = entries[i];
        if (n < 1 || n > TEXTWRITER_MAX_UNLOCK)
            return Fail(error, "unlock entry " + std::to_string(n) + " is not 1..149");
        if (seen[(size_t)n]) return Fail(error, "unlock entry " + std::to_string(n) + " is listed twice");
        seen[(size_t)n] = true;
        if (i % 16 == 0) lines.emplace_back();
        lines.back() += (i % 16 ? "," : "") + std::to_string(n);
    }
    std::vector<bool> lockedSeen(9, false);
    for (const TextWriterLockedCharacter& c : locked) {
        if (c.character < 1 || c.character > 8 || lockedSeen[(size_t)c.character])
            return Fail(error, "locked character " + std::to_string(c.character) + " is not 1..8 or is listed twice");
        if (c.stars < 1 || c.stars > 1000000) return Fail(error, "a locked character opens at 1..1000000 stars");
        lockedSeen[(size_t)c.character] = true;
        lines.push_back("Character " + std::to_string(c.character) + " " + std::to_string(c.stars));
    }
    return Lines(lines, out, error);
}

int TextWriter_Logos(const std::vector<TextWriterLogo>& logos, std::string* out, std::string* error)
{
    std::vector<std::string> lines;
    for (const TextWriterLogo& l : logos) {
        if (!Field(l.image)) return Fail(error, "logo picture \"" + l.image + "\" is not a plain field");
        if (!(l.seconds > 0) || l.seconds > 60) return Fail(error, "logo " + l.image + " shows for 0..60 s");
        lines.push_back(l.image + "," + Number(l.seconds) + "," + (l.fade ? "TRUE" : "FALSE") + "," +
                        (l.skippable ? "TRUE" : "FALSE"));
    }
    return Lines(lines, out, error);
}

int TextWriter_Movies(const std::vector<TextWriterMovie>& movies, std::string* out, std::string* error)
{
    std::vector<std::string> lines;
    for (const TextWriterMovie& m : movies) {
        if (!Field(m.name)) return Fail(error, "clip name \"" + m.name + "\" is not a plain field");
        if (!m.standard.empty() && m.standard != "PAL" && m.standard != "NTSC")
            return Fail(error, "clip " + m.name + ": the standard is PAL, NTSC or none");
        lines.push_back(m.name + "," + (m.flag ? "TRUE" : "FALSE") + (m.standard.empty() ? "" : "," + m.standard));
    }
    return Lines(lines, out, error);
}

int TextWriter_BuildVersion(int build, std::string* out, std::string* error)
{
    if (build < 0 || build > 999) return Fail(error, "build number " + std::to_string(build) + " is not 0..999");
    *out = std::to_string(build) + "\n";
    return 1;
}

int TextWriter_GameVersion(const std::string& text, std::string* out, std::string* error)
{
    if (text.empty() || text.find('\0') != std::string::npos)
        return Fail(error, "the version text is empty or holds a NUL byte");
    *out = text.back() == '\n' ? text : text + "\n";
    return 1;
}
