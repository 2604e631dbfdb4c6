// Particles: the records that the particle triggers of animation sets spawn
// (smoke puffs, sparkles). This layer only creates them and sets their
// fields; nothing in the system moves, ages, draws or frees a live
// particle. Each spawned record stays in the pool until the pool goes
// (Particle_Shutdown, at the level's unload).
//
// The pool's limit comes from the detail setting read at Particle_Init (0:
// none, 1: 200, 2: 400; the game runs at 1). The live count grows with every
// spawn and is lowered by nothing, not even by destroying the pool; only
// Particle_Init resets it. So after `limit` spawns in one run no further
// particle is made. Nothing draws particles, so the dead pool is harmless;
// it is kept as the system has always behaved.
//
// One module record for the program; main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;

enum : uint32_t {
    PARTICLE_SPAWNED = 1,      // set by every spawn (also Particle_SetFlag1)
    PARTICLE_GROWS = 16,       // growth is not 0
    PARTICLE_FLAG64 = 64,      // set by the sparkle effect; no reader
    PARTICLE_FLAG2048 = 2048,  // set by both effects; no reader
};

struct Particle {
    uint32_t owner;  // the spawner's word
    uint32_t kind;   // name hash of the effect that spawned it
    Vec3 position;
    Vec3 origin;  // where it was spawned
    Vec3 velocity;
    uint32_t reserved0[4];
    float size[2];    // width, height
    float growth[2];  // both set by Particle_SetGrowth
    float rotation;   // degrees, as given
    float reserved1[4];
    uint32_t reserved2[3];
    float life;           // seconds
    float remainingLife;  // seconds; starts at life
    uint8_t colour[4];    // red, green, blue, alpha: value x 255 truncated
    uint32_t flags;       // PARTICLE_*
};

// Detail settings and the limit each gives.
int32_t Particle_LimitForDetail(int32_t detail);
// The detail setting the next Particle_Init reads (1 unless changed; the game
// never changes it). Values other than 0, 1 and 2 give no particles.
void Particle_SetDetail(int32_t detail);
// Creates the pool when there is none (its capacity is the caller's:
// List_SetBlockSize on Particle_GetPool before the first spawn), sets the
// limit from the detail setting and resets the live count. 1, or 0 when the
// pool can't be made.
int Particle_Init(void);
// Destroys the pool and every particle in it; the live count stays.
void Particle_Shutdown(void);
// The pool, or null outside Particle_Init .. Particle_Shutdown.
List* Particle_GetPool(void);
// Lets spawns pass the limit (while the limit is above 0); off at start.
void Particle_SetUnlimited(int on);
// Spawns counted since Particle_Init.
uint32_t Particle_GetLiveCount(void);

// A new particle at position with velocity, size (width, height), colour
// components 0..1 (clamped, x 255 truncated), both life fields = life and
// flag PARTICLE_SPAWNED. Null when the live count has reached the limit
// (unless unlimited with a limit above 0), without a pool, or when the pool
// is full. size may be null (0, 0).
Particle* Particle_Spawn(uint32_t owner, uint32_t kind, const Vec3* position, const Vec3* velocity, const float* size,
                         float red, float green, float blue, float alpha, float life);

// Setters; each ignores a null particle.
// Both growth fields; PARTICLE_GROWS set when value is not 0, else cleared.
void Particle_SetGrowth(Particle* particle, float value);
void Particle_SetRotation(Particle* particle, float degrees);
void Particle_SetFlag1(Particle* particle, int on);
void Particle_SetFlag64(Particle* particle, int on);
void Particle_SetFlag2048(Particle* particle, int on);
