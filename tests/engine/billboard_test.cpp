#include <gtest/gtest.h>

#include <cmath>

#include "common/list.h"
#include "engine/billboard.h"
#include "engine/quadbatch.h"
#include "engine/sprite3d.h"
#include "tests/engine/drawing_fixture.h"

namespace {

using drawingtest::DrawingTest;
using drawingtest::WriteImage;

Mat4 Identity()
{
    Mat4 m;
    Mat4_Identity(&m);
    return m;
}

// A camera matrix at `eye` looking along `at` with up (0, 1, 0).
Mat4 Looking(Vec3 eye, Vec3 at)
{
    Mat4 m;
    const Vec3 up = {0, 1, 0};
    Mat4_FromAtUp(&m, &eye, &at, &up);
    return m;
}

void ExpectVec(const Vec3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-5f);
    EXPECT_NEAR(v.y, y, 1e-5f);
    EXPECT_NEAR(v.z, z, 1e-5f);
}

class BillboardTest : public DrawingTest {
protected:
    void SetUp() override
    {
        DrawingTest::SetUp();
        ASSERT_EQ(Sprite3d_Init(), 1);
        WriteImage("data/white.png", 16, 16, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
        WriteImage("data/strip.png", 64, 256, [](int32_t, int32_t y) { return y < 64 ? 0xFFFF0000u : 0xFF00FF00u; });
    }
    void TearDown() override
    {
        Sprite3d_Shutdown();
        DrawingTest::TearDown();
    }

    // Places the test camera's frame on m.
    void PlaceCamera(const Mat4& m)
    {
        Frame* frame = Camera_GetFrame(camera);
        Matrix& f = frame->modelling;
        f.right = {m.m[0][0], m.m[0][1], m.m[0][2]};
        f.up = {m.m[1][0], m.m[1][1], m.m[1][2]};
        f.at = {m.m[2][0], m.m[2][1], m.m[2][2]};
        f.pos = {m.m[3][0], m.m[3][1], m.m[3][2]};
        Matrix_RecomputeFlags(&f, nullptr);
        Frame_MarkDirty(frame);
    }

    uint32_t DrawWith(const Mat4& cam)
    {
        PlaceCamera(cam);
        uint32_t drawn = 0;
        DrawFrame([&] { drawn = Billboard_Draw(&cam); });
        return drawn;
    }

    static int Facing(Sprite3d* s, Vec3 at, uint32_t colour = 0xFFFFFFFF, const Mat4* cam = nullptr, float size = 2.0f)
    {
        // colour is 0xAARRGGBB.
        const uint8_t rgba[4] = {(uint8_t)(colour >> 16), (uint8_t)(colour >> 8), (uint8_t)colour,
                                 (uint8_t)(colour >> 24)};
        const float wh[2] = {size, size};
        return Billboard_AddFacing(s, &at, rgba, cam, wh, 0);
    }
};

TEST_F(BillboardTest, SpriteFramesMustDivideTheImageHeight)
{
    struct Case {
        const char* path;
        uint32_t frameHeight;
        bool loads;
        uint32_t frames;
    };
    for (const Case c :
         {Case{"strip.png", 64, true, 4}, Case{"strip.png", 256, true, 1}, Case{"strip.png", 60, false, 0},
          Case{"strip.png", 0, false, 0}, Case{"missing.png", 64, false, 0}}) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.frameHeight));
        Sprite3d* s = Sprite3d_LoadSprite(c.path, nullptr, c.frameHeight, 0);
        ASSERT_EQ(s != nullptr, c.loads);
        if (!s) continue;
        EXPECT_EQ(s->frameCount, c.frames);
        EXPECT_FLOAT_EQ(s->frameFraction, 1.0f / (float)c.frames);
        EXPECT_FLOAT_EQ(s->width, 64.0f);
        EXPECT_FLOAT_EQ(s->height, 256.0f);
        EXPECT_EQ(s->renderValue, 3u);
        Sprite3d_Release(s);
    }
    EXPECT_EQ(List_Count(Sprite3d_GetPool()), 0u);
}

TEST_F(BillboardTest, BlendModesFollowTheTable)
{
    struct Row {
        uint32_t mode, src, dest, zWrite, zTest;
    };
    Sprite3d* s = Sprite3d_LoadSprite("white.png", nullptr, 16, 0);
    ASSERT_NE(s, nullptr);
    for (const Row r :
         {Row{0, 2, 2, 0, 1}, Row{1, 1, 4, 0, 1}, Row{2, 5, 6, 0, 1}, Row{3, 2, 2, 0, 0}, Row{4, 2, 1, 1, 1},
          Row{5, 5, 6, 1, 1}, Row{6, 5, 6, 1, 0}, Row{7, 2, 1, 1, 1}, Row{99, 2, 1, 1, 1}}) {
        Sprite3d_SetBlendMode(s, r.mode);
        EXPECT_EQ(s->srcBlend, r.src) << r.mode;
        EXPECT_EQ(s->destBlend, r.dest) << r.mode;
        EXPECT_EQ(s->zWrite, r.zWrite) << r.mode;
        EXPECT_EQ(s->zTest, r.zTest) << r.mode;
    }
    // A clone shares the texture and keeps it alive after the original goes.
    Sprite3d* copy = Sprite3d_Clone(s);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->texture, s->texture);
    EXPECT_EQ(s->texture->refCount, 2);
    Sprite3d_Release(s);
    EXPECT_EQ(copy->texture->refCount, 1);
    Sprite3d_Release(copy);
}

TEST_F(BillboardTest, AFullBatchDropsOrOverwritesTheRingSlot)
{
    Sprite3d* s = Sprite3d_LoadSprite("white.png", nullptr, 16, 0);
    BillboardBatch* b = Billboard_GetBatch();
    ASSERT_EQ(b->capacity, 500u);
    for (int i = 0; i < 500; i++) ASSERT_EQ(Facing(s, {0, 0, (float)i}), 1);
    EXPECT_EQ(Facing(s, {9, 9, 9}), 0);
    EXPECT_EQ(b->quadCount, 500u);

    Billboard_SetWrap(1);
    for (int i = 0; i < 502; i++) ASSERT_EQ(Facing(s, {1, 2, (float)i}), 1);
    // 502 overwrites: slots 0 .. 499, then 0 and 1 again; nothing is added
    // to the sort list twice.
    EXPECT_EQ(b->quadCount, 500u);
    EXPECT_EQ(b->vertexCount, 2000u);
    EXPECT_EQ(b->ringPosition, 2u);
    ExpectVec(b->quads[0].centre, 1, 2, 500);
    ExpectVec(b->quads[2].centre, 1, 2, 2);
    for (uint32_t i = 0; i < 500; i++) EXPECT_EQ(b->sortList[i], i);

    Billboard_ResetCounts();
    EXPECT_EQ(b->quadCount + b->vertexCount + b->ringPosition, 0u);
    EXPECT_EQ(Facing(s, {0, 0, 1}), 1);
    EXPECT_EQ(b->quadCount, 1u);
    Sprite3d_Release(s);
}

TEST_F(BillboardTest, QuadCornersColoursAndFrames)
{
    Sprite3d* s = Sprite3d_LoadSprite("strip.png", nullptr, 64, 0);
    BillboardBatch* b = Billboard_GetBatch();
    // Camera right (0, 0, -1), up (1, 0, 0): R = (0, 0, -1), U = (2, 0, 0)
    // for a 2 x 4 quad.
    Mat4 cam = Identity();
    cam.m[0][0] = 0, cam.m[0][2] = -1, cam.m[1][0] = 1, cam.m[1][1] = 0;
    const uint8_t rgba[4] = {10, 20, 30, 40};
    const float size[2] = {2, 4};
    const Vec3 centre = {5, 6, 7};
    ASSERT_EQ(Billboard_AddFacing(s, &centre, rgba, &cam, size, 3), 1);
    const BillboardQuad& f = b->quads[0];
    ExpectVec(f.corners[0], 2, 0, 1);    // U - R
    ExpectVec(f.corners[1], 2, 0, -1);   // U + R
    ExpectVec(f.corners[2], -2, 0, 1);   // -(U + R)
    ExpectVec(f.corners[3], -2, 0, -1);  // R - U
    ExpectVec(f.vertices[1].position, 7, 6, 6);
    EXPECT_EQ(f.vertices[0].colour, 0x280A141Eu);
    EXPECT_FLOAT_EQ(f.vertices[0].u, 0.01f);
    EXPECT_FLOAT_EQ(f.vertices[3].u, 0.99f);
    EXPECT_FLOAT_EQ(f.vertices[0].v, 3.01f * 0.25f);
    EXPECT_FLOAT_EQ(f.vertices[3].v, 3.99f * 0.25f);
    const uint16_t indices[6] = {0, 1, 2, 1, 2, 3};
    for (int k = 0; k < 6; k++) EXPECT_EQ(f.indices[k], indices[k]);

    // Oriented: normal (0, 1, 0) and forward (0, 0, 1) give right (1, 0, 0).
    const Vec3 normal = {0, 1, 0}, forward = {0, 0, 1};
    const float colour[4] = {1.0f, 0.5f, 0.25f, 0.65f};
    ASSERT_EQ(Billboard_AddOriented(s, &centre, &normal, &forward, colour, size, 4), 1);
    const BillboardQuad& o = b->quads[1];
    ExpectVec(o.corners[0], 4, 6, 9);              // centre - R + A
    ExpectVec(o.corners[1], 6, 6, 9);              // centre + R + A
    ExpectVec(o.corners[2], 4, 6, 5);              // centre - R - A
    ExpectVec(o.corners[3], 6, 6, 5);              // centre + R - A
    EXPECT_EQ(o.vertices[2].colour, 0xA5FF7F3Fu);  // each x 255 truncated
    // Frame 4 of a 4-frame sprite is out of range and taken as 0.
    EXPECT_EQ(o.frame, 0u);
    EXPECT_FLOAT_EQ(o.vertices[0].v, 0.01f * 0.25f);
    EXPECT_EQ(o.indices[0], 4);
    EXPECT_NE(o.sortKey, f.sortKey);  // other frame, other key
    Sprite3d_Release(s);
}

TEST_F(BillboardTest, TheDrawFacesEachViewAndSkipsFarOrInactiveQuads)
{
    Sprite3d* s = Sprite3d_LoadSprite("white.png", nullptr, 16, 3);
    const Mat4 front = Identity();
    // Added facing the camera that looks along +z, then drawn from one that
    // looks along +x at a quad 5 units ahead: edge-on unless turned to it.
    Facing(s, {5, 0, 0}, 0xFFFFFFFF, &front);
    EXPECT_EQ(DrawWith(Looking({0, 0, 0}, {1, 0, 0})), 1u);
    EXPECT_GT(CountColour(0xFFFFFF), 1000);
    EXPECT_EQ(Pixel(width / 2, height / 2), 0xFFFFFFu);

    Billboard_SetActive(0);
    EXPECT_EQ(DrawWith(Looking({0, 0, 0}, {1, 0, 0})), 0u);
    EXPECT_EQ(CountColour(0xFFFFFF), 0);
    Billboard_SetActive(1);

    // 300 from the camera is drawn, beyond it not.
    Billboard_ResetCounts();
    Facing(s, {0, 0, 300}, 0xFFFFFFFF, nullptr, 40.0f);
    EXPECT_EQ(DrawWith(front), 1u);
    Billboard_ResetCounts();
    Facing(s, {0, 0, 300.5f}, 0xFFFFFFFF, nullptr, 40.0f);
    EXPECT_EQ(DrawWith(front), 0u);
    Sprite3d_Release(s);
}

TEST_F(BillboardTest, MaterialsDrawInTheOrderAddedAndFarthestFirstWithinOne)
{
    // Alpha blending with Z test and no Z write: what is drawn last shows.
    Sprite3d* one = Sprite3d_LoadSprite("white.png", nullptr, 16, 2);
    Sprite3d* other = Sprite3d_LoadSprite("strip.png", nullptr, 64, 2);
    Facing(one, {0, 0, 4}, 0xFFFF0000);  // near red first
    Facing(one, {0, 0, 6}, 0xFF0000FF);  // far blue second
    EXPECT_EQ(DrawWith(Identity()), 2u);
    EXPECT_EQ(Pixel(width / 2, height / 2), 0xFF0000u);
    // Whatever the keys' values, the material added first is drawn first.
    for (bool otherFirst : {false, true}) {
        Billboard_ResetCounts();
        Facing(otherFirst ? other : one, {0, 0, 5}, 0xFFFFFFFF);
        Facing(otherFirst ? one : other, {0, 0, 5}, 0xFFFFFFFF);
        EXPECT_EQ(DrawWith(Identity()), 2u);
        // The strip's top frame is red, the white sprite white.
        EXPECT_EQ(Pixel(width / 2, height / 2), otherFirst ? 0xFFFFFFu : 0xFF0000u) << otherFirst;
    }
    Sprite3d_Release(one);
    Sprite3d_Release(other);
}

TEST_F(BillboardTest, AShadowDarkensByItsAlphaAndTheDrawPutsStatesBack)
{
    Sprite3d* shadow = Sprite3d_LoadSprite("white.png", nullptr, 16, 1);
    const Vec3 centre = {0, 0, 5}, normal = {0, 0, -1}, forward = {0, 1, 0};
    const float colour[4] = {1, 1, 1, 0.25f}, size[2] = {4, 4};
    ASSERT_EQ(Billboard_AddOriented(shadow, &centre, &normal, &forward, colour, size, 0), 1);
    const Mat4 cam = Identity();
    PlaceCamera(cam);
    uint32_t cull = 0, zWrite = 0, fog = 1;
    DrawFrame(
        [&] {
            RenderState_Set(20, (void*)3);
            RenderState_Set(8, (void*)1);
            RenderState_Set(14, (void*)0);
            EXPECT_EQ(Billboard_Draw(&cam), 1u);
            RenderState_Get(20, &cull);
            RenderState_Get(8, &zWrite);
            RenderState_Get(14, &fog);
        },
        0xFFFFFF);
    EXPECT_NEAR(Channel(Pixel(width / 2, height / 2), 8), 191, 2);
    EXPECT_EQ(cull, 3u);
    EXPECT_EQ(zWrite, 1u);
    EXPECT_EQ(fog, 0u);
    Sprite3d_Release(shadow);
}

TEST_F(BillboardTest, AQuadBatchFlushesTheSecondPassFirstAndEmpties)
{
    QuadBatch* q = QuadBatch_Create(2, 1);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(QuadBatch_AddQuad(q, 10, 10, 100, 100, 0xFF0000FF, 0), 1);
    EXPECT_EQ(QuadBatch_AddQuad(q, 50, 50, 150, 150, 0xFFFF0000, QUADBATCH_SECOND_PASS), 1);
    EXPECT_EQ(QuadBatch_AddQuad(q, 0, 0, 1, 1, 0xFFFF0000, QUADBATCH_SECOND_PASS), 0);  // full
    uint32_t zTest = 0;
    DrawFrame([&] {
        RenderState_Set(20, (void*)2);
        QuadBatch_Flush(q);
        RenderState_Get(6, &zTest);
    });
    EXPECT_EQ(Pixel(75, 75), 0x0000FFu);  // the first pass lies over the second
    EXPECT_EQ(Pixel(120, 120), 0xFF0000u);
    EXPECT_EQ(Pixel(20, 20), 0x0000FFu);
    EXPECT_EQ(zTest, 1u);
    EXPECT_EQ(q->count[0] + q->count[1], 0u);
    QuadBatch_Destroy(q);
}

}  // namespace
