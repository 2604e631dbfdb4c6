#include "gfx/plugin/hanim/hanim.h"

#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/freelist.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"
#include "gfx/toolkit/anim/anim.h"
#include "gfx/toolkit/anim/stdkey.h"

namespace {

constexpr int32_t kRecordsPerBlock = 128;
constexpr int32_t kHeaderWords = 3;  // version, node id, node count
constexpr int32_t kNodeWords = 3;    // id, index, flags

struct HAnimModule {
    int32_t frameOffset;  // of the frame extension; -1 until attached
    FreeList* hierarchies;
    uint32_t nextSerial;
};

HAnimModule sModule = {-1, nullptr, 0};

HAnimFrameExtension* Ext(void* frame, int32_t offset) { return (HAnimFrameExtension*)((char*)frame + offset); }
const HAnimFrameExtension* Ext(const void* frame, int32_t offset)
{
    return (const HAnimFrameExtension*)((const char*)frame + offset);
}

void Raise(uint32_t code)
{
    const ErrorRecord e = {(code & 0x80000000u) ? 0 : (int32_t)PLUGIN_HANIM, (int32_t)code};
    Error_Set(&e);
}

// A cleared record with an interpolator and (unless HANIM_NO_MATRICES) its
// matrix array, the node infos cleared; null with nothing left when memory
// runs out. A hierarchy whose arrays belong to another gets none: it would
// never free them.
BoneHierarchy* Allocate(int32_t numNodes, uint32_t flags, int32_t keyFrameSize)
{
    HELM_ASSERT(sModule.hierarchies);
    BoneHierarchy* h = (BoneHierarchy*)FreeList_Alloc(sModule.hierarchies);
    if (!h) {
        Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(h, 0, sizeof(*h));
    h->flags = flags;
    h->numNodes = numNodes;
    h->parentHierarchy = h;
    h->serial = ++sModule.nextSerial;
    h->interpolator = Interpolator_Create(numNodes, keyFrameSize);
    bool ok = h->interpolator != nullptr;
    const bool own = !(flags & HANIM_SHARED_ARRAYS);
    if (ok && own && !(flags & HANIM_NO_MATRICES)) {
        h->matrixBlock = Engine_Malloc(sizeof(Matrix) * (size_t)numNodes + 15);
        ok = h->matrixBlock != nullptr;
        h->matrixArray = (Matrix*)(((uintptr_t)h->matrixBlock + 15) & ~(uintptr_t)15);
    }
    if (ok && own && numNodes > 0) {
        h->nodeInfo = (HAnimNodeInfo*)Engine_Calloc((size_t)numNodes, sizeof(HAnimNodeInfo));
        ok = h->nodeInfo != nullptr;
    }
    if (!ok) {
        Raise(ERR_OUT_OF_MEMORY);
        h->flags = 0;  // the arrays made so far are this record's own
        HAnim_HierarchyDestroy(h);
        return nullptr;
    }
    return h;
}

void* EngineOpen(void* engine, int32_t, int32_t)
{
    sModule.hierarchies = FreeList_CreateEx((int32_t)sizeof(BoneHierarchy), kRecordsPerBlock, 4, 1, nullptr);
    if (!sModule.hierarchies) return nullptr;
    // The scheme registry outlives engine opens: register once.
    if (!AnimScheme_Get(STDKEYFRAME_TYPE_ID)) AnimScheme_Register(StdKeyFrame_Scheme());
    return engine;
}

void* EngineClose(void* engine, int32_t, int32_t)
{
    if (sModule.hierarchies) FreeList_Destroy(sModule.hierarchies);
    sModule.hierarchies = nullptr;
    return engine;
}

int32_t StreamGetSize(const void* frame, int32_t offset, int32_t)
{
    const HAnimFrameExtension* e = Ext(frame, offset);
    const BoneHierarchy* h = e->hierarchy;
    if (!h) return e->nodeID == -1 ? 0 : 4 * kHeaderWords;
    if ((h->flags & HANIM_SHARED_ARRAYS) || h->numNodes == 0) return 4 * kHeaderWords;
    return 20 + 4 * kNodeWords * h->numNodes;
}

Stream* StreamWrite(Stream* stream, int32_t, const void* frame, int32_t offset, int32_t)
{
    const HAnimFrameExtension* e = Ext(frame, offset);
    const BoneHierarchy* h = e->hierarchy;
    const int32_t n = h && !(h->flags & HANIM_SHARED_ARRAYS) ? h->numNodes : 0;
    const int32_t header[kHeaderWords] = {(int32_t)HANIM_STREAM_VERSION, e->nodeID, n};
    if (!Stream_WriteInt32(stream, header, sizeof(header))) return nullptr;
    if (n == 0) return stream;
    const int32_t words[2] = {(int32_t)h->flags, h->interpolator ? h->interpolator->maxKeyFrameSize : 0};
    if (!Stream_WriteInt32(stream, words, sizeof(words))) return nullptr;
    for (int32_t i = 0; i < n; i++) {
        const HAnimNodeInfo& node = h->nodeInfo[i];
        const int32_t record[kNodeWords] = {node.nodeID, node.nodeIndex, (int32_t)node.flags};
        if (!Stream_WriteInt32(stream, record, sizeof(record))) return nullptr;
    }
    return stream;
}

// Every field is checked before anything is allocated: the version, the
// node count against the sub-chunk's length, the flags (a read hierarchy
// owns its arrays, so the shared bit cannot come from a stream) and the
// key-frame size the interpolator would allocate per node.
Stream* StreamRead(Stream* stream, int32_t length, void* frame, int32_t offset, int32_t)
{
    int32_t header[kHeaderWords];
    if (length < 4 * kHeaderWords) {
        Raise(ERR_SHORT_READ);
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, header, sizeof(header))) return nullptr;
    const int32_t n = header[2];
    if (header[0] != (int32_t)HANIM_STREAM_VERSION) {
        Raise(ERR_BAD_VERSION);
        return nullptr;
    }
    const int64_t expected = n == 0 ? 4 * kHeaderWords : 20 + 4 * kNodeWords * (int64_t)n;
    if (n < 0 || (int64_t)length != expected) {
        Raise(HANIM_ERR_BAD_DATA);
        return nullptr;
    }
    HAnimFrameExtension* e = Ext(frame, offset);
    e->nodeID = header[1];
    if (n == 0) return stream;
    int32_t words[2];
    if (!Stream_ReadInt32(stream, words, sizeof(words))) return nullptr;
    const uint32_t flags = (uint32_t)words[0];
    const int32_t keyFrameSize = words[1];
    if ((flags & HANIM_SHARED_ARRAYS) || keyFrameSize < 0 || keyFrameSize > (int32_t)HANIM_MAX_KEYFRAME_SIZE) {
        Raise(HANIM_ERR_BAD_DATA);
        return nullptr;
    }
    BoneHierarchy* h = Allocate(n, flags, keyFrameSize);
    if (!h) return nullptr;
    h->parentFrame = (Frame*)frame;
    for (int32_t i = 0; i < n; i++) {
        int32_t record[kNodeWords];
        if (!Stream_ReadInt32(stream, record, sizeof(record))) {
            h->parentFrame = nullptr;
            HAnim_HierarchyDestroy(h);
            return nullptr;
        }
        h->nodeInfo[i] = HAnimNodeInfo{record[0], record[1], (uint32_t)record[2], nullptr};
    }
    // A frame already holding a hierarchy of its own (a second sub-chunk)
    // lets it go rather than leak it.
    if (e->hierarchy && e->hierarchy->parentFrame == frame) HAnim_HierarchyDestroy(e->hierarchy);
    e->hierarchy = h;
    return stream;
}

}  // namespace

int32_t HAnim_PluginAttach(void)
{
    if (Engine_RegisterPlugin(0, PLUGIN_HANIM, EngineOpen, EngineClose) < 0) return 0;
    sModule.frameOffset = Frame_RegisterPlugin((int32_t)sizeof(HAnimFrameExtension), PLUGIN_HANIM, HAnim_FrameConstruct,
                                               HAnim_FrameDestruct, HAnim_FrameCopy);
    if (Frame_RegisterPluginStream(PLUGIN_HANIM, StreamRead, StreamWrite, StreamGetSize) < 0) return 0;
    return sModule.frameOffset >= 0 ? 1 : 0;
}

BoneHierarchy* HAnim_HierarchyCreate(int32_t numNodes, const uint32_t* nodeFlags, const int32_t* nodeIDs,
                                     uint32_t flags, int32_t keyFrameSize)
{
    HELM_ASSERT(numNodes >= 0 && keyFrameSize >= 0);
    BoneHierarchy* h = Allocate(numNodes, flags, keyFrameSize);
    if (!h) return nullptr;
    for (int32_t i = 0; h->nodeInfo && i < numNodes; i++) {
        HAnimNodeInfo& node = h->nodeInfo[i];
        node.nodeIndex = i;
        if (nodeIDs) node.nodeID = nodeIDs[i];
        if (nodeFlags) node.flags = nodeFlags[i];
    }
    return h;
}

void HAnim_HierarchyDestroy(BoneHierarchy* hierarchy)
{
    HELM_ASSERT(hierarchy && sModule.hierarchies);
    Frame* parent = hierarchy->parentFrame;
    if (!(hierarchy->flags & HANIM_SHARED_ARRAYS)) {
        if (hierarchy->matrixBlock) Engine_Free(hierarchy->matrixBlock);
        if (hierarchy->nodeInfo) Engine_Free(hierarchy->nodeInfo);
    }
    hierarchy->matrixArray = nullptr;
    hierarchy->matrixBlock = nullptr;
    hierarchy->nodeInfo = nullptr;
    Interpolator_Destroy(hierarchy->interpolator);
    hierarchy->interpolator = nullptr;
    FreeList_Free(sModule.hierarchies, hierarchy);
    if (parent) {
        HAnimFrameExtension* e = Ext(parent, sModule.frameOffset);
        if (e->hierarchy == hierarchy) e->hierarchy = nullptr;
    }
}

HAnimFrameExtension* HAnim_FrameGetExtension(Frame* frame)
{
    HELM_ASSERT(frame && sModule.frameOffset >= 0);
    return Ext(frame, sModule.frameOffset);
}

void* HAnim_FrameConstruct(void* frame, int32_t offset, int32_t)
{
    *Ext(frame, offset) = HAnimFrameExtension{-1, nullptr};
    return frame;
}

void* HAnim_FrameDestruct(void* frame, int32_t offset, int32_t)
{
    HAnimFrameExtension* e = Ext(frame, offset);
    BoneHierarchy* h = e->hierarchy;
    if (h) {
        for (int32_t i = 0; h->nodeInfo && i < h->numNodes; i++) h->nodeInfo[i].frame = nullptr;
        if (h->parentFrame == frame) HAnim_HierarchyDestroy(h);
    }
    *e = HAnimFrameExtension{-1, nullptr};
    return frame;
}

void* HAnim_FrameCopy(void* dst, const void* src, int32_t offset, int32_t)
{
    const HAnimFrameExtension* s = Ext(src, offset);
    HAnimFrameExtension* d = Ext(dst, offset);
    d->nodeID = s->nodeID;
    d->hierarchy = nullptr;
    const BoneHierarchy* h = s->hierarchy;
    if (!h || (h->flags & HANIM_SHARED_ARRAYS)) return dst;
    BoneHierarchy* copy = Allocate(h->numNodes, h->flags, h->interpolator ? h->interpolator->maxKeyFrameSize : 0);
    if (!copy) return nullptr;
    for (int32_t i = 0; i < h->numNodes; i++)
        copy->nodeInfo[i] =
            HAnimNodeInfo{h->nodeInfo[i].nodeID, h->nodeInfo[i].nodeIndex, h->nodeInfo[i].flags, nullptr};
    copy->parentFrame = (Frame*)dst;
    d->hierarchy = copy;
    return dst;
}
