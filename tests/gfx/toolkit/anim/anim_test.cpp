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
void ExpectNear(std::initializer_list<float> got, std::initializer_list<float> want, float tolerance = 1e-5f)
{
    for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got.begin()[i], want.begin()[i], tolerance) << i;
}
void ExpectKey(const StdKeyFrame& k, Quat q, Vec3 t, float tolerance = 1e-5f)
{
    ExpectNear({k.q.x, k.q.y, k.q.z, k.q.w, k.t.x, k.t.y, k.t.z}, {q.x, q.y, q.z, q.w, t.x, t.y, t.z}, tolerance);
}

TEST_F(AnimTest, TheRegistryRefusesARepeatedIdAndASeventeenthSchemeAndInterpolatorsCarryAKeyFramePerNode)
{
    const AnimScheme* standard = AnimScheme_Get(STDKEYFRAME_TYPE_ID);
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(standard->apply, StdKeyFrame_Apply);
    AnimScheme scheme = *standard;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    ErrorRecord e;
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, (int32_t)PLUGIN_ANIM_TOOLKIT);
    EXPECT_EQ(e.code, (int32_t)ANIM_ERR_DUPLICATE_SCHEME);
    // The registry lives for the program: fill what other tests left free.
    for (scheme.typeId = 1000; AnimScheme_Count() < (int32_t)ANIM_MAX_SCHEMES; scheme.typeId++)
        if (!AnimScheme_Get(scheme.typeId)) {
            ASSERT_EQ(AnimScheme_Register(&scheme), 1);
        }
    scheme.typeId = 5000;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ANIM_ERR_REGISTRY_FULL);
    EXPECT_EQ(AnimScheme_Count(), (int32_t)ANIM_MAX_SCHEMES);
    EXPECT_EQ(AnimScheme_Get(5000), nullptr);
    EXPECT_EQ(AnimScheme_Get(STDKEYFRAME_TYPE_ID), standard);

    const long before = Live();
    AnimInterpolator* in = Interpolator_Create(3, (int32_t)sizeof(StdKeyFrame));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->parent, in);
    for (int32_t i = 0; i < 3; i++) *(StdKeyFrame*)Interpolator_KeyFrame(in, i) = Key((float)i, {0, 0, 0, 1});
    EXPECT_EQ(((StdKeyFrame*)Interpolator_KeyFrame(in, 2))->time, 2.0f);
    Interpolator_Destroy(in);
    EXPECT_EQ(Live(), before);
}

TEST_F(AnimTest, KeysBecomeOrthonormalMatricesAndBlendInterpolateAddAndTakeAwayAsRotations)
{
    Matrix m;
    memset(&m, 0xCD, sizeof(m));
    const StdKeyFrame turn = Key(0, {0, 0, kS45, kS45}, {1, 2, 3});  // 90 degrees about z
    StdKeyFrame_Apply(&m, &turn);
    ExpectNear(
        {m.right.x, m.right.y, m.right.z, m.up.x, m.up.y, m.up.z, m.at.x, m.at.y, m.at.z, m.pos.x, m.pos.y, m.pos.z},
        {0, 1, 0, -1, 0, 0, 0, 0, 1, 1, 2, 3});
    EXPECT_EQ(m.flags, 3u);
    EXPECT_EQ(m.pad1 | m.pad2 | m.pad3, 0u);

    // 90 degrees apart: halfway is 45 degrees, unit length; a dot product of
    // exactly 0.999 takes the linear weights; the opposite quaternion is the
    // same rotation: b is flipped in place and the weights are linear.
    StdKeyFrame out = {}, a = Key(0, {0, 0, 0, 1}), b = Key(1, {0, 0, kS45, kS45}, {2, 4, 6});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    ExpectKey(out, {0, 0, std::sin(0.3926991f), std::cos(0.3926991f)}, {1, 2, 3});
    const float w = 0.999f, z = std::sqrt(1 - w * w);
    b = Key(1, {0, 0, z, w});
    StdKeyFrame_Blend(&out, &a, &b, 0.25f);
    ExpectKey(out, {0, 0, 0.25f * z, 0.75f + 0.25f * w}, {}, 1e-7f);
    b = Key(1, {0, 0, 0, -1});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    ExpectKey(b, {0, 0, 0, 1}, {});
    ExpectKey(out, {0, 0, 0, 1}, {});

    // Interpolation hits both keys; keys at one time give the first.
    a = Key(2, {0, 0, 0, 1}, {1, 1, 1}), b = Key(4, {0, kS45, 0, kS45}, {3, 5, 7});
    const float times[] = {2, 4, 3};
    const Vec3 at[] = {a.t, b.t, {2, 3, 4}};
    for (int i = 0; i < 3; i++) {
        StdKeyFrame_Interpolate(&out, &a, &b, times[i]);
        ExpectNear({out.t.x, out.t.y, out.t.z}, {at[i].x, at[i].y, at[i].z});
    }
    ExpectKey(out, {0, 0.3826834f, 0, 0.9238795f}, {2, 3, 4});
    b.time = 2;
    StdKeyFrame_Interpolate(&out, &a, &b, 2);
    ExpectKey(out, a.q, a.t);

    // Add then multiply by the reciprocal gives the key back; a zero start
    // quaternion has no reciprocal: the rotation stays.
    const StdKeyFrame start = Key(0, {0.1f, 0.7f, -0.2f, 0.6782330f}, {1, -2, 3});
    const StdKeyFrame key = Key(0, {0.3f, -0.1f, 0.5f, 0.8062258f}, {4, 5, 6});
    StdKeyFrame sum = {};
    StdKeyFrame_Add(&sum, &start, &key);
    EXPECT_NEAR(sum.q.w, start.q.w * key.q.w - (0.1f * 0.3f + 0.7f * -0.1f + -0.2f * 0.5f), 1e-6f);
    EXPECT_NEAR(sum.q.x, start.q.w * 0.3f + key.q.w * 0.1f + (0.7f * 0.5f - -0.2f * -0.1f),
                1e-6f);  // start on the left
    ExpectNear({sum.t.x, sum.t.y, sum.t.z}, {5, 3, 9});
    StdKeyFrame_MulRecip(&sum, &start);
    ExpectKey(sum, key.q, key.t);
    sum = key;
    const StdKeyFrame zero = Key(0, {0, 0, 0, 0}, {1, 1, 1});
    StdKeyFrame_MulRecip(&sum, &zero);
    ExpectKey(sum, key.q, {3, 4, 5});
}

TEST_F(AnimTest, KeyFrameStreamsStorePreviousKeysAsOffsetsAndRefuseOnesOutsideTheAnimation)
{
    StdKeyFrame keys[3] = {Key(0, {0, 0, 0, 1}), Key(1, {0, 0, kS45, kS45}, {1, 0, 0}),
                           Key(2, {0, kS45, 0, kS45}, {0, 1, 0})};
    keys[0].prevFrame = &keys[0], keys[1].prevFrame = &keys[0], keys[2].prevFrame = &keys[1];
    const Animation animation = {3, keys};
    EXPECT_EQ(StdKeyFrame_StreamGetSize(&animation), 108);
    const Bytes good = Written(StdKeyFrame_StreamWrite, &animation);
    ASSERT_EQ(good.size(), 108u);
    const uint32_t words[][2] = {{36 + 12, FloatBits(kS45)}, {32, 0}, {36 + 32, 0}, {72 + 32, 36}};
    for (const auto& w : words) EXPECT_EQ(U32(good, w[0]), w[1]) << w[0];
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
    EXPECT_EQ(back[2].prevFrame, &back[1]);
    EXPECT_EQ(back[0].prevFrame, &back[0]);
    ExpectKey(back[1], keys[1].q, keys[1].t);
    EXPECT_EQ(back[2].time, 2.0f);
    ExpectRefused(good,
                  {{"offset before the animation", 36 + 32, 0xFFFFFFFCu, (int32_t)ANIM_ERR_BAD_DATA},
                   {"offset past the animation", 36 + 32, 108, (int32_t)ANIM_ERR_BAD_DATA},
                   {"offset far past it", 36 + 32, 0x7FFFFFFF, (int32_t)ANIM_ERR_BAD_DATA},
                   {"cut short", kKeep, 0, 0, 107}},
                  readBack);
    // A previous key outside the array writes nothing.
    StdKeyFrame elsewhere = {};
    keys[1].prevFrame = &elsewhere;
    Stream* s = OpenWrite();
    EXPECT_EQ(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    EXPECT_TRUE(CloseWrite(s).empty());
    EXPECT_EQ(Error_TakeCode(), (int32_t)ANIM_ERR_BAD_DATA);
    keys[1].prevFrame = nullptr;
    s = OpenWrite();
    EXPECT_EQ(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    CloseWrite(s);
}

}  // namespace
