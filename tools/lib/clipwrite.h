// Clip writer of the data tools: a short MPEG-1 clip (MPEG-1 video and MPEG
// audio layer 2 in an "mpeg" program stream, through libavcodec's encoders,
// as the video stand-in plays them): a colour gradient drifting behind a
// title that slides in, over a soft swelling chord.
#pragma once

#include <cstdint>
#include <string>

struct ClipWriterRecipe {
    int32_t width = 320;   // even, 32..720
    int32_t height = 240;  // even, 32..576
    int32_t framesPerSecond = 25;
    float seconds = 2.0f;        // 0.2..30
    std::string title = "HELM";  // drawn with the line font; may be empty
    uint32_t top = 0x102040FFu;  // gradient colours 0xRRGGBBAA (alpha unused)
    uint32_t bottom = 0x4080C0FFu;
    uint32_t ink = 0xFFFFFFFFu;  // the title's colour
};

// Writes the clip to path (through a temporary file renamed at the end).
// 0 with error set ("PATH: ...") for a recipe out of range, a title the line
// font can't draw, or a failed encoder or write; nothing is left at path.
int ClipWriter_Write(const std::string& path, const ClipWriterRecipe& recipe, std::string* error);
