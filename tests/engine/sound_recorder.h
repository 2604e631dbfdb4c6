// A recorder in the animation triggers' sound table: loads succeed for the
// names a test lists (each load gives a new fake sound), and every call is
// kept as one line of text ("load Sfx\Step1.wav", "loop 3 at node", ...).
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine/triggersound.h"

namespace soundrecorder {

struct Recorder {
    std::set<std::string> loadable;
    std::vector<std::string> calls;
    uintptr_t next = 1;
    int live = 0;  // references held on loaded sounds and loops
};

inline Recorder& Get()
{
    static Recorder r;
    return r;
}

inline std::string Id(Sound* s) { return std::to_string((uintptr_t)s); }
inline std::string Where(Node* n) { return n ? "at node" : "unplaced"; }

inline Sound* Load(const char* name, uint32_t)
{
    Get().calls.push_back(std::string("load ") + name);
    if (!Get().loadable.count(name)) return nullptr;
    Get().live++;
    return (Sound*)Get().next++;
}
inline Sound* AddRef(Sound* s)
{
    Get().calls.push_back("addref " + Id(s));
    Get().live++;
    return s;
}
inline void Release(Sound* s)
{
    if (!s) return;
    Get().calls.push_back("release " + Id(s));
    Get().live--;
}
inline void OneShot(Sound* s, Node* n) { Get().calls.push_back("oneshot " + Id(s) + " " + Where(n)); }
inline Sound* Loop(Sound* s, Node* n)
{
    Sound* loop = (Sound*)(Get().next++ + 1000);
    Get().calls.push_back("loop " + Id(s) + " " + Where(n) + " -> " + Id(loop));
    Get().live++;
    return loop;
}
inline void Gain(Sound* s, float g)
{
    char text[64];
    snprintf(text, sizeof text, "gain %s %.4f", Id(s).c_str(), g);
    Get().calls.push_back(text);
}
inline void Frequency(Sound* s, uint32_t hz) { Get().calls.push_back("frequency " + Id(s) + " " + std::to_string(hz)); }

// Installs the recorder with an empty record; Uninstall puts the sound
// system back.
inline void Install(std::set<std::string> loadable)
{
    Get() = Recorder{};
    Get().loadable = std::move(loadable);
    const TriggerSoundTable table = {Load, AddRef, Release, OneShot, Loop, Gain, Frequency};
    TriggerSound_Install(&table);
}
inline void Uninstall() { TriggerSound_Install(nullptr); }

// The recorded calls that start with prefix.
inline std::vector<std::string> Calls(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& c : Get().calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

}  // namespace soundrecorder
