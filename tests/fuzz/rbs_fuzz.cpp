// Fuzzes the physics shape-file reader and its fallback: any bytes as the
// "rbs" file of a model, and, when that is refused, as the model itself (the
// in-memory table serves the same bytes for every file), in the body mode the
// first byte picks. A refused file must leave no body and no shape record
// behind; a body that is made must step.
#include <cstdlib>

#include "common/list.h"
#include "engine/physbody.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "fuzz_files.h"
#include "physics/base/phys_warning.h"

// The node sync of the step is not exercised here: no body has a node.
void Node_SetRotation(Node*, const Vec3*, float) {}
void Node_SetPosition(Node*, const Vec3*) {}

namespace {
void Quiet(const char*, const char*, const char*, int) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    static int started = (Physics_SetWarningHook(Quiet), Phys_Init());
    if (!started) return 0;
    PhysWorld* world = PhysWorld_CreateDefault();
    if (!world) return 0;
    PhysBody* body = PhysShape_LoadRbs("Objects\\Crate.lwo", world);
    if (!body && (List_Count(world->shapePool) != 0 || List_Count(world->bodyPool) != 0))
        abort();  // a refused file left records behind
    if (!body) {
        int mode = size ? data[0] % 3 : 0;
        body = PhysBody_CreateFromModel("Objects\\Crate.lwo", world, 1.0f, mode, 1.0f, 2.0f, 1.0f);
    }
    if (body) {
        Vec3 p{0, 0, 0};
        PhysWorld_AddBody(world, body, &p, nullptr, nullptr);
        PhysWorld_Step(world, 0.02f);
    }
    PhysWorld_Destroy(world);
    return 0;
}
