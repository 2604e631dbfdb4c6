#include "tools/lib/clipwrite.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "platform/dshow/dshow_test.h"
#include "tools/lib/imagewrite.h"
#include "tools/lib/strokefont.h"

namespace {

struct Painter {
    const ClipWriterRecipe* recipe;
    ToolImage frame;
};

uint8_t Channel(uint32_t colour, int shift) { return (uint8_t)(colour >> shift); }

void PaintVideo(int64_t index, int32_t width, int32_t height, uint8_t* rgb, void* user)
{
    Painter* p = (Painter*)user;
    const ClipWriterRecipe& s = *p->recipe;
    const double t = (double)index / s.framesPerSecond;
    const double total = std::max(0.1, (double)s.seconds);
    ToolImage& frame = p->frame;
    // The gradient drifts downwards and wraps, one full turn over the clip.
    for (int32_t y = 0; y < height; y++) {
        double u = std::fmod((double)y / height + t / total, 1.0);
        u = u < 0.5 ? 2 * u : 2 - 2 * u;
        uint32_t colour = 0xFF;
        for (int shift = 24; shift >= 8; shift -= 8) {
            const double c = Channel(s.top, shift) + (Channel(s.bottom, shift) - Channel(s.top, shift)) * u;
            colour |= (uint32_t)std::lround(c) << shift;
        }
        for (int32_t x = 0; x < width; x++) frame.Set(x, y, colour);
    }
    if (!s.title.empty()) {
        // The title slides in from the left over the first half and rests.
        const float capHeight = height * 0.2f;
        const float textWidth = StrokeFont_InkWidth(s.title, capHeight);
        const double arrive = std::min(1.0, t / (total * 0.5));
        const double ease = 1 - (1 - arrive) * (1 - arrive);
        const float x = (float)(-textWidth + ease * ((width + textWidth) * 0.5));
        StrokeFont_DrawText(&frame, x, height * 0.6f, capHeight, s.title, s.ink, std::max(2.0f, capHeight / 8));
    }
    for (size_t i = 0, n = (size_t)width * (size_t)height; i < n; i++)
        for (int k = 0; k < 3; k++) rgb[i * 3 + k] = frame.rgba[i * 4 + k];
}

void PaintAudio(int64_t first, int32_t count, int16_t* stereo, void* user)
{
    const Painter* p = (const Painter*)user;
    const double total = std::max(0.1, (double)p->recipe->seconds);
    static const double kChord[3] = {261.63, 329.63, 392.0};  // C major
    for (int32_t i = 0; i < count; i++) {
        const double t = (double)(first + i) / 44100.0;
        const double swell = std::sin(std::numbers::pi * std::min(1.0, t / total));
        double v = 0;
        for (double f : kChord) v += std::sin(2 * std::numbers::pi * f * t);
        const int16_t sample = (int16_t)std::lround(v / 3 * swell * 6000.0);
        stereo[2 * i] = stereo[2 * i + 1] = sample;
    }
}

}  // namespace

int ClipWriter_Write(const std::string& path, const ClipWriterRecipe& recipe, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return 0;
    };
    if (recipe.width < 32 || recipe.width > 720 || recipe.width % 2 || recipe.height < 32 || recipe.height > 576 ||
        recipe.height % 2)
        return fail("clip size out of range (even, 32..720 x 32..576)");
    if (recipe.framesPerSecond < 10 || recipe.framesPerSecond > 60) return fail("frame rate out of range (10..60)");
    if (!(recipe.seconds >= 0.2f) || recipe.seconds > 30) return fail("clip length out of range (0.2..30 s)");
    std::string missing;
    if (!StrokeFont_Covers(recipe.title, &missing)) return fail("the line font can't draw \"" + missing + "\"");

    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    Painter painter{&recipe, ToolImage(recipe.width, recipe.height)};
    DShowClip clip;
    clip.width = recipe.width;
    clip.height = recipe.height;
    clip.framesPerSecond = recipe.framesPerSecond;
    clip.seconds = recipe.seconds;
    clip.paintVideo = PaintVideo;
    clip.paintAudio = PaintAudio;
    clip.user = &painter;
    const std::string temporary = path + ".tmp";
    if (!DShowTest_WriteClip(temporary.c_str(), clip)) return fail("the encoder or the file failed");
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return fail("can't be written");
    }
    return 1;
}
