#include "engine/scenecache.h"

#include <cmath>
#include <cstring>

#include "app/binfile.h"
#include "app/file.h"
#include "common/bytes.h"
#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/scene.h"
#include "engine/scenedata.h"
#include "gfx/core/stream.h"

namespace {

constexpr uint32_t KEY_BYTES = 44;
constexpr uint32_t ITEM_MIN_BYTES = 2 + 2 + 24 + 2 + 2 + 2 + 4 + 4 + 2;
constexpr uint32_t RECORD_BYTES = 15 * 4;
constexpr uint32_t BONE_MIN_BYTES = 4 + 48 + 8 + 2 + 8 + 64 + 12 + 2 + 8;

// ---- writing ----

struct Writer {
    Stream* s;
    int ok;
    void U32(uint32_t v) { ok = ok && BinFile_WriteInt32s(s, &v, 1); }
    void I32(int32_t v) { ok = ok && BinFile_WriteInt32s(s, &v, 1); }
    void U16(uint16_t v) { ok = ok && BinFile_WriteInt16s(s, &v, 1); }
    void F32(float v) { ok = ok && BinFile_WriteFloats(s, &v, 1); }
    void Floats(const float* v, uint32_t n) { ok = ok && (n == 0 || BinFile_WriteFloats(s, v, n)); }
    void Vec(const Vec3& v) { ok = ok && BinFile_WriteVec3s(s, &v.x, 1); }
    void Text(const char* text, uint32_t length) { ok = ok && BinFile_WriteString(s, text ? text : "", length); }
    void Keys(const SceneKey* keys, uint32_t n)
    {
        for (uint32_t i = 0; i < n; i++) {
            Vec(keys[i].position);
            Vec(keys[i].rotation);
            Vec(keys[i].scale);
            F32(keys[i].time);
            U32(keys[i].mask);
        }
    }
};

template <typename T>
uint32_t IndexOf(const T* p, const T* base)
{
    return p ? (uint32_t)(p - base) : SCENE_NONE;
}

// ---- reading ----

struct Reader {
    ByteReader r;
    uint32_t U32() { return ByteReader_U32(&r); }
    int32_t I32() { return (int32_t)ByteReader_U32(&r); }
    uint16_t U16() { return ByteReader_U16(&r); }
    float F32() { return ByteReader_F32(&r); }
    Vec3 Vec()
    {
        Vec3 v;
        v.x = F32();
        v.y = F32();
        v.z = F32();
        return v;
    }
    // n items of size bytes still fit in what is left.
    int Fits(uint64_t n, uint64_t size) const { return !r.overrun && n * size <= r.left; }
    // A text block of length L into a new buffer of L + 1 bytes.
    char* Text(uint32_t length)
    {
        const uint64_t field = BinFile_PaddedSize(length);
        if (!Fits(1, field)) {
            ByteReader_Take(&r, r.left + 1);
            return nullptr;
        }
        char* text = (char*)Mem_Alloc((size_t)length + 1, 8);
        const uint8_t* bytes = ByteReader_Take(&r, (size_t)field);
        if (!text) return nullptr;
        memcpy(text, bytes, length);
        text[length] = 0;
        return text;
    }
    int Keys(SceneKey** keys, uint16_t count)
    {
        *keys = nullptr;
        if (count == 0) return 1;
        if (!Fits(count, KEY_BYTES)) return 0;
        *keys = (SceneKey*)Mem_Alloc(count * sizeof(SceneKey), 16);
        if (!*keys) return 0;
        for (uint32_t i = 0; i < count; i++) {
            SceneKey& k = (*keys)[i];
            k.position = Vec();
            k.rotation = Vec();
            k.scale = Vec();
            k.time = F32();
            k.mask = U32();
        }
        return 1;
    }
    int Envelope(float** values, float** times, uint16_t count)
    {
        *values = *times = nullptr;
        if (count == 0) return 1;
        if (!Fits(count, 8)) return 0;
        *values = (float*)Mem_Alloc(count * sizeof(float), 8);
        *times = (float*)Mem_Alloc(count * sizeof(float), 8);
        if (!*values || !*times) return 0;
        for (uint32_t i = 0; i < count; i++) (*values)[i] = F32();
        for (uint32_t i = 0; i < count; i++) (*times)[i] = F32();
        return 1;
    }
};

int Refuse(const char* why)
{
    LoadError_Set("scene cache: %s", why);
    return 0;
}

// An index into an array of count entries, or none.
int IndexOk(uint32_t index, uint32_t count) { return index == SCENE_NONE || index < count; }

// The records form one forest: from the root over next and first-child links
// every record is reached exactly once, and each names the record it hangs
// from as its parent.
int RecordsHoldTogether(Scene* s, uint32_t rootIndex)
{
    const uint32_t n = s->itemCount;
    if (n == 0) return rootIndex == SCENE_NONE;
    if (rootIndex >= n) return 0;
    uint8_t* seen = (uint8_t*)Mem_Calloc(n, 8);
    if (!seen) return 0;
    uint32_t visited = 0;
    int ok = 1;
    // Depth-first over the links without a stack: the parent links lead back.
    SceneRecord* r = &s->records[rootIndex];
    if (r->parent) ok = 0;
    while (ok && r) {
        const uint32_t i = (uint32_t)(r - s->records);
        if (seen[i]) {
            ok = 0;
            break;
        }
        seen[i] = 1;
        visited++;
        if (r->firstChild) {
            if (r->firstChild->parent != r) ok = 0;
            r = r->firstChild;
            continue;
        }
        while (ok && r && !r->next) r = r->parent;
        if (!r) break;
        if (r->next->parent != r->parent) ok = 0;
        r = r->next;
    }
    Mem_Free(seen);
    return ok && visited == n;
}

// Bone chains and bone parents without loops.
int BonesHoldTogether(const Scene* s)
{
    const uint32_t b = s->boneCount;
    for (uint32_t i = 0; i < s->itemCount; i++) {
        uint32_t steps = 0;
        for (const SceneBone* bone = s->items[i].firstBone; bone; bone = bone->next)
            if (++steps > b) return 0;
    }
    for (uint32_t i = 0; i < b; i++)
        if (s->boneParents[i] > b || s->boneParents[i] == i + 1) return 0;
    for (uint32_t i = 0; i < b; i++) {
        uint32_t at = s->boneParents[i], steps = 0;
        while (at != 0) {
            if (++steps > b) return 0;
            at = s->boneParents[at - 1];
        }
    }
    return 1;
}

int ReadAll(Scene* s, Reader& in)
{
    s->fps = in.F32();
    s->duration = in.F32();
    s->start = in.F32();
    s->ambient = in.U32();
    s->ambientIntensity = in.F32();
    s->firstCamera = in.I32();
    s->cameraCount = in.I32();
    s->firstLight = in.I32();
    s->lightCount = in.I32();
    if (!std::isfinite(s->fps) || !(s->fps > 0) || !std::isfinite(s->duration) || !std::isfinite(s->start))
        return Refuse("timing is not finite");
    s->weightMapSize = in.U32();
    if (s->weightMapSize) {
        s->weightMapNames = in.Text(s->weightMapSize);
        if (!s->weightMapNames) return Refuse("weight-map pool runs past the end");
        s->weightMapCapacity = s->weightMapSize + 1;
    }
    s->itemNameSize = in.U32();
    if (s->itemNameSize) {
        s->itemNames = in.Text(s->itemNameSize);
        if (!s->itemNames) return Refuse("item-name pool runs past the end");
        s->itemNameCapacity = s->itemNameSize + 1;
    }
    s->zoom = in.F32();
    s->soundNullCount = in.U16();
    s->spare[0] = in.U16();
    s->spare[1] = in.U16();
    s->flags = in.U32();
    const uint16_t n = in.U16();
    const uint16_t b = in.U16();
    if (in.r.overrun) return Refuse("header cut short");
    if (b > SCENE_MAX_BONES) return Refuse("more than 100 bones");
    if (!in.Fits(n, ITEM_MIN_BYTES + RECORD_BYTES + 4) || !in.Fits(b, BONE_MIN_BYTES))
        return Refuse("counts larger than the file");
    auto range = [n](int32_t first, int32_t count) {
        return first == -1 ? count == 0 : first >= 0 && count >= 0 && (int64_t)first + count <= n;
    };
    if (!range(s->firstCamera, s->cameraCount) || !range(s->firstLight, s->lightCount))
        return Refuse("camera or light range outside the items");

    if (n) {
        s->items = (SceneItem*)Mem_Calloc(n * sizeof(SceneItem), 16);
        s->records = (SceneRecord*)Mem_Calloc(n * sizeof(SceneRecord), 16);
        s->parentCodes = (uint32_t*)Mem_Calloc(n * sizeof(uint32_t), 8);
        if (!s->items || !s->records || !s->parentCodes) return Refuse("out of memory");
        s->itemCount = s->itemCapacity = n;
    }
    if (b) {
        s->bones = (SceneBone*)Mem_Calloc(b * sizeof(SceneBone), 16);
        s->boneParents = (uint32_t*)Mem_Calloc(b * sizeof(uint32_t), 8);
        if (!s->bones || !s->boneParents) return Refuse("out of memory");
        s->boneCount = b;
    }
    for (uint32_t i = 0; i < n; i++) {
        SceneItem* item = &s->items[i];
        item->nodeIndex = in.U16();
        item->second = in.U16();
        item->pivot = in.Vec();
        item->pivotRotation = in.Vec();
        item->keyCount = in.U16();
        item->dissolveCount = in.U16();
        if (!in.Envelope(&item->dissolveValues, &item->dissolveTimes, item->dissolveCount))
            return Refuse("dissolve envelope runs past the end");
        item->intensityCount = in.U16();
        if (!in.Envelope(&item->intensityValues, &item->intensityTimes, item->intensityCount))
            return Refuse("intensity envelope runs past the end");
        const uint32_t firstBone = in.U32();
        if (!IndexOk(firstBone, b)) return Refuse("first bone out of range");
        item->firstBone = firstBone == SCENE_NONE ? nullptr : &s->bones[firstBone];
        item->falloff = in.F32();
        item->kind = in.U16();
        if (!in.Keys(&item->keys, item->keyCount)) return Refuse("motion keys run past the end");
        if (in.r.overrun) return Refuse("item cut short");
    }
    for (uint32_t i = 0; i < n; i++) {
        SceneRecord* r = &s->records[i];
        r->nameOffset = in.U32();
        r->duplicate = in.U32();
        r->lightNameOffset = in.U32();
        r->lightColour = in.U32();
        r->lightType = in.U32();
        r->lightIntensity = in.F32();
        r->lightRange = in.F32();
        r->coneAngle = in.F32();
        r->edgeAngle = in.F32();
        r->falloffType = in.U32();
        const uint32_t parent = in.U32();
        r->parentBone = in.U32();
        const uint32_t child = in.U32(), next = in.U32(), item = in.U32();
        if (in.r.overrun) return Refuse("record cut short");
        if (r->nameOffset >= s->itemNameSize || !IndexOk(r->lightNameOffset, s->itemNameSize))
            return Refuse("name offset outside the pool");
        if (!IndexOk(parent, n) || !IndexOk(child, n) || !IndexOk(next, n) || item != i)
            return Refuse("record link out of range");
        r->parent = parent == SCENE_NONE ? nullptr : &s->records[parent];
        r->firstChild = child == SCENE_NONE ? nullptr : &s->records[child];
        r->next = next == SCENE_NONE ? nullptr : &s->records[next];
        r->item = &s->items[i];
    }
    for (uint32_t i = 0; i < n; i++) s->parentCodes[i] = in.U32();
    const uint32_t root = in.U32();
    if (in.r.overrun) return Refuse("parent codes cut short");
    if (!RecordsHoldTogether(s, root)) return Refuse("records do not form a tree");
    s->root = n ? &s->records[root] : nullptr;

    for (uint32_t i = 0; i < b; i++) {
        SceneBone* bone = &s->bones[i];
        bone->nodeIndex = in.U32();
        bone->pivot = in.Vec();
        bone->pivotRotation = in.Vec();
        bone->restPosition = in.Vec();
        bone->restDirection = in.Vec();
        bone->restLength = in.F32();
        bone->strength = in.F32();
        bone->keyCount = in.U16();
        bone->itemNodeIndex = in.U32();
        bone->boneNumber = in.U32();
        for (int row = 0; row < 4; row++)
            for (int col = 0; col < 4; col++) bone->inverseRest.m[row][col] = in.F32();
        bone->weightMapOffset = in.U32();
        const uint32_t child = in.U32(), next = in.U32();
        bone->flags = in.U16();
        const uint32_t length = in.U32();
        if (in.r.overrun) return Refuse("bone cut short");
        if (!IndexOk(bone->weightMapOffset, s->weightMapSize)) return Refuse("weight-map offset outside the pool");
        if (!IndexOk(child, b) || !IndexOk(next, b)) return Refuse("bone link out of range");
        bone->firstChild = child == SCENE_NONE ? nullptr : &s->bones[child];
        bone->next = next == SCENE_NONE ? nullptr : &s->bones[next];
        bone->name = in.Text(length);
        if (!bone->name) return Refuse("bone name runs past the end");
        if (!in.Keys(&bone->keys, bone->keyCount)) return Refuse("bone keys run past the end");
    }
    for (uint32_t i = 0; i < b; i++) s->boneParents[i] = in.U32();
    if (in.r.overrun) return Refuse("bone parents cut short");
    if (!BonesHoldTogether(s)) return Refuse("bone links loop or leave the bones");
    return 1;
}

}  // namespace

int SceneCache_Write(const Scene* s, const char* cacheName)
{
    Writer w{BinFile_Open(cacheName, "w"), 1};
    if (!w.s) return 0;
    w.F32(s->fps);
    w.F32(s->duration);
    w.F32(s->start);
    w.U32(s->ambient);
    w.F32(s->ambientIntensity);
    w.I32(s->firstCamera);
    w.I32(s->cameraCount);
    w.I32(s->firstLight);
    w.I32(s->lightCount);
    // One length word for each pool: the text block carries it.
    if (s->weightMapSize)
        w.Text(s->weightMapNames, s->weightMapSize);
    else
        w.U32(0);
    if (s->itemNameSize)
        w.Text(s->itemNames, s->itemNameSize);
    else
        w.U32(0);
    w.F32(s->zoom);
    w.U16(s->soundNullCount);
    w.U16(s->spare[0]);
    w.U16(s->spare[1]);
    w.U32(s->flags);
    w.U16(s->itemCount);
    w.U16(s->boneCount);
    for (uint32_t i = 0; i < s->itemCount; i++) {
        const SceneItem& item = s->items[i];
        w.U16(item.nodeIndex);
        w.U16(item.second);
        w.Vec(item.pivot);
        w.Vec(item.pivotRotation);
        w.U16(item.keyCount);
        w.U16(item.dissolveCount);
        w.Floats(item.dissolveValues, item.dissolveCount);
        w.Floats(item.dissolveTimes, item.dissolveCount);
        w.U16(item.intensityCount);
        w.Floats(item.intensityValues, item.intensityCount);
        w.Floats(item.intensityTimes, item.intensityCount);
        w.U32(IndexOf(item.firstBone, s->bones));
        w.F32(item.falloff);
        w.U16(item.kind);
        w.Keys(item.keys, item.keyCount);
    }
    for (uint32_t i = 0; i < s->itemCount; i++) {
        const SceneRecord& r = s->records[i];
        w.U32(r.nameOffset);
        w.U32(r.duplicate);
        w.U32(r.lightNameOffset);
        w.U32(r.lightColour);
        w.U32(r.lightType);
        w.F32(r.lightIntensity);
        w.F32(r.lightRange);
        w.F32(r.coneAngle);
        w.F32(r.edgeAngle);
        w.U32(r.falloffType);
        w.U32(IndexOf(r.parent, s->records));
        w.U32(r.parentBone);
        w.U32(IndexOf(r.firstChild, s->records));
        w.U32(IndexOf(r.next, s->records));
        w.U32(IndexOf(r.item, s->items));
    }
    for (uint32_t i = 0; i < s->itemCount; i++) w.U32(s->parentCodes[i]);
    w.U32(IndexOf(s->root, s->records));
    for (uint32_t i = 0; i < s->boneCount; i++) {
        const SceneBone& b = s->bones[i];
        w.U32(b.nodeIndex);
        w.Vec(b.pivot);
        w.Vec(b.pivotRotation);
        w.Vec(b.restPosition);
        w.Vec(b.restDirection);
        w.F32(b.restLength);
        w.F32(b.strength);
        w.U16(b.keyCount);
        w.U32(b.itemNodeIndex);
        w.U32(b.boneNumber);
        w.ok = w.ok && BinFile_WriteMatrix(w.s, &b.inverseRest.m[0][0]);
        w.U32(b.weightMapOffset);
        w.U32(IndexOf(b.firstChild, s->bones));
        w.U32(IndexOf(b.next, s->bones));
        w.U16(b.flags);
        w.Text(b.name, b.name ? (uint32_t)strlen(b.name) : 0);
        w.Keys(b.keys, b.keyCount);
    }
    for (uint32_t i = 0; i < s->boneCount; i++) w.U32(s->boneParents[i]);
    const int closed = BinFile_Close(w.s);
    return w.ok && closed;
}

int SceneCache_Read(Scene* s, const char* cacheName)
{
    const long size = File_GetSize(cacheName, 1);
    void* file = size > 0 ? File_Open(cacheName, "rb") : nullptr;
    if (!file) return Refuse("cannot open the cache file");
    uint8_t* bytes = (uint8_t*)Mem_Alloc((size_t)size, 8);
    const int read = bytes && File_Read(bytes, 1, (size_t)size, file) == (size_t)size;
    File_Close(file);
    int ok = 0;
    if (!read) {
        Refuse("cannot read the cache file");
    } else {
        Reader in{ByteReader_Init(bytes, (size_t)size)};
        ok = ReadAll(s, in);
    }
    Mem_Free(bytes);
    if (!ok) SceneData_Free(s);
    return ok;
}
