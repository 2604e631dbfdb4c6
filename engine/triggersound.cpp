#include "engine/triggersound.h"

#include "app/sound.h"

namespace {

constexpr TriggerSoundTable kSoundSystem = {Sound_Load,        Sound_AddRef,           Sound_Release,
                                            Sound_PlayOneShot, Sound_PlayLoopInstance, Sound_SetGain,
                                            Sound_SetFrequency};

TriggerSoundTable g_triggerSound = kSoundSystem;

template <typename Fn>
void Pick(Fn* slot, Fn given, Fn fallback)
{
    *slot = given ? given : fallback;
}

}  // namespace

void TriggerSound_Install(const TriggerSoundTable* table)
{
    const TriggerSoundTable given = table ? *table : TriggerSoundTable{};
    Pick(&g_triggerSound.load, given.load, kSoundSystem.load);
    Pick(&g_triggerSound.addRef, given.addRef, kSoundSystem.addRef);
    Pick(&g_triggerSound.release, given.release, kSoundSystem.release);
    Pick(&g_triggerSound.playOneShot, given.playOneShot, kSoundSystem.playOneShot);
    Pick(&g_triggerSound.playLoopInstance, given.playLoopInstance, kSoundSystem.playLoopInstance);
    Pick(&g_triggerSound.setGain, given.setGain, kSoundSystem.setGain);
    Pick(&g_triggerSound.setFrequency, given.setFrequency, kSoundSystem.setFrequency);
}

const TriggerSoundTable* TriggerSound_Get(void) { return &g_triggerSound; }
