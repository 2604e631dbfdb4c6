#include "engine/mesh.h"

#include <cstring>
#include <tuple>

#include "app/namecache.h"
#include "content_fixture.h"
#include "engine/loaderror.h"
#include "engine/materialanim.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

namespace {

Geometry* GeometryOf(RenderObj* o) { return Atomic_GetGeometry(o->atomic); }
Material* MaterialOf(RenderObj* o, int i) { return MaterialList_GetMaterial(&GeometryOf(o)->matList, i); }

// What a load made, as text: the format, vertex, triangle and texture-set
// counts, the first vertex's prelight (RGBA), then per material its colour,
// special name, effects and texture.
std::string Summary(RenderObj* o)
{
    const Geometry* g = GeometryOf(o);
    char text[256];
    const uint8_t* lum = g->preLitLum ? &g->preLitLum[0].red : nullptr;
    snprintf(text, sizeof text, "format %u v%d t%d sets %d lit %02x%02x%02x%02x", g->flags & 0xFF, g->numVertices,
             g->numTriangles, g->numTexCoordSets, lum ? lum[0] : 0, lum ? lum[1] : 0, lum ? lum[2] : 0,
             lum ? lum[3] : 0);
    std::string s = text;
    for (int i = 0; i < g->matList.count; i++) {
        const Material* m = MaterialOf(o, i);
        const char* name = RenderObj_GetMaterialName(m);
        snprintf(text, sizeof text, " [%02x%02x%02x%02x %s fx%u %s]", m->colour[0], m->colour[1], m->colour[2],
                 m->colour[3], name ? name : "-", MatFX_GetMaterialEffects(m), m->texture ? m->texture->name : "-");
        s += text;
    }
    return s;
}

bool FromCache(RenderObj* o) { return o->objectFlags & RENDEROBJ_FROM_CACHE; }

class MeshTest : public ContentTest {};

TEST_F(MeshTest, FileNamesAndTagsGiveRenderAndLoadFlags)
{
    // The object path; its render flags and load flags.
    const std::tuple<const char*, uint32_t, uint32_t> cases[] = {
        {"Objects\\A_Glass", RENDEROBJ_BLEND_ADD, 0},
        {"objects/s_shadow", RENDEROBJ_BLEND_MULTIPLY, 0},
        {"T_Leaf_ZT_ZW", RENDEROBJ_BLEND_ALPHA | RENDEROBJ_NO_ZTEST | RENDEROBJ_NO_ZWRITE, 0},
        {"Objects\\&WR_Thing", 0, 0},
        {"Objects\\&R_Thing", 0, MESH_LOAD_NO_ZWRITE},
        {"Objects\\&W_Thing", 0, MESH_LOAD_NO_ZTEST},
        {"Objects\\&MF_Thing", 0, MESH_LOAD_MIPMAP | MESH_LOAD_FILTER},
        {"Objects\\&AS_Thing", 0, MESH_LOAD_ADD},
        {"Objects\\&T", 0, MESH_LOAD_ALPHA},
        {"Objects\\Plain&A_", 0, 0},
    };
    for (const auto& [path, render, load] : cases) {
        EXPECT_TRUE(Mesh_RenderFlagsFromName(path) == render && Mesh_ParseMaterialFlags(path) == load) << path;
    }
    Mesh_SetFog(1);
    LwoWriterObject object = Model({"Pane", "Frame"}, {Strip(2, 2)});
    object.surfaces[1] = Surface("Frame", 0.5f, 0.5f, 0.5f);
    for (const char* name : {"Objects\\A_Glass.lwo", "Objects\\&T_Leaf.lwo", "Objects\\Lit.lwo"})
        WriteModel(name, object);
    RenderObj* glass = Mesh_Load("Objects\\A_Glass", 0, nullptr);
    RenderObj* leaf = Mesh_Load("Objects\\&T_Leaf", 0, nullptr);
    int builder = 1;
    RenderObj* lit = Mesh_LoadObject("Objects\\Lit", nullptr, 0, MESH_UNSHARED, nullptr, &builder);
    ASSERT_TRUE(glass && leaf && lit);
    Mesh_SetFog(0);
    EXPECT_EQ(
        std::make_tuple((bool)(glass->blendFlags == RENDEROBJ_BLEND_ADD && (glass->state & RENDEROBJ_TRANSPARENT)),
                        Summary(glass), leaf->blendFlags, Summary(lit)),
        std::make_tuple(true, "format 76 v6 t2 sets 1 lit ffffffff [fffffffe - fx0 -] [7f7f7ffe - fx0 -]",
                        (uint32_t)(RENDEROBJ_BLEND_ALPHA | RENDEROBJ_FOG),
                        "format 124 v6 t2 sets 1 lit 000000ff [ffffffff - fx0 -] [7f7f7fff - fx0 -]"));
    for (RenderObj* o : {glass, leaf, lit}) RenderObj_Release(&o);
}

TEST_F(MeshTest, AReflectionImageMakesAnEnvironmentMaterialThatTheCacheKeeps)
{
    WriteImage("Objects\\pc\\chrome.bmp", 200, 200, 200);
    LwoWriterObject object = Model({"Shiny", "Dull"}, {Strip(2, 2)});
    object.surfaces[0] = Surface("Shiny", 0.5f, 0.5f, 0.5f), object.surfaces[0].reflection = 0.5f;
    object.surfaces[0].reflectionClip = 1, object.surfaces[0].vertexColourMap = "Paint";
    object.surfaces[1].reflectionClip = 1;  // writers put a zero reflection in routinely
    object.clips.resize(1);
    object.clips[0].still = "chrome.bmp";
    object.layers[0].maps.push_back({"RGB ", 3, "Paint", {{0, -1, {0, 1, 0}}}});
    WriteModel("Objects\\Bumper.lwo", object);
    const std::string env =
        "format 152 v6 t2 sets 2 lit ffffffff [7f7f7fff ENV:0.50|Objects\\chrome.bmp fx2 -] [ffffffff - fx0 -]";
    for (int load = 0; load < 3; load++) {
        SCOPED_TRACE(load);  // built, from the cache, from the cache with another coefficient
        if (load == 2) Mesh_SetEnvCoefficientOverride(0.25f);
        RenderObj* o = Mesh_Load("Objects\\Bumper", 0, nullptr);
        Mesh_SetEnvCoefficientOverride(-1.0f);
        ASSERT_NE(o, nullptr) << LoadError_Get();
        EXPECT_EQ(Summary(o), env);
        const MatFXEnv* fx = &MatFX_GetMaterialData(MaterialOf(o, 0))->slots[0].env;
        EXPECT_TRUE(FromCache(o) == (load > 0) && GeometryOf(o)->morphTarget[0].normals && o->envCount == 1 &&
                    MatFX_GetEnvMapTexture(MaterialOf(o, 0)) == o->envTextures[0] && fx->frame &&
                    MatFX_AtomicEffectsEnabled(o->atomic));
        EXPECT_FLOAT_EQ(fx->coefficient, load == 2 ? 0.25f : 0.5f);
        RenderObj_Release(&o);
    }
    object.surfaces[0].reflectionClip = 0, object.surfaces[1].reflectionClip = 0;
    WriteModel("Objects\\Plain.lwo", object);
    RenderObj* o = Mesh_Load("Objects\\Plain", 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(Summary(o).substr(0, 36), "format 76 v6 t2 sets 1 lit 00ff00ff ");
    RenderObj_Release(&o);
}

TEST_F(MeshTest, SequenceFramesFollowTheirConfiguration)
{
    for (int i = 0; i < 3; i++) WriteImage("Fx\\pc\\flame00" + std::to_string(i) + ".png", 50 * i, 50 * i, 50 * i);
    WriteConfig("Fx\\flame000", "TIME = 0.1\nFRAMES = 0120\n");
    LwoWriterObject object = Model({"Fire"}, {Strip(1)});
    object.surfaces[0].blocks.resize(1);
    object.surfaces[0].blocks[0].clip = 1;
    object.clips.resize(1);
    object.clips[0].prefix = "flame", object.clips[0].suffix = ".png", object.clips[0].last = 2;
    WriteModel("Fx\\Torch.lwo", object);
    RenderObj* o = Mesh_Load("Fx\\Torch", 0, nullptr);
    ASSERT_NE(o, nullptr) << LoadError_Get();
    Material* m = MaterialOf(o, 0);
    ASSERT_TRUE(RenderObj_GetMaterialName(m) && !strncmp(RenderObj_GetMaterialName(m), "SEQ:Cache\\", 10));
    TexSeq* seq = o->sequences;
    ASSERT_TRUE(seq && seq->frameCount == 3 && seq->configured);
    std::vector<uint32_t> shown = {seq->current};
    for (int i = 0; i < 5; i++) {
        MaterialAnim_Tick(0.1f);
        shown.push_back(seq->current);
        EXPECT_EQ(m->texture, seq->frames[seq->current]);
    }
    EXPECT_EQ(shown, (std::vector<uint32_t>{0, 1, 2, 0, 0, 1}));
    MaterialAnim_Tick(0.05f);  // half a step changes nothing
    EXPECT_TRUE(seq->current == 1 && TexSeq_Find("fx\\FLAME000") == seq && !TexSeq_Find("Fx\\flame001"));
    TexSeq_ShowFrame(seq, 2);
    EXPECT_EQ(m->texture, seq->frames[2]);
    TexSeq_ShowFrame(seq, 3);
    EXPECT_EQ(seq->current, 2u);
    RenderObj_Release(&o);
    EXPECT_TRUE(List_Count(MaterialAnim_GetSequencePool()) == 0 && !TexSeq_Find("Fx\\flame000"));
}

TEST_F(MeshTest, ObjectsWithoutTrianglesOrWithTooManyMakeNoVisual)
{
    LwoWriterLayer pointsOnly;
    pointsOnly.points = {0, 0, 0, 1, 0, 0};
    WriteModel("Objects\\Cloud.lwo", Model({"S"}, {pointsOnly}));
    EXPECT_EQ(Mesh_Load("Objects\\Cloud", 0, nullptr), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("no triangles"), std::string::npos) << LoadError_Get();
    WriteModel("Objects\\Big.lwo", Model({"S"}, {Strip(10923)}));
    EXPECT_EQ(Mesh_Load("Objects\\Big", MESH_TWO_SIDED, nullptr), nullptr);
    EXPECT_NE(std::string(LoadError_Get()).find("65535"), std::string::npos) << LoadError_Get();
    RenderObj* o = Mesh_Load("Objects\\Big", 0, nullptr);  // one-sided it fits
    EXPECT_NE(o, nullptr);
    RenderObj_Release(&o);
    EXPECT_EQ(Mesh_Load("Objects\\Missing", 0, nullptr), nullptr);
}

}  // namespace
