#include <gtest/gtest.h>

#include <cmath>

#include "common/list.h"
#include "engine/particle.h"

namespace {

class ParticleTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        Particle_Shutdown();
        Particle_SetDetail(1);
        Particle_SetUnlimited(0);
    }

    static Particle* Spawn(float alpha = 1.0f)
    {
        const Vec3 at = {1, 2, 3}, v = {0, 0.1f, 0};
        const float size[2] = {0.5f, 0.25f};
        return Particle_Spawn(7, 0xABCD, &at, &v, size, 1.0f, 0.5f, 0.0f, alpha, 0.75f);
    }
};

TEST_F(ParticleTest, TheLimitFollowsTheDetailAndOnlyInitResetsTheCount)
{
    struct Case {
        int32_t detail;
        uint32_t limit;
    };
    for (const Case c : {Case{0, 0}, Case{1, 200}, Case{2, 400}, Case{3, 0}}) {
        SCOPED_TRACE(c.detail);
        Particle_SetDetail(c.detail);
        ASSERT_EQ(Particle_Init(), 1);
        for (uint32_t i = 0; i < c.limit; i++) ASSERT_NE(Spawn(), nullptr) << i;
        EXPECT_EQ(Spawn(), nullptr);
        EXPECT_EQ(Particle_GetLiveCount(), c.limit);
        // Destroying the pool lowers nothing; only the next start resets.
        Particle_Shutdown();
        EXPECT_EQ(Spawn(), nullptr);
        EXPECT_EQ(Particle_GetLiveCount(), c.limit);
    }
    ASSERT_EQ(Particle_Init(), 1);
    EXPECT_EQ(Particle_GetLiveCount(), 0u);
}

TEST_F(ParticleTest, UnlimitedPassesTheLimitButNeverMakesParticlesAtDetailZero)
{
    Particle_SetDetail(1);
    ASSERT_EQ(Particle_Init(), 1);
    Particle_SetUnlimited(1);
    for (int i = 0; i < 201; i++) ASSERT_NE(Spawn(), nullptr) << i;
    Particle_Shutdown();
    Particle_SetDetail(0);
    ASSERT_EQ(Particle_Init(), 1);
    EXPECT_EQ(Spawn(), nullptr);
}

TEST_F(ParticleTest, AFullFixedPoolRefusesWithoutCounting)
{
    ASSERT_EQ(Particle_Init(), 1);
    ASSERT_EQ(List_SetBlockSize(Particle_GetPool(), 2), 1);
    EXPECT_NE(Spawn(), nullptr);
    EXPECT_NE(Spawn(), nullptr);
    EXPECT_EQ(Spawn(), nullptr);
    EXPECT_EQ(Particle_GetLiveCount(), 2u);
}

TEST_F(ParticleTest, ASpawnStoresItsFieldsWithColoursTruncatedAndClamped)
{
    ASSERT_EQ(Particle_Init(), 1);
    struct Case {
        float alpha;
        uint8_t byte;
    };
    for (const Case c : {Case{0.65f, 165}, Case{2.0f, 255}, Case{-1.0f, 0}, Case{NAN, 0}}) {
        Particle* p = Spawn(c.alpha);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->colour[3], c.byte) << c.alpha;
        EXPECT_EQ(p->colour[0], 255);
        EXPECT_EQ(p->colour[1], 127);
        EXPECT_EQ(p->colour[2], 0);
        EXPECT_EQ(p->owner, 7u);
        EXPECT_EQ(p->kind, 0xABCDu);
        EXPECT_FLOAT_EQ(p->position.z, 3.0f);
        EXPECT_FLOAT_EQ(p->velocity.y, 0.1f);
        EXPECT_FLOAT_EQ(p->size[1], 0.25f);
        EXPECT_FLOAT_EQ(p->life, 0.75f);
        EXPECT_FLOAT_EQ(p->remainingLife, 0.75f);
        EXPECT_EQ(p->flags, (uint32_t)PARTICLE_SPAWNED);
    }
}

TEST_F(ParticleTest, SettersSetAndClearTheirFlags)
{
    ASSERT_EQ(Particle_Init(), 1);
    Particle* p = Spawn();
    ASSERT_NE(p, nullptr);
    Particle_SetGrowth(p, 4.0f);
    EXPECT_FLOAT_EQ(p->growth[0], 4.0f);
    EXPECT_FLOAT_EQ(p->growth[1], 4.0f);
    EXPECT_TRUE(p->flags & PARTICLE_GROWS);
    Particle_SetGrowth(p, 0.0f);
    EXPECT_FALSE(p->flags & PARTICLE_GROWS);
    Particle_SetFlag64(p, 1);
    Particle_SetFlag2048(p, 1);
    Particle_SetFlag1(p, 0);
    EXPECT_EQ(p->flags, (uint32_t)(PARTICLE_FLAG64 | PARTICLE_FLAG2048));
    Particle_SetRotation(p, 90.0f);
    EXPECT_FLOAT_EQ(p->rotation, 90.0f);
    Particle_SetGrowth(nullptr, 1.0f);  // ignored
}

}  // namespace
