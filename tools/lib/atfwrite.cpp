#include "tools/lib/atfwrite.h"

#include <cstring>

#include "app/binfile.h"
#include "app/cache.h"
#include "common/bytes.h"
#include "gfx/core/stream.h"

namespace {

struct Out {
    std::vector<uint8_t>& bytes;

    void U32(uint32_t v)
    {
        const size_t at = bytes.size();
        bytes.resize(at + 4);
        Bytes_StoreU32(&bytes[at], v);
    }
    void F32(float v)
    {
        uint32_t bits;
        memcpy(&bits, &v, 4);
        U32(bits);
    }
    void Text(const std::string& text)
    {
        const uint32_t length = (uint32_t)text.size();
        U32(length);
        const size_t at = bytes.size();
        bytes.resize(at + BinFile_PaddedSize(length));
        BinFile_PadString(&bytes[at], text.c_str(), length);
    }
};

}  // namespace

std::vector<uint8_t> AtfWriter_Encode(const AtfWriterSet& set)
{
    std::vector<uint8_t> bytes;
    Out out{bytes};
    out.U32((uint32_t)set.animations.size());
    for (const AtfWriterAnimation& a : set.animations) {
        out.U32(a.sceneFlags);
        out.U32(a.flags);
        out.Text(a.scenePath);
        out.Text(a.name);
        out.U32(a.valueA);
        out.F32(a.blendTime);
    }
    out.U32((uint32_t)set.events.size());
    for (const std::string& e : set.events) out.Text(e);
    for (const AtfWriterKeyEvent& k : set.keyEvents) {
        out.U32(k.animation);
        out.U32(k.event);
        out.U32(k.item);
        out.F32(k.start);
        out.F32(k.end);
    }
    return bytes;
}

int AtfWriter_Write(const AtfWriterSet& set, const char* dataName)
{
    const std::vector<uint8_t> bytes = AtfWriter_Encode(set);
    Stream* stream = BinFile_Open(dataName, "w");
    if (!stream) return 0;
    const int written = Stream_Write(stream, bytes.data(), (uint32_t)bytes.size()) != nullptr;
    return BinFile_Close(stream) && written;
}

std::string AtfWriter_CacheName(const char* setName, const char* extension)
{
    const std::string source = std::string(setName ? setName : "") + (extension ? extension : "");
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, source.c_str(), 0, "atf");
    return name;
}
