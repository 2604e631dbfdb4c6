#include "gfx/toolkit/anim/anim.h"

#include <cmath>

#include "gfx/core/matrix.h"
#include "gfx/toolkit/anim/stdkey.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

// The hierarchical-animation plugin registers the standard scheme at open.
class AnimTest : public PluginTest {
protected:
    static StdKeyFrame Key(float time, Quat q, Vec3 t)
    {
        StdKeyFrame k = {};
        k.time = time, k.q = q, k.t = t;
        return k;
    }
    static void ExpectQuat(const Quat& a, const Quat& b, float tolerance = 1e-5f)
    {
        EXPECT_NEAR(a.x, b.x, tolerance);
        EXPECT_NEAR(a.y, b.y, tolerance);
        EXPECT_NEAR(a.z, b.z, tolerance);
        EXPECT_NEAR(a.w, b.w, tolerance);
    }
    static void ExpectVec(const Vec3& a, const Vec3& b, float tolerance = 1e-5f)
    {
        EXPECT_NEAR(a.x, b.x, tolerance);
        EXPECT_NEAR(a.y, b.y, tolerance);
        EXPECT_NEAR(a.z, b.z, tolerance);
    }
};

constexpr float kS45 = 0.70710678f;

TEST_F(AnimTest, TheRegistryRefusesARepeatedIdAndASeventeenthSchemeLeavingItUnchanged)
{
    const AnimScheme* standard = AnimScheme_Get(STDKEYFRAME_TYPE_ID);
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(standard->keyFrameSize, (int32_t)sizeof(StdKeyFrame));
    EXPECT_EQ(standard->apply, StdKeyFrame_Apply);

    AnimScheme scheme = *standard;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    ErrorRecord e;
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, (int32_t)PLUGIN_ANIM_TOOLKIT);
    EXPECT_EQ(e.code, (int32_t)ANIM_ERR_DUPLICATE_SCHEME);

    // The registry lives for the program: fill what other tests left free.
    for (int32_t id = 1000; AnimScheme_Count() < (int32_t)ANIM_MAX_SCHEMES; id++) {
        scheme.typeId = id;
        if (!AnimScheme_Get(id)) {
            ASSERT_EQ(AnimScheme_Register(&scheme), 1);
        }
    }
    scheme.typeId = 5000;
    EXPECT_EQ(AnimScheme_Register(&scheme), 0);
    Error_Get(&e);
    EXPECT_EQ(e.code, (int32_t)ANIM_ERR_REGISTRY_FULL);
    EXPECT_EQ(AnimScheme_Count(), (int32_t)ANIM_MAX_SCHEMES);
    EXPECT_EQ(AnimScheme_Get(5000), nullptr);
    EXPECT_EQ(AnimScheme_Get(STDKEYFRAME_TYPE_ID), standard);
}

TEST_F(AnimTest, AnInterpolatorCarriesItsNodesKeyFramesAfterItsHeader)
{
    const long before = Live();
    AnimInterpolator* in = Interpolator_Create(3, (int32_t)sizeof(StdKeyFrame));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->numNodes, 3);
    EXPECT_EQ(in->maxKeyFrameSize, (int32_t)sizeof(StdKeyFrame));
    EXPECT_EQ(in->currentKeyFrameSize, (int32_t)sizeof(StdKeyFrame));
    EXPECT_EQ(in->parent, in);
    EXPECT_EQ(in->reserved6, -1.0f);
    EXPECT_EQ(in->reserved11, -1);
    // Every node's key frame is writable up to the block's end.
    for (int32_t i = 0; i < 3; i++) *(StdKeyFrame*)Interpolator_KeyFrame(in, i) = Key((float)i, {0, 0, 0, 1}, {});
    EXPECT_EQ(((StdKeyFrame*)Interpolator_KeyFrame(in, 2))->time, 2.0f);
    Interpolator_Destroy(in);
    EXPECT_EQ(Live(), before);
}

TEST_F(AnimTest, ApplyTurnsAQuaternionAndTranslationIntoAnOrthonormalMatrix)
{
    const StdKeyFrame k = Key(0, {0, 0, kS45, kS45}, {1, 2, 3});  // 90 degrees about z
    Matrix m;
    memset(&m, 0xCD, sizeof(m));
    StdKeyFrame_Apply(&m, &k);
    ExpectVec(m.right, {0, 1, 0});
    ExpectVec(m.up, {-1, 0, 0});
    ExpectVec(m.at, {0, 0, 1});
    ExpectVec(m.pos, {1, 2, 3});
    EXPECT_EQ(m.flags, 3u);
    EXPECT_EQ(m.pad1 | m.pad2 | m.pad3, 0u);
}

TEST_F(AnimTest, BlendSlerpsInsideTheThresholdAndLerpsFromItOn)
{
    StdKeyFrame out = {};
    // 90 degrees apart: halfway is 45 degrees, unit length.
    StdKeyFrame a = Key(0, {0, 0, 0, 1}, {0, 0, 0}), b = Key(1, {0, 0, kS45, kS45}, {2, 4, 6});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    ExpectQuat(out.q, {0, 0, std::sin(0.3926991f), std::cos(0.3926991f)});
    ExpectVec(out.t, {1, 2, 3});

    // A dot product of exactly 0.999 uses the linear weights.
    const float w = 0.999f, z = std::sqrt(1 - w * w);
    b = Key(1, {0, 0, z, w}, {});
    StdKeyFrame_Blend(&out, &a, &b, 0.25f);
    ExpectQuat(out.q, {0, 0, 0.25f * z, 0.75f + 0.25f * w}, 1e-7f);

    // The opposite quaternion is the same rotation: b is flipped in place
    // and the weights are linear.
    b = Key(1, {0, 0, 0, -1}, {});
    StdKeyFrame_Blend(&out, &a, &b, 0.5f);
    ExpectQuat(b.q, {0, 0, 0, 1});
    ExpectQuat(out.q, {0, 0, 0, 1});
}

TEST_F(AnimTest, InterpolationHitsBothKeysAndKeysAtOneTimeGiveTheFirst)
{
    StdKeyFrame a = Key(2, {0, 0, 0, 1}, {1, 1, 1}), b = Key(4, {0, kS45, 0, kS45}, {3, 5, 7}), out = {};
    StdKeyFrame_Interpolate(&out, &a, &b, 2);
    ExpectQuat(out.q, a.q), ExpectVec(out.t, a.t);
    StdKeyFrame_Interpolate(&out, &a, &b, 4);
    ExpectQuat(out.q, b.q), ExpectVec(out.t, b.t);
    StdKeyFrame_Interpolate(&out, &a, &b, 3);
    ExpectVec(out.t, {2, 3, 4});
    b.time = 2;
    StdKeyFrame_Interpolate(&out, &a, &b, 2);
    EXPECT_TRUE(std::isfinite(out.q.w) && std::isfinite(out.t.x));
    ExpectQuat(out.q, a.q), ExpectVec(out.t, a.t);
}

TEST_F(AnimTest, AddThenMultiplyByTheReciprocalGivesTheKeyBack)
{
    const StdKeyFrame start = Key(0, {0.1f, 0.7f, -0.2f, 0.6782330f}, {1, -2, 3});
    const StdKeyFrame key = Key(0, {0.3f, -0.1f, 0.5f, 0.8062258f}, {4, 5, 6});
    StdKeyFrame sum = {};
    StdKeyFrame_Add(&sum, &start, &key);
    // Hamilton product with start on the left, checked on one component.
    EXPECT_NEAR(sum.q.w, start.q.w * key.q.w - (0.1f * 0.3f + 0.7f * -0.1f + -0.2f * 0.5f), 1e-6f);
    ExpectVec(sum.t, {5, 3, 9});
    StdKeyFrame_MulRecip(&sum, &start);
    ExpectQuat(sum.q, key.q, 1e-5f);
    ExpectVec(sum.t, key.t);

    // A zero start quaternion has no reciprocal: the rotation stays.
    StdKeyFrame k = key, zero = Key(0, {0, 0, 0, 0}, {1, 1, 1});
    StdKeyFrame_MulRecip(&k, &zero);
    ExpectQuat(k.q, key.q);
    ExpectVec(k.t, {3, 4, 5});
}

TEST_F(AnimTest, KeyFrameStreamsRoundTripWithPreviousKeysAsOffsets)
{
    StdKeyFrame keys[3] = {Key(0, {0, 0, 0, 1}, {0, 0, 0}), Key(1, {0, 0, kS45, kS45}, {1, 0, 0}),
                           Key(2, {0, kS45, 0, kS45}, {0, 1, 0})};
    keys[0].prevFrame = &keys[0], keys[1].prevFrame = &keys[0], keys[2].prevFrame = &keys[1];
    const Animation animation = {3, keys};
    EXPECT_EQ(StdKeyFrame_StreamGetSize(&animation), 108);
    Stream* s = OpenWrite();
    ASSERT_NE(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    Bytes bytes = CloseWrite(s);
    ASSERT_EQ(bytes.size(), 108u);
    EXPECT_EQ(U32(bytes, 36 + 12), FloatBits(kS45));  // key 1's qz
    EXPECT_EQ(U32(bytes, 32), 0u);
    EXPECT_EQ(U32(bytes, 36 + 32), 0u);
    EXPECT_EQ(U32(bytes, 72 + 32), 36u);

    PutU32(bytes, 72 + 32, 40);  // inside key 1: rounds down to it
    StdKeyFrame back[3] = {};
    Animation read = {3, back};
    s = OpenRead(bytes);
    ASSERT_EQ(StdKeyFrame_StreamRead(s, &read), &read);
    Stream_Close(s, nullptr);
    EXPECT_EQ(back[2].prevFrame, &back[1]);
    EXPECT_EQ(back[0].prevFrame, &back[0]);
    ExpectQuat(back[1].q, keys[1].q), ExpectVec(back[2].t, keys[2].t);
    EXPECT_EQ(back[2].time, 2.0f);
}

TEST_F(AnimTest, KeyFrameOffsetsOutsideTheAnimationAndForeignPreviousKeysAreRefused)
{
    StdKeyFrame keys[2] = {Key(0, {0, 0, 0, 1}, {}), Key(1, {0, 0, 0, 1}, {})};
    keys[0].prevFrame = keys[1].prevFrame = &keys[0];
    Animation animation = {2, keys};
    Stream* s = OpenWrite();
    ASSERT_NE(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    Bytes good = CloseWrite(s);
    for (uint32_t offset : {0xFFFFFFFCu, 72u, 0x7FFFFFFFu}) {
        Bytes bytes = good;
        PutU32(bytes, 36 + 32, offset);
        StdKeyFrame back[2] = {};
        Animation read = {2, back};
        s = OpenRead(bytes);
        EXPECT_EQ(StdKeyFrame_StreamRead(s, &read), nullptr) << offset;
        Stream_Close(s, nullptr);
        ErrorRecord e;
        Error_Get(&e);
        EXPECT_EQ(e.pluginId, (int32_t)PLUGIN_ANIM_TOOLKIT);
        EXPECT_EQ(e.code, (int32_t)ANIM_ERR_BAD_DATA);
    }
    Bytes shortBytes(good.begin(), good.end() - 1);
    StdKeyFrame back[2] = {};
    Animation read = {2, back};
    s = OpenRead(shortBytes);
    EXPECT_EQ(StdKeyFrame_StreamRead(s, &read), nullptr);
    Stream_Close(s, nullptr);

    StdKeyFrame elsewhere = {};
    keys[1].prevFrame = &elsewhere;
    s = OpenWrite();
    EXPECT_EQ(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    EXPECT_TRUE(CloseWrite(s).empty());
    keys[1].prevFrame = nullptr;
    s = OpenWrite();
    EXPECT_EQ(StdKeyFrame_StreamWrite(&animation, s), nullptr);
    CloseWrite(s);
    Error_Get(nullptr);
}

}  // namespace
