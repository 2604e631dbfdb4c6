#include "gfx/toolkit/anim/anim.h"

#include "gfx/core/matrix.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/toolkit/anim/stdkey.h"
#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

// The hierarchical-animation plugin registers the standard scheme at open.
class AnimTest : public WorldTest {
protected:
    void RegisterPlugins() override { ASSERT_EQ(HAnim_PluginAttach(), 1); }
};

constexpr float kS45 = 0.70710678f;
StdKeyFrame Key(float time, Quat q, Vec3 t = {})
{
    StdKeyFrame k = {};
    k.time = time, k.q = q, k.t = t;
    return k;
}
void ExpectKey(const StdKeyFrame& k, Quat q, Vec3 t, float tolerance = 1e-5f)
{
    const float got[] = {k.q.x, k.q.y, k.q.z, k.q.w, k.t.x, k.t.y, k.t.z}, want[] = {q.x, q.y, q.z, q.w, t.x, t.y, t.z};
    for (int i = 0; i < 7; i++) EXPECT_NEAR(got[i], want[i], tolerance) << i;
}

TEST_F(AnimTest, TheRegistryRefusesARepeatedIdAndASeventeenthSchemeLeavingItUnchanged)
{
    const AnimScheme* standard = AnimScheme_Get(STDKEYFRAME_TYPE_ID);
    ASSERT_NE(standard, nullptr);
    AnimScheme scheme = *standard;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    EXPECT_EQ(TakeErrorOf(), std::pair((int32_t)PLUGIN_ANIM_TOOLKIT, (int32_t)ANIM_ERR_DUPLICATE_SCHEME));
    // The registry lives for the program: fill what other tests left free.
    for (scheme.typeId = 1000; AnimScheme_Count() < (int32_t)ANIM_MAX_SCHEMES; scheme.typeId++)
        EXPECT_TRUE(AnimScheme_Get(scheme.typeId) || AnimScheme_Register(&scheme));
    scheme.typeId = 5000;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ANIM_ERR_REGISTRY_FULL);
    EXPECT_EQ(std::tuple(AnimScheme_Count(), AnimScheme_Get(5000), AnimScheme_Get(STDKEYFRAME_TYPE_ID)),
              std::tuple((int32_t)ANIM_MAX_SCHEMES, nullptr, standard));
}

TEST_F(AnimTest, KeysBecomeOrthonormalMatricesAndBlendInterpolateAddAndTakeAwayAsRotations)
{
    Matrix m;
    memset(&m, 0xCD, sizeof(m));
    const StdKeyFrame turn = Key(0, {0, 0, kS45, kS45}, {1, 2, 3});  // 90 degrees about z
    StdKeyFrame_Apply(&m, &turn);
    const float rows[] = {m.right.x, m.right.y, m.up.x, m.up.y, m.at.z, m.pos.x, m.pos.y, m.pos.z};
    const float want[] = {0, 1, -1, 0, 1, 1, 2, 3};
    for (int i = 0; i < 8; i++) EXPECT_NEAR(rows[i], want[i], 1e-6f) << i;
    EXPECT_EQ(std::tuple(m.flags, m.pad1 | m.pad2 | m.pad3), std::tuple(3u, 0u));

    // 90 degrees apart: halfway is 45 degrees, unit length; a dot product of
    // exactly 0.999 takes the linear weights; the opposite quaternion is the
    // same rotation: b is flipped in place and the weights are linear.
    const float w = 0.999f, z = std::sqrt(1 - w * w), s = std::sin(0.3926991f), c = std::cos(0.3926991f);
    StdKeyFrame out = {}, a = Key(0, {0, 0, 0, 1}), b = Key(1, {0, 0, kS45, kS45}, {2, 4, 6});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    ExpectKey(out, {0, 0, s, c}, {1, 2, 3});
    b = Key(1, {0, 0, z, w});
    StdKeyFrame_Blend(&out, &a, &b, 0.25f);
    ExpectKey(out, {0, 0, 0.25f * z, 0.75f + 0.25f * w}, {}, 1e-7f);
    b = Key(1, {0, 0, 0, -1});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    for (const StdKeyFrame& k : {b, out}) ExpectKey(k, {0, 0, 0, 1}, {});
    // Interpolation hits both keys and halfway; keys at one time give the first.
    a = Key(2, {0, 0, 0, 1}, {1, 1, 1}), b = Key(4, {0, 0, kS45, kS45}, {3, 5, 7});
    StdKeyFrame_Interpolate(&out, &a, &b, 4);
    ExpectKey(out, b.q, b.t);
    StdKeyFrame_Interpolate(&out, &a, &b, 3);
    ExpectKey(out, {0, 0, s, c}, {2, 3, 4});
    b.time = 2;
    StdKeyFrame_Interpolate(&out, &a, &b, 2);
    ExpectKey(out, a.q, a.t);
    // Add (start on the left) then multiply by the reciprocal gives the key
    // back; a zero start quaternion has no reciprocal: the rotation stays.
    const StdKeyFrame start = Key(0, {0.1f, 0.7f, -0.2f, 0.6782330f}, {1, -2, 3});
    const StdKeyFrame key = Key(0, {0.3f, -0.1f, 0.5f, 0.8062258f}, {4, 5, 6});
    StdKeyFrame sum = {};
    StdKeyFrame_Add(&sum, &start, &key);
    EXPECT_NEAR(sum.q.x, start.q.w * 0.3f + key.q.w * 0.1f + 0.7f * 0.5f - 0.2f * 0.1f, 1e-6f);
    EXPECT_NEAR(sum.t.y, 3, 1e-6f);
    StdKeyFrame_MulRecip(&sum, &start);
    ExpectKey(sum, key.q, key.t);
    const StdKeyFrame none = Key(0, {0, 0, 0, 0}, {1, 1, 1});
    sum = key;
    StdKeyFrame_MulRecip(&sum, &none);
    ExpectKey(sum, key.q, {3, 4, 5});
}

TEST_F(AnimTest, KeyFrameStreamsStorePreviousKeysAsOffsetsAndRefuseOnesOutsideTheAnimation)
{
    StdKeyFrame keys[3] = {Key(0, {0, 0, 0, 1}), Key(1, {0, 0, kS45, kS45}, {1, 0, 0}), Key(2, {0, kS45, 0, kS45})};
    keys[0].prevFrame = &keys[0], keys[1].prevFrame = &keys[0], keys[2].prevFrame = &keys[1];
    const Animation animation = {3, keys};
    EXPECT_EQ(StdKeyFrame_StreamGetSize(&animation), 108);
    const Bytes good = Written(StdKeyFrame_StreamWrite, &animation);
    ASSERT_EQ(good.size(), 108u);
    EXPECT_EQ(std::tuple(U32(good, 36 + 12), U32(good, 36 + 32) + U32(good, 72 + 32)),
              std::tuple(FloatBits(kS45), 36u));  // key 1's qz, the previous keys' offsets
    StdKeyFrame back[3] = {};
    Animation read = {3, back};
    auto readBack = [&](Bytes& b) {
        Stream* s = OpenRead(b);
        Animation* r = StdKeyFrame_StreamRead(s, &read);
        Stream_Close(s, nullptr);
        return r;
    };
    Bytes bytes = good;
    PutU32(bytes, 72 + 32, 40);  // inside key 1: rounds down to it
    ASSERT_EQ(readBack(bytes), &read);
    EXPECT_EQ(std::tuple(back[2].prevFrame, back[0].prevFrame, back[2].time), std::tuple(&back[1], &back[0], 2.0f));
    ExpectKey(back[1], keys[1].q, keys[1].t);
    ExpectRefused(good,
                  {{"before the animation", 36 + 32, 0xFFFFFFFCu, (int32_t)ANIM_ERR_BAD_DATA},
                   {"past it", 36 + 32, 108, (int32_t)ANIM_ERR_BAD_DATA},
                   {"far past it", 36 + 32, 0x7FFFFFFF, (int32_t)ANIM_ERR_BAD_DATA},
                   {"cut short", kKeep, 0, 0, 107}},
                  readBack);
    // A previous key outside the array, or none, writes nothing.
    StdKeyFrame elsewhere = {};
    for (StdKeyFrame* previous : {&elsewhere, (StdKeyFrame*)nullptr}) {
        keys[1].prevFrame = previous;
        Stream* s = OpenWrite();
        EXPECT_EQ(StdKeyFrame_StreamWrite(&animation, s), nullptr);
        EXPECT_TRUE(CloseWrite(s).empty());
        EXPECT_EQ(Error_TakeCode(), (int32_t)ANIM_ERR_BAD_DATA);
    }
}

}  // namespace
