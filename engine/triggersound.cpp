#include "engine/triggersound.h"

namespace {

Sound* NoLoad(const char*, uint32_t) { return nullptr; }
Sound* NoAddRef(Sound* sound) { return sound; }
void NoRelease(Sound*) {}
void NoPlayOneShot(Sound*, Node*) {}
Sound* NoPlayLoopInstance(Sound*, Node*) { return nullptr; }
void NoSetGain(Sound*, float) {}
void NoSetFrequency(Sound*, uint32_t) {}

constexpr TriggerSoundTable kDefaults = {NoLoad,    NoAddRef,      NoRelease, NoPlayOneShot, NoPlayLoopInstance,
                                         NoSetGain, NoSetFrequency};

TriggerSoundTable g_triggerSound = kDefaults;

template <typename Fn>
void Pick(Fn* slot, Fn given, Fn fallback)
{
    *slot = given ? given : fallback;
}

}  // namespace

void TriggerSound_Install(const TriggerSoundTable* table)
{
    const TriggerSoundTable given = table ? *table : TriggerSoundTable{};
    Pick(&g_triggerSound.load, given.load, kDefaults.load);
    Pick(&g_triggerSound.addRef, given.addRef, kDefaults.addRef);
    Pick(&g_triggerSound.release, given.release, kDefaults.release);
    Pick(&g_triggerSound.playOneShot, given.playOneShot, kDefaults.playOneShot);
    Pick(&g_triggerSound.playLoopInstance, given.playLoopInstance, kDefaults.playLoopInstance);
    Pick(&g_triggerSound.setGain, given.setGain, kDefaults.setGain);
    Pick(&g_triggerSound.setFrequency, given.setFrequency, kDefaults.setFrequency);
}

const TriggerSoundTable* TriggerSound_Get(void) { return &g_triggerSound; }
