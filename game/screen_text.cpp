#include "game/screen_text.h"

#include <algorithm>

#include "engine/font.h"

float ScreenText_Height(const Font* font) { return font ? Font_GetHeight(font) : 0.0f; }

float ScreenText_Width(const Font* font, const char* text)
{
    return font && text ? Font_MeasureF(font, "%s", text) : 0.0f;
}

void ScreenText_Set(Font* font, float size, uint8_t r, uint8_t g, uint8_t b, float a)
{
    if (!font) return;
    Font_SetSize(font, size);
    const uint8_t rgba[4] = {r, g, b, (uint8_t)(std::clamp(a, 0.0f, 1.0f) * 255.0f)};
    Font_SetColour(font, rgba);
}

void ScreenText_Draw(Font* font, float x, float y, const char* text)
{
    if (font && text) Font_DrawString(font, x, y, text, 0);
}

void ScreenText_DrawCentred(Font* font, float x, float y, const char* text)
{
    ScreenText_Draw(font, x - ScreenText_Width(font, text) * 0.5f, y, text);
}
