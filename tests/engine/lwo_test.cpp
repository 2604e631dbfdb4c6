#include "engine/lwo.h"

#include <cmath>
#include <cstring>
#include <tuple>

#include "engine/loaderror.h"
#include "engine_fixture.h"

namespace {

// One triangle at x on the tag, in layer `number`.
LwoWriterLayer Triangle(uint16_t number, float x, uint32_t tag)
{
    LwoWriterLayer layer = Strip(1, 1, x, number);
    layer.polygons[0].tag = tag;
    return layer;
}

bool Says(const char* reason) { return std::string(LoadError_Get()).find(reason) != std::string::npos; }

// An object with everything the reader reads: a cube on "Wood" (its last six
// triangles on "Metal") in layer 1 and a triangle at x = 10 on "Metal" in
// layer 2; a still clip, a four-frame sequence and a reflection image; a
// texture-coordinate map with a per-polygon entry that must win, a weight,
// colour, morph, RGBA and an ignored PICK map.
LwoWriterObject RichObject()
{
    LwoWriterObject o = Model({"Wood", "Metal", "Plain"}, {BoxLayer(1, {0, 0, 0}, 1), Triangle(2, 10, 1)});
    o.surfaces[0].colour[1] = 0.5f, o.surfaces[0].smoothingAngle = 1.0f;
    o.clips.resize(3);
    o.clips[0].still = "Images\\Sub/wood.png";
    o.clips[1].prefix = "Anim\\img", o.clips[1].suffix = ".png", o.clips[1].first = 7, o.clips[1].last = 10;
    o.clips[2].still = "chrome.bmp";
    o.surfaces[0].blocks.resize(1);
    o.surfaces[0].blocks[0].clip = 1, o.surfaces[0].blocks[0].uvMap = "UV";
    o.surfaces[1].blocks.resize(1);
    o.surfaces[1].blocks[0].clip = 2, o.surfaces[1].reflection = 0.4f, o.surfaces[1].reflectionClip = 3;
    o.surfaces[1].vertexColourMap = "Paint", o.surfaces[1].vertexColourIntensity = 0.5f;
    o.surfaces[2].reflection = 0.4f;  // a reflection without an image
    for (size_t i = 6; i < 12; i++) o.layers[0].polygons[i].tag = 1;
    LwoWriterLayer& t = o.layers[1];
    t.polygons.push_back({{2, 1, 0}, 1});
    t.maps = {{"TXUV", 2, "UV", {{0, -1, {0.25f, 0.75f}}, {0, 1, {0.5f, 0.5f}}}},
              {"WGHT", 1, "Arm", {{1, -1, {0.3f}}}},
              {"RGB ", 3, "Paint", {{2, -1, {1.0f, 0.5f, 0.0f}}}},
              {"MORF", 3, "Smile", {{0, -1, {0.0f, 0.1f, 0.0f}}}},
              {"RGBA", 4, "Glow", {{0, 0, {0, 0, 1, 0.5f}}}},
              {"PICK", 0, "Ignored", {{0, -1, {}}}}};
    return o;
}

class LwoTest : public EngineFileTest {
protected:
    LwoObject* Load(const LwoWriterObject& object) { return LoadBytes(LwoWriter_Write(object)); }
    LwoObject* LoadBytes(const std::vector<uint8_t>& bytes)
    {
        WriteData("Objects\\Thing.lwo", bytes);
        return Lwo_Open("Objects\\Thing", -1);
    }
};

TEST_F(LwoTest, ARichObjectReadsBackLayerByLayerAndEveryTruncationFailsCleanly)
{
    const std::vector<uint8_t> bytes = LwoWriter_Write(RichObject());
    LwoObject* o = LoadBytes(bytes);
    ASSERT_TRUE(o && o->pointCount == 11 && o->polygonCount == 14) << LoadError_Get();
    Vec3 p;
    Lwo_GetCornerPosition(o, 12, 2, &p);
    EXPECT_EQ(std::vector<float>({(float)o->version, (float)o->layerCount, (float)o->indices[12 * 3 + 2],
                                  (float)o->polygons[5].surface, (float)o->polygons[6].surface, p.x,
                                  o->surfaces[0].colour[1]}),
              std::vector<float>({2, 2, 10, 0, 1, 11, 0.5f}));
    EXPECT_TRUE(!strcmp(o->folder, "Objects") && std::fabs(o->surfaces[2].smoothCos - 0.99999f) < 1e-7f);
    char name[64];
    float value;
    auto image = [&](uint32_t surface, uint32_t clip) {
        return Lwo_GetSurfaceImageName(o, surface, clip, name, sizeof name) ? std::string(name) : "-";
    };
    EXPECT_EQ(std::vector<uint32_t>(
                  {Lwo_GetSurfaceClipCount(o, 0), Lwo_GetSurfaceClipCount(o, 1), Lwo_GetSurfaceClipCount(o, 2)}),
              std::vector<uint32_t>({1, 4, 0}));
    EXPECT_EQ(image(0, 0) + " " + image(1, 3), "wood.png img010.png");
    EXPECT_TRUE(Lwo_GetSurfaceReflection(o, 1, name, sizeof name, &value) &&
                name + (" " + Str({value, 0, 0})) == "chrome.bmp 0.4 0 0");
    EXPECT_EQ(Lwo_GetSurfaceReflection(o, 2, name, sizeof name, &value) +
                  Lwo_GetSurfaceReflection(o, 0, name, sizeof name, &value),
              0);
    ASSERT_EQ(Lwo_GetTexCoordSetCount(o), 1u);
    float u, v;
    ASSERT_EQ(Lwo_GetTexCoord(o, 0, 12, 8, &u, &v), 1);
    EXPECT_EQ(std::vector<float>({u, v}), std::vector<float>({0.25f, 0.25f}));  // v stored as 1 - v
    EXPECT_TRUE(Lwo_GetTexCoord(o, 0, 13, 8, &u, &v) && u == 0.5f);
    EXPECT_EQ(Lwo_GetTexCoord(o, 0, 12, 9, &u, &v) + Lwo_GetSurfaceTexCoordMap(o, 0), 0);
    ASSERT_EQ(Lwo_FindVertexMap(o, LWO_MAP_WEIGHT, "Arm"), 0);
    EXPECT_EQ(Str({Lwo_GetWeight(o, 0, 12, 1), Lwo_GetWeight(o, 0, 12, 0),
                   (float)Lwo_FindVertexMap(o, LWO_MAP_WEIGHT, "Leg")}),
              "0.3 0 -1");
    EXPECT_EQ(o->mapCount[LWO_MAP_MORPH] * 10 + o->mapCount[LWO_MAP_COLOUR], 12u);
    uint32_t colour = 0;  // point 10, (1, 0.5, 0) at intensity 0.5
    EXPECT_TRUE(Lwo_GetVertexColour(o, 12, 2, &colour) && colour == 0xFF7F3F00u) << colour;
    EXPECT_EQ(Lwo_GetVertexColour(o, 12, 0, &colour) + Lwo_GetVertexColour(o, 0, 0, &colour), 0);  // "Wood": no paint
    const Vec3 where = {11.0f, 0.000005f, 0.0f}, nowhere = {11.0f, 0.0001f, 0.0f};
    EXPECT_EQ(Lwo_FindPoint(o, &where) * 10 + Lwo_FindPoint(o, &nowhere), 99);
    uint32_t polygon, corner;
    EXPECT_TRUE(Lwo_FindPolygonWithPoint(o, 10, &polygon, &corner) && polygon * 10 + corner == 122);
    Lwo_Free(o);

    int32_t layer = 1;
    o = Lwo_Load("Objects\\Thing.lwo", &layer, 0, 0);
    ASSERT_TRUE(o && o->pointCount == 3 &&
                Str({(float)layer, o->points[0].x, (float)o->polygons[0].surface}) == "1 10 1");
    Lwo_Free(o);
    int32_t index = 0, missing = 0;
    EXPECT_TRUE(Lwo_FindLayer("Objects\\Thing", 2, &index) && !Lwo_FindLayer("Objects\\Thing", 7, &missing) &&
                index == 1 && missing == -2);

    for (size_t n = 0; n < bytes.size(); n++) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + (long)n);
        EXPECT_TRUE(!LoadBytes(cut) && *LoadError_Get()) << n;
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
        LwoWriterObject o = Model({"S"}, {Triangle(0, 0, 0)});
        o.clips.resize(1);
        o.clips[0].still = "a.png";
        edit(o);
        return LwoWriter_Write(o);
    };
    const std::vector<uint8_t> good = object([](LwoWriterObject&) {});
    auto patched = [&](size_t at, const char* bytes, size_t n) {
        std::vector<uint8_t> b = good;
        memcpy(&b[at], bytes, n);
        return b;
    };
    std::vector<uint8_t> longer = good;
    longer[7] += 2;  // FORM claims two bytes more than the file has
    // What is wrong, the bytes, the reason given.
    const std::tuple<const char*, std::vector<uint8_t>, const char*> cases[] = {
        {"point index", object([](LwoWriterObject& o) { o.layers[0].polygons[0].points[2] = 3; }), "names point"},
        {"tag index", object([](LwoWriterObject& o) { o.layers[0].polygons[0].tag = 1; }), "tag index"},
        {"texture clip",
         object([](LwoWriterObject& o) { o.surfaces[0].blocks.resize(1), o.surfaces[0].blocks[0].clip = 2; }), "clip"},
        {"reflection clip", object([](LwoWriterObject& o) { o.surfaces[0].reflectionClip = 5; }), "clip"},
        {"map polygon", object([](LwoWriterObject& o) {
             o.layers[0].maps = {{"WGHT", 1, "W", {{0, 1, {1}}}}};
         }),
         "polygon index"},
        {"map dimension", object([](LwoWriterObject& o) {
             o.layers[0].maps = {{"TXUV", 1, "UV", {{0, -1, {1}}}}};
         }),
         "dimension"},
        {"no geometry", object([](LwoWriterObject& o) { o.layers.clear(); }), "no geometry"},
        {"quad", object([](LwoWriterObject& o) { o.layers[0].polygons[0].points.push_back(1); }), "4 vertices"},
        {"quad, version 1",
         object([](LwoWriterObject& o) { o.version = 1, o.layers[0].polygons[0].points.push_back(1); }), "4 vertices"},
        {"form type", patched(8, "LWO3", 4), "neither LWOB nor LWO2"},
        {"form size", longer, ""},
        {"chunk size", patched(16, "\x7F", 1), "runs past the end"},  // the first chunk (TAGS)
    };
    for (const auto& [what, bytes, reason] : cases) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(!LoadBytes(bytes) && Says(reason)) << LoadError_Get();
    }
    LwoObject* o = LoadBytes(good);
    EXPECT_NE(o, nullptr);
    Lwo_Free(o);
    EXPECT_TRUE(!Lwo_Open("Objects\\Missing", -1) && Says("cannot open"));
}

TEST_F(LwoTest, TextureCoordinatesBeyondSixtyFourFail)
{
    LwoWriterObject object = Model({"S"}, {Triangle(0, 0, 0)});
    const float cases[][3] = {{64.0f, 0.0f, 1}, {65.0f, 0.0f, 0}, {0.0f, -63.5f, 0}, {0.0f, 65.0f, 1}, {NAN, 0, 0}};
    for (const auto& c : cases) {
        object.layers[0].maps = {{"TXUV", 2, "UV", {{0, -1, {c[0], c[1]}}}}};
        LwoObject* o = Load(object);
        EXPECT_EQ(o != nullptr, c[2] == 1) << c[0] << " " << c[1];
        Lwo_Free(o);
    }
}

TEST_F(LwoTest, VersionOneSurfacesAndPlanarCoordinatesOfEitherVersion)
{
    const Vec3 point = {0.5f, 0.25f, -0.5f};
    const float uv[3][2] = {{0.25f, 0.375f}, {0.75f, 0.75f}, {0.75f, 0.375f}};
    for (int version : {1, 2}) {
        for (uint16_t axis = 0; axis < 3; axis++) {
            SCOPED_TRACE(std::to_string(version) + " axis " + std::to_string(axis));
            LwoWriterObject object = Model({"S"}, {Triangle(0, 0, 0), Triangle(0, 3, 0)});
            object.version = version;
            LwoWriterSurface& s = object.surfaces[0];
            if (version == 2) {
                s.blocks.resize(1);
                s.blocks[0].axis = axis;
                for (float& x : s.blocks[0].size) x = 2.0f;
                s.blocks[0].projection = 0;
            } else {
                s.textureType = "Planar Image Map", s.textureImage = "Images\\grid.png";
                s.textureFlags = (uint16_t)(1 << axis);
                for (float& x : s.textureSize) x = 2.0f;
                s.colour[2] = 0.2f, s.diffuse = 0.5f, s.reflection = 0.25f, s.reflectionImage = "env.bmp";
            }
            LwoObject* o = Load(object);
            ASSERT_NE(o, nullptr) << LoadError_Get();
            float u = 0, v = 0;
            ASSERT_EQ(Lwo_PlanarTexCoord(o, 0, LWO_CHANNEL_COLR, &point, &u, &v), 1);
            // Version 1: the layers merged by the writer.
            EXPECT_EQ(std::vector<float>({u, v, (float)o->version, (float)o->indices[3]}),
                      std::vector<float>({uv[axis][0], uv[axis][1], (float)version, 3}));
            if (version == 1) {
                char name[32];
                float value;
                EXPECT_TRUE(Lwo_GetSurfaceImageName(o, 0, 0, name, sizeof name) && !strcmp(name, "grid.png"));
                // The colour in bytes, the diffuse level in fixed point.
                EXPECT_EQ(Str({o->surfaces[0].colour[2], o->surfaces[0].diffuse, 0}), Str({51 / 255.0f, 0.5f, 0}));
                EXPECT_TRUE(Lwo_GetSurfaceReflection(o, 0, name, sizeof name, &value) && !strcmp(name, "env.bmp"));
            }
            Lwo_Free(o);
        }
    }
}

TEST_F(LwoTest, RawChunksFourByteIndicesSkippedPolygonTagsAndPadBytes)
{
    LwoBytes tags, pnts, face, patch, ptagFace, ptagPatch, odd, form;
    tags.S0("A");
    tags.S0("B");
    for (int i = 0; i < 292; i++) pnts.F4((float)i), pnts.F4(0), pnts.F4(0);
    face.Id("FACE"), face.U2(3), face.U1(0xFF), face.U1(0x00), face.U2(0x0123), face.U2(1), face.U2(2);
    face.U2(3), face.U2(0), face.U2(1), face.U2(2);
    patch.Id("PTCH"), patch.U2(3), patch.U2(0), patch.U2(1), patch.U2(2);
    ptagFace.Id("SURF"), ptagFace.U2(0), ptagFace.U2(0);
    ptagPatch.Id("SURF"), ptagPatch.U2(0), ptagPatch.U2(1);
    odd.U1(1), odd.U1(2), odd.U1(3);
    form.Id("LWO2");
    // XODD: three bytes and a pad byte.
    for (const auto& [id, chunk] : {std::pair{"TAGS", &tags},
                                    {"XODD", &odd},
                                    {"PNTS", &pnts},
                                    {"POLS", &face},
                                    {"PTAG", &ptagFace},
                                    {"POLS", &patch},
                                    {"PTAG", &ptagPatch}})
        form.Chunk(id, *chunk);
    LwoBytes file;
    file.Chunk("FORM", form);
    LwoObject* o = LoadBytes(file.data);
    ASSERT_TRUE(o && o->polygonCount == 2) << LoadError_Get();
    EXPECT_EQ(Str({(float)o->indices[0], (float)o->polygons[0].surface, (float)o->polygons[1].surface}), "291 0 -1");
    Lwo_Free(o);
}

}  // namespace
