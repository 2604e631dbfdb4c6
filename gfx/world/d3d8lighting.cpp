#include "gfx/world/d3d8lighting.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/world/atomic.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// A growable array of device light indices.
struct IndexArray {
    int32_t* items;
    uint32_t count;
    uint32_t capacity;
};

struct LightingTables {
    IndexArray freeIndices;  // recycled indices, the last pushed on top
    int32_t nextIndex;       // the next never-used index
    IndexArray current;      // this object's lights
    IndexArray previous;     // the previous object's lights
    uint32_t maxLights;
    float ambient[3];
    D3DLIGHT8 directional;
    D3DLIGHT8 positional;
    bool open;
};

int32_t sOffset = -1;
LightingTables sTables;

bool Push(IndexArray& a, int32_t value, uint32_t growth)
{
    if (a.count == a.capacity) {
        int32_t* grown = (int32_t*)Engine_Realloc(a.items, sizeof(int32_t) * (a.capacity + growth));
        if (!grown) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return false;
        }
        memset(grown + a.capacity, 0, sizeof(int32_t) * growth);
        a.items = grown;
        a.capacity += growth;
    }
    a.items[a.count++] = value;
    return true;
}

void Release(IndexArray& a)
{
    if (a.items) Engine_Free(a.items);
    a = IndexArray{};
}

int32_t AssignIndex(D3D8LightData* data)
{
    if (data->index < 0) {
        IndexArray& stack = sTables.freeIndices;
        data->index = stack.count > 0 ? stack.items[--stack.count] : sTables.nextIndex++;
    }
    return data->index;
}

// Sets the device light and notes it for this object.
int32_t Send(int32_t index, const D3DLIGHT8* light)
{
    if (!D3D8_SetLight((uint32_t)index, light)) return 0;
    for (uint32_t i = 0; i < sTables.current.count; i++)
        if (sTables.current.items[i] == index) return 1;
    return Push(sTables.current, index, 8) ? 1 : 0;
}

void ClearAmbient(void) { sTables.ambient[0] = sTables.ambient[1] = sTables.ambient[2] = 0.0f; }

void AddAmbient(const Light* light)
{
    sTables.ambient[0] += light->colour.red;
    sTables.ambient[1] += light->colour.green;
    sTables.ambient[2] += light->colour.blue;
}

void SetAmbientState(bool any)
{
    D3D8_SetRenderState(D3DRS_AMBIENT, any ? 0xFFFFFFFFu : 0u);
    D3D8_SetAmbientLight(sTables.ambient[0], sTables.ambient[1], sTables.ambient[2]);
}

template <typename Fn>
void ForGlobalLights(World* world, Fn fn)
{
    for (EngineLink* l = world->globalLights.next; l != &world->globalLights; l = l->next)
        fn((Light*)((char*)l - offsetof(Light, inWorld)));
}

void* Construct(void* object, int32_t offset, int32_t)
{
    D3D8LightData* data = (D3D8LightData*)((char*)object + offset);
    *data = D3D8LightData{-1, {1.0f, 0.0f, 5.0f}};
    return object;
}

void* Destruct(void* object, int32_t offset, int32_t)
{
    D3D8LightData* data = (D3D8LightData*)((char*)object + offset);
    if (data->index >= 0 && sTables.open) Push(sTables.freeIndices, data->index, 256);
    data->index = -1;
    return object;
}

// A copy gets its own device light on first use: sharing the index would
// make two engine lights overwrite one device slot, and destroying either
// would free a slot the other still uses.
void* Copy(void* dst, const void* src, int32_t offset, int32_t)
{
    D3D8LightData* to = (D3D8LightData*)((char*)dst + offset);
    *to = *(const D3D8LightData*)((const char*)src + offset);
    to->index = -1;
    return dst;
}

}  // namespace

D3D8LightData* D3D8Lights_GetData(Light* light) { return (D3D8LightData*)((char*)light + sOffset); }

int32_t D3D8Lights_RegisterExtension(void)
{
    sOffset = Light_RegisterPlugin((int32_t)sizeof(D3D8LightData), D3D8_PLUGIN_LIGHTS, Construct, Destruct, Copy);
    return sOffset >= 0 ? 1 : 0;
}

int32_t D3D8Lights_PluginAttach(void) { return D3D8Lights_RegisterExtension(); }

int32_t D3D8Lights_Open(void)
{
    D3D8Lights_Close();
    const uint32_t max = D3D8_GetCaps()->MaxActiveLights;
    sTables.maxLights = max ? max : 0xFFFFFFFFu;
    ClearAmbient();
    D3DLIGHT8& d = sTables.directional;
    d = D3DLIGHT8{};
    d.Type = D3DLIGHT_DIRECTIONAL;
    d.Diffuse.a = d.Specular.a = d.Ambient.a = 1.0f;
    D3DLIGHT8& p = sTables.positional;
    p = D3DLIGHT8{};
    p.Falloff = 1.0f;
    p.Specular.a = p.Ambient.a = 1.0f;
    sTables.open = true;
    return 1;
}

void D3D8Lights_Close(void)
{
    Release(sTables.freeIndices);
    Release(sTables.current);
    Release(sTables.previous);
    sTables.nextIndex = 0;
    sTables.open = false;
}

int32_t D3D8Lights_SetDirectional(Light* light)
{
    D3D8LightData* data = D3D8Lights_GetData(light);
    D3DLIGHT8& d = sTables.directional;
    d.Diffuse = D3DCOLORVALUE{light->colour.red, light->colour.green, light->colour.blue, 1.0f};
    Frame* frame = Light_GetFrame(light);
    const Vec3 at = frame ? Frame_GetWorldMatrix(frame)->at : Vec3{0, 0, 1};
    d.Direction = D3DVECTOR{at.x, at.y, at.z};
    Send(AssignIndex(data), &d);
    return 1;
}

int32_t D3D8Lights_SetWorldLights(uint32_t mask)
{
    ClearAmbient();
    bool any = false;
    if (World* world = (World*)Engine_Instance()->currentWorld)
        ForGlobalLights(world, [&](Light* light) {
            if (!(light->object.header.flags & mask)) return;
            any = true;
            if (Light_GetType(light) == LIGHT_DIRECTIONAL) D3D8Lights_SetDirectional(light);
            else AddAmbient(light);
        });
    SetAmbientState(any);
    return any ? 1 : 0;
}

int32_t D3D8Lights_ConvertLight(Light* light)
{
    const float r = light->radius;
    const uint8_t kind = Light_GetType(light);
    if (r == 0.0f || (kind != LIGHT_POINT && kind != LIGHT_SPOT && kind != LIGHT_SOFT_SPOT)) return 0;
    D3D8LightData* data = D3D8Lights_GetData(light);
    D3DLIGHT8& p = sTables.positional;
    p.Diffuse = D3DCOLORVALUE{light->colour.red, light->colour.green, light->colour.blue, light->colour.alpha};
    Frame* frame = Light_GetFrame(light);
    const Matrix* m = frame ? Frame_GetWorldMatrix(frame) : nullptr;
    const Vec3 pos = m ? m->pos : Vec3{0, 0, 0};
    const Vec3 at = m ? m->at : Vec3{0, 0, 1};
    p.Position = D3DVECTOR{pos.x, pos.y, pos.z};
    p.Range = r;
    p.Attenuation0 = data->attenuation[0];
    p.Attenuation1 = data->attenuation[1] / r;
    p.Attenuation2 = data->attenuation[2] / (r * r);
    if (kind == LIGHT_POINT) {
        p.Type = D3DLIGHT_POINT;
        p.Direction = D3DVECTOR{0, 0, 0};
        p.Theta = p.Phi = 0.0f;
    } else {
        p.Type = D3DLIGHT_SPOT;
        p.Direction = D3DVECTOR{at.x, at.y, at.z};
        // A cone never set reports pi; the full angle stops at pi.
        float phi = 2.0f * Light_GetConeAngle(light);
        if (phi > kPi) phi = kPi;
        p.Phi = phi;
        p.Theta = kind == LIGHT_SOFT_SPOT ? 0.0f : phi < kPi ? phi : phi - 0.001f;
    }
    return Send(AssignIndex(data), &p);
}

void D3D8Lights_Commit(int32_t enable)
{
    if (!enable) {
        D3D8_SetRenderState(D3DRS_LIGHTING, 0);
        return;
    }
    IndexArray& now = sTables.current;
    IndexArray& before = sTables.previous;
    if (now.count > sTables.maxLights) now.count = sTables.maxLights;
    for (uint32_t i = 0; i < before.count; i++) {
        bool kept = false;
        for (uint32_t j = 0; j < now.count && !kept; j++) kept = now.items[j] == before.items[i];
        if (!kept) D3D8_EnableLight((uint32_t)before.items[i], 0);
    }
    if (now.count > 0) {
        for (uint32_t i = 0; i < now.count; i++) D3D8_EnableLight((uint32_t)now.items[i], 1);
        IndexArray swap = before;
        before = now;
        now = swap;
    } else {
        before.count = 0;
    }
    now.count = 0;
    D3D8_SetRenderState(D3DRS_LIGHTING, 1);
}

void D3D8WorldSectorNode_Lighting(void* object)
{
    WorldSector* sector = (WorldSector*)object;
    World* world = (World*)Engine_Instance()->currentWorld;
    if (!world || !(world->flags & WORLD_LIGHT)) {
        D3D8Lights_Commit(0);
        return;
    }
    int32_t result = D3D8Lights_SetWorldLights(LIGHT_LIGHT_WORLD);
    Engine_Instance()->lightFrame++;
    for (EngineLink* l = sector->lights.next; l != &sector->lights; l = l->next) {
        Light* light = (Light*)SectorTie_FromSectorLink(l)->object;
        if (light->object.header.flags & LIGHT_LIGHT_WORLD) result |= D3D8Lights_ConvertLight(light);
    }
    D3D8Lights_Commit(result);
}

void D3D8AtomicNode_Lighting(void* object)
{
    Atomic* atomic = (Atomic*)object;
    Geometry* geometry = atomic->geometry;
    World* world = (World*)Engine_Instance()->currentWorld;
    if (!geometry || !(geometry->flags & GEOMETRY_LIGHT) || !world) {
        D3D8Lights_Commit(0);
        return;
    }
    const bool normals = (geometry->flags & GEOMETRY_NORMALS) != 0;
    ClearAmbient();
    bool any = false;
    ForGlobalLights(world, [&](Light* light) {
        if (!(light->object.header.flags & LIGHT_LIGHT_ATOMICS)) return;
        if (Light_GetType(light) == LIGHT_DIRECTIONAL) {
            if (normals) any = D3D8Lights_SetDirectional(light) || any;
        } else {
            AddAmbient(light);
            any = true;
        }
    });
    SetAmbientState(any);
    if (normals) {
        const uint16_t stamp = ++Engine_Instance()->lightFrame;
        const Sphere* sphere = Atomic_GetWorldBoundingSphere(atomic);
        for (EngineLink* t = atomic->sectorTies.next; t != &atomic->sectorTies; t = t->next) {
            WorldSector* sector = SectorTie_FromObjectLink(t)->sector;
            for (EngineLink* l = sector->lights.next; l != &sector->lights; l = l->next) {
                Light* light = (Light*)SectorTie_FromSectorLink(l)->object;
                if (!(light->object.header.flags & LIGHT_LIGHT_ATOMICS) || light->lightFrame == stamp) continue;
                light->lightFrame = stamp;
                Frame* frame = Light_GetFrame(light);
                const Vec3 pos = frame ? Frame_GetWorldMatrix(frame)->pos : Vec3{0, 0, 0};
                const float dx = pos.x - sphere->center.x, dy = pos.y - sphere->center.y, dz = pos.z - sphere->center.z;
                const float reach = light->radius + sphere->radius;
                if (reach * reach > dx * dx + dy * dy + dz * dz && D3D8Lights_ConvertLight(light)) any = true;
            }
        }
    }
    D3D8Lights_Commit(any ? 1 : 0);
}

int32_t D3D8Lights_GetEnabled(const int32_t** indices)
{
    if (indices) *indices = sTables.previous.items;
    return (int32_t)sTables.previous.count;
}

void D3D8Lights_GetAmbient(float rgb[3]) { memcpy(rgb, sTables.ambient, sizeof(sTables.ambient)); }
