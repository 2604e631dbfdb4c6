#include "engine/animfile.h"

#include "app/binfile.h"
#include "common/bytes.h"
#include "common/memory.h"
#include "engine/loaderror.h"
#include "gfx/core/stream.h"

namespace {

// Smallest on-disk sizes, for bounding counts before anything is allocated.
constexpr size_t kMinString = 4 + 4;  // length word and one padded word
constexpr size_t kMinAnimation = 4 + 4 + 2 * kMinString + 4 + 4;
constexpr size_t kKeyEventSize = 20;

struct Parser {
    ByteReader in;
    char* text;  // next free byte of the text block
    char* textEnd;

    // A string copied into the text block; null when its length word or its
    // padded characters are not all there.
    const char* String(const char* what)
    {
        const uint32_t length = ByteReader_U32(&in);
        if (in.overrun) {
            LoadError_Set("atf: %s: length cut off", what);
            return nullptr;
        }
        const uint64_t field = BinFile_PaddedSize(length);
        if (field > in.left) {
            LoadError_Set("atf: %s: length %u runs past the end of the file", what, length);
            return nullptr;
        }
        const uint8_t* bytes = ByteReader_Take(&in, (size_t)field);
        // field >= length + 1 bytes were taken from the file, so the text block,
        // as large as the file, always has room.
        HELM_ASSERT(text + length + 1 <= textEnd);
        char* out = text;
        memcpy(out, bytes, length);
        out[length] = 0;
        text += length + 1;
        return out;
    }
};

}  // namespace

AnimFile* AnimFile_Parse(const uint8_t* data, size_t size)
{
    LoadError_Clear();
    if (size > ANIMFILE_MAX_SIZE) {
        LoadError_Set("atf: %zu bytes is larger than the limit", size);
        return nullptr;
    }
    Parser p{ByteReader_Init(data, size), nullptr, nullptr};
    const uint32_t animationCount = ByteReader_U32(&p.in);
    if (p.in.overrun) {
        LoadError_Set("atf: header cut off");
        return nullptr;
    }
    if (animationCount > p.in.left / kMinAnimation) {
        LoadError_Set("atf: %u animations cannot fit in %zu bytes", animationCount, p.in.left);
        return nullptr;
    }

    AnimFile* file = (AnimFile*)Mem_Calloc(sizeof(AnimFile), 8);
    if (!file) return nullptr;
    file->text = (char*)Mem_Alloc(size + 1);
    file->animations = (AnimFileAnimation*)Mem_Calloc(sizeof(AnimFileAnimation) * (animationCount + 1), 8);
    if (!file->text || !file->animations) {
        AnimFile_Free(file);
        return nullptr;
    }
    p.text = file->text;
    p.textEnd = file->text + size + 1;

    for (uint32_t i = 0; i < animationCount; i++) {
        AnimFileAnimation& a = file->animations[i];
        a.sceneFlags = ByteReader_U32(&p.in);
        a.flags = ByteReader_U32(&p.in);
        if (p.in.overrun) {
            LoadError_Set("atf: animation %u cut off", i);
            AnimFile_Free(file);
            return nullptr;
        }
        a.scenePath = p.String("scene path");
        a.name = a.scenePath ? p.String("animation name") : nullptr;
        a.valueA = ByteReader_U32(&p.in);
        a.blendTime = ByteReader_F32(&p.in);
        if (!a.name || p.in.overrun) {
            LoadError_Set("atf: animation %u cut off", i);
            AnimFile_Free(file);
            return nullptr;
        }
        file->animationCount = i + 1;
    }

    const uint32_t eventCount = ByteReader_U32(&p.in);
    if (p.in.overrun || eventCount > p.in.left / kMinString) {
        LoadError_Set("atf: event list cut off");
        AnimFile_Free(file);
        return nullptr;
    }
    file->eventNames = (const char**)Mem_Calloc(sizeof(const char*) * (eventCount + 1), 8);
    if (!file->eventNames) {
        AnimFile_Free(file);
        return nullptr;
    }
    for (uint32_t i = 0; i < eventCount; i++) {
        file->eventNames[i] = p.String("event name");
        if (!file->eventNames[i]) {
            AnimFile_Free(file);
            return nullptr;
        }
        file->eventCount = i + 1;
    }

    const size_t records = p.in.left / kKeyEventSize;
    file->keyEvents = (AnimFileKeyEvent*)Mem_Calloc(sizeof(AnimFileKeyEvent) * (records + 1), 8);
    if (!file->keyEvents) {
        AnimFile_Free(file);
        return nullptr;
    }
    for (size_t i = 0; i < records; i++) {
        AnimFileKeyEvent k;
        k.animation = ByteReader_U32(&p.in);
        k.event = ByteReader_U32(&p.in);
        k.item = ByteReader_U32(&p.in);
        k.start = ByteReader_F32(&p.in);
        k.end = ByteReader_F32(&p.in);
        if (k.item != ANIMFILE_SKIP) file->keyEvents[file->keyEventCount++] = k;
    }
    return file;
}

AnimFile* AnimFile_Read(const char* name)
{
    LoadError_Clear();
    Stream* stream = BinFile_Open(name, "r");
    if (!stream) {
        LoadError_Set("atf: %s: cannot open", name ? name : "(none)");
        return nullptr;
    }
    // The file is read whole in growing steps, up to one byte past the limit
    // so that a larger file is recognised.
    uint8_t* data = nullptr;
    size_t size = 0, capacity = 0;
    for (;;) {
        if (size == capacity) {
            if (capacity > ANIMFILE_MAX_SIZE) break;
            const size_t grown = capacity ? capacity * 2 : 4096;
            uint8_t* bigger = (uint8_t*)Mem_Realloc(data, 4, grown);
            if (!bigger) {
                Mem_Free(data);
                BinFile_Close(stream);
                return nullptr;
            }
            data = bigger;
            capacity = grown;
        }
        const uint32_t want = (uint32_t)(capacity - size);
        const uint32_t got = Stream_Read(stream, data + size, want);
        size += got;
        if (got < want) break;
    }
    BinFile_Close(stream);
    AnimFile* file = AnimFile_Parse(data, size);
    Mem_Free(data);
    return file;
}

void AnimFile_Free(AnimFile* file)
{
    if (!file) return;
    Mem_Free(file->animations);
    Mem_Free(file->eventNames);
    Mem_Free(file->keyEvents);
    Mem_Free(file->text);
    Mem_Free(file);
}
