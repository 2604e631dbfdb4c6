#include "engine/lwo.h"

#include <cmath>
#include <cstring>

#include "engine/loaderror.h"
#include "engine_fixture.h"
#include "tools/lib/lwowrite.h"

namespace {

// Six faces of the cube [-1, 1]^3, each split into two triangles, wound so
// that the face normals point outwards.
LwoWriterLayer Cube(uint32_t tag = 0)
{
    LwoWriterLayer layer;
    for (int i = 0; i < 8; i++) {
        layer.points.push_back(i & 1 ? 1.0f : -1.0f);
        layer.points.push_back(i & 2 ? 1.0f : -1.0f);
        layer.points.push_back(i & 4 ? 1.0f : -1.0f);
    }
    const uint32_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    auto point = [&](uint32_t i) { return Vec3{layer.points[i * 3], layer.points[i * 3 + 1], layer.points[i * 3 + 2]}; };
    for (const auto& q : quads) {
        uint32_t v[4] = {q[0], q[1], q[2], q[3]};
        const Vec3 a = point(v[0]), b = point(v[1]), c = point(v[2]);
        const Vec3 e1 = {b.x - a.x, b.y - a.y, b.z - a.z}, e2 = {c.x - b.x, c.y - b.y, c.z - b.z};
        const Vec3 n = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
        const Vec3 centre = {(a.x + c.x) / 2, (a.y + c.y) / 2, (a.z + c.z) / 2};
        if (n.x * centre.x + n.y * centre.y + n.z * centre.z < 0) std::swap(v[1], v[3]);
        layer.polygons.push_back({{v[0], v[1], v[2]}, tag});
        layer.polygons.push_back({{v[0], v[2], v[3]}, tag});
    }
    return layer;
}

// A single triangle layer at an offset, for layering tests.
LwoWriterLayer Triangle(uint16_t number, float x, uint32_t tag)
{
    LwoWriterLayer layer;
    layer.number = number;
    layer.points = {x, 0, 0, x, 1, 0, x + 1, 0, 0};
    layer.polygons.push_back({{0, 1, 2}, tag});
    return layer;
}

LwoWriterSurface Surface(const std::string& name)
{
    LwoWriterSurface s;
    s.name = name;
    return s;
}

class LwoTest : public EngineFileTest {
protected:
    LwoObject* Load(const LwoWriterObject& object, int32_t layer = -1)
    {
        WriteData("Objects\\Thing.lwo", LwoWriter_Write(object));
        return Lwo_Load("Objects\\Thing", &layer, 0, 0);
    }
    LwoObject* LoadBytes(const std::vector<uint8_t>& bytes)
    {
        WriteData("Objects\\Raw.lwo", bytes);
        return Lwo_Open("Objects\\Raw.lwo", -1);
    }
};

TEST_F(LwoTest, TwoLayersMergeWithIndicesOffsetPerLayerOrLoadAlone)
{
    LwoWriterObject object;
    object.tags = {"Red", "Blue"};
    object.surfaces = {Surface("Red"), Surface("Blue")};
    object.surfaces[0].colour[0] = 1.0f;
    object.layers = {Triangle(1, 0, 0), Triangle(2, 10, 1)};
    LwoObject* o = Load(object);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_EQ(o->version, 2);
    EXPECT_EQ(o->layerCount, 2);
    ASSERT_EQ(o->pointCount, 6u);
    ASSERT_EQ(o->polygonCount, 2u);
    EXPECT_EQ(o->indices[3], 3u);
    EXPECT_EQ(o->indices[5], 5u);
    EXPECT_EQ(o->polygons[0].surface, 0);
    EXPECT_EQ(o->polygons[1].surface, 1);
    Vec3 p;
    Lwo_GetCornerPosition(o, 1, 2, &p);
    EXPECT_EQ(p.x, 11.0f);
    EXPECT_STREQ(o->folder, "Objects");
    EXPECT_EQ(o->surfaces[0].colour[0], 1.0f);
    EXPECT_NEAR(o->surfaces[0].smoothCos, 0.99999f, 1e-7f);
    Lwo_Free(o);

    int32_t layer = 1;
    o = Lwo_Load("Objects\\Thing.lwo", &layer, 0, 0);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(layer, 1);
    ASSERT_EQ(o->pointCount, 3u);
    EXPECT_EQ(o->points[0].x, 10.0f);
    EXPECT_EQ(o->polygons[0].surface, 1);
    Lwo_Free(o);

    int32_t index = 0;
    EXPECT_EQ(Lwo_FindLayer("Objects\\Thing", 2, &index), 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Lwo_FindLayer("Objects\\Thing", 7, &index), 0);
    EXPECT_EQ(index, -2);
}

TEST_F(LwoTest, QuadFailsWhileTheSameObjectTriangulatedLoads)
{
    LwoWriterObject object;
    object.tags = {"S"};
    object.surfaces = {Surface("S")};
    LwoWriterLayer quad;
    quad.points = {0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0};
    quad.polygons = {{{0, 1, 2, 3}, 0}};
    object.layers = {quad};
    for (int version : {1, 2}) {
        object.version = version;
        object.layers[0].polygons = {{{0, 1, 2, 3}, 0}};
        EXPECT_EQ(Load(object), nullptr);
        EXPECT_NE(std::string(LoadError_Get()).find("4 vertices"), std::string::npos) << LoadError_Get();
        object.layers[0].polygons = {{{0, 1, 2}, 0}, {{0, 2, 3}, 0}};
        LwoObject* o = Load(object);
        ASSERT_NE(o, nullptr) << LoadError_Get();
        EXPECT_EQ(o->version, version);
        EXPECT_EQ(o->polygonCount, 2u);
        EXPECT_EQ(o->polygons[1].surface, 0);
        Lwo_Free(o);
    }
}

TEST_F(LwoTest, FourByteIndexNamesAPointOfTheLayer)
{
    // 292 points; the triangle's first index written as FF 00 01 23.
    LwoBytes pnts, pols, form;
    for (int i = 0; i < 292; i++) pnts.F4((float)i), pnts.F4(0), pnts.F4(0);
    pols.Id("FACE");
    pols.U2(3);
    pols.U1(0xFF), pols.U1(0x00), pols.U2(0x0123);
    pols.U2(1);
    pols.U2(2);
    form.Id("LWO2");
    form.Chunk("PNTS", pnts);
    form.Chunk("POLS", pols);
    LwoBytes file;
    file.Chunk("FORM", form);
    LwoObject* o = LoadBytes(file.data);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_EQ(o->indices[0], 291u);
    EXPECT_EQ(o->polygons[0].surface, -1);
    Lwo_Free(o);
    // And the writer chooses the long form by itself.
    LwoBytes vx;
    vx.VX(0xFF00);
    vx.VX(0xFEFF);
    EXPECT_EQ(vx.data, (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x00, 0xFE, 0xFF}));
}

TEST_F(LwoTest, ClipsNameStillImagesAndSequenceFrames)
{
    LwoWriterObject object;
    object.tags = {"Still", "Seq", "Env", "Plain"};
    object.surfaces = {Surface("Still"), Surface("Seq"), Surface("Env"), Surface("Plain")};
    object.clips.resize(3);
    object.clips[0].still = "Images\\Sub/wood.png";
    object.clips[1].prefix = "Anim\\img";
    object.clips[1].suffix = ".png";
    object.clips[1].digits = 3;
    object.clips[1].first = 7;
    object.clips[1].last = 10;
    object.clips[2].still = "chrome.bmp";
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].clip = 1;
    object.surfaces[1].blocks.resize(1);
    object.surfaces[1].blocks[0].clip = 2;
    object.surfaces[2].reflection = 0.4f;
    object.surfaces[2].reflectionClip = 3;
    object.surfaces[3].reflection = 0.4f;  // a reflection without an image
    object.layers = {Triangle(0, 0, 0)};
    LwoObject* o = Load(object);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    char name[64];
    EXPECT_EQ(Lwo_GetSurfaceClipCount(o, 0), 1u);
    ASSERT_EQ(Lwo_GetSurfaceImageName(o, 0, 0, name, sizeof name), 1);
    EXPECT_STREQ(name, "wood.png");
    EXPECT_EQ(Lwo_GetSurfaceClipCount(o, 1), 4u);
    ASSERT_EQ(Lwo_GetSurfaceImageName(o, 1, 0, name, sizeof name), 1);
    EXPECT_STREQ(name, "img007.png");
    Lwo_GetSurfaceImageName(o, 1, 3, name, sizeof name);
    EXPECT_STREQ(name, "img010.png");
    EXPECT_EQ(Lwo_GetSurfaceClipCount(o, 2), 0u);
    float value;
    EXPECT_EQ(Lwo_GetSurfaceReflection(o, 2, name, sizeof name, &value), 1);
    EXPECT_STREQ(name, "chrome.bmp");
    EXPECT_FLOAT_EQ(value, 0.4f);
    EXPECT_EQ(Lwo_GetSurfaceReflection(o, 3, name, sizeof name, &value), 0);
    EXPECT_EQ(Lwo_GetSurfaceReflection(o, 0, name, sizeof name, &value), 0);
    Lwo_Free(o);
}

TEST_F(LwoTest, VertexMapsAnswerPerCornerWithPolygonEntriesWinning)
{
    LwoWriterObject object;
    object.tags = {"Painted"};
    object.surfaces = {Surface("Painted")};
    object.surfaces[0].vertexColourMap = "Paint";
    object.surfaces[0].vertexColourIntensity = 0.5f;
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].uvMap = "UV";
    LwoWriterLayer first = Triangle(1, 0, 0), second = Triangle(2, 5, 0);
    second.polygons.push_back({{2, 1, 0}, 0});
    // Per point, and one per-polygon entry of the second layer's polygon 1
    // that must win for that polygon only.
    second.maps.push_back({"TXUV", 2, "UV", {{0, -1, {0.25f, 0.75f}}, {0, 1, {0.5f, 0.5f}}}});
    second.maps.push_back({"WGHT", 1, "Arm", {{1, -1, {0.3f}}}});
    second.maps.push_back({"RGB ", 3, "Paint", {{2, -1, {1.0f, 0.5f, 0.0f}}}});
    second.maps.push_back({"MORF", 3, "Smile", {{0, -1, {0.0f, 0.1f, 0.0f}}}});
    second.maps.push_back({"RGBA", 4, "Glow", {{0, 0, {0, 0, 1, 0.5f}}}});
    second.maps.push_back({"PICK", 0, "Ignored", {{0, -1, {}}}});
    object.layers = {first, second};
    LwoObject* o = Load(object);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    ASSERT_EQ(Lwo_GetTexCoordSetCount(o), 1u);
    float u, v;
    // Point 3 is the second layer's first point; polygons 1 and 2 use it.
    ASSERT_EQ(Lwo_GetTexCoord(o, 0, 1, 3, &u, &v), 1);
    EXPECT_FLOAT_EQ(u, 0.25f);
    EXPECT_FLOAT_EQ(v, 0.25f);  // stored as 1 - v
    ASSERT_EQ(Lwo_GetTexCoord(o, 0, 2, 3, &u, &v), 1);
    EXPECT_FLOAT_EQ(u, 0.5f);
    EXPECT_EQ(Lwo_GetTexCoord(o, 0, 1, 4, &u, &v), 0);
    EXPECT_EQ(Lwo_GetSurfaceTexCoordMap(o, 0), 0);

    const int32_t arm = Lwo_FindVertexMap(o, LWO_MAP_WEIGHT, "Arm");
    ASSERT_EQ(arm, 0);
    EXPECT_FLOAT_EQ(Lwo_GetWeight(o, (uint32_t)arm, 1, 1), 0.3f);
    EXPECT_FLOAT_EQ(Lwo_GetWeight(o, (uint32_t)arm, 1, 0), 0.0f);
    EXPECT_EQ(Lwo_FindVertexMap(o, LWO_MAP_WEIGHT, "Leg"), -1);
    EXPECT_EQ(o->mapCount[LWO_MAP_MORPH], 1u);
    EXPECT_EQ(o->mapCount[LWO_MAP_COLOUR], 2u);

    uint32_t colour = 0;
    // Corner 2 of polygon 1 is point 5: (1, 0.5, 0) at intensity 0.5.
    ASSERT_EQ(Lwo_GetVertexColour(o, 1, 2, &colour), 1);
    EXPECT_EQ(colour, 0xFF7F3F00u);
    EXPECT_EQ(Lwo_GetVertexColour(o, 1, 0, &colour), 0);
    EXPECT_EQ(Lwo_GetVertexColour(o, 0, 0, &colour), 0);  // first layer has no paint

    const Vec3 where = {6.0f, 0.000005f, 0.0f};
    EXPECT_EQ(Lwo_FindPoint(o, &where), 5);
    const Vec3 nowhere = {6.0f, 0.0001f, 0.0f};
    EXPECT_EQ(Lwo_FindPoint(o, &nowhere), -1);
    uint32_t polygon, corner;
    ASSERT_EQ(Lwo_FindPolygonWithPoint(o, 5, &polygon, &corner), 1);
    EXPECT_EQ(polygon, 1u);
    EXPECT_EQ(corner, 2u);
    Lwo_Free(o);
}

TEST_F(LwoTest, TextureCoordinateBeyondSixtyFourFails)
{
    LwoWriterObject object;
    object.tags = {"S"};
    object.surfaces = {Surface("S")};
    object.layers = {Triangle(0, 0, 0)};
    struct Case {
        float u, v;
        bool loads;
    } cases[] = {{64.0f, 0.0f, true}, {65.0f, 0.0f, false}, {0.0f, -63.5f, false}, {0.0f, 65.0f, true}, {NAN, 0, false}};
    for (const Case& c : cases) {
        object.layers[0].maps = {{"TXUV", 2, "UV", {{0, -1, {c.u, c.v}}}}};
        LwoObject* o = Load(object);
        EXPECT_EQ(o != nullptr, c.loads) << c.u << " " << c.v;
        Lwo_Free(o);
    }
}

TEST_F(LwoTest, PlanarCoordinatesFollowTheAxisOfEitherVersion)
{
    // The point (0.5, 0.25, -0.5) against centre (0, 0, 0) and size 2.
    const Vec3 point = {0.5f, 0.25f, -0.5f};
    struct Case {
        uint16_t axis2;  // AXIS of a version-2 block
        uint16_t flags1; // TFLG of a version-1 surface
        float u, v;
    } cases[] = {
        {0, 1, -0.25f + 0.5f, 1.0f - (0.125f + 0.5f)},  // x: u from z, v from y
        {1, 2, 0.25f + 0.5f, 1.0f - (-0.25f + 0.5f)},   // y: u from x, v from z
        {2, 4, 0.25f + 0.5f, 1.0f - (0.125f + 0.5f)},   // z: u from x, v from y
    };
    for (const Case& c : cases) {
        for (int version : {1, 2}) {
            LwoWriterObject object;
            object.version = version;
            object.tags = {"S"};
            object.surfaces = {Surface("S")};
            LwoWriterSurface& s = object.surfaces[0];
            if (version == 2) {
                s.blocks.resize(1);
                s.blocks[0].axis = c.axis2;
                for (float& x : s.blocks[0].size) x = 2.0f;
                s.blocks[0].projection = 0;
            } else {
                s.textureType = "Planar Image Map";
                s.textureImage = "Images\\grid.png";
                s.textureFlags = c.flags1;
                for (float& x : s.textureSize) x = 2.0f;
            }
            object.layers = {Triangle(0, 0, 0)};
            LwoObject* o = Load(object);
            ASSERT_NE(o, nullptr) << LoadError_Get();
            float u = 0, v = 0;
            ASSERT_EQ(Lwo_PlanarTexCoord(o, 0, LWO_CHANNEL_COLR, &point, &u, &v), 1) << version;
            EXPECT_FLOAT_EQ(u, c.u) << version << " axis " << c.axis2;
            EXPECT_FLOAT_EQ(v, c.v) << version << " axis " << c.axis2;
            if (version == 1) {
                char name[32];
                ASSERT_EQ(Lwo_GetSurfaceImageName(o, 0, 0, name, sizeof name), 1);
                EXPECT_STREQ(name, "grid.png");
            }
            Lwo_Free(o);
        }
    }
}

TEST_F(LwoTest, VersionOneSurfacesReadBytesAndFixedPoint)
{
    LwoWriterObject object;
    object.version = 1;
    object.tags = {"Old"};
    object.surfaces = {Surface("Old")};
    object.surfaces[0].colour[0] = 1.0f;
    object.surfaces[0].colour[1] = 0.0f;
    object.surfaces[0].colour[2] = 0.2f;
    object.surfaces[0].diffuse = 0.5f;
    object.surfaces[0].reflection = 0.25f;
    object.surfaces[0].reflectionImage = "env.bmp";
    object.layers = {Triangle(0, 0, 0), Triangle(0, 3, 0)};  // merged by the writer
    LwoObject* o = Load(object);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_EQ(o->version, 1);
    EXPECT_EQ(o->polygonCount, 2u);
    EXPECT_EQ(o->indices[3], 3u);
    EXPECT_FLOAT_EQ(o->surfaces[0].colour[2], 51 / 255.0f);
    EXPECT_FLOAT_EQ(o->surfaces[0].diffuse, 0.5f);
    char name[32];
    float value;
    EXPECT_EQ(Lwo_GetSurfaceReflection(o, 0, name, sizeof name, &value), 1);
    EXPECT_STREQ(name, "env.bmp");
    Lwo_Free(o);
}

TEST_F(LwoTest, CubeNormalsAreFlatBelowNinetyDegreesAndTheMeanOfThreeFacesAbove)
{
    for (float degrees : {80.0f, 100.0f}) {
        LwoWriterObject object;
        object.tags = {"Cube"};
        object.surfaces = {Surface("Cube")};
        object.surfaces[0].smoothingAngle = degrees * (float)M_PI / 180.0f;
        object.layers = {Cube()};
        LwoObject* o = Load(object);
        ASSERT_NE(o, nullptr) << LoadError_Get();
        ASSERT_EQ(Lwo_ComputeNormals(o), 1);
        for (uint32_t p = 0; p < o->polygonCount; p++) {
            for (uint32_t k = 0; k < 3; k++) {
                Vec3 n, at;
                Lwo_GetCornerNormal(o, p, k, &n);
                Lwo_GetCornerPosition(o, p, k, &at);
                if (degrees < 90) {
                    const Vec3& f = o->faceNormals[p];
                    EXPECT_NEAR(n.x, f.x, 1e-6f);
                    EXPECT_NEAR(n.y, f.y, 1e-6f);
                    EXPECT_NEAR(n.z, f.z, 1e-6f);
                    EXPECT_NEAR(std::fabs(f.x) + std::fabs(f.y) + std::fabs(f.z), 1.0f, 1e-6f);
                } else {
                    const float third = 1.0f / std::sqrt(3.0f);
                    EXPECT_NEAR(n.x, at.x * third, 1e-5f) << p << " " << k;
                    EXPECT_NEAR(n.y, at.y * third, 1e-5f);
                    EXPECT_NEAR(n.z, at.z * third, 1e-5f);
                }
            }
        }
        Lwo_Free(o);
    }
}

TEST_F(LwoTest, PolygonTagsOfASkippedPolygonChunkAreIgnoredAndPadBytesSkipped)
{
    LwoBytes tags, pnts, face, patch, ptagFace, ptagPatch, odd, form;
    tags.S0("A");
    tags.S0("B");
    pnts.F4(0), pnts.F4(0), pnts.F4(0), pnts.F4(0), pnts.F4(1), pnts.F4(0), pnts.F4(1), pnts.F4(0), pnts.F4(0);
    face.Id("FACE"), face.U2(3), face.U2(0), face.U2(1), face.U2(2);
    patch.Id("PTCH"), patch.U2(3), patch.U2(0), patch.U2(1), patch.U2(2);
    ptagFace.Id("SURF"), ptagFace.U2(0), ptagFace.U2(0);
    ptagPatch.Id("SURF"), ptagPatch.U2(0), ptagPatch.U2(1);
    odd.U1(1), odd.U1(2), odd.U1(3);
    form.Id("LWO2");
    form.Chunk("TAGS", tags);
    form.Chunk("XODD", odd);  // three bytes and a pad byte
    form.Chunk("PNTS", pnts);
    form.Chunk("POLS", face);
    form.Chunk("PTAG", ptagFace);
    form.Chunk("POLS", patch);
    form.Chunk("PTAG", ptagPatch);  // names the patch chunk: ignored
    LwoBytes file;
    file.Chunk("FORM", form);
    LwoObject* o = LoadBytes(file.data);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_EQ(o->polygonCount, 1u);
    EXPECT_EQ(o->polygons[0].surface, 0);
    Lwo_Free(o);
}

// A valid object with everything the parser reads, for the damage tests.
std::vector<uint8_t> RichObject()
{
    LwoWriterObject object;
    object.tags = {"Wood", "Metal"};
    object.surfaces = {Surface("Wood"), Surface("Metal")};
    object.clips.resize(2);
    object.clips[0].still = "wood.png";
    object.clips[1].prefix = "f";
    object.clips[1].suffix = ".png";
    object.clips[1].last = 3;
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].clip = 1;
    object.surfaces[0].blocks[0].uvMap = "UV";
    object.surfaces[0].smoothingAngle = 1.0f;
    object.surfaces[1].reflection = 0.5f;
    object.surfaces[1].reflectionClip = 2;
    object.surfaces[1].vertexColourMap = "Paint";
    LwoWriterLayer layer = Cube(0);
    for (size_t i = 6; i < layer.polygons.size(); i++) layer.polygons[i].tag = 1;
    layer.maps.push_back({"TXUV", 2, "UV", {{0, -1, {0, 0}}, {1, 3, {1, 1}}}});
    layer.maps.push_back({"WGHT", 1, "W", {{2, -1, {1}}, {3, 4, {0.5f}}}});
    layer.maps.push_back({"RGB ", 3, "Paint", {{4, -1, {1, 0, 0}}}});
    object.layers = {layer, Triangle(3, 4, 1)};
    return LwoWriter_Write(object);
}

TEST_F(LwoTest, EveryTruncationOfAValidFileFailsCleanly)
{
    const std::vector<uint8_t> full = RichObject();
    LwoObject* o = LoadBytes(full);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    Lwo_Free(o);
    for (size_t n = 0; n < full.size(); n++) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + (long)n);
        o = LoadBytes(cut);
        EXPECT_EQ(o, nullptr) << n;
        EXPECT_STRNE(LoadError_Get(), "") << n;
        // With the FORM size made to agree, the chunks themselves are cut:
        // the file fails, or loads when it ends between whole chunks.
        if (n >= 12) {
            const uint32_t size = (uint32_t)n - 8;
            cut[4] = (uint8_t)(size >> 24), cut[5] = (uint8_t)(size >> 16), cut[6] = (uint8_t)(size >> 8);
            cut[7] = (uint8_t)size;
            Lwo_Free(LoadBytes(cut));
        }
    }
}

TEST_F(LwoTest, DamagedFilesAreRefusedWithAReason)
{
    auto object = [](auto edit) {
        LwoWriterObject o;
        o.tags = {"S"};
        o.surfaces = {Surface("S")};
        o.clips.resize(1);
        o.clips[0].still = "a.png";
        o.layers = {Triangle(0, 0, 0)};
        edit(o);
        return LwoWriter_Write(o);
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"point index", object([](LwoWriterObject& o) { o.layers[0].polygons[0].points[2] = 3; }), "names point"},
        {"tag index", object([](LwoWriterObject& o) { o.layers[0].polygons[0].tag = 1; }), "tag index"},
        {"texture clip", object([](LwoWriterObject& o) { o.surfaces[0].blocks.resize(1), o.surfaces[0].blocks[0].clip = 2; }),
         "clip"},
        {"reflection clip", object([](LwoWriterObject& o) { o.surfaces[0].reflectionClip = 5; }), "clip"},
        {"map polygon", object([](LwoWriterObject& o) { o.layers[0].maps = {{"WGHT", 1, "W", {{0, 1, {1}}}}}; }),
         "polygon index"},
        {"map dimension", object([](LwoWriterObject& o) { o.layers[0].maps = {{"TXUV", 1, "UV", {{0, -1, {1}}}}}; }),
         "dimension"},
        {"no geometry", object([](LwoWriterObject& o) { o.layers.clear(); }), "no geometry"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadBytes(c.bytes), nullptr) << c.what;
        EXPECT_NE(std::string(LoadError_Get()).find(c.reason), std::string::npos) << c.what << ": " << LoadError_Get();
    }

    std::vector<uint8_t> good = object([](LwoWriterObject&) {});
    LwoObject* o = LoadBytes(good);
    ASSERT_NE(o, nullptr);
    Lwo_Free(o);
    std::vector<uint8_t> type = good;
    memcpy(&type[8], "LWO3", 4);
    EXPECT_EQ(LoadBytes(type), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("neither LWOB nor LWO2"), std::string::npos);
    std::vector<uint8_t> form = good;
    form[7] += 2;  // FORM claims two bytes more than the file has
    EXPECT_EQ(LoadBytes(form), nullptr);
    std::vector<uint8_t> chunk = good;
    chunk[12 + 4] = 0x7F;  // the first chunk (TAGS) claims a huge size
    EXPECT_EQ(LoadBytes(chunk), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("runs past the end"), std::string::npos);
    EXPECT_EQ(Lwo_Open("Objects\\Missing", -1), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("cannot open"), std::string::npos);
}

}  // namespace
