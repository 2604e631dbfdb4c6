#include "game/text_file.h"

#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/memory.h"
#include "engine/font.h"
#include "game/game_context.h"

namespace {

// A key of section s, or of line n of it ("Section<s>::Item<n><suffix>").
const char* SectionKey(int s, const char* key)
{
    static char path[96];
    snprintf(path, sizeof path, "Section%d::%s", s, key);
    return path;
}

const char* ItemKey(int s, int n, const char* suffix)
{
    char key[48];
    snprintf(key, sizeof key, "Item%d%s", n, suffix);
    return SectionKey(s, key);
}

uint8_t ClampByte(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

void LoadLine(ConfigNode* cfg, int s, int n, const TextFileSection& section, uint32_t centre, TextFileLine* line)
{
    line->colour[0] = line->colour[1] = line->colour[2] = line->colour[3] = 255;
    line->font = section.secondary ? 2 : 1;
    line->spacing = 1.0f;
    line->centred = centre;

    float position[3];
    if (Config_GetVector3(cfg, ItemKey(s, n, ""), position)) {
        line->x = position[0];
        line->y = position[1];
        line->size = position[2];
        line->text = Config_DupString(cfg, ItemKey(s, n, "Text"));
    }
    float box[2];
    if (Config_GetVector2(cfg, ItemKey(s, n, "Box"), box)) {
        line->w = box[0];
        line->h = box[1];
    }
    uint8_t rgba[4];
    if (Config_GetColourBytes(cfg, ItemKey(s, n, "Colour"), rgba)) memcpy(line->colour, rgba, 3);
    int32_t alpha;
    if (Config_GetInt(cfg, ItemKey(s, n, "Alpha"), &alpha)) line->colour[3] = ClampByte(alpha);
    Config_GetInt(cfg, ItemKey(s, n, "Font"), &line->font);
    Config_GetFloat(cfg, ItemKey(s, n, "Spacing"), &line->spacing);
    Config_GetBool(cfg, ItemKey(s, n, "Centre"), &line->centred);
}

float SectionAlpha(const TextFileSection& s)
{
    // A fade time of 0 or less has no fade: alpha 1 (a division by it would
    // give NaN, which no clamp catches).
    if (!(s.fadeTime > 0.0f)) return 1.0f;
    float alpha = 1.0f;
    if (s.time < s.fadeTime)
        alpha = s.time / s.fadeTime;
    else if (s.time > s.displayTime - s.fadeTime)
        alpha = (s.displayTime - s.time) / s.fadeTime;
    return alpha < 0.0f ? 0.0f : alpha > 1.0f ? 1.0f : alpha;
}

}  // namespace

int FrontEnd_LoadTextFile(const char* fileName, TextFile* text)
{
    TextFile_Free(text);
    ConfigNode* cfg = fileName ? Config_Open(fileName) : nullptr;
    if (!cfg) return 0;
    int count = 0;
    for (;;) {
        char group[32];
        snprintf(group, sizeof group, "Section%d", count);
        if (!Config_Find(cfg, group)) break;
        count++;
    }
    if (count > 0) {
        text->sections = (TextFileSection*)Mem_Calloc(sizeof(TextFileSection) * (size_t)count, 8);
        if (!text->sections) count = 0;
    }
    text->sectionCount = count;
    for (int s = 0; s < count; s++) {
        TextFileSection& section = text->sections[s];
        Config_GetFloat(cfg, SectionKey(s, "DisplayTime"), &section.displayTime);
        Config_GetFloat(cfg, SectionKey(s, "FadeTime"), &section.fadeTime);
        Config_GetBool(cfg, SectionKey(s, "Secondary"), &section.secondary);
        uint32_t centre = 0;
        Config_GetBool(cfg, SectionKey(s, "Centre"), &centre);
        // Lines up to the first missing key; the record holds 32, so any
        // beyond are not read.
        for (int n = 0; n < TEXTFILE_LINES && Config_GetValue(cfg, ItemKey(s, n, "")); n++) {
            LoadLine(cfg, s, n, section, centre, &section.lines[n]);
            section.lineCount = n + 1;
        }
    }
    Config_Close(cfg);
    text->masterFade = 1.0f;
    return 1;
}

void TextFile_Free(TextFile* text)
{
    for (int s = 0; s < text->sectionCount && text->sections; s++)
        for (TextFileLine& line : text->sections[s].lines) Mem_Free(line.text);
    Mem_Free(text->sections);
    memset(text, 0, sizeof *text);
}

void TextFile_Update(TextFile* text, float dt)
{
    if (text->sectionCount <= 0) return;
    if (text->followFocus) {
        TextFile_SetSection(text, text->focus);
        text->sections[text->current].alpha = text->alpha;
        return;
    }
    TextFileSection* section = &text->sections[text->current];
    if (text->hold) {
        section->alpha = text->alpha;
        return;
    }
    section->time += dt;
    if (section->time > section->displayTime) {
        section->time = 0.0f;
        text->current = (text->current + 1) % text->sectionCount;
        section = &text->sections[text->current];
        section->time = 0.0f;
    }
    section->alpha = SectionAlpha(*section);
}

void TextFile_Draw(TextFile* text)
{
    if (text->sectionCount <= 0) return;
    const TextFileSection& section = text->sections[text->current];
    for (int i = 0; i < section.lineCount; i++) {
        const TextFileLine& line = section.lines[i];
        Font* font = line.font == 2 ? Game_GetContext()->secondaryFont : Game_GetKartFont();
        if (!font || !line.text) continue;
        float alpha = (float)line.colour[3] / 255.0f * section.alpha * text->masterFade;
        alpha = alpha < 0.0f ? 0.0f : alpha > 1.0f ? 1.0f : alpha;
        const uint8_t rgba[4] = {line.colour[0], line.colour[1], line.colour[2], (uint8_t)(alpha * 255.0f)};
        Font_SetColour(font, rgba);
        Font_SetSize(font, line.size);
        if (line.w == 0.0f && line.h == 0.0f) {
            Font_Printf(font, line.x, line.y, "%s", line.text);
        } else {
            Font_SetSpacing(font, line.spacing);
            Font_PrintfBox(font, line.x, line.y, line.w, line.h, line.centred != 0, "%s", line.text);
            Font_SetSpacing(font, 1.0f);
        }
        static const uint8_t kWhite[4] = {255, 255, 255, 255};
        Font_SetColour(font, kWhite);
    }
}

void TextFile_SetSection(TextFile* text, int32_t n)
{
    if (text->sectionCount <= 0) return;
    text->current = n < 0 ? 0 : n >= text->sectionCount ? text->sectionCount - 1 : n;
}

TextFileSection* TextFile_GetSection(TextFile* text, int32_t n)
{
    return n >= 0 && n < text->sectionCount ? &text->sections[n] : nullptr;
}

int TextFile_SetLineText(TextFile* text, int32_t section, int32_t line, const char* string)
{
    TextFileSection* s = TextFile_GetSection(text, section);
    if (!s || line < 0 || line >= s->lineCount) return 0;
    char* copy = nullptr;
    if (string) {
        size_t n = strlen(string) + 1;
        copy = (char*)Mem_Alloc(n, 8);
        if (!copy) return 0;
        memcpy(copy, string, n);
    }
    Mem_Free(s->lines[line].text);
    s->lines[line].text = copy;
    return 1;
}
