// Skin bindings meet the graphics engine's skinning here: the skin and bone
// hierarchy made when a binding is bound, the bone matrices written at every
// draw, and the hierarchy's end.
#include "engine/nodeextra.h"

#include "common/list.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/renderobj.h"
#include "gfx/core/matrix.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/toolkit/anim/stdkey.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

namespace {

int ShareWithClones(void* item, void* arg)
{
    NodeExtra* e = (NodeExtra*)item;
    NodeExtra* source = (NodeExtra*)arg;
    for (NodeExtra* s = e->source; s; s = s->source) {
        if (s == source) {
            e->skin = source->skin;
            e->hierarchy = source->hierarchy;
            break;
        }
    }
    return 0;
}

void ToMatrix(Matrix* out, const Mat4& m)
{
    Vec3* rows[4] = {&out->right, &out->up, &out->at, &out->pos};
    for (int r = 0; r < 4; r++) *rows[r] = {m.m[r][0], m.m[r][1], m.m[r][2]};
    out->flags = 0;
    out->pad1 = out->pad2 = out->pad3 = 0;
    Matrix_RecomputeFlags(out, nullptr);
}

}  // namespace

// The skin belongs to the geometry; the hierarchy to the binding.
void NodeExtra_ReleaseHierarchy(NodeExtra* e)
{
    if (e->hierarchy) HAnim_HierarchyDestroy((BoneHierarchy*)e->hierarchy);
    e->hierarchy = nullptr;
    e->skin = nullptr;
}

int NodeExtra_BindSkin(NodeExtra* e, RenderObj* visual)
{
    if (NodeExtra_GetRoot(e)->skin) return 0;
    Geometry* g = visual && visual->atomic ? Atomic_GetGeometry(visual->atomic) : nullptr;
    if (!g) return 0;
    Skin* skin = Skin_GeometryGetSkin(g);
    const int ownSkin = skin == nullptr;
    if (ownSkin) {
        // A skin needs the weights of every vertex of this geometry.
        if (!e->weights || e->vertexCount != (uint32_t)g->numVertices || !NodeExtra_PackWeights(e)) return 0;
        Matrix* inverse = (Matrix*)Mem_Alloc((e->boneCount ? e->boneCount : 1) * sizeof(Matrix), 16);
        if (!inverse) return 0;
        for (uint32_t b = 0; b < e->boneCount; b++) {
            Mat4 identity;
            ToMatrix(&inverse[b], e->inverseRest ? e->inverseRest[b] : *Mat4_Identity(&identity));
        }
        skin = Skin_Create((int32_t)e->vertexCount, (int32_t)e->boneCount, e->packedWeights, e->packedIndices, inverse);
        Mem_Free(inverse);
        if (!skin) return 0;
    }
    BoneHierarchy* hierarchy = HAnim_HierarchyCreate((int32_t)e->boneCount, e->boneFlags, nullptr, 0,
                                                     (int32_t)sizeof(StdKeyFrame));
    if (!hierarchy) {
        if (ownSkin) Skin_Destroy(skin);
        return 0;
    }
    for (uint32_t b = 0; b < e->boneCount; b++) Matrix_SetIdentity(&hierarchy->matrixArray[b]);
    Skin_AtomicSetHierarchy(visual->atomic, hierarchy);
    if (ownSkin) {
        Skin_GeometrySetSkin(g, skin);
        Skin_AtomicSetType(visual->atomic, SKIN_TYPE_GENERIC);
    }
    NodeExtra_FreeBindingBuffers(e);
    e->skin = skin;
    e->hierarchy = hierarchy;
    List_ForEach(NodeExtra_GetPool(), ShareWithClones, e);
    return 1;
}

void NodeExtra_UpdateBones(NodeExtra* e)
{
    BoneHierarchy* h = (BoneHierarchy*)e->hierarchy;
    if (!h || !h->matrixArray) return;
    const uint32_t slots = e->bonesAdded < (uint32_t)h->numNodes ? e->bonesAdded : (uint32_t)h->numNodes;
    for (uint32_t b = 0; b < slots; b++) {
        Matrix* m = &h->matrixArray[b];
        Matrix_SetIdentity(m);
        if (e->boneNodes[b]) Node_GetWorldFrameMatrix(e->boneNodes[b], m);
    }
}
