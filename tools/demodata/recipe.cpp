#include "tools/demodata/recipe.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

int Recipe_Parse(const std::string& text, const std::string& file, std::vector<RecipeLine>* out, std::string* error)
{
    out->clear();
    int number = 0;
    size_t at = 0;
    while (at < text.size()) {
        number++;
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(at, end - at);
        at = end + 1;
        RecipeLine line;
        line.file = file;
        line.line = number;
        auto fail = [&](const std::string& why) {
            if (error) *error = line.Where() + ": " + why;
            out->clear();
            return 0;
        };
        if (raw.find('\0') != std::string::npos) return fail("a NUL byte inside the line");
        size_t i = 0;
        while (i < raw.size()) {
            while (i < raw.size() && Blank(raw[i])) i++;
            if (i >= raw.size() || raw[i] == '#') break;
            // A word: quoted pieces join the characters around them.
            std::string word, key;
            bool option = false, quoted = false;
            while (i < raw.size() && !Blank(raw[i])) {
                if (raw[i] == '"') {
                    const size_t close = raw.find('"', i + 1);
                    if (close == std::string::npos) return fail("a quote is never closed");
                    word += raw.substr(i + 1, close - i - 1);
                    quoted = true;
                    i = close + 1;
                } else if (raw[i] == '=' && !option && !quoted) {
                    if (word.empty()) return fail("an option without a name");
                    option = true;
                    key = word;
                    word.clear();
                    i++;
                } else {
                    word += raw[i++];
                }
            }
            if (option) {
                for (const auto& [k, v] : line.options)
                    if (k == key) return fail("option \"" + key + "\" is given twice");
                line.options.emplace_back(key, word);
            } else {
                line.words.push_back(word);
            }
        }
        if (!line.words.empty() || !line.options.empty()) {
            if (line.words.empty()) return fail("options without a command");
            out->push_back(line);
        }
    }
    return 1;
}
