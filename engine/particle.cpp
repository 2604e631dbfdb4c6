#include "engine/particle.h"

#include "common/list.h"
#include "common/strings.h"

namespace {

struct ParticleModule {
    int32_t detail = 1;
    uint32_t limit;
    uint32_t liveCount;  // spawns since Particle_Init; never lowered
    int unlimited;
    List* pool;
};

ParticleModule g_particles;

// A colour component 0..1 as a byte: clamped, then x 255 truncated
// (0.65 gives 165).
uint8_t ColourByte(float value)
{
    if (!(value > 0.0f)) return 0;  // also NaN
    if (value >= 1.0f) return 255;
    return (uint8_t)(value * 255.0f);
}

void SetFlag(Particle* particle, uint32_t bit, int on)
{
    if (particle) particle->flags = Flags_Set(particle->flags, bit, on);
}

}  // namespace

int32_t Particle_LimitForDetail(int32_t detail)
{
    switch (detail) {
    case 1: return 200;
    case 2: return 400;
    default: return 0;
    }
}

void Particle_SetDetail(int32_t detail) { g_particles.detail = detail; }

int Particle_Init(void)
{
    if (!g_particles.pool) g_particles.pool = List_Create(sizeof(Particle));
    g_particles.limit = (uint32_t)Particle_LimitForDetail(g_particles.detail);
    g_particles.liveCount = 0;
    return g_particles.pool != nullptr;
}

void Particle_Shutdown(void)
{
    List_Destroy(g_particles.pool);
    g_particles.pool = nullptr;
}

List* Particle_GetPool(void) { return g_particles.pool; }

void Particle_SetUnlimited(int on) { g_particles.unlimited = on; }

uint32_t Particle_GetLiveCount(void) { return g_particles.liveCount; }

Particle* Particle_Spawn(uint32_t owner, uint32_t kind, const Vec3* position, const Vec3* velocity, const float* size,
                         float red, float green, float blue, float alpha, float life)
{
    const bool unlimited = g_particles.unlimited && g_particles.limit > 0;
    if (g_particles.liveCount >= g_particles.limit && !unlimited) return nullptr;
    if (!g_particles.pool) return nullptr;
    Particle* p = (Particle*)List_Alloc(g_particles.pool);
    if (!p) return nullptr;
    p->owner = owner;
    p->kind = kind;
    if (position) p->position = p->origin = *position;
    if (velocity) p->velocity = *velocity;
    if (size) {
        p->size[0] = size[0];
        p->size[1] = size[1];
    }
    p->colour[0] = ColourByte(red);
    p->colour[1] = ColourByte(green);
    p->colour[2] = ColourByte(blue);
    p->colour[3] = ColourByte(alpha);
    p->life = p->remainingLife = life;
    p->flags = PARTICLE_SPAWNED;
    g_particles.liveCount++;
    return p;
}

void Particle_SetGrowth(Particle* particle, float value)
{
    if (!particle) return;
    particle->growth[0] = particle->growth[1] = value;
    SetFlag(particle, PARTICLE_GROWS, value != 0.0f);
}

void Particle_SetRotation(Particle* particle, float degrees)
{
    if (particle) particle->rotation = degrees;
}

void Particle_SetFlag1(Particle* particle, int on) { SetFlag(particle, PARTICLE_SPAWNED, on); }
void Particle_SetFlag64(Particle* particle, int on) { SetFlag(particle, PARTICLE_FLAG64, on); }
void Particle_SetFlag2048(Particle* particle, int on) { SetFlag(particle, PARTICLE_FLAG2048, on); }
