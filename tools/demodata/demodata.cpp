#include "tools/demodata/demodata.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <numbers>
#include <set>
#include <vector>

#include "common/hash.h"
#include "tools/demodata/recipe.h"
#include "tools/demodata/shapes.h"
#include "tools/demodata/texgen.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/clipwrite.h"
#include "tools/lib/fontwrite.h"
#include "tools/lib/imagewrite.h"
#include "tools/lib/lwswrite.h"
#include "tools/lib/strokefont.h"
#include "tools/lib/textwrite.h"
#include "tools/lib/toolfile.h"
#include "tools/lib/wavewrite.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRootRecipe = "stage.txt";
constexpr const char* kWorkSuffix = ".demodata-build";
constexpr int kLongestInclude = 16;
constexpr float kDegrees = std::numbers::pi_v<float> / 180.0f;

// A fault in the sources: its place and what is wrong. Thrown inside the
// generator and caught at DemoData_Build, the module's only way out.
struct RecipeError {
    std::string message;
};

[[noreturn]] void Fail(const RecipeLine& at, const std::string& why) { throw RecipeError{at.Where() + ": " + why}; }

std::string Lower(std::string s)
{
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

std::string Slashes(std::string s)
{
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

// The folder part of a data name ("Levels\Demo" of "Levels\Demo\Demo.lws").
std::string Folder(const std::string& name)
{
    const size_t cut = name.find_last_of('\\');
    return cut == std::string::npos ? std::string() : name.substr(0, cut);
}

std::string FileName(const std::string& name)
{
    const size_t cut = name.find_last_of('\\');
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

bool EndsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && Lower(s.substr(s.size() - end.size())) == Lower(end);
}

// The positional words and options of one command, read with checks that
// name the line; options never read are refused at Finish.
class Args {
public:
    explicit Args(const RecipeLine& line) : line_(line), used_(line.options.size(), false) {}

    const RecipeLine& Line() const { return line_; }
    void Positional(size_t least, size_t most) const
    {
        const size_t n = line_.words.size() - 1;
        if (n < least) Fail(line_, line_.words[0] + " needs " + std::to_string(least) + " arguments");
        if (n > most) Fail(line_, line_.words[0] + " takes at most " + std::to_string(most) + " arguments");
    }
    const std::string& Word(size_t i) const { return line_.words[i]; }
    size_t Words() const { return line_.words.size() - 1; }

    bool Text(const std::string& key, std::string* out)
    {
        for (size_t i = 0; i < line_.options.size(); i++)
            if (line_.options[i].first == key) {
                used_[i] = true;
                *out = line_.options[i].second;
                return true;
            }
        return false;
    }
    std::string Text(const std::string& key, const std::string& fallback)
    {
        std::string v;
        return Text(key, &v) ? v : fallback;
    }
    double Number(const std::string& key, double fallback, double lo, double hi)
    {
        std::string v;
        return Text(key, &v) ? NumberOf(v, key, lo, hi) : fallback;
    }
    double NumberOf(const std::string& text, const std::string& what, double lo, double hi) const
    {
        char* end = nullptr;
        const double v = strtod(text.c_str(), &end);
        if (text.empty() || *end || !std::isfinite(v) || v < lo || v > hi)
            Fail(line_, what + " \"" + text + "\" is not a number " + Range(lo, hi));
        return v;
    }
    int Int(const std::string& key, int fallback, int lo, int hi)
    {
        std::string v;
        return Text(key, &v) ? IntOf(v, key, lo, hi) : fallback;
    }
    int IntOf(const std::string& text, const std::string& what, int lo, int hi) const
    {
        const double v = NumberOf(text, what, lo, hi);
        if (v != std::floor(v)) Fail(line_, what + " \"" + text + "\" is not a whole number");
        return (int)v;
    }
    bool Bool(const std::string& key, bool fallback)
    {
        std::string v;
        if (!Text(key, &v)) return fallback;
        const std::string l = Lower(v);
        if (l == "true" || l == "yes" || l == "1") return true;
        if (l == "false" || l == "no" || l == "0") return false;
        Fail(line_, key + " \"" + v + "\" is not TRUE or FALSE");
    }
    // Numbers separated by commas, exactly `count` of them.
    std::vector<float> Floats(const std::string& key, const std::vector<float>& fallback, double lo = -1e6,
                              double hi = 1e6)
    {
        std::string v;
        if (!Text(key, &v)) return fallback;
        return FloatsOf(v, key, fallback.size(), lo, hi);
    }
    std::vector<float> FloatsOf(const std::string& text, const std::string& what, size_t count, double lo,
                                double hi) const
    {
        std::vector<float> out;
        size_t at = 0;
        while (true) {
            const size_t comma = text.find(',', at);
            out.push_back((float)NumberOf(text.substr(at, comma - at), what, lo, hi));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        if (out.size() != count) Fail(line_, what + " takes " + std::to_string(count) + " numbers");
        return out;
    }
    // "r,g,b" or "r,g,b,a" bytes, as 0xRRGGBBAA.
    uint32_t Colour(const std::string& key, uint32_t fallback)
    {
        std::string v;
        if (!Text(key, &v)) return fallback;
        const size_t commas = (size_t)std::count(v.begin(), v.end(), ',');
        if (commas != 2 && commas != 3) Fail(line_, key + " \"" + v + "\" is not r,g,b or r,g,b,a");
        const std::vector<float> c = FloatsOf(v, key, commas + 1, 0, 255);
        uint32_t out = 0;
        for (size_t i = 0; i < 4; i++) out = out << 8 | (i < c.size() ? (uint32_t)c[i] : 255u);
        return out;
    }
    // Every option was read: anything left is unknown to the command.
    void Finish() const
    {
        for (size_t i = 0; i < used_.size(); i++)
            if (!used_[i]) Fail(line_, "unknown option \"" + line_.options[i].first + "\" for " + line_.words[0]);
    }

private:
    static std::string Range(double lo, double hi)
    {
        char text[64];
        snprintf(text, sizeof text, "(%g..%g)", lo, hi);
        return text;
    }
    const RecipeLine& line_;
    std::vector<bool> used_;
};

// Surface colours are given as bytes in recipes.
void ColourOf(uint32_t rgba, float out[3])
{
    for (int k = 0; k < 3; k++) out[k] = (float)(rgba >> (24 - 8 * k) & 0xFF) / 255.0f;
}

// A reference to a file that must be in the stage when the build ends.
struct Reference {
    RecipeLine at;
    std::string path;  // below the stage, with "/"
    std::string what;
};

// A scene whose items need their configurations.
struct SceneConfigs {
    RecipeLine at;
    std::string folder;
    std::vector<std::pair<RecipeLine, std::string>> items;  // the item's line and its configuration name
};

class Generator {
public:
    Generator(std::string sources, std::string work) : sources_(std::move(sources)), work_(std::move(work)) {}

    void Run()
    {
        RecipeLine start;
        start.file = kRootRecipe;
        Include(start, kRootRecipe);
        WriteLists();
        CheckReferences();
    }

private:
    // ---- files ----

    // The disk path of a data name (below DATA) or a stage name (below the
    // stage), registered so that no file is written twice.
    std::string Claim(const RecipeLine& at, const std::string& stageName)
    {
        const std::string key = Lower(stageName);
        auto [it, fresh] = outputs_.emplace(key, at);
        if (!fresh) Fail(at, stageName + " is written twice (first at " + it->second.Where() + ")");
        return work_ + "/" + stageName;
    }
    std::string ClaimData(const RecipeLine& at, const std::string& name)
    {
        if (name.empty() || name.find('/') != std::string::npos || name.front() == '\\' || name.back() == '\\' ||
            name.find("..") != std::string::npos)
            Fail(at, "\"" + name + "\" is not a data name (parts separated by back-slashes)");
        return Claim(at, "DATA/" + Slashes(name));
    }
    void Check(const RecipeLine& at, int ok, const std::string& error) const
    {
        if (!ok) Fail(at, error);
    }
    std::string Source(const RecipeLine& at, const std::string& relative) const
    {
        if (relative.empty() || relative.front() == '/' || relative.find("..") != std::string::npos)
            Fail(at, "\"" + relative + "\" is not a path inside the sources");
        return sources_ + "/" + relative;
    }
    std::string ReadSource(const RecipeLine& at, const std::string& relative) const
    {
        std::string text, error;
        if (!ToolFile_Read(Source(at, relative), &text, &error)) Fail(at, error);
        return text;
    }
    void Require(const RecipeLine& at, const std::string& stagePath, const std::string& what)
    {
        references_.push_back({at, stagePath, what});
    }

    // ---- recipes ----

    void Include(const RecipeLine& at, const std::string& relative)
    {
        if (std::find(includes_.begin(), includes_.end(), relative) != includes_.end())
            Fail(at, relative + " includes itself");
        if (includes_.size() >= kLongestInclude) Fail(at, "includes nested too deep");
        std::vector<RecipeLine> lines;
        std::string error;
        if (!Recipe_Parse(ReadSource(at, relative), relative, &lines, &error)) throw RecipeError{error};
        includes_.push_back(relative);
        for (size_t i = 0; i < lines.size(); i++) {
            const RecipeLine& line = lines[i];
            const std::string& verb = line.words[0];
            if (verb == "scene" || verb == "music" || verb == "animset") {
                // A block: its lines up to "end".
                size_t close = i + 1;
                while (close < lines.size() && lines[close].words[0] != "end") close++;
                if (close == lines.size()) Fail(line, verb + " is never closed by \"end\"");
                const std::vector<RecipeLine> body(lines.begin() + (long)i + 1, lines.begin() + (long)close);
                if (verb == "scene") Scene(line, body);
                else if (verb == "music") Music(line, body);
                else AnimSet(line, body);
                i = close;
                continue;
            }
            Command(line);
        }
        includes_.pop_back();
    }

    void Command(const RecipeLine& line)
    {
        const std::string& verb = line.words[0];
        Args args(line);
        if (verb == "include") {
            args.Positional(1, 1);
            args.Finish();
            Include(line, args.Word(1));
        } else if (verb == "gamever") {
            args.Positional(1, 1);
            args.Finish();
            std::string text, error;
            Check(line, TextWriter_GameVersion(args.Word(1), &text, &error), error);
            Write(line, Claim(line, "game.ver"), text);
        } else if (verb == "buildver") {
            args.Positional(1, 1);
            args.Finish();
            std::string text, error;
            Check(line, TextWriter_BuildVersion(args.IntOf(args.Word(1), "build", 0, 999), &text, &error), error);
            Write(line, ClaimData(line, "Build.ver"), text);
        } else if (verb == "charlist") {
            args.Positional(1, TEXTWRITER_MAX_CHARACTERS);
            args.Finish();
            std::vector<std::string> names(line.words.begin() + 1, line.words.end());
            std::string text, error;
            Check(line, TextWriter_CharList(names, &text, &error), error);
            Write(line, ClaimData(line, "CharList.txt"), text);
        } else if (verb == "unlocked") {
            Unlocked(args);
        } else if (verb == "logo") {
            args.Positional(2, 2);
            TextWriterLogo logo;
            logo.image = args.Word(1);
            logo.seconds = (float)args.NumberOf(args.Word(2), "seconds", 0.01, 60);
            logo.fade = args.Bool("fade", true);
            logo.skippable = args.Bool("skip", true);
            args.Finish();
            Require(line, "DATA/" + Slashes(logo.image), "logo picture");
            logos_.push_back(logo);
            if (logos_.size() == 1) listsAt_[0] = line;
        } else if (verb == "movie") {
            args.Positional(1, 1);
            TextWriterMovie movie;
            movie.name = args.Word(1);
            movie.flag = args.Bool("flag", false);
            movie.standard = args.Text("standard", "");
            args.Finish();
            Require(line, "Streams/VIDEO/" + Slashes(movie.name) + ".mpg", "clip");
            movies_.push_back(movie);
            if (movies_.size() == 1) listsAt_[1] = line;
        } else if (verb == "texts") {
            Texts(args);
        } else if (verb == "compile") {
            args.Positional(2, 2);
            args.Finish();
            Compile(line, args.Word(1), Source(line, args.Word(2)));
        } else if (verb == "compile-folder") {
            CompileFolder(args);
        } else if (verb == "copy") {
            args.Positional(2, 2);
            args.Finish();
            const std::string text = ReadSource(line, args.Word(2));
            if (text.find('\0') != std::string::npos) Fail(line, args.Word(2) + " is not text");
            Write(line, ClaimData(line, args.Word(1)), text);
        } else if (verb == "texture") {
            Texture(args);
        } else if (verb == "font") {
            Font(args);
        } else if (verb == "sound" || verb == "stream") {
            Sound(args, verb == "stream");
        } else if (verb == "clip") {
            Clip(args);
        } else if (verb == "mesh") {
            Mesh(args);
        } else if (verb == "end") {
            Fail(line, "\"end\" without a scene, music or animation set before it");
        } else {
            Fail(line, "unknown command \"" + verb + "\"");
        }
    }

    void Write(const RecipeLine& at, const std::string& path, const std::string& text)
    {
        std::string error;
        Check(at, ToolFile_Write(path, text, &error), error);
    }

    // ---- lists and texts ----

    void Unlocked(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(1, 1000);
        // locked=N:STARS,...: characters that start locked and the stars that open them.
        std::vector<TextWriterLockedCharacter> locked;
        const std::string lockedText = args.Text("locked", "");
        for (size_t at = 0; at < lockedText.size();) {
            const size_t comma = std::min(lockedText.find(',', at), lockedText.size());
            const std::string item = lockedText.substr(at, comma - at);
            const size_t colon = item.find(':');
            if (colon == std::string::npos) Fail(line, "locked= is N:STARS,...");
            locked.push_back({args.IntOf(item.substr(0, colon), "locked character", 1, 8),
                              args.IntOf(item.substr(colon + 1), "stars", 1, 1000000)});
            at = comma + 1;
        }
        args.Finish();
        std::vector<int> entries;
        for (size_t i = 1; i <= args.Words(); i++) {
            const std::string& w = args.Word(i);
            const size_t dash = w.find('-', 1);
            const int first = args.IntOf(w.substr(0, dash), "unlock entry", 1, TEXTWRITER_MAX_UNLOCK);
            const int last = dash == std::string::npos
                                 ? first
                                 : args.IntOf(w.substr(dash + 1), "unlock entry", first, TEXTWRITER_MAX_UNLOCK);
            for (int n = first; n <= last; n++) entries.push_back(n);
        }
        std::string text, error;
        Check(line, TextWriter_Unlocked(entries, &text, &error, locked), error);
        Write(line, ClaimData(line, "Unlocked.cfg"), text);
    }

    void Texts(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(2, 2);
        args.Finish();
        const std::string source = args.Word(2);
        const std::string text = ReadSource(line, source);
        std::vector<TextWriterEntry> entries;
        RecipeLine at = line;
        at.file = source;
        at.line = 0;
        size_t pos = 0;
        while (pos < text.size()) {
            at.line++;
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string raw = text.substr(pos, end - pos);
            pos = end + 1;
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            const size_t first = raw.find_first_not_of(" \t");
            if (first == std::string::npos || raw[first] == '#') continue;
            const size_t equals = raw.find('=');
            if (equals == std::string::npos) Fail(at, "a text line is KEY=text");
            std::string key = raw.substr(first, equals - first);
            key.erase(key.find_last_not_of(" \t") + 1);
            const std::string value = raw.substr(equals + 1);
            std::string missing;
            if (!StrokeFont_Covers(value, &missing)) Fail(at, "no font has the characters \"" + missing + "\"");
            std::string check, error;
            Check(at, TextWriter_Table({{key, value}}, &check, &error), error);
            entries.push_back({key, value});
        }
        std::string out, error;
        Check(line, TextWriter_Table(entries, &out, &error), error);
        Write(line, ClaimData(line, args.Word(1)), out);
    }

    void WriteLists()
    {
        std::string text, error;
        if (!logos_.empty()) {
            Check(listsAt_[0], TextWriter_Logos(logos_, &text, &error), error);
            Write(listsAt_[0], ClaimData(listsAt_[0], "configs\\logos.cfg"), text);
        }
        if (!movies_.empty()) {
            Check(listsAt_[1], TextWriter_Movies(movies_, &text, &error), error);
            Write(listsAt_[1], ClaimData(listsAt_[1], "streams\\movies_PC.txt"), text);
        }
    }

    // ---- configurations ----

    void Compile(const RecipeLine& at, const std::string& name, const std::string& source)
    {
        const uint32_t hash = Name_Hash(name.c_str(), 0, 1);
        auto [it, fresh] = compiled_.emplace(hash, std::make_pair(name, at));
        if (!fresh)
            Fail(at,
                 name + " compiles to the cache place of " + it->second.first + " (" + it->second.second.Where() + ")");
        const std::string output = Claim(at, "DATA/" + Cfgc_OutputPath(name.c_str()));
        std::string message;
        // The compiler names the source file and line of a fault itself.
        if (!Cfgc_CompileFile(source, output, &message)) throw RecipeError{at.Where() + ": " + message};
    }

    void CompileFolder(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(1, 1);
        std::string prefix = args.Text("prefix", "");
        args.Finish();
        if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
        const std::string root = Source(line, args.Word(1));
        std::error_code ec;
        if (!fs::is_directory(root, ec)) Fail(line, args.Word(1) + " is not a folder of the sources");
        std::vector<std::string> files;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(root, ec))
            if (e.is_regular_file()) files.push_back(fs::relative(e.path(), root).generic_string());
        std::sort(files.begin(), files.end());
        if (files.empty()) Fail(line, args.Word(1) + " holds no configuration");
        for (const std::string& f : files) {
            std::string name = prefix + f;
            for (char& c : name)
                if (c == '/') c = '\\';
            Compile(line, name, root + "/" + f);
        }
    }

    // ---- pictures, fonts, sounds, clips ----

    void Texture(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(4, 4);
        TexGenRecipe recipe;
        recipe.pattern = args.Word(2);
        recipe.width = args.IntOf(args.Word(3), "width", 1, IMAGEWRITER_MAX_SIDE);
        recipe.height = args.IntOf(args.Word(4), "height", 1, IMAGEWRITER_MAX_SIDE);
        recipe.a = args.Colour("a", recipe.a);
        recipe.b = args.Colour("b", recipe.b);
        recipe.size = (float)args.Number("size", recipe.size, 1, IMAGEWRITER_MAX_SIDE);
        recipe.angle = (float)args.Number("angle", 0, -360, 360);
        recipe.seed = (uint32_t)args.Int("seed", 1, 0, 1 << 30);
        recipe.text = args.Text("text", "");
        recipe.ink = args.Colour("ink", recipe.ink);
        recipe.textHeight = (float)args.Number("textheight", 0, 0, IMAGEWRITER_MAX_SIDE);
        recipe.stroke = (float)args.Number("stroke", 0, 0, 256);
        recipe.border = args.Int("border", 0, 0, 256);
        args.Finish();
        ToolImage image;
        std::string error;
        Check(line, TexGen_Make(recipe, &image, &error), error);
        // NAME,NAME,...: the same picture under each name; a name without a
        // folder is in the first one's.
        const std::string& names = args.Word(1);
        const size_t folder = names.substr(0, names.find(',')).rfind('\\') + 1;
        for (size_t at = 0; at <= names.size();) {
            const size_t comma = std::min(names.find(',', at), names.size());
            std::string name = names.substr(at, comma - at);
            if (at > 0 && name.find('\\') == std::string::npos) name = names.substr(0, folder) + name;
            if (!EndsWith(name, ".bmp") && !EndsWith(name, ".png")) Fail(line, name + ": pictures are .bmp or .png");
            Check(line, ImageWriter_Write(image, ClaimData(line, name), &error), error);
            at = comma + 1;
        }
    }

    void Font(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(1, 1);
        FontWriterStyle style;
        style.cellHeight = args.Int("height", style.cellHeight, 8, 256);
        style.stroke = (float)args.Number("stroke", style.stroke, 1, 64);
        style.outline = args.Int("outline", 0, 0, 8);
        style.imageWidth = args.Int("width", style.imageWidth, 64, 4096);
        style.characters = args.Text("chars", "");
        args.Finish();
        const std::string& name = args.Word(1);
        const std::string file = FileName(name);
        FontWriterFiles files;
        std::string error;
        Check(line, FontWriter_Build(style, file, &files, &error), error);
        const std::string folder = Folder(name).empty() ? std::string() : Folder(name) + "\\";
        Check(line, ImageWriter_Write(files.image, ClaimData(line, folder + files.imageFile), &error), error);
        Check(line, ImageWriter_Write(files.mask, ClaimData(line, folder + files.maskFile), &error), error);
        Write(line, ClaimData(line, name + ".met"), files.metrics);
    }

    void Sound(Args& args, bool stream)
    {
        const RecipeLine& line = args.Line();
        args.Positional(1, 1);
        std::string kind;
        if (!args.Text("effect", &kind)) Fail(line, "a sound needs effect=KIND");
        const float seconds = (float)args.Number("seconds", 0, 0, 10);
        const float pitch = (float)args.Number("pitch", 1, 0.1, 10);
        const uint32_t seed = (uint32_t)args.Int("seed", 1, 0, 1 << 30);
        const int rate = args.Int("rate", 22050, WAVEWRITER_MIN_RATE, WAVEWRITER_MAX_RATE);
        args.Finish();
        std::string error;
        const std::vector<int16_t> samples = WaveSynth_Effect(kind, seconds, pitch, seed, rate, &error);
        if (samples.empty()) Fail(line, error);
        const std::string& name = args.Word(1);
        const std::string path = stream ? Claim(line, "Streams/" + Slashes(name) + ".wav") : ClaimData(line, name);
        if (!stream && !EndsWith(name, ".wav")) Fail(line, name + ": sounds are .wav files");
        Check(line, WaveWriter_Write(path, samples, 1, rate, &error), error);
    }

    void Music(const RecipeLine& line, const std::vector<RecipeLine>& body)
    {
        Args args(line);
        args.Positional(1, 1);
        WaveSynthMusic music;
        music.tempo = (float)args.Number("tempo", 120, 30, 300);
        music.stepsPerBeat = args.Int("steps", 2, 1, 8);
        const int rate = args.Int("rate", 22050, WAVEWRITER_MIN_RATE, WAVEWRITER_MAX_RATE);
        args.Finish();
        for (const RecipeLine& v : body) {
            Args voice(v);
            if (v.words[0] != "voice") Fail(v, "music holds voice lines only");
            voice.Positional(3, 3);
            voice.Finish();
            music.voices.push_back(
                {voice.Word(1), (float)voice.NumberOf(voice.Word(2), "volume", 0, 1), voice.Word(3)});
        }
        std::string error;
        const std::vector<int16_t> samples = WaveSynth_Music(music, rate, &error);
        if (samples.empty()) Fail(line, error);
        Check(line,
              WaveWriter_Write(Claim(line, "Streams/" + Slashes(args.Word(1)) + ".wav"), samples, 1, rate, &error),
              error);
    }

    void Clip(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(1, 1);
        ClipWriterRecipe recipe;
        recipe.seconds = (float)args.Number("seconds", recipe.seconds, 0.2, 30);
        recipe.width = args.Int("width", recipe.width, 32, 720);
        recipe.height = args.Int("height", recipe.height, 32, 576);
        recipe.framesPerSecond = args.Int("fps", recipe.framesPerSecond, 10, 60);
        recipe.title = args.Text("title", recipe.title);
        recipe.top = args.Colour("top", recipe.top);
        recipe.bottom = args.Colour("bottom", recipe.bottom);
        recipe.ink = args.Colour("ink", recipe.ink);
        args.Finish();
        std::string error;
        Check(line, ClipWriter_Write(Claim(line, "Streams/VIDEO/" + Slashes(args.Word(1)) + ".mpg"), recipe, &error),
              error);
    }

    // ---- meshes ----

    ShapeSurface SurfaceOption(Args& args, const std::string& prefix, const std::string& name, uint32_t colour)
    {
        ShapeSurface s;
        s.name = args.Text(prefix + "surface", name);
        ColourOf(args.Colour(prefix + "colour", colour), s.colour);
        s.texture = args.Text(prefix + "texture", "");
        std::string sequence;
        if (args.Text(prefix + "sequence", &sequence)) Sequence(args, sequence, &s);
        s.twoSided = args.Bool(prefix + "twosided", false);
        s.smoothing = (float)args.Number(prefix + "smooth", 0, 0, 180);
        return s;
    }

    // "PREFIX##SUFFIX:FIRST-LAST": the frames' names, a "#" for each figure
    // of the frame's number.
    void Sequence(Args& args, const std::string& text, ShapeSurface* s)
    {
        // FIRST may be below 0 ("-100"): its minus is not the dash.
        const size_t colon = text.rfind(':'), hash = text.find('#');
        const size_t dash = colon == std::string::npos ? colon : text.find('-', colon + 2);
        if (!s->texture.empty() || dash == std::string::npos || hash == std::string::npos || hash > colon)
            Fail(args.Line(), "sequence= is PREFIX##SUFFIX:FIRST-LAST, without texture=");
        const size_t hashes = text.find_first_not_of('#', hash) - hash;
        s->sequencePrefix = text.substr(0, hash);
        s->sequenceSuffix = text.substr(hash + hashes, colon - hash - hashes);
        s->sequenceDigits = args.IntOf(std::to_string(hashes), "sequence figures", 1, 8);
        s->sequenceFirst = args.IntOf(text.substr(colon + 1, dash - colon - 1), "sequence first frame", -9999, 9999);
        s->sequenceLast =
            args.IntOf(text.substr(dash + 1), "sequence last frame", s->sequenceFirst + 1, s->sequenceFirst + 99);
    }

    // The picture files of a surface: its texture, or its sequence's frames.
    static std::vector<std::string> Pictures(const ShapeSurface& s)
    {
        if (!s.texture.empty()) return {s.texture};
        std::vector<std::string> frames;
        // As the game names them: the last `digits` characters of the
        // number written in 8 figures ("%08d"; -100 gives "-0000100").
        for (int f = s.sequenceFirst; f <= s.sequenceLast; f++) {
            char number[16];
            snprintf(number, sizeof number, "%08d", f);
            const size_t length = strlen(number), digits = std::min((size_t)s.sequenceDigits, length);
            frames.push_back(s.sequencePrefix + (number + length - digits) + s.sequenceSuffix);
        }
        return frames;
    }

    void Mesh(Args& args)
    {
        const RecipeLine& line = args.Line();
        args.Positional(2, 2);
        const std::string& name = args.Word(1);
        const std::string& shape = args.Word(2);
        if (!EndsWith(name, ".lwo")) Fail(line, name + ": objects are .lwo files");
        const float tile = (float)args.Number("tile", 1, 0, 64);
        std::vector<ShapePart> parts;
        MeshBuilder mesh;
        auto single = [&](const char* defaultSurface) {
            return mesh.Surface(SurfaceOption(args, "", defaultSurface, 0xC0C0C0FF));
        };
        if (shape == "box") {
            const uint32_t s = single("Box");
            const std::vector<float> size = args.Floats("size", {1, 1, 1}, 0.001, 1e4);
            const std::vector<float> at = args.Floats("at", {0, 0, 0});
            const float lo[3] = {at[0] - size[0] / 2, at[1], at[2] - size[2] / 2};
            const float hi[3] = {at[0] + size[0] / 2, at[1] + size[1], at[2] + size[2] / 2};
            Shape_Box(&mesh, lo, hi, s, tile);
        } else if (shape == "ramp") {
            const uint32_t s = single("Ramp");
            const std::vector<float> size = args.Floats("size", {2, 1, 4}, 0.001, 1e4);
            Shape_Ramp(&mesh, size[0], size[1], size[2], s, tile);
        } else if (shape == "card") {
            const uint32_t s = single("Card");
            const std::vector<float> size = args.Floats("size", {1, 1}, 0.001, 1e4);
            Shape_Card(&mesh, size[0], size[1], s);
        } else if (shape == "plane") {
            const uint32_t s = single("Ground");
            const std::vector<float> size = args.Floats("size", {10, 10}, 0.001, 1e4);
            Shape_Plane(&mesh, size[0], size[1], args.Int("cells", 1, 1, 256), s, tile);
        } else if (shape == "bowl") {
            const uint32_t s = single("Bowl");
            Shape_Bowl(&mesh, (float)args.Number("radius", 8, 0.01, 1e4), (float)args.Number("depth", 3, 0.01, 1e4),
                       args.Int("segments", 24, 3, 256), args.Int("rings", 6, 1, 128), s);
        } else if (shape == "track") {
            const uint32_t s = single("Road");
            Shape_TrackLoop(&mesh, (float)args.Number("radius", 30, 0.1, 1e4), (float)args.Number("width", 6, 0.1, 1e3),
                            args.Int("segments", 48, 3, 1024), (float)args.Number("bank", 0, -100, 100), s, tile);
        } else if (shape == "ring") {
            const uint32_t s = single("Ring");
            Shape_Ring(&mesh, (float)args.Number("radius", 2, 0.01, 1e3),
                       (float)args.Number("thickness", 0.2, 0.001, 1e3), args.Int("segments", 24, 3, 256),
                       args.Int("sides", 8, 3, 64), s);
        } else if (shape == "terrain") {
            const uint32_t s = single("Terrain");
            Shape_Terrain(&mesh, (float)args.Number("size", 40, 0.1, 1e4), args.Int("cells", 16, 1, 256),
                          (float)args.Number("height", 3, 0, 1e3), (uint32_t)args.Int("seed", 1, 0, 1 << 30), s, tile);
        } else if (shape == "cylinder" || shape == "capsule" || shape == "cone") {
            const uint32_t s = single(shape == "cylinder" ? "Cylinder" : shape == "capsule" ? "Capsule" : "Cone");
            const float radius = (float)args.Number("radius", 0.5, 0.001, 1e3);
            const float height = (float)args.Number("height", 1, 0.001, 1e3);
            const int segments = args.Int("segments", 16, 3, 256);
            if (shape == "cylinder") Shape_Cylinder(&mesh, radius, 0, height, segments, s);
            if (shape == "cone") Shape_Cone(&mesh, radius, 0, height, segments, s);
            if (shape == "capsule") {
                if (height < 2 * radius) Fail(line, "a capsule is at least twice its radius tall");
                Shape_Capsule(&mesh, radius, radius, height - radius, segments, s);
            }
        } else if (shape == "sphere") {
            const uint32_t s = single("Sphere");
            Shape_Sphere(&mesh, (float)args.Number("radius", 0.5, 0.001, 1e3), args.Int("segments", 16, 3, 256),
                         args.Int("rings", 8, 2, 128), s);
        } else if (shape == "character") {
            const ShapeSurface skin = SurfaceOption(args, "skin", "Skin", 0xE0B090FF);
            const ShapeSurface clothes = SurfaceOption(args, "", "Clothes", 0x3060C0FF);
            parts =
                Shape_Character((float)args.Number("height", 1.8, 0.1, 100), skin, clothes, args.Bool("boxy", false));
        } else if (shape == "kart") {
            parts = Shape_Kart(SurfaceOption(args, "", "Paint", 0xD03020FF),
                               SurfaceOption(args, "wheel", "Tyre", 0x202020FF));
        } else if (shape == "broom") {
            parts = Shape_Broom(SurfaceOption(args, "", "Handle", 0x8A5A2AFF),
                                SurfaceOption(args, "bristle", "Bristles", 0xD8C070FF));
        } else {
            Fail(line, "unknown shape \"" + shape + "\"");
        }
        const bool separate = !parts.empty() && args.Bool("parts", false);
        args.Finish();
        if (!parts.empty()) mesh = Shape_Merge(parts);
        const std::string base = name.substr(0, name.size() - 4);
        WriteMesh(line, name, mesh);
        if (separate) {
            for (const ShapePart& part : parts) WriteMesh(line, base + "_" + part.name + ".lwo", part.mesh);
            models_[Lower(base)] = parts;
        }
    }

    void WriteMesh(const RecipeLine& line, const std::string& name, const MeshBuilder& mesh)
    {
        for (float t : mesh.uvs)
            if (std::fabs(t) > 64.0f) Fail(line, name + ": the texture repeats more than 64 times; lower tile=");
        for (const ShapeSurface& s : mesh.surfaces)
            for (const std::string& file : Pictures(s)) {
                if (file.find_first_of("\\/") != std::string::npos)
                    Fail(line, "texture " + file + ": a surface names its picture without a folder");
                // The mesh loader looks for a surface's picture in the
                // platform folder "pc" below the object's folder (then in
                // "pc" at the top): a picture beside the object is never read.
                const std::string folder = Folder(name);
                const std::string picture = (folder.empty() ? std::string() : folder + "\\") + "pc\\" + file;
                Require(line, "DATA/" + Slashes(picture), "texture");
            }
        std::string error;
        Check(line, ToolFile_Write(ClaimData(line, name), LwoWriter_Write(Shape_ToObject(mesh)), &error), error);
    }

    // ---- scenes ----

    static LwsWriterKey KeyAt(const std::vector<float>& at, const std::vector<float>& turn, float scale, float time)
    {
        LwsWriterKey key;
        key.time = time;
        for (int k = 0; k < 3; k++) {
            key.position[k] = at[(size_t)k];
            key.rotation[k] = turn[(size_t)k] * kDegrees;
            key.scale[k] = scale;
        }
        return key;
    }

    // "T:x,y,z[:h,p,b]" words separated by blanks.
    std::vector<LwsWriterKey> Keys(Args& args, const std::string& text, float scale) const
    {
        std::vector<LwsWriterKey> keys;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = std::min(text.find(' ', at), text.size());
            const std::string word = text.substr(at, end - at);
            at = end + 1;
            if (word.empty()) continue;
            const size_t a = word.find(':'), b = word.find(':', a == std::string::npos ? a : a + 1);
            if (a == std::string::npos) Fail(args.Line(), "a key is TIME:x,y,z[:h,p,b]");
            const float time = (float)args.NumberOf(word.substr(0, a), "key time", 0, 3600);
            if (!keys.empty() && time <= keys.back().time) Fail(args.Line(), "key times must rise");
            const std::vector<float> position =
                args.FloatsOf(word.substr(a + 1, b - a - 1), "key position", 3, -1e5, 1e5);
            const std::vector<float> turn = b == std::string::npos
                                                ? std::vector<float>{0, 0, 0}
                                                : args.FloatsOf(word.substr(b + 1), "key turn", 3, -36000, 36000);
            keys.push_back(KeyAt(position, turn, scale, time));
        }
        if (keys.empty()) Fail(args.Line(), "keys= names no key");
        return keys;
    }

    void Scene(const RecipeLine& line, const std::vector<RecipeLine>& body)
    {
        Args args(line);
        args.Positional(1, 1);
        LwsWriterScene scene;
        scene.fps = (float)args.Number("fps", 30, 1, 240);
        scene.lastFrame = args.Int("frames", 60, 0, 1000000);
        const std::vector<float> ambient = args.Floats("ambient", {1, 1, 1}, 0, 1);
        scene.ambientIntensity = (float)args.Number("ambientintensity", 0.25, 0, 10);
        for (int k = 0; k < 3; k++) scene.ambient[k] = ambient[(size_t)k];
        SceneConfigs configs;
        configs.at = line;
        const bool needConfigs = args.Text("configs", &configs.folder);
        args.Finish();
        const std::string& name = args.Word(1);
        if (!EndsWith(name, ".lws")) Fail(line, name + ": scenes are .lws files");
        const std::string folder = Folder(name);
        std::map<std::string, int> itemIndex;  // object and null names -> raw item index
        bool lightsBegun = false;
        for (const RecipeLine& itemLine : body) {
            Args item(itemLine);
            const std::string& kind = itemLine.words[0];
            if (kind == "character") {
                SceneCharacter(item, folder, &scene, &itemIndex, lightsBegun);
                continue;
            }
            LwsWriterItem it;
            item.Positional(1, 1);
            const std::string itemName = item.Word(1);
            if (kind == "object") {
                it.kind = LwsWriterItem::OBJECT;
                if (!EndsWith(itemName, ".lwo") || itemName.find_first_of("\\/") != std::string::npos)
                    Fail(itemLine, "an object item names a .lwo file beside the scene");
                // The loader takes the name after the last "/", so the folder
                // never joins it; the object lies beside its scene.
                it.name = Slashes(folder.empty() ? itemName : folder + "\\" + itemName);
                it.layer = item.Int("layer", 1, 1, 255);
                Require(itemLine, "DATA/" + it.name, "object");
            } else if (kind == "null") {
                it.kind = LwsWriterItem::NUL;
                it.name = itemName;
            } else if (kind == "light") {
                it.kind = LwsWriterItem::LIGHT;
                it.lightName = itemName;
                const std::vector<float> colour = item.Floats("colour", {1, 1, 1}, 0, 1);
                for (int k = 0; k < 3; k++) it.lightColour[k] = colour[(size_t)k];
                it.intensity = (float)item.Number("intensity", 1, 0, 100);
                it.lightType = item.Int("type", 0, 0, 3);
            } else if (kind == "camera") {
                it.kind = LwsWriterItem::CAMERA;
                it.zoom = (float)item.Number("zoom", 3.2, 0.01, 100);
            } else {
                Fail(itemLine, "unknown scene item \"" + kind + "\"");
            }
            const bool placed = it.kind == LwsWriterItem::OBJECT || it.kind == LwsWriterItem::NUL;
            if (placed && lightsBegun) Fail(itemLine, "objects and nulls come before every light and camera");
            lightsBegun = lightsBegun || !placed;
            const float scale = (float)item.Number("scale", 1, 0.001, 1000);
            std::string keys;
            if (item.Text("keys", &keys)) {
                it.keys = Keys(item, keys, scale);
            } else {
                it.keys.push_back(KeyAt(item.Floats("at", {0, 0, 0}, -1e5, 1e5),
                                        item.Floats("turn", {0, 0, 0}, -36000, 36000), scale, 0));
            }
            std::string parent;
            if (item.Text("parent", &parent)) {
                auto p = itemIndex.find(parent);
                if (p == itemIndex.end())
                    Fail(itemLine, "parent \"" + parent + "\" is no object or null before this item");
                it.parentKind = LWS_PARENT_ITEM;
                it.parentIndex = p->second;
            }
            std::string config;
            const bool named = item.Text("config", &config);
            item.Finish();
            if (placed) {
                const std::string itemKey =
                    it.kind == LwsWriterItem::OBJECT ? itemName.substr(0, itemName.size() - 4) : itemName;
                itemIndex.emplace(itemKey, (int)scene.items.size());
                if (needConfigs && config != "none" && itemKey.rfind("PlayerStart", 0) != 0) {
                    // "entity_<X>" items read "<X>.cfg"; the rest their own name's.
                    std::string cfg = named ? config : itemKey;
                    if (!named && cfg.rfind("entity_", 0) == 0) cfg = cfg.substr(7);
                    configs.items.emplace_back(itemLine, configs.folder + "\\" + cfg + ".cfg");
                }
            }
            scene.items.push_back(it);
        }
        if (needConfigs) sceneConfigs_.push_back(configs);
        Write(line, ClaimData(line, name), LwsWriter_Write(scene));
    }

    // A jointed model's parts as objects, each under its parent part.
    void SceneCharacter(Args& item, const std::string& folder, LwsWriterScene* scene, std::map<std::string, int>* index,
                        bool lightsBegun)
    {
        const RecipeLine& line = item.Line();
        item.Positional(1, 1);
        const std::string model = item.Word(1);
        auto found = models_.find(Lower(folder.empty() ? model : folder + "\\" + model));
        if (found == models_.end())
            Fail(line, "no model \"" + model + "\" written with parts=TRUE beside this scene before it");
        if (lightsBegun) Fail(line, "objects and nulls come before every light and camera");
        const std::vector<float> at = item.Floats("at", {0, 0, 0}, -1e5, 1e5);
        const std::vector<float> turn = item.Floats("turn", {0, 0, 0}, -36000, 36000);
        item.Finish();
        const int first = (int)scene->items.size();
        for (const ShapePart& part : found->second) {
            LwsWriterItem it;
            it.kind = LwsWriterItem::OBJECT;
            const std::string file = model + "_" + part.name + ".lwo";
            it.name = Slashes(folder.empty() ? file : folder + "\\" + file);
            const bool root = part.parent < 0;
            const std::vector<float> joint = {part.joint[0], part.joint[1], part.joint[2]};
            it.keys.push_back(root ? KeyAt({at[0] + joint[0], at[1] + joint[1], at[2] + joint[2]}, turn, 1, 0)
                                   : KeyAt(joint, {0, 0, 0}, 1, 0));
            if (!root) {
                it.parentKind = LWS_PARENT_ITEM;
                it.parentIndex = first + part.parent;
            }
            index->emplace(model + "_" + part.name, (int)scene->items.size());
            scene->items.push_back(it);
        }
    }

    // ---- animation sets ----

    void AnimSet(const RecipeLine& line, const std::vector<RecipeLine>& body)
    {
        Args args(line);
        args.Positional(1, 1);
        const std::string suffix = args.Text("suffix", "ANIM");
        args.Finish();
        AtfWriterSet set;
        std::map<std::string, uint32_t> animations;  // by name, in file order
        for (const RecipeLine& entry : body) {
            Args a(entry);
            const std::string& kind = entry.words[0];
            if (kind == "animation") {
                a.Positional(2, 2);
                AtfWriterAnimation animation;
                animation.scenePath = a.Word(1);
                animation.name = a.Word(2);
                animation.sceneFlags = (uint32_t)a.Int("sceneflags", 16, 0, 255);
                if (a.Bool("loop", false)) animation.sceneFlags |= 1;
                animation.flags = (uint32_t)a.Int("flags", 0, 0, 3);
                animation.blendTime = (float)a.Number("blend", 0, 0, 60);
                a.Finish();
                if (!EndsWith(animation.scenePath, ".lws")) Fail(entry, "an animation names a .lws scene");
                if (!animations.emplace(animation.name, (uint32_t)set.animations.size()).second)
                    Fail(entry, "animation \"" + animation.name + "\" is named twice");
                Require(entry, "DATA/" + Slashes(animation.scenePath), "scene");
                set.animations.push_back(animation);
            } else if (kind == "event") {
                a.Positional(2, 2);
                auto found = animations.find(a.Word(1));
                if (found == animations.end()) Fail(entry, "no animation \"" + a.Word(1) + "\" before this event");
                AtfWriterKeyEvent event;
                event.animation = found->second;
                const auto name = std::find(set.events.begin(), set.events.end(), a.Word(2));
                event.event = (uint32_t)(name - set.events.begin());
                if (name == set.events.end()) set.events.push_back(a.Word(2));
                event.item = (uint32_t)a.Int("item", 0, 0, 65535);
                event.start = (float)a.Number("start", 0, 0, 3600);
                event.end = (float)a.Number("end", event.start, event.start, 3600);
                a.Finish();
                set.keyEvents.push_back(event);
            } else {
                Fail(entry, "an animation set holds animation and event lines only");
            }
        }
        if (set.animations.empty()) Fail(line, "an animation set needs an animation");
        const std::string file = AtfWriter_CacheName(args.Word(1).c_str(), suffix.c_str());
        std::string error;
        Check(line, ToolFile_Write(Claim(line, "DATA/" + Slashes(file)), AtfWriter_Encode(set), &error), error);
    }

    // ---- the checks at the end ----

    void CheckReferences()
    {
        for (const Reference& r : references_)
            if (outputs_.find(Lower(r.path)) == outputs_.end())
                Fail(r.at, "the " + r.what + " " + r.path + " is made by no command");
        for (const SceneConfigs& s : sceneConfigs_)
            for (const auto& [at, cfg] : s.items)
                if (compiled_.find(Name_Hash(cfg.c_str(), 0, 1)) == compiled_.end())
                    Fail(at, "the item has no configuration: " + cfg + " is compiled by no command");
    }

    std::string sources_, work_;
    std::vector<std::string> includes_;
    std::map<std::string, RecipeLine> outputs_;                        // stage paths, lower case
    std::map<uint32_t, std::pair<std::string, RecipeLine>> compiled_;  // cache hash -> name and line
    std::vector<Reference> references_;
    std::vector<SceneConfigs> sceneConfigs_;
    std::map<std::string, std::vector<ShapePart>> models_;  // data names without ".lwo", lower case
    std::vector<TextWriterLogo> logos_;
    std::vector<TextWriterMovie> movies_;
    RecipeLine listsAt_[2];  // where the logos and the movies began
};

// Moves the finished build into the stage: DATA, Streams and game.ver
// replace their old selves; everything else in the stage stays.
bool Replace(const std::string& work, const std::string& stage, std::string* error)
{
    std::error_code ec;
    fs::create_directories(stage, ec);
    for (const char* part : {"DATA", "Streams", "game.ver"}) {
        const fs::path target = fs::path(stage) / part;
        fs::remove_all(target, ec);
        if (ec) {
            *error = target.string() + ": can't be removed: " + ec.message();
            return false;
        }
        if (fs::exists(fs::path(work) / part)) {
            fs::rename(fs::path(work) / part, target, ec);
            if (ec) {
                *error = target.string() + ": can't be put in place: " + ec.message();
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int DemoData_Build(const std::string& sources, const std::string& stage, std::string* error)
{
    std::error_code ec;
    if (!fs::is_directory(sources, ec)) {
        if (error) *error = sources + ": is not a folder";
        return 0;
    }
    // The build is made beside the stage and moved in at the end, so that
    // a failed build leaves no trace in it (nor makes it).
    std::string work = stage;
    while (!work.empty() && work.back() == '/') work.pop_back();
    work += kWorkSuffix;
    fs::remove_all(work, ec);
    fs::create_directories(work, ec);
    if (ec) {
        if (error) *error = work + ": can't be made: " + ec.message();
        return 0;
    }
    std::string message;
    bool ok = true;
    try {
        Generator(sources, work).Run();
        ok = Replace(work, stage, &message);
    } catch (const RecipeError& e) {
        message = e.message;
        ok = false;
    }
    fs::remove_all(work, ec);
    if (!ok && error) *error = message;
    return ok ? 1 : 0;
}
