#include "gfx/driver/d3d8/d3d8vbmanager.h"

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/driver/d3d8/d3d8device.h"

namespace {

struct FreeRange {
    uint32_t offset;  // bytes
    uint32_t size;
    IDirect3DVertexBuffer8* buffer;
    FreeRange* next;
    FreeRange* prev;
};

struct BufferRecord {
    IDirect3DVertexBuffer8* buffer;
    BufferRecord* next;
};

struct Creation {
    uint32_t key;
    FreeRange* ranges;
    BufferRecord* buffers;
    Creation* next;
};

struct Manager {
    Creation* creations;
    bool open;
};

Manager sManager;

Creation* Find(uint32_t key)
{
    for (Creation* c = sManager.creations; c; c = c->next)
        if (c->key == key) return c;
    return nullptr;
}

void Unlink(Creation* c, FreeRange* r)
{
    if (r->prev) r->prev->next = r->next;
    else c->ranges = r->next;
    if (r->next) r->next->prev = r->prev;
}

void PushRange(Creation* c, FreeRange* r)
{
    r->prev = nullptr;
    r->next = c->ranges;
    if (c->ranges) c->ranges->prev = r;
    c->ranges = r;
}

// A range of the same buffer that ends where r starts or starts where r ends.
FreeRange* Neighbour(Creation* c, const FreeRange* r)
{
    for (FreeRange* o = c->ranges; o; o = o->next)
        if (o != r && o->buffer == r->buffer && (o->offset + o->size == r->offset || r->offset + r->size == o->offset))
            return o;
    return nullptr;
}

uint32_t RoundUp(uint32_t value, uint32_t stride) { return (value + stride - 1) / stride * stride; }

}  // namespace

int32_t VertexBufferManager_Open(void)
{
    VertexBufferManager_Close();
    sManager.open = true;
    return 1;
}

void VertexBufferManager_Close(void)
{
    Creation* c = sManager.creations;
    while (c) {
        Creation* next = c->next;
        for (FreeRange* r = c->ranges; r;) {
            FreeRange* n = r->next;
            Engine_Free(r);
            r = n;
        }
        for (BufferRecord* b = c->buffers; b;) {
            BufferRecord* n = b->next;
            if (b->buffer) b->buffer->Release();
            Engine_Free(b);
            b = n;
        }
        Engine_Free(c);
        c = next;
    }
    sManager = Manager{};
}

int32_t VertexBufferManager_Alloc(uint32_t fvf, uint32_t size, IDirect3DVertexBuffer8** outBuffer,
                                  uint32_t* outBaseIndex)
{
    return VertexBufferManager_AllocStride(fvf, D3D8_GetFVFStride(fvf), size, outBuffer, outBaseIndex);
}

int32_t VertexBufferManager_AllocStride(uint32_t key, uint32_t stride, uint32_t size,
                                        IDirect3DVertexBuffer8** outBuffer, uint32_t* outBaseIndex)
{
    if (!sManager.open || stride == 0 || size == 0) return 0;
    Creation* c = Find(key);
    if (!c) {
        c = (Creation*)Engine_Malloc(sizeof(Creation));
        if (!c) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return 0;
        }
        *c = Creation{key, nullptr, nullptr, sManager.creations};
        sManager.creations = c;
    }
    // First fit on the whole vertices a range can give: its start rounded up
    // to the stride plus the size must stay inside it.
    FreeRange* range = nullptr;
    for (FreeRange* r = c->ranges; r && !range; r = r->next)
        if ((uint64_t)RoundUp(r->offset, stride) + size <= (uint64_t)r->offset + r->size) range = r;
    if (!range) {
        IDirect3DDevice8* device = D3D8_GetDevice();
        const uint32_t rounded = RoundUp(D3D8_VB_DEFAULT_SIZE, stride);
        const uint32_t bytes = size > rounded ? size : rounded;
        range = (FreeRange*)Engine_Malloc(sizeof(FreeRange));
        BufferRecord* record = (BufferRecord*)Engine_Malloc(sizeof(BufferRecord));
        IDirect3DVertexBuffer8* buffer = nullptr;
        if (!range || !record || !device ||
            device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, key < 0x10000 ? key : 0, D3DPOOL_MANAGED, &buffer) <
                0) {
            Engine_Free(range);
            Engine_Free(record);
            if (!range || !record) Error_Raise(ERR_OUT_OF_MEMORY);
            return 0;
        }
        *range = FreeRange{0, bytes, buffer, nullptr, nullptr};
        PushRange(c, range);
        *record = BufferRecord{buffer, c->buffers};
        c->buffers = record;
    }
    const uint32_t baseIndex = RoundUp(range->offset, stride) / stride;
    const uint32_t end = baseIndex * stride + size;
    *outBuffer = range->buffer;
    *outBaseIndex = baseIndex;
    range->size -= end - range->offset;
    range->offset = end;
    if (range->size == 0) {
        Unlink(c, range);
        Engine_Free(range);
    }
    return 1;
}

void VertexBufferManager_Free(uint32_t fvf, uint32_t size, IDirect3DVertexBuffer8* buffer, uint32_t baseIndex)
{
    VertexBufferManager_FreeStride(fvf, D3D8_GetFVFStride(fvf), size, buffer, baseIndex);
}

void VertexBufferManager_FreeByStride(uint32_t stride, uint32_t size, IDirect3DVertexBuffer8* buffer,
                                      uint32_t baseIndex)
{
    VertexBufferManager_FreeStride(stride << 16, stride, size, buffer, baseIndex);
}

void VertexBufferManager_FreeStride(uint32_t key, uint32_t stride, uint32_t size, IDirect3DVertexBuffer8* buffer,
                                    uint32_t baseIndex)
{
    Creation* c = Find(key);
    if (!c || size == 0) return;
    FreeRange freed = {stride * baseIndex, size, buffer, nullptr, nullptr};
    FreeRange* current = Neighbour(c, &freed);
    if (!current) {
        FreeRange* r = (FreeRange*)Engine_Malloc(sizeof(FreeRange));
        if (!r) return;  // the range is lost to this buffer until close, nothing breaks
        *r = freed;
        PushRange(c, r);
        return;
    }
    // Grow the neighbour over the freed range, then keep merging.
    if (current->offset > freed.offset) current->offset = freed.offset;
    current->size += freed.size;
    while (FreeRange* other = Neighbour(c, current)) {
        if (other->offset > current->offset) other->offset = current->offset;
        other->size += current->size;
        Unlink(c, current);
        Engine_Free(current);
        current = other;
    }
}

int32_t VertexBufferManager_GetFreeRanges(uint32_t key, VertexBufferRange* out, int32_t max)
{
    Creation* c = Find(key);
    int32_t n = 0;
    for (FreeRange* r = c ? c->ranges : nullptr; r; r = r->next, n++)
        if (n < max) out[n] = VertexBufferRange{r->offset, r->size, r->buffer};
    return n;
}

int32_t VertexBufferManager_GetBufferCount(uint32_t key)
{
    Creation* c = Find(key);
    int32_t n = 0;
    for (BufferRecord* b = c ? c->buffers : nullptr; b; b = b->next) n++;
    return n;
}

uint32_t D3D8_GetFVFStride(uint32_t fvf)
{
    static const uint32_t kPosition[8] = {0, 12, 16, 16, 20, 24, 28, 32};
    uint32_t stride = kPosition[(fvf & 0xE) >> 1];
    if (fvf & 0x10) stride += 12;
    if (fvf & 0x20) stride += 4;
    if (fvf & 0x40) stride += 4;
    if (fvf & 0x80) stride += 4;
    static const uint32_t kSetSize[4] = {8, 12, 16, 4};
    const uint32_t sets = (fvf >> 8) & 15;
    if (sets > 8) return 0;  // not a vertex format
    for (uint32_t s = 0; s < sets; s++) stride += kSetSize[(fvf >> (16 + 2 * s)) & 3];
    return stride;
}

void D3D8_GetIndexRange(const uint16_t* indices, uint32_t count, uint32_t* outNumVertices, uint32_t* outMinIndex)
{
    if (count == 0) {
        *outNumVertices = *outMinIndex = 0;
        return;
    }
    uint16_t lo = indices[0], hi = indices[0];
    for (uint32_t i = 1; i < count; i++) {
        if (indices[i] < lo) lo = indices[i];
        if (indices[i] > hi) hi = indices[i];
    }
    *outNumVertices = (uint32_t)(hi - lo) + 1;
    *outMinIndex = lo;
}
