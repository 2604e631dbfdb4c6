// Image resampling: area-averaging scale of 32-bit images in 16.16 steps.
#pragma once

#include <cstdint>

struct Image;

// Scales source into destination (both 32-bit with pixels; the destination's
// size sets the output) and carries IMAGE_GAMMACORRECTED over. Null with
// 0x80000016 for missing pixels or zero sizes, 0x80000009 for other depths
// or a width or height more than 65536 times the source's.
Image *Image_Resample(Image *destination, const Image *source);
// A new 32-bit image of the given size resampled from source (a 4- or 8-bit
// source goes through its palette first). Null on failure, nothing leaked.
Image *Image_CreateResampled(const Image *source, int32_t width, int32_t height);
