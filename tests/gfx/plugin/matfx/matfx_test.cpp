#include "gfx/plugin/matfx/matfx.h"

#include <cstring>

#include "gfx/core/pipeline.h"
#include "gfx/plugin/matfx/d3d8matfx.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

class MatFXTest : public PluginTest {
protected:
    // A texture of one colour kept in the current dictionary (which holds
    // the creation reference, as textures read from files are held).
    Texture* InDictionary(const char* name, uint32_t colour, int size = 4)
    {
        Texture* t = SolidTexture(name, colour, size);
        TextureDictionary_AddTexture(dictionary, t);
        return t;
    }
    static Material* ReadMaterial(Bytes& bytes)
    {
        Stream* s = OpenRead(bytes);
        Material* m = Stream_FindChunk(s, CHUNK_MATERIAL, nullptr, nullptr) ? Material_StreamRead(s) : nullptr;
        Stream_Close(s, nullptr);
        return m;
    }
    static Bytes WriteMaterial(const Material* m)
    {
        Stream* s = OpenWrite();
        EXPECT_NE(Material_StreamWrite(m, s), nullptr);
        return CloseWrite(s);
    }
    static const PluginEntry* MaterialEntry()
    {
        for (const PluginEntry* e = Material_GetRegistry()->first; e; e = e->next)
            if (e->pluginId == PLUGIN_MATFX) return e;
        return nullptr;
    }
};

TEST_F(MatFXTest, ChangingTheEffectTypeReleasesTheSlotsTexturesAndRepeatingItKeepsThem)
{
    Texture* base = InDictionary("ab", 0xFF808080u);
    Texture* bump = InDictionary("xyz", 0xFFFFFFFFu);
    Material* m = MakeMaterial();
    Material_SetTexture(m, base);
    ASSERT_EQ(MatFX_SetMaterialEffects(m, MATFX_BUMPMAP), m);
    ASSERT_EQ(MatFX_SetBumpMapTexture(m, bump), m);
    const MatFXMaterialData* d = MatFX_GetMaterialData(m);
    Texture* bumped = d->slots[0].bump.bumpedTexture;
    ASSERT_NE(bumped, nullptr);
    EXPECT_STREQ(bumped->name, "axbyz");
    EXPECT_EQ(bump->refCount, 2);
    EXPECT_EQ(bumped->refCount, 1);  // made here, shared with the dictionary like a read texture
    EXPECT_FLOAT_EQ(d->slots[0].bump.invBumpedWidth, 0.25f);
    // The same type again keeps everything.
    MatFX_SetMaterialEffects(m, MATFX_BUMPMAP);
    EXPECT_EQ(d->slots[0].bump.bumpTexture, bump);
    // Another type lets both textures go.
    bumped->refCount++;  // keep it to look at
    MatFX_SetMaterialEffects(m, MATFX_ENVMAP);
    EXPECT_EQ(bump->refCount, 1);
    EXPECT_EQ(bumped->refCount, 1);
    EXPECT_EQ(d->slots[0].kind, (uint32_t)MATFX_SLOT_ENV);
    EXPECT_EQ(d->slots[0].env.texture, nullptr);
    Texture_Destroy(bumped);
    // Setters of a kind the type has no slot for change nothing.
    EXPECT_EQ(MatFX_SetBumpMapTexture(m, bump), nullptr);
    EXPECT_EQ(MatFX_SetDualBlendModes(m, 1, 2), nullptr);
    EXPECT_EQ(bump->refCount, 1);
    Material_Destroy(m);
}

TEST_F(MatFXTest, BumpedTexturesCarryTheBumpsBrightnessAsAlphaAndAreReusedByName)
{
    Texture* base = InDictionary("ab", 0xFF204060u);
    Raster* r = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
    uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            const uint32_t c = 0xFF000000u | (uint32_t)(x * 60) << 8;  // brightness in green
            memcpy(p + y * r->stride + 4 * x, &c, 4);
        }
    Raster_Unlock(r);
    Texture* bump = Texture_Create(r);
    Texture_SetName(bump, "xyz");
    TextureDictionary_AddTexture(dictionary, bump);
    Material* a = MakeMaterial();
    Material_SetTexture(a, base);
    MatFX_SetMaterialEffects(a, MATFX_BUMPMAP);
    MatFX_SetBumpMapTexture(a, bump);
    Texture* bumped = MatFX_GetMaterialData(a)->slots[0].bump.bumpedTexture;
    ASSERT_NE(bumped, nullptr);
    uint8_t* q = Raster_Lock(bumped->raster, 0, RASTERLOCKREAD);
    ASSERT_NE(q, nullptr);
    for (int x = 0; x < 4; x++) {
        uint32_t c;
        memcpy(&c, q + 4 * x, 4);
        EXPECT_EQ(c >> 24, (uint32_t)(x * 60)) << x;  // alpha = the bump's brightness
        EXPECT_EQ(c & 0xFFFFFFu, 0x204060u) << x;     // colour = the base's
    }
    Raster_Unlock(bumped->raster);
    // A second material finds the same bumped texture in the dictionary.
    Material* b = MakeMaterial();
    Material_SetTexture(b, base);
    MatFX_SetMaterialEffects(b, MATFX_BUMPMAP);
    MatFX_SetBumpMapTexture(b, bump);
    EXPECT_EQ(MatFX_GetMaterialData(b)->slots[0].bump.bumpedTexture, bumped);
    EXPECT_EQ(bumped->refCount, 2);
    // Setting the texture the slot already holds, when the slot's reference
    // is its only one, keeps it alive.
    Texture* lone = SolidTexture("lone", 0xFF0000FFu);
    MatFX_SetBumpMapTexture(b, lone);
    Texture_Destroy(lone);
    EXPECT_EQ(MatFX_SetBumpMapTexture(b, lone), b);
    EXPECT_EQ(MatFX_GetMaterialData(b)->slots[0].bump.bumpTexture, lone);
    EXPECT_STREQ(lone->name, "lone");
    // None: both go, and the base's own alpha is the bump.
    MatFX_SetBumpMapTexture(b, nullptr);
    EXPECT_EQ(MatFX_GetMaterialData(b)->slots[0].bump.bumpTexture, nullptr);
    EXPECT_EQ(MatFX_GetMaterialData(b)->slots[0].bump.bumpedTexture, nullptr);
    EXPECT_FLOAT_EQ(MatFX_GetMaterialData(b)->slots[0].bump.invBumpedWidth, 0.25f);
    Material_Destroy(a);
    Material_Destroy(b);
}

// A read adds exactly one reference per texture, held by the material,
// whether the texture was in the dictionary already or not.
TEST_F(MatFXTest, EverySlotKindRoundTripsThroughTheMaterialStream)
{
    Texture* env = InDictionary("envtex", 0xFF102030u);
    Texture* dual = InDictionary("dualtex", 0x80FFFFFFu);
    Texture* base = InDictionary("basetex", 0xFF808080u);
    Texture* bump = InDictionary("bumptex", 0xFFFFFFFFu);
    Frame* frame = Frame_Create();
    Matrix uv;
    Matrix_SetIdentity(&uv);

    Material* e = MakeMaterial();
    MatFX_SetMaterialEffects(e, MATFX_ENVMAP);
    MatFX_SetEnvMap(e, env, frame, 1, 0.625f);
    Material* b = MakeMaterial();
    Material_SetTexture(b, base);
    MatFX_SetMaterialEffects(b, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(b, bump);
    MatFX_SetBumpMapCoefficient(b, 0.75f);
    MatFX_SetEnvMap(b, env, nullptr, 0, 2.0f);  // kept as given: drawing clamps
    Material* d = MakeMaterial();
    MatFX_SetMaterialEffects(d, MATFX_DUALUVTRANSFORM);
    MatFX_SetDualTexture(d, dual);
    MatFX_SetDualBlendModes(d, 9, 3);
    MatFX_SetUVTransformMatrices(d, &uv, &uv);

    const int32_t envRefs = env->refCount, dualRefs = dual->refCount, bumpRefs = bump->refCount;
    Bytes eb = WriteMaterial(e), bb = WriteMaterial(b), db = WriteMaterial(d);
    // The bump coefficient is stored negated.
    const Bytes payload = SubChunk(bb, PLUGIN_MATFX);
    EXPECT_EQ(U32(payload, 0), (uint32_t)MATFX_BUMPENVMAP);
    EXPECT_EQ(U32(payload, 4), (uint32_t)MATFX_SLOT_BUMP);
    EXPECT_EQ(U32(payload, 8), FloatBits(-0.75f));

    Material* e2 = ReadMaterial(eb);
    Material* b2 = ReadMaterial(bb);
    Material* d2 = ReadMaterial(db);
    ASSERT_TRUE(e2 && b2 && d2);
    const MatFXEnv& ee = MatFX_GetMaterialData(e2)->slots[0].env;
    EXPECT_EQ(ee.texture, env);
    EXPECT_EQ(ee.coefficient, 0.625f);
    EXPECT_EQ(ee.useFrameBufferAlpha, 1u);
    EXPECT_EQ(ee.frame, nullptr);  // frames are not streamed
    const MatFXMaterialData* bd = MatFX_GetMaterialData(b2);
    EXPECT_EQ(bd->effectType, (uint32_t)MATFX_BUMPENVMAP);
    EXPECT_EQ(bd->slots[0].bump.coefficient, 0.75f);
    EXPECT_EQ(bd->slots[0].bump.bumpTexture, bump);
    EXPECT_EQ(bd->slots[0].bump.bumpedTexture, MatFX_GetMaterialData(b)->slots[0].bump.bumpedTexture);
    EXPECT_FLOAT_EQ(bd->slots[0].bump.invBumpedWidth, 0.25f);
    EXPECT_EQ(bd->slots[1].env.coefficient, 2.0f);
    const MatFXMaterialData* dd = MatFX_GetMaterialData(d2);
    EXPECT_EQ(dd->slots[0].kind, (uint32_t)MATFX_SLOT_UVTRANSFORM);
    EXPECT_EQ(dd->slots[0].uv.baseTransform, nullptr);
    EXPECT_EQ(dd->slots[1].dual.texture, dual);
    EXPECT_EQ(dd->slots[1].dual.srcBlend, 9u);
    EXPECT_EQ(dd->slots[1].dual.dstBlend, 3u);
    EXPECT_EQ(env->refCount, envRefs + 2);
    EXPECT_EQ(dual->refCount, dualRefs + 1);
    EXPECT_EQ(bump->refCount, bumpRefs + 1);
    for (Material* m : {e2, b2, d2}) Material_Destroy(m);
    EXPECT_EQ(env->refCount, envRefs);
    EXPECT_EQ(dual->refCount, dualRefs);
    EXPECT_EQ(bump->refCount, bumpRefs);
    for (Material* m : {e, b, d}) Material_Destroy(m);
    Frame_Destroy(frame);
}

TEST_F(MatFXTest, MalformedMaterialDataFailsTheReadWithNoTextureKept)
{
    Texture* env = InDictionary("envtex", 0xFF102030u);
    Material* m = MakeMaterial();
    const Bytes plain = [&] {
        Stream* s = OpenWrite();
        Material_StreamWrite(m, s);
        return CloseWrite(s);
    }();
    MatFX_SetMaterialEffects(m, MATFX_ENVMAP);
    MatFX_SetEnvMap(m, env, nullptr, 0, 1);
    const Bytes good = SubChunk(WriteMaterial(m), PLUGIN_MATFX);
    Material_Destroy(m);
    const int32_t refs = env->refCount;
    auto edit = [&](size_t at, uint32_t value) { return Edited(good, at, value); };
    struct Case {
        const char* what;
        Bytes payload;
        bool reads;
    };
    const std::vector<Case> cases = {
        {"slot kind 3", edit(4, 3), false},
        {"second slot kind 7", edit(good.size() - 4, 7), false},
        {"cut inside the texture", Bytes(good.begin(), good.begin() + 30), false},
        {"texture chunk of another type", edit(20, CHUNK_STRUCT), false},
        // A kind the type has no slot for: read, its texture let go.
        {"environment slot on a dual material", edit(0, MATFX_DUAL), true},
    };
    for (const Case& c : cases) {
        Bytes bytes = AppendSubChunk(plain, PLUGIN_MATFX, c.payload);
        Material* read = ReadMaterial(bytes);
        EXPECT_EQ(read != nullptr, c.reads) << c.what;
        if (read) {
            EXPECT_EQ(MatFX_GetMaterialData(read)->slots[0].dual.texture, nullptr) << c.what;
            Material_Destroy(read);
        }
        EXPECT_EQ(env->refCount, refs) << c.what;
    }
    Error_Get(nullptr);
}

TEST_F(MatFXTest, CopiesHoldTheirOwnReferencesAndReleaseWhatTheTargetHeld)
{
    const PluginEntry* entry = MaterialEntry();
    ASSERT_NE(entry, nullptr);
    Texture* env = InDictionary("envtex", 0xFF102030u);
    Texture* bump = SolidTexture("bumptex", 0xFFFFFFFFu);
    Texture* old = SolidTexture("old", 0xFFFFFFFFu);
    Material* source = MakeMaterial();
    MatFX_SetMaterialEffects(source, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(source, bump);
    MatFX_SetBumpMapCoefficient(source, 0.5f);
    MatFX_SetEnvMap(source, env, nullptr, 1, 0.5f);
    Material* target = MakeMaterial();
    MatFX_SetMaterialEffects(target, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(target, old);
    Texture_Destroy(old);
    const int32_t envRefs = env->refCount, bumpRefs = bump->refCount;
    ASSERT_EQ(entry->copy(target, source, entry->offset, entry->size), target);
    const MatFXMaterialData* t = MatFX_GetMaterialData(target);
    EXPECT_EQ(t->slots[0].bump.bumpTexture, bump);
    EXPECT_EQ(t->slots[0].bump.coefficient, 0.5f);
    EXPECT_EQ(t->slots[0].bump.invBumpedWidth, MatFX_GetMaterialData(source)->slots[0].bump.invBumpedWidth);
    EXPECT_EQ(t->slots[1].env.texture, env);
    EXPECT_EQ(env->refCount, envRefs + 1);
    EXPECT_EQ(bump->refCount, bumpRefs + 1);
    Material_Destroy(source);
    EXPECT_EQ(env->refCount, envRefs);  // the copy's reference keeps it
    EXPECT_EQ(t->slots[1].env.texture->refCount, envRefs);
    // A source without effects leaves the target alone.
    Material* plain = MakeMaterial();
    entry->copy(target, plain, entry->offset, entry->size);
    EXPECT_EQ(MatFX_GetMaterialEffects(target), (uint32_t)MATFX_BUMPENVMAP);
    Material_Destroy(plain);
    Material_Destroy(target);
    Texture_Destroy(bump);
}

TEST_F(MatFXTest, EffectsFlagsReadFromStreamsSwitchAtomicsAndSectorsToTheEffectsPipelines)
{
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, MakeGrid(1, 1, GEOMETRY_POSITIONS, nullptr), 0);
    Geometry_Destroy(atomic->geometry);
    MatFX_EnableAtomicEffects(atomic);
    EXPECT_EQ(atomic->pipeline, MatFX_GetAtomicPipeline());
    EXPECT_EQ(MatFX_GetAtomicPipeline()->pluginId, (uint32_t)PLUGIN_MATFX);
    Bytes bytes = WriteAtomic(atomic);
    EXPECT_EQ(SubChunk(bytes, PLUGIN_MATFX).size(), 4u);
    Atomic* read = ReadAtomic(bytes);
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(MatFX_AtomicEffectsEnabled(read));
    EXPECT_EQ(read->pipeline, MatFX_GetAtomicPipeline());
    Atomic_Destroy(read);
    Atomic_Destroy(atomic);

    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 0, 0, 0);
    MaterialList none;
    MaterialList_Initialize(&none);
    World* world = World_CreateWithTree(&box, leaf, &none, 0);  // constructs the leaf's extensions
    ASSERT_NE(world, nullptr);
    Bytes flag;
    Words(flag, {1});
    Bytes chunk = ExtensionChunk(PLUGIN_MATFX, flag);
    ASSERT_TRUE(ReadExtensions(WorldSector_GetRegistry(), chunk, leaf));
    EXPECT_TRUE(MatFX_WorldSectorEffectsEnabled(leaf));
    EXPECT_EQ(leaf->pipeline, MatFX_GetWorldSectorPipeline());
    World_Destroy(world);
}

}  // namespace
