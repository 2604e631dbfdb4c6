// Text on the 640 x 480 virtual screen for the menus: measures in virtual
// pixels, and a font's size and colour set in one call. A null font
// measures 0 and draws nothing.
#pragma once

#include <cstdint>

struct Font;

// The font's line height at its current size, in virtual pixels.
float ScreenText_Height(const Font* font);
// The width of text at the font's current size, in virtual pixels.
float ScreenText_Width(const Font* font, const char* text);
// Size, then colour bytes r, g, b and alpha a (0..1, clamped).
void ScreenText_Set(Font* font, float size, uint8_t r, uint8_t g, uint8_t b, float a);
// Draws text with its base line at (x, y) (no edge mode).
void ScreenText_Draw(Font* font, float x, float y, const char* text);
// Draws text centred on x.
void ScreenText_DrawCentred(Font* font, float x, float y, const char* text);
