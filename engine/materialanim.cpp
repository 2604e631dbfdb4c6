#include "engine/materialanim.h"

#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "gfx/core/texture.h"
#include "gfx/world/material.h"

namespace {

struct MaterialAnimModule {
    List* sequences;
};

MaterialAnimModule g_anim;

void Show(TexSeq* seq, uint32_t frame)
{
    if (frame >= seq->frameCount) return;
    seq->current = frame;
    Material_SetTexture(seq->material, seq->frames[frame]);
}

int Tick(void* item, void* arg)
{
    TexSeq* seq = (TexSeq*)item;
    const float dt = *(const float*)arg;
    if (!seq->configured) return 0;
    seq->remaining -= dt;
    if (seq->remaining > 0.0f) return 0;
    seq->remaining = seq->time;
    const uint32_t width = seq->wide ? 2 : 1;
    const uint32_t steps = (uint32_t)strlen(seq->steps) / width;
    if (steps == 0) return 0;
    if (++seq->step >= steps) seq->step = 0;
    const char* digits = seq->steps + seq->step * width;
    const int first = digits[0] - '0';
    const int value = seq->wide ? first * 10 + (digits[1] - '0') : first;
    if (value >= 0) Show(seq, (uint32_t)value);
    return 0;
}

}  // namespace

int MaterialAnim_Init(void)
{
    if (!g_anim.sequences) g_anim.sequences = List_Create(sizeof(TexSeq), 8);
    return g_anim.sequences != nullptr;
}

void MaterialAnim_Shutdown(void)
{
    List_Destroy(g_anim.sequences);
    g_anim.sequences = nullptr;
}

List* MaterialAnim_GetSequencePool(void) { return g_anim.sequences; }

TexSeq* TexSeq_Create(Material* material)
{
    TexSeq* seq = (TexSeq*)List_Alloc(g_anim.sequences);
    if (!seq) return nullptr;
    seq->material = Material_AddRef(material);
    return seq;
}

int TexSeq_AddFrame(TexSeq* seq, Texture* texture)
{
    const size_t size = (seq->frameCount + 1) * sizeof(Texture*);
    Texture** frames = (Texture**)Mem_Realloc(seq->frames, 8, size);
    if (Mem_GetSize(frames) < size) {
        Texture_Destroy(texture);
        return 0;
    }
    seq->frames = frames;
    frames[seq->frameCount++] = texture;
    if (seq->frameCount == 1) Show(seq, 0);
    return 1;
}

int TexSeq_Load(TexSeq* seq, const char* name)
{
    if (!seq || !name) return 0;
    seq->nameHash = Name_Hash(name, 0, 1);
    ConfigNode* cfg = Config_Open(name);
    if (!cfg) return 0;
    float time = 0.0f;
    char* steps = nullptr;
    int wide = 0;
    if (Config_GetFloat(cfg, "TIME", &time)) {
        steps = Config_DupString(cfg, "FRAMES");
        if (!steps) {
            steps = Config_DupString(cfg, "FRAMESWIDE");
            wide = steps != nullptr;
        }
    }
    Config_Close(cfg);
    if (!steps) return 0;
    Mem_Free(seq->steps);
    seq->steps = steps;
    seq->wide = wide;
    seq->time = seq->remaining = time;
    seq->step = 0;
    seq->configured = 1;
    return 1;
}

TexSeq* TexSeq_Find(const char* name)
{
    uint32_t hash = name ? Name_Hash(name, 0, 1) : 0;
    if (!hash || !g_anim.sequences) return nullptr;
    return (TexSeq*)List_ForEach(
        g_anim.sequences, [](void* item, void* arg) { return (int)(((TexSeq*)item)->nameHash == *(uint32_t*)arg); },
        &hash);
}

void TexSeq_ShowFrame(TexSeq* seq, uint32_t frame)
{
    if (seq) Show(seq, frame);
}

void TexSeq_Destroy(TexSeq* seq)
{
    if (!seq) return;
    for (uint32_t i = 0; i < seq->frameCount; i++) Texture_Destroy(seq->frames[i]);
    Mem_Free(seq->frames);
    Mem_Free(seq->steps);
    Material_Destroy(seq->material);
    List_Free(g_anim.sequences, seq);
}

void MaterialAnim_Tick(float dt)
{
    if (g_anim.sequences) List_ForEach(g_anim.sequences, Tick, &dt);
}
