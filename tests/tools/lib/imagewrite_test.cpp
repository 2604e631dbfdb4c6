#include "tools/lib/imagewrite.h"

#include <filesystem>

#include "gfx/toolkit/bmp/imagebmp.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

// Pictures written by the tool and read back by the engine's own readers.
class ImageWriterTest : public Toolkit2DTest {};

// A picture whose every pixel differs, of a width that needs row padding.
ToolImage Pattern(int32_t w, int32_t h, bool translucent)
{
    ToolImage image(w, h);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const uint32_t alpha = translucent ? (uint32_t)(x * 40 + y * 7) & 0xFF : 0xFF;
            image.Set(x, y,
                      (uint32_t)(x * 50) << 24 | (uint32_t)(y * 60) << 16 | (uint32_t)(x * y * 9 & 0xFF) << 8 | alpha);
        }
    return image;
}

void ExpectPixels(const ToolImage& written, Image* read, bool alpha)
{
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->width, written.width);
    ASSERT_EQ(read->height, written.height);
    ASSERT_EQ(read->depth, 32);
    for (int32_t y = 0; y < written.height; y++)
        for (int32_t x = 0; x < written.width; x++) {
            const uint8_t* want = written.At(x, y);
            const uint8_t* got = read->pixels + (size_t)y * read->stride + 4 * (size_t)x;
            for (int k = 0; k < 3; k++) ASSERT_EQ(got[k], want[k]) << x << "," << y << " channel " << k;
            ASSERT_EQ(got[3], alpha ? want[3] : 255) << x << "," << y;
        }
}

TEST_F(ImageWriterTest, BothFormatsReadBackPixelForPixelAndBmpStaysBottomUp)
{
    for (int32_t width : {1, 5, 6, 7, 8}) {
        const ToolImage opaque = Pattern(width, 3, false), translucent = Pattern(width, 3, true);
        const std::string bmp = folder + "p" + std::to_string(width) + ".bmp";
        const std::string png = folder + "p" + std::to_string(width) + ".PNG";
        const std::string alpha = folder + "a" + std::to_string(width) + ".png";
        std::string error;
        for (const auto& [image, path] : {std::pair{&opaque, &bmp}, {&opaque, &png}, {&translucent, &alpha}})
            ASSERT_EQ(ImageWriter_Write(*image, *path, &error), 1) << error;
        // The reader refuses top-down files, so reading at all proves the row order.
        Image* read = ImageBmp_Read(bmp.c_str());
        ExpectPixels(opaque, read, false);
        Image_Destroy(read);
        read = ImagePng_Read(png.c_str());
        ExpectPixels(opaque, read, false);
        Image_Destroy(read);
        read = ImagePng_Read(alpha.c_str());
        ExpectPixels(translucent, read, true);
        Image_Destroy(read);
        // The BMP drops alpha: a translucent picture reads back opaque.
        ASSERT_EQ(ImageWriter_Write(translucent, bmp, &error), 1) << error;
        read = ImageBmp_Read(bmp.c_str());
        ExpectPixels(translucent, read, false);
        Image_Destroy(read);
    }
}

TEST_F(ImageWriterTest, EqualPicturesGiveEqualFilesAndRefusedPicturesLeaveNone)
{
    const ToolImage image = Pattern(33, 17, true);
    std::string error;
    EXPECT_EQ(ImageWriter_EncodePng(image, &error), ImageWriter_EncodePng(Pattern(33, 17, true), &error));
    EXPECT_EQ(ImageWriter_EncodeBmp(image, &error), ImageWriter_EncodeBmp(Pattern(33, 17, true), &error));
    ToolImage cut = Pattern(4, 4, false);
    cut.rgba.resize(cut.rgba.size() - 4);
    const ToolImage refused[] = {ToolImage(), ToolImage(0, 4), ToolImage(IMAGEWRITER_MAX_SIDE + 1, 1), cut};
    for (const ToolImage& image : refused)
        for (const char* name : {"r.bmp", "r.png"}) {
            EXPECT_EQ(ImageWriter_Write(image, folder + name, &error), 0) << name;
            EXPECT_NE(error.find(name), std::string::npos) << error;
            EXPECT_FALSE(std::filesystem::exists(folder + name));
        }
    EXPECT_EQ(ImageWriter_Write(Pattern(2, 2, false), folder + "r.tga", &error), 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "r.tga"));
    // An unwritable place: a folder stands where the file would go.
    std::filesystem::create_directories(folder + "taken.bmp");
    EXPECT_EQ(ImageWriter_Write(Pattern(2, 2, false), folder + "taken.bmp", &error), 0);
}

}  // namespace
}  // namespace toolkit2dtest
