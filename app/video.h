// Video playback: a clip played full screen through a DirectShow filter
// graph, synchronously. The call returns when the clip has ended or the
// player skipped it with Enter, Escape or Space. Playback has its own
// hidden message window and its own loop, polling the graph's events every
// 100 ms; the game's main loop does not run meanwhile. Main thread only.
#pragma once

#include <cstdint>

// Looks for "Streams\VIDEO\<name>.mpg" in the working folder, its parent
// and the CD, and plays the first one found; nothing when there is none.
// The flag has no meaning given anywhere: it is accepted and ignored.
void Video_Play(const char* name, int flag);
// Plays a clip: 0 when it played to its end (or its window was closed), 1
// when a skip key ended it, the failing call's code when building or
// running the graph failed (with a message box), the error code of a
// decoding error, and E_FAIL when the message window can't be made.
int32_t PlayCutscene(const char* path, void* instance);
