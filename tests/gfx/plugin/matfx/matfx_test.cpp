#include "gfx/plugin/matfx/matfx.h"

#include "gfx/core/pipeline.h"
#include "gfx/plugin/matfx/d3d8matfx.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

class MatFXTest : public PluginTest {
protected:
    // A size x size texture of one colour (0xAARRGGBB), named, kept in the
    // current dictionary (which holds the creation reference, as textures
    // read from files are held); with rows of the colour's green x row / 4
    // as its brightness when `ramp`.
    Texture* InDictionary(const char* name, uint32_t colour, bool ramp = false)
    {
        Raster* r = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
        uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
        for (int i = 0; i < 16; i++)
            Bytes_StoreU32(p + i / 4 * r->stride + 4 * (i % 4), ramp ? 0xFF000000u | (i % 4) * 60 << 8 : colour);
        Raster_Unlock(r);
        Texture* t = Texture_Create(r);
        Texture_SetName(t, name);
        TextureDictionary_AddTexture(dictionary, t);
        return t;
    }
    // An owned material on base with effects of type.
    Material* WithEffects(Texture* base, uint32_t type)
    {
        Material* m = Own(MakeMaterial());
        Material_SetTexture(m, base);
        MatFX_SetMaterialEffects(m, type);
        return m;
    }
    static const MatFXMaterialData* Data(const Material* m) { return MatFX_GetMaterialData(m); }
};

TEST_F(MatFXTest, BumpedTexturesCarryTheBumpsBrightnessAsAlphaAreSharedByNameAndGoWithTheirSlot)
{
    Texture* base = InDictionary("ab", 0xFF204060u);
    Texture* bump = InDictionary("xyz", 0, true);
    Material* a = WithEffects(base, MATFX_BUMPMAP);
    ASSERT_EQ(MatFX_SetBumpMapTexture(a, bump), a);
    Texture* bumped = Data(a)->slots[0].bump.bumpedTexture;
    ASSERT_NE(bumped, nullptr);
    EXPECT_STREQ(bumped->name, "axbyz");
    // Made here, shared with the dictionary like a read texture.
    EXPECT_EQ(std::tuple(bump->refCount, bumped->refCount, Data(a)->slots[0].bump.invBumpedWidth),
              std::tuple(2, 1, 0.25f));
    const uint8_t* q = Raster_Lock(bumped->raster, 0, RASTERLOCKREAD);
    ASSERT_NE(q, nullptr);
    for (int x = 0; x < 4; x++) EXPECT_EQ(Bytes_LoadU32(q + 4 * x), (uint32_t)(x * 60) << 24 | 0x204060u) << x;
    Raster_Unlock(bumped->raster);
    // A second material finds the same bumped texture in the dictionary; the
    // same type again keeps everything.
    Material* b = WithEffects(base, MATFX_BUMPMAP);
    MatFX_SetBumpMapTexture(b, bump);
    MatFX_SetMaterialEffects(b, MATFX_BUMPMAP);
    EXPECT_EQ(std::tuple(Data(b)->slots[0].bump.bumpedTexture, Data(b)->slots[0].bump.bumpTexture, bumped->refCount),
              std::tuple(bumped, bump, 2));
    // Another type lets both textures go; setters of a kind the type has no
    // slot for change nothing.
    MatFX_SetMaterialEffects(a, MATFX_ENVMAP);
    EXPECT_EQ(std::tuple(bump->refCount, bumped->refCount, Data(a)->slots[0].kind, Data(a)->slots[0].env.texture),
              std::tuple(2, 1, (uint32_t)MATFX_SLOT_ENV, (Texture*)nullptr));
    EXPECT_EQ(MatFX_SetBumpMapTexture(a, bump), nullptr);
    EXPECT_EQ(MatFX_SetDualBlendModes(a, 1, 2), nullptr);
    EXPECT_EQ(bump->refCount, 2);
    // The texture the slot holds already, when the slot's reference is its
    // only one, stays alive; none lets both go, the base's own alpha the bump.
    Texture* lone = Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
    Texture_SetName(lone, "lone");
    MatFX_SetBumpMapTexture(b, lone);
    Texture_Destroy(lone);
    EXPECT_EQ(MatFX_SetBumpMapTexture(b, lone), b);
    EXPECT_EQ(Data(b)->slots[0].bump.bumpTexture, lone);
    EXPECT_STREQ(lone->name, "lone");
    MatFX_SetBumpMapTexture(b, nullptr);
    EXPECT_EQ(std::tuple(Data(b)->slots[0].bump.bumpTexture, Data(b)->slots[0].bump.bumpedTexture,
                         Data(b)->slots[0].bump.invBumpedWidth),
              std::tuple((Texture*)nullptr, (Texture*)nullptr, 0.25f));
}

// A read adds exactly one reference per texture, held by the material,
// whether the texture was in the dictionary already or not.
TEST_F(MatFXTest, EverySlotKindRoundTripsThroughTheMaterialStreamAndMalformedDataKeepsNoTexture)
{
    Texture* env = InDictionary("envtex", 0xFF102030u);
    Texture* dual = InDictionary("dualtex", 0x80FFFFFFu);
    Texture* bump = InDictionary("bumptex", 0xFFFFFFFFu);
    Matrix uv;
    Matrix_SetIdentity(&uv);
    Material* e = WithEffects(nullptr, MATFX_ENVMAP);
    MatFX_SetEnvMap(e, env, Own(Frame_Create()), 1, 0.625f);
    Material* b = WithEffects(InDictionary("basetex", 0xFF808080u), MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(b, bump);
    MatFX_SetBumpMapCoefficient(b, 0.75f);
    MatFX_SetEnvMap(b, env, nullptr, 0, 2.0f);  // kept as given: drawing clamps
    Material* d = WithEffects(nullptr, MATFX_DUALUVTRANSFORM);
    MatFX_SetDualTexture(d, dual);
    MatFX_SetDualBlendModes(d, 9, 3);
    MatFX_SetUVTransformMatrices(d, &uv, &uv);
    const int32_t refs[3] = {env->refCount, dual->refCount, bump->refCount};
    Bytes eb = WriteMaterial(e), bb = WriteMaterial(b), db = WriteMaterial(d);
    const Bytes payload = SubChunk(bb, PLUGIN_MATFX);  // the bump coefficient is stored negated
    EXPECT_EQ(std::tuple(U32(payload, 0), U32(payload, 4), U32(payload, 8)),
              std::tuple((uint32_t)MATFX_BUMPENVMAP, (uint32_t)MATFX_SLOT_BUMP, FloatBits(-0.75f)));
    Material *e2 = ReadMaterial(eb), *b2 = ReadMaterial(bb), *d2 = ReadMaterial(db);
    ASSERT_TRUE(e2 && b2 && d2);
    const MatFXEnv& ee = Data(e2)->slots[0].env;  // frames are not streamed
    EXPECT_EQ(std::tuple(ee.texture, ee.coefficient, ee.useFrameBufferAlpha, ee.frame),
              std::tuple(env, 0.625f, 1u, (Frame*)nullptr));
    const MatFXMaterialData *bd = Data(b2), *dd = Data(d2);
    EXPECT_EQ(std::tuple(bd->effectType, bd->slots[0].bump.coefficient, bd->slots[0].bump.bumpTexture,
                         bd->slots[0].bump.bumpedTexture, bd->slots[1].env.coefficient),
              std::tuple((uint32_t)MATFX_BUMPENVMAP, 0.75f, bump, Data(b)->slots[0].bump.bumpedTexture, 2.0f));
    EXPECT_EQ(std::tuple(dd->slots[0].kind, dd->slots[0].uv.baseTransform, dd->slots[1].dual.texture,
                         dd->slots[1].dual.srcBlend, dd->slots[1].dual.dstBlend),
              std::tuple((uint32_t)MATFX_SLOT_UVTRANSFORM, (Matrix*)nullptr, dual, 9u, 3u));
    EXPECT_EQ(env->refCount - refs[0] + (dual->refCount - refs[1]) * 10 + (bump->refCount - refs[2]) * 100, 112);
    for (Material* m : {e2, b2, d2}) Material_Destroy(m);
    EXPECT_EQ(env->refCount * 10000 + dual->refCount * 100 + bump->refCount, refs[0] * 10000 + refs[1] * 100 + refs[2]);

    const Bytes plain = WriteMaterial(Own(MakeMaterial()));
    const Bytes good = SubChunk(eb, PLUGIN_MATFX);
    const struct {
        const char* what;
        Bytes payload;
        bool reads;
    } cases[] = {
        {"slot kind 3", Edited(good, 4, 3), false},
        {"second slot kind 7", Edited(good, good.size() - 4, 7), false},
        {"cut inside the texture", Bytes(good.begin(), good.begin() + 30), false},
        {"texture chunk of another type", Edited(good, 20, CHUNK_STRUCT), false},
        {"environment slot on a dual material: read, its texture let go", Edited(good, 0, MATFX_DUAL), true},
    };
    for (const auto& c : cases) {
        Bytes bytes = AppendSubChunk(plain, PLUGIN_MATFX, c.payload);
        Material* read = ReadMaterial(bytes);
        EXPECT_EQ(read != nullptr, c.reads) << c.what;
        EXPECT_TRUE(!read || !Data(read)->slots[0].dual.texture) << c.what;
        if (read) Material_Destroy(read);
        EXPECT_EQ(env->refCount, refs[0]) << c.what;
    }
    Error_Get(nullptr);
}

TEST_F(MatFXTest, CopiesHoldTheirOwnReferencesAndReleaseWhatTheTargetHeld)
{
    const PluginEntry* entry = EntryOf(Material_GetRegistry(), PLUGIN_MATFX);
    ASSERT_NE(entry, nullptr);
    Texture* env = InDictionary("envtex", 0xFF102030u);
    Texture* bump = Own(Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888)));
    Texture* old = Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
    Material* source = MakeMaterial();
    MatFX_SetMaterialEffects(source, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(source, bump);
    MatFX_SetBumpMapCoefficient(source, 0.5f);
    MatFX_SetEnvMap(source, env, nullptr, 1, 0.5f);
    Material* target = WithEffects(nullptr, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(target, old);
    Texture_Destroy(old);
    const int32_t envRefs = env->refCount, bumpRefs = bump->refCount;
    ASSERT_EQ(entry->copy(target, source, entry->offset, entry->size), target);
    const MatFXMaterialData* t = Data(target);
    EXPECT_EQ(std::tuple(t->slots[0].bump.bumpTexture, t->slots[0].bump.coefficient, t->slots[0].bump.invBumpedWidth,
                         t->slots[1].env.texture, env->refCount, bump->refCount),
              std::tuple(bump, 0.5f, Data(source)->slots[0].bump.invBumpedWidth, env, envRefs + 1, bumpRefs + 1));
    Material_Destroy(source);
    EXPECT_EQ(env->refCount, envRefs);  // the copy's reference keeps it
    // A source without effects leaves the target alone.
    Material* plain = Own(MakeMaterial());
    entry->copy(target, plain, entry->offset, entry->size);
    EXPECT_EQ(MatFX_GetMaterialEffects(target), (uint32_t)MATFX_BUMPENVMAP);
}

TEST_F(MatFXTest, EffectsFlagsReadFromStreamsSwitchAtomicsAndSectorsToTheEffectsPipelines)
{
    Atomic* atomic = Own(MakeAtomic(Own(MakeGrid(1, 1, GEOMETRY_POSITIONS, nullptr))));
    MatFX_EnableAtomicEffects(atomic);
    EXPECT_EQ(atomic->pipeline, MatFX_GetAtomicPipeline());
    Bytes bytes = WriteAtomic(atomic);
    EXPECT_EQ(SubChunk(bytes, PLUGIN_MATFX).size(), 4u);
    Atomic* read = Own(ReadAtomic(bytes));
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(MatFX_AtomicEffectsEnabled(read) && read->pipeline == MatFX_GetAtomicPipeline());
    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 0, 0, 0);
    MaterialList none;
    MaterialList_Initialize(&none);
    ASSERT_NE(Own(World_CreateWithTree(&box, leaf, &none, 0)), nullptr);  // constructs the leaf's extensions
    Bytes flag;
    Words(flag, {1});
    ASSERT_TRUE(ReadExtensions(WorldSector_GetRegistry(), ExtensionChunk(PLUGIN_MATFX, flag), leaf));
    EXPECT_TRUE(MatFX_WorldSectorEffectsEnabled(leaf));
    EXPECT_EQ(leaf->pipeline, MatFX_GetWorldSectorPipeline());
}

}  // namespace
