#include "engine/mesh.h"

#include <cstring>

#include "app/namecache.h"
#include "content_fixture.h"
#include "engine/loaderror.h"
#include "engine/materialanim.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "tools/lib/lwowrite.h"

namespace {

// n triangles in a row along x, each on surface tag (i % tags).
LwoWriterLayer Strip(uint32_t n, uint32_t tags = 1)
{
    LwoWriterLayer layer;
    for (uint32_t i = 0; i < n; i++) {
        const float x = (float)i;
        const float p[9] = {x, 0, 0, x, 1, 0, x + 1, 0, 0};
        layer.points.insert(layer.points.end(), p, p + 9);
        layer.polygons.push_back({{3 * i, 3 * i + 1, 3 * i + 2}, i % tags});
    }
    return layer;
}

LwoWriterSurface Surface(const std::string& name, float r = 1, float g = 1, float b = 1)
{
    LwoWriterSurface s;
    s.name = name;
    s.colour[0] = r, s.colour[1] = g, s.colour[2] = b;
    return s;
}

// An object of one plain white surface "S" over the layer.
LwoWriterObject Plain(const LwoWriterLayer& layer)
{
    LwoWriterObject object;
    object.tags = {"S"};
    object.surfaces = {Surface("S")};
    object.layers = {layer};
    return object;
}

class MeshTest : public ContentTest {
protected:
    void WriteObject(const std::string& name, const LwoWriterObject& object)
    {
        WriteData(name, LwoWriter_Write(object));
    }
    static Geometry* GeometryOf(RenderObj* o) { return Atomic_GetGeometry(o->atomic); }
    static Material* MaterialOf(RenderObj* o, int i) { return MaterialList_GetMaterial(&GeometryOf(o)->matList, i); }
};

TEST_F(MeshTest, FreshBuildMakesThreeVerticesPerTriangleAndIsSharedByPath)
{
    LwoWriterObject object;
    object.tags = {"Red", "Blue"};
    object.surfaces = {Surface("Red", 1, 0, 0), Surface("Blue", 0, 0, 1)};
    object.layers = {Strip(4, 2)};
    WriteObject("Objects\\Crate.lwo", object);
    int32_t created = 0;
    RenderObj* o = Mesh_Load("Objects\\Crate.lwo", 0, &created);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_EQ(created, 1);
    Geometry* g = GeometryOf(o);
    EXPECT_EQ(g->flags & 0xFF, (uint32_t)MESH_FORMAT_PLAIN);
    EXPECT_EQ(g->numVertices, 12);
    EXPECT_EQ(g->numTriangles, 4);
    ASSERT_EQ(g->matList.count, 2);
    EXPECT_EQ(MaterialOf(o, 0)->colour[0], 255);
    EXPECT_EQ(MaterialOf(o, 1)->colour[2], 255);
    EXPECT_EQ(g->triangles[1].matIndex, 1);
    EXPECT_EQ(g->morphTarget[0].verts[5].x, 2.0f);  // triangle 1, corner 2
    EXPECT_EQ(g->preLitLum[0].red, 255);
    EXPECT_EQ(o->blendFlags, 0u) << "no fog while the loader's fog flag is off";
    EXPECT_EQ(Atomic_GetWorld(o->atomic), world);
    EXPECT_NE(GeomCollision_GetGeometryData(g), nullptr);

    // The path with or without ".lwo" names one shared object.
    RenderObj* again = Mesh_Load("Objects\\Crate", 0, &created);
    EXPECT_EQ(again, o);
    EXPECT_EQ(created, 0);
    EXPECT_EQ(NameCache_GetCount(RenderObj_GetCache(), o), 2u);
    RenderObj_Release(&again);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(NameCache_GetCount(RenderObj_GetCache(), o), 1u);
    RenderObj_Release(&o);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
}

TEST_F(MeshTest, OneSidedAndTwoSidedLoadsAreTwoEntries)
{
    WriteObject("Objects\\Wall.lwo", Plain(Strip(2)));
    RenderObj* one = Mesh_Load("Objects\\Wall", 0, nullptr);
    RenderObj* two = Mesh_Load("Objects\\Wall", MESH_TWO_SIDED, nullptr);
    ASSERT_TRUE(one && two);
    EXPECT_NE(one, two);
    EXPECT_EQ(GeometryOf(two)->numTriangles, 4);
    EXPECT_EQ(GeometryOf(two)->numVertices, 12);
    EXPECT_NE(two->frame, nullptr);
    EXPECT_EQ(one->frame, nullptr);
    // The back face runs the other way over copies of the front's vertices.
    const Triangle& back = GeometryOf(two)->triangles[2];
    EXPECT_EQ(back.vertIndex[0], 6);
    EXPECT_EQ(back.vertIndex[1], 8);
    EXPECT_EQ(GeometryOf(two)->morphTarget[0].verts[8].x, GeometryOf(two)->morphTarget[0].verts[2].x);
    RenderObj* second = Mesh_Load("Objects\\Wall", MESH_TWO_SIDED, nullptr);
    EXPECT_EQ(second, two);
    RenderObj_Release(&second);
    RenderObj_Release(&two);
    RenderObj_Release(&one);
    // Each way has a cache of its own: neither gets the other's triangles.
    one = Mesh_Load("Objects\\Wall", 0, nullptr);
    two = Mesh_Load("Objects\\Wall", MESH_TWO_SIDED, nullptr);
    ASSERT_TRUE(one && two);
    EXPECT_NE(one->objectFlags & RENDEROBJ_FROM_CACHE, 0u) << LoadError_Get();
    EXPECT_NE(GeomCollision_GetGeometryData(GeometryOf(one)), nullptr);  // the cache keeps the tree
    EXPECT_NE(two->objectFlags & RENDEROBJ_FROM_CACHE, 0u) << LoadError_Get();
    EXPECT_EQ(GeometryOf(one)->numTriangles, 2);
    EXPECT_EQ(GeometryOf(two)->numTriangles, 4);
    RenderObj_Release(&two);
    RenderObj_Release(&one);
}

TEST_F(MeshTest, FileNamesAndTagsGiveRenderAndLoadFlags)
{
    struct Case {
        const char* path;
        uint32_t render;
        uint32_t load;
    } cases[] = {
        {"Objects\\A_Glass", RENDEROBJ_BLEND_ADD, 0},
        {"objects/s_shadow", RENDEROBJ_BLEND_MULTIPLY, 0},
        {"T_Leaf_ZT_ZW", RENDEROBJ_BLEND_ALPHA | RENDEROBJ_NO_ZTEST | RENDEROBJ_NO_ZWRITE, 0},
        {"Objects\\&WR_Thing", 0, 0},
        {"Objects\\&R_Thing", 0, MESH_LOAD_NO_ZWRITE},
        {"Objects\\&W_Thing", 0, MESH_LOAD_NO_ZTEST},
        {"Objects\\&MF_Thing", 0, 384},
        {"Objects\\&AS_Thing", 0, MESH_LOAD_ADD},
        {"Objects\\&T", 0, MESH_LOAD_ALPHA},
        {"Objects\\Plain&A_", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Mesh_RenderFlagsFromName(c.path), c.render) << c.path;
        EXPECT_EQ(Mesh_ParseMaterialFlags(c.path), c.load) << c.path;
    }
}

TEST_F(MeshTest, TransparentObjectsGetAlpha254AndLoseFog)
{
    Mesh_SetFog(1);
    LwoWriterObject object;
    object.tags = {"Pane", "Frame"};
    object.surfaces = {Surface("Pane"), Surface("Frame", 0.5f, 0.5f, 0.5f)};
    object.layers = {Strip(2, 2)};
    WriteObject("Objects\\A_Glass.lwo", object);
    RenderObj* o = Mesh_Load("Objects\\A_Glass", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->blendFlags, (uint32_t)RENDEROBJ_BLEND_ADD);
    EXPECT_NE(o->state & RENDEROBJ_TRANSPARENT, 0u);
    for (int i = 0; i < 2; i++) EXPECT_EQ(MaterialOf(o, i)->colour[3], 254);
    RenderObj_Release(&o);

    WriteObject("Objects\\&T_Leaf.lwo", object);
    o = Mesh_Load("Objects\\&T_Leaf", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->blendFlags, (uint32_t)(RENDEROBJ_BLEND_ALPHA | RENDEROBJ_FOG));
    RenderObj_Release(&o);
    Mesh_SetFog(0);
}

TEST_F(MeshTest, ReflectionWithAnImageMakesAnEnvironmentMaterialAndTheCacheKeepsIt)
{
    WriteImage("Objects\\pc\\chrome.bmp", 200, 200, 200);
    LwoWriterObject object;
    object.tags = {"Shiny", "Dull"};
    object.surfaces = {Surface("Shiny", 0.5f, 0.5f, 0.5f), Surface("Dull")};
    object.surfaces[0].reflection = 0.5f;
    object.surfaces[0].reflectionClip = 1;
    object.surfaces[0].vertexColourMap = "Paint";
    object.surfaces[1].reflection = 0.0f;  // writers put a zero reflection in routinely
    object.surfaces[1].reflectionClip = 1;
    object.clips.resize(1);
    object.clips[0].still = "chrome.bmp";
    LwoWriterLayer layer = Strip(2, 2);
    layer.maps.push_back({"RGB ", 3, "Paint", {{0, -1, {0, 1, 0}}}});
    object.layers = {layer};
    WriteObject("Objects\\Bumper.lwo", object);
    RenderObj* o = Mesh_Load("Objects\\Bumper", 0, nullptr);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    Geometry* g = GeometryOf(o);
    EXPECT_EQ(g->flags & 0xFF, (uint32_t)MESH_FORMAT_ENV);
    EXPECT_EQ(g->numTexCoordSets, 2);
    ASSERT_NE(g->preLitLum, nullptr);
    // White prelit on the environment surface, even where it has a colour.
    EXPECT_EQ(g->preLitLum[0].green, 255);
    EXPECT_EQ(g->preLitLum[0].red, 255);
    ASSERT_NE(g->morphTarget[0].normals, nullptr);
    EXPECT_STREQ(RenderObj_GetMaterialName(MaterialOf(o, 0)), "ENV:0.50|Objects\\chrome.bmp");
    EXPECT_EQ(RenderObj_GetMaterialName(MaterialOf(o, 1)), nullptr);
    EXPECT_EQ(o->envCount, 1u);
    // The environment map itself: the effect, its texture, frame and strength.
    EXPECT_EQ(MatFX_GetMaterialEffects(MaterialOf(o, 0)), (uint32_t)MATFX_ENVMAP);
    EXPECT_EQ(MatFX_GetMaterialEffects(MaterialOf(o, 1)), (uint32_t)MATFX_NONE);
    EXPECT_EQ(MatFX_GetEnvMapTexture(MaterialOf(o, 0)), o->envTextures[0]);
    const MatFXEnv* env = &MatFX_GetMaterialData(MaterialOf(o, 0))->slots[0].env;
    EXPECT_FLOAT_EQ(env->coefficient, 0.5f);
    EXPECT_NE(env->frame, nullptr);
    EXPECT_EQ(MatFX_AtomicEffectsEnabled(o->atomic), 1);
    RenderObj_Release(&o);

    // The second load reads the cache and restores the name from M00.
    o = Mesh_Load("Objects\\Bumper", 0, nullptr);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    EXPECT_NE(o->objectFlags & RENDEROBJ_FROM_CACHE, 0u);
    EXPECT_STREQ(RenderObj_GetMaterialName(MaterialOf(o, 0)), "ENV:0.50|Objects\\chrome.bmp");
    EXPECT_EQ(GeometryOf(o)->flags & 0xFF, (uint32_t)MESH_FORMAT_ENV);
    EXPECT_EQ(o->envCount, 1u);
    EXPECT_EQ(MatFX_GetMaterialEffects(MaterialOf(o, 0)), (uint32_t)MATFX_ENVMAP);
    EXPECT_EQ(MatFX_GetEnvMapTexture(MaterialOf(o, 0)), o->envTextures[0]);
    EXPECT_FLOAT_EQ(MatFX_GetMaterialData(MaterialOf(o, 0))->slots[0].env.coefficient, 0.5f);
    RenderObj_Release(&o);
    // An override of the coefficient reaches cached meshes.
    Mesh_SetEnvCoefficientOverride(0.25f);
    o = Mesh_Load("Objects\\Bumper", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_FLOAT_EQ(MatFX_GetMaterialData(MaterialOf(o, 0))->slots[0].env.coefficient, 0.25f);
    Mesh_SetEnvCoefficientOverride(-1.0f);
    RenderObj_Release(&o);

    // Without any reflection image the same object is plain.
    object.surfaces[0].reflectionClip = 0;
    object.surfaces[1].reflectionClip = 0;
    WriteObject("Objects\\Plain.lwo", object);
    o = Mesh_Load("Objects\\Plain", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(GeometryOf(o)->flags & 0xFF, (uint32_t)MESH_FORMAT_PLAIN);
    EXPECT_EQ(GeometryOf(o)->preLitLum[0].green, 255);  // the painted corner
    EXPECT_EQ(GeometryOf(o)->preLitLum[0].red, 0);
    RenderObj_Release(&o);
}

TEST_F(MeshTest, LightingAskedForWithAColouredSurfaceGivesLitFormats)
{
    LwoWriterObject object;
    object.tags = {"Red"};
    object.surfaces = {Surface("Red", 1, 0, 0)};
    object.layers = {Strip(1)};
    WriteObject("Objects\\Lit.lwo", object);
    int builder = 1;
    RenderObj* o = Mesh_LoadObject("Objects\\Lit", nullptr, 0, MESH_UNSHARED, nullptr, &builder);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(GeometryOf(o)->flags & 0xFF, (uint32_t)MESH_FORMAT_LIT);
    EXPECT_EQ(GeometryOf(o)->preLitLum[0].red, 0);  // black prelit: the lights do the colour
    EXPECT_EQ(GeometryOf(o)->preLitLum[0].alpha, 255);
    RenderObj_Release(&o);
}

TEST_F(MeshTest, StaleCacheIsRebuiltAndEqualTimesCountAsFresh)
{
    LwoWriterObject object = Plain(Strip(1));
    WriteObject("Objects\\Box.lwo", object);
    RenderObj* o = Mesh_Load("Objects\\Box", MESH_UNSHARED, nullptr);
    ASSERT_NE(o, nullptr);
    RenderObj_Release(&o);
    char dff[CACHE_NAME_MAX];
    Cache_NameFromSource(dff, "Objects\\Box", 0, "dff");
    ASSERT_TRUE(DataExists(dff));

    // Same time: the cache is used, so an edit that keeps the time is not seen.
    object.layers = {Strip(3)};
    WriteObject("Objects\\Box.lwo", object);
    Touch("Objects\\Box.lwo", 0);
    Touch(dff, 0);
    o = Mesh_Load("Objects\\Box", MESH_UNSHARED, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(GeometryOf(o)->numTriangles, 1);
    RenderObj_Release(&o);
    // A newer object is rebuilt, and the cache with it.
    Touch("Objects\\Box.lwo", 10);
    o = Mesh_Load("Objects\\Box", MESH_UNSHARED, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(GeometryOf(o)->numTriangles, 3);
    EXPECT_EQ(o->objectFlags & RENDEROBJ_FROM_CACHE, 0u);
    RenderObj_Release(&o);
}

TEST_F(MeshTest, TexturesAreFoundInThePlatformFolderAndCopiedIntoTheCache)
{
    WriteImage("Objects\\pc\\wood.png", 10, 20, 30);
    LwoWriterObject object;
    object.tags = {"Wood"};
    object.surfaces = {Surface("Wood", 0.2f, 0.2f, 0.2f)};
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].clip = 1;
    object.surfaces[0].blocks[0].uvMap = "UV";
    object.clips.resize(1);
    object.clips[0].still = "Images\\wood.png";
    LwoWriterLayer layer = Strip(1);
    layer.maps.push_back({"TXUV", 2, "UV", {{0, -1, {0.25f, 0.75f}}}});
    object.layers = {layer};
    WriteObject("Objects\\Table.lwo", object);
    RenderObj* o = Mesh_Load("Objects\\Table", 0, nullptr);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    Material* m = MaterialOf(o, 0);
    ASSERT_NE(m->texture, nullptr);
    EXPECT_STREQ(m->texture->name, "wood.png");
    EXPECT_EQ(m->texture->filterAddressing & 0xFF, 2u);
    EXPECT_EQ(m->colour[0], 255);  // textured materials are white
    EXPECT_FLOAT_EQ(GeometryOf(o)->texCoords[0][0].u, 0.25f);
    EXPECT_FLOAT_EQ(GeometryOf(o)->texCoords[0][0].v, 0.25f);
    RenderObj_Release(&o);

    // The copy in the cache serves a cached load once the source is gone.
    std::filesystem::remove(DataPath("Objects\\pc\\wood.png"));
    o = Mesh_Load("Objects\\Table", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_NE(o->objectFlags & RENDEROBJ_FROM_CACHE, 0u);
    ASSERT_NE(MaterialOf(o, 0)->texture, nullptr);
    EXPECT_STREQ(MaterialOf(o, 0)->texture->name, "wood.png");
    RenderObj_Release(&o);
}

TEST_F(MeshTest, SequenceFramesFollowTheirConfiguration)
{
    for (int i = 0; i < 3; i++) {
        const uint8_t v = (uint8_t)(50 * i);
        WriteImage("Fx\\pc\\flame00" + std::to_string(i) + ".png", v, v, v);
    }
    WriteConfig("Fx\\flame000", "TIME = 0.1\nFRAMES = 0120\n");
    LwoWriterObject object;
    object.tags = {"Fire"};
    object.surfaces = {Surface("Fire")};
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].clip = 1;
    object.clips.resize(1);
    object.clips[0].prefix = "flame";
    object.clips[0].suffix = ".png";
    object.clips[0].last = 2;
    object.layers = {Strip(1)};
    WriteObject("Fx\\Torch.lwo", object);
    RenderObj* o = Mesh_Load("Fx\\Torch", 0, nullptr);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    Material* m = MaterialOf(o, 0);
    const char* name = RenderObj_GetMaterialName(m);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(strncmp(name, "SEQ:Cache\\", 10), 0) << name;
    ASSERT_NE(o->sequences, nullptr);
    TexSeq* seq = o->sequences;
    ASSERT_EQ(seq->frameCount, 3u);
    EXPECT_EQ(seq->configured, 1);
    std::vector<uint32_t> shown = {seq->current};
    for (int i = 0; i < 5; i++) {
        MaterialAnim_Tick(0.1f);
        shown.push_back(seq->current);
        EXPECT_EQ(m->texture, seq->frames[seq->current]);
    }
    EXPECT_EQ(shown, (std::vector<uint32_t>{0, 1, 2, 0, 0, 1}));
    // Half a step changes nothing.
    MaterialAnim_Tick(0.05f);
    EXPECT_EQ(seq->current, 1u);
    // The sequence is found by its configuration's name and shows a frame on request.
    EXPECT_EQ(TexSeq_Find("fx\\FLAME000"), seq);
    EXPECT_EQ(TexSeq_Find("Fx\\flame001"), nullptr);
    TexSeq_ShowFrame(seq, 2);
    EXPECT_EQ(m->texture, seq->frames[2]);
    TexSeq_ShowFrame(seq, 3);
    EXPECT_EQ(seq->current, 2u);
    RenderObj_Release(&o);
    EXPECT_EQ(List_Count(MaterialAnim_GetSequencePool()), 0u);
    EXPECT_EQ(TexSeq_Find("Fx\\flame000"), nullptr);
}

TEST_F(MeshTest, ObjectsWithoutTrianglesOrWithTooManyMakeNoVisual)
{
    LwoWriterLayer pointsOnly;
    pointsOnly.points = {0, 0, 0, 1, 0, 0};
    LwoWriterObject object = Plain(pointsOnly);
    WriteObject("Objects\\Cloud.lwo", object);
    EXPECT_EQ(Mesh_Load("Objects\\Cloud", 0, nullptr), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("no triangles"), std::string::npos) << LoadError_Get();

    object.layers = {Strip(10923)};
    WriteObject("Objects\\Big.lwo", object);
    EXPECT_EQ(Mesh_Load("Objects\\Big", MESH_TWO_SIDED, nullptr), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("65535"), std::string::npos) << LoadError_Get();
    RenderObj* o = Mesh_Load("Objects\\Big", 0, nullptr);  // one-sided it fits
    ASSERT_NE(o, nullptr);
    RenderObj_Release(&o);
    EXPECT_EQ(Mesh_Load("Objects\\Missing", 0, nullptr), nullptr);
}

}  // namespace
