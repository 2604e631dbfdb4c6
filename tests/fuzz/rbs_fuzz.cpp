// Fuzzes the physics shape-file reader: any bytes as the "rbs" file of a
// model, read through the file layer into a body of a fresh world. A refused
// file must leave no body and no shape record behind.
#include <cstdlib>

#include "common/list.h"
#include "engine/physbody.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "fuzz_files.h"
#include "physics/base/phys_warning.h"

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
    if (body) {
        // A body that was made is whole: a step over it must hold.
        Vec3 p{0, 0, 0};
        PhysWorld_AddBody(world, body, &p, nullptr, nullptr);
        PhysWorld_Step(world, 0.02f);
    } else if (List_Count(world->shapePool) != 0 || List_Count(world->bodyPool) != 0) {
        abort();  // a refused file left records behind
    }
    PhysWorld_Destroy(world);
    return 0;
}
