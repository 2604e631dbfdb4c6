#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

class AtomicTest : public WorldTest {
protected:
    // The one textured, prelit triangle of the 424-byte example.
    static Atomic* MakeExample()
    {
        Geometry* g = Geometry_Create(3, 1, 0x4C);
        Material* m = MakeMaterial(10, 20, 30, 255);
        Texture* t = Texture_Read("brick", "");
        t->filterAddressing = 0x1102;
        Material_SetTexture(m, t);
        Texture_Destroy(t);
        const Vec3 v[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        for (int i = 0; i < 3; i++) {
            g->morphTarget[0].verts[i] = v[i];
            g->preLitLum[i] = RGBA{(uint8_t)(50 * i), 100, 150, 255};
            g->texCoords[0][i] = TexCoords{v[i].x, v[i].y};
        }
        Geometry_SetTriangleVertexIndices(g, &g->triangles[0], 0, 1, 2);
        Geometry_SetTriangleMaterial(g, &g->triangles[0], m);
        MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
        Geometry_Unlock(g);
        Atomic* a = MakeAtomic(g);
        Geometry_Destroy(g);
        Material_Destroy(m);
        return a;
    }
};

TEST_F(AtomicTest, TheExampleAtomicIsWrittenAsLaidOutReadsBackByteForByteAndRefusesEveryBrokenPart)
{
    Atomic* a = MakeExample();
    const Bytes bytes = WriteAtomic(a);
    ASSERT_EQ(bytes.size(), 424u);
    const uint32_t words[][2] = {
        {0, 0x14},  {4, 412},   {8, 0x1400FFFF}, {12, 1},        {16, 16},          {32, 5},
        {40, 0x0F}, {44, 360},  {52, 1},         {56, 120},      {64, 0x0001004C},  {68, 1},
        {72, 3},    {76, 1},    {116, 1},        {120, 2 << 16}, {140, 1},          {144, 0},
        {184, 8},   {188, 160}, {196, 1},        {200, 8},       {208, 1},          {212, (uint32_t)-1},
        {216, 7},   {220, 128}, {228, 1},        {232, 28},      {252, 1},          {256, 0x3F800000},
        {268, 6},   {272, 64},  {280, 1},        {284, 4},       {292, 0x00011102}, {296, 2},
        {300, 8},   {316, 2},   {320, 4},        {328, 0},       {332, 3},          {336, 0},
        {344, 3},   {348, 0},   {356, 3},        {360, 44},      {368, 0x50E},      {372, 32},
        {380, 0},   {384, 1},   {388, 3},        {392, 3},       {396, 0},          {400, 0},
        {404, 1},   {408, 2},   {412, 3},        {416, 0},
    };
    for (const auto& w : words) EXPECT_EQ(U32(bytes, w[0]), w[1]) << "at " << w[0];
    EXPECT_EQ(memcmp(bytes.data() + 308, "brick\0\0\0", 8), 0);
    EXPECT_EQ(memcmp(bytes.data() + 244, a->geometry->matList.materials[0]->colour, 4), 0);
    Atomic_Destroy(a);

    // Read with no "brick" around: a new texture with one reference.
    const long before = Live();
    Bytes copy = bytes;
    Atomic* back = ReadAtomic(copy);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->object.header.flags, ATOMIC_COLLISION_TEST | ATOMIC_RENDER);
    EXPECT_EQ(back->geometry->refCount, 1);
    Texture* brick = back->geometry->matList.materials[0]->texture;
    ASSERT_NE(brick, nullptr);
    EXPECT_EQ(brick->refCount, 1);
    EXPECT_EQ(back->boundingSphere.radius, back->geometry->morphTarget[0].boundingSphere.radius);
    EXPECT_EQ(WriteAtomic(back), bytes);
    Atomic_Destroy(back);
    EXPECT_EQ(Live(), before);

    // An existing "brick" is shared and keeps its own filter word.
    Texture* existing = Texture_Read("brick", "");
    existing->filterAddressing = 0x1101;
    Atomic* shared = ReadAtomic(copy);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->geometry->matList.materials[0]->texture, existing);
    EXPECT_EQ(existing->refCount, 2);
    EXPECT_EQ(U32(WriteAtomic(shared), 292), 0x00011101u);
    Atomic_Destroy(shared);
    Texture_Destroy(existing);

    ExpectRefused(bytes,
                  {{"missing struct", 12, 99, ERR_END_OF_STREAM},
                   {"struct version", 20, 0x00020000, (int32_t)ERR_BAD_VERSION},
                   {"short struct read", kKeep, 0, ERR_END_OF_STREAM, 30},
                   {"geometry version", 48, 0x00020000, (int32_t)ERR_BAD_VERSION},
                   {"geometry triangle", 116, 7, WORLD_ERR_BAD_DATA},
                   {"extension sub-chunk past its chunk", 372, 40, (int32_t)ERR_SHORT_READ}},
                  ReadAtomic);
}

TEST_F(AtomicTest, WorldSphereFollowsScaledFramesIsCachedWhileCleanAndBlendsBetweenMorphTargets)
{
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
    Frame* f = Own(Frame_Create());
    Atomic* a = Own(MakeAtomic(g, f));
    const Vec3 scale = {2, 1, 1}, move = {5, 0, 0};
    Matrix_Scale(&f->modelling, &scale, COMBINE_REPLACE);
    Matrix_Translate(&f->modelling, &move, COMBINE_POSTCONCAT);
    Frame_MarkDirty(f);
    Frame_SyncDirtyList();
    const Sphere* s = Atomic_GetWorldBoundingSphere(a);
    EXPECT_NEAR(s->radius, 2 * a->boundingSphere.radius, 1e-3f);
    EXPECT_NEAR(s->center.x, 5.0f, 1e-5f);
    f->modelling.pos.x = 9;  // not marked: the cached sphere stays
    EXPECT_NEAR(Atomic_GetWorldBoundingSphere(a)->center.x, 5.0f, 1e-5f);
    Frame_MarkDirty(f);
    EXPECT_NEAR(Atomic_GetWorldBoundingSphere(a)->center.x, 9.0f, 1e-5f);

    // The same geometry again keeps its one reference; KEEP_SPHERE keeps the sphere.
    Atomic_SetGeometry(a, g, 0);
    EXPECT_EQ(g->refCount, 2);
    const Sphere kept = a->boundingSphere;
    Geometry* morph = Own(Geometry_Create(3, 0, GEOMETRY_POSITIONS));
    Geometry_AddMorphTarget(morph);
    morph->morphTarget[0].boundingSphere = Sphere{{0, 0, 0}, 1};
    morph->morphTarget[1].boundingSphere = Sphere{{4, 2, 0}, 3};
    Atomic_SetGeometry(a, morph, ATOMIC_SETGEOMETRY_KEEP_SPHERE);
    EXPECT_EQ(a->boundingSphere.radius, kept.radius);
    Atomic_SetGeometry(a, morph, 0);
    Atomic_SetFrame(a, nullptr);  // the spheres below in the atomic's space
    const struct {
        int16_t start, end;
        float position;
        Sphere expected;
    } cases[] = {{0, 1, 0.5f, {{2, 1, 0}, 2}},
                 {1, 1, 0.5f, {{4, 2, 0}, 3}},
                 {0, 1, 0.0f, {{0, 0, 0}, 1}},
                 {0, 5, 0.5f, {{0, 0, 0}, 1}}};  // a target past the geometry's: target 0
    for (const auto& c : cases) {
        Atomic_SetMorphBlend(a, c.start, c.end, c.position, 1.0f);
        const Sphere* b = Atomic_GetWorldBoundingSphere(a);
        EXPECT_FLOAT_EQ(b->radius, c.expected.radius) << c.start << c.end << c.position;
        EXPECT_FLOAT_EQ(b->center.x, c.expected.center.x);
        EXPECT_FLOAT_EQ(b->center.y, c.expected.center.y);
    }
}

}  // namespace
