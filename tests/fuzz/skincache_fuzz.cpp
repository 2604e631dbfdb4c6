// Fuzzes the skin-weight cache reader: any bytes as a "bwl" file, read for a
// binding of three bones on a mesh of six vertices (the first input byte
// changes the vertex count). Accepted weights must name the binding's bones.
#include <cstdlib>

#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "engine/skincache.h"
#include "fuzz_files.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

// The target links the bindings without the graphics engine's skinning:
// nothing here binds a skin, so no hierarchy is ever made.
void NodeExtra_ReleaseHierarchy(NodeExtra* extra)
{
    extra->hierarchy = nullptr;
    extra->skin = nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    NodeExtra_Init();
    Geometry geometry{};
    geometry.numVertices = size ? data[0] % 8 : 6;
    Atomic atomic{};
    atomic.geometry = &geometry;
    RenderObj object{};
    object.atomic = &atomic;
    Node node{};
    NodeExtra* e = NodeExtra_Create(&node, 3, 4);
    if (ObjectCache_Read(e, &object, "Chars\\Fuzz")) {
        if (e->vertexCount != (uint32_t)geometry.numVertices) abort();
        for (uint32_t i = 0; i < e->vertexCount * 3; i++)
            if (e->weights[i].bone >= 3) abort();
    }
    NodeExtra_Destroy(&node);
    NodeExtra_Shutdown();
    return 0;
}
