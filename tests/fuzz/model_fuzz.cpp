// Fuzzes the object parser and the physics shape-file reader: any bytes as a
// ".lwo" file, read with all layers merged and with the first layer alone,
// every object that loads answering every per-corner query (so each index
// the parser let through is used once); and as the "rbs" file of a model,
// and, when that is refused, as the model itself, in the body mode the first
// byte picks. A refused shape file must leave no body and no shape record
// behind; a body that is made must step.
#include <cstdlib>
#include <initializer_list>

#include "common/list.h"
#include "engine/lwo.h"
#include "engine/physbody.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "fuzz_files.h"
#include "physics/base/phys_warning.h"

// The node sync of the step is not exercised here: no body has a node.
void Node_SetRotation(Node*, const Vec3*, float) {}
void Node_SetPosition(Node*, const Vec3*) {}

namespace {

void UseEverything(LwoObject* o)
{
    Lwo_ComputeNormals(o);
    char name[64];
    float value, u, v;
    uint32_t colour;
    for (uint32_t p = 0; p < o->polygonCount; p++) {
        for (uint32_t k = 0; k < 3; k++) {
            Vec3 at, n;
            Lwo_GetCornerPosition(o, p, k, &at);
            Lwo_GetCornerNormal(o, p, k, &n);
            Lwo_GetVertexColour(o, p, k, &colour);
            for (uint32_t m = 0; m < o->mapCount[LWO_MAP_WEIGHT]; m++) Lwo_GetWeight(o, m, p, k);
            const uint32_t point = o->indices[o->polygons[p].firstIndex + k];
            for (uint32_t s = 0; s < Lwo_GetTexCoordSetCount(o); s++) Lwo_GetTexCoord(o, s, p, point, &u, &v);
            if (o->polygons[p].surface >= 0)
                Lwo_PlanarTexCoord(o, (uint32_t)o->polygons[p].surface, LWO_CHANNEL_COLR, &at, &u, &v);
        }
    }
    for (uint32_t s = 0; s < o->surfaceCount; s++) {
        const uint32_t frames = Lwo_GetSurfaceClipCount(o, s);
        for (uint32_t f = 0; f < frames && f < 4; f++) Lwo_GetSurfaceImageName(o, s, f, name, sizeof name);
        Lwo_GetSurfaceReflection(o, s, name, sizeof name, &value);
        Lwo_GetSurfaceTexCoordMap(o, s);
    }
    if (o->pointCount) {
        uint32_t polygon, corner;
        Lwo_FindPoint(o, &o->points[0]);
        Lwo_FindPolygonWithPoint(o, 0, &polygon, &corner);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    for (int32_t layer : {-1, 0}) {
        LwoObject* o = Lwo_Open("fuzz.lwo", layer);
        if (o) UseEverything(o);
        Lwo_Free(o);
    }
    int32_t index;
    Lwo_FindLayer("fuzz.lwo", 1, &index);
    static int started = (Physics_SetWarningHook([](const char*, const char*, const char*, int) {}), Phys_Init());
    if (!started) return 0;
    PhysWorld* world = PhysWorld_CreateDefault();
    if (!world) return 0;
    PhysBody* body = PhysShape_LoadRbs("Objects\\Crate.lwo", world);
    if (!body) {
        // A refused file leaves no record behind.
        if (List_Count(world->shapePool) != 0 || List_Count(world->bodyPool) != 0) abort();
        body = PhysBody_CreateFromModel("Objects\\Crate.lwo", world, 1.0f, size ? data[0] % 3 : 0, 1.0f, 2.0f, 1.0f);
    }
    if (body) {
        Vec3 p{0, 0, 0};
        PhysWorld_AddBody(world, body, &p, nullptr, nullptr);
        PhysWorld_Step(world, 0.02f);
    }
    PhysWorld_Destroy(world);
    return 0;
}
