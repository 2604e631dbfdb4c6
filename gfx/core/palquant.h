// Palette quantiser: reduces one or more images to a palette of at most 256
// colours and maps images onto it. Colours are the four bytes of a pixel in
// memory order, all four channels treated alike, on a 5-bit-per-channel grid.
//
// Callers use it in one order: Create, AddImage for each image, MakePalette,
// MapImage for each image, Destroy.
#pragma once

#include <cstdint>

struct FreeList;
struct Image;
union PaletteQuantiserNode;

struct PaletteQuantiser {
    uint8_t (*boxes)[8];          // 256 boxes: lower bounds of channels 0-3, then upper (exclusive) bounds
    float *variances;             // 256 box variances
    PaletteQuantiserNode *root;   // interior node of the 16-ary colour tree
    FreeList *nodes;              // every tree node comes from here
    int32_t paletteCount;         // entries made by the last MakePalette
    uint8_t palette[256 * 4];     // those entries, for colours never added
};

// Prepares an empty quantiser in the caller's record. Returns 1, or 0 when
// memory runs out (nothing is left allocated then).
int PaletteQuantiser_Create(PaletteQuantiser *quantiser);
// Adds every pixel of a 32-bit image, or of a 4-/8-bit image through its
// palette, with weight w. Other depths add nothing. 0 when memory runs out
// (the pixels added so far stay added).
int PaletteQuantiser_AddImage(PaletteQuantiser *quantiser, const Image *image, float weight);
// Makes up to count (<= 256) RGBA entries into palette and returns the number
// made: the number of distinct grid colours when they fit, else count.
// Entries not made are (0, 0, 0, 0).
int32_t PaletteQuantiser_MakePalette(uint8_t *palette, int32_t count, PaletteQuantiser *quantiser);
// Writes the palette index of each source pixel, one byte per pixel (or two
// per byte, even column low, when depth is 4 and pack is set). A colour
// that was never added maps to the nearest entry made.
int PaletteQuantiser_MapImage(uint8_t *pixels, int32_t stride, int32_t depth, int pack,
                              PaletteQuantiser *quantiser, const Image *source);
// Frees every node and both tables. The record may be created again.
void PaletteQuantiser_Destroy(PaletteQuantiser *quantiser);
