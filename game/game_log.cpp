#include "game/game_log.h"

#include <cstdarg>
#include <cstdio>

namespace {
GameLogSink g_sink = nullptr;
}

void GameLog_Printf(const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (g_sink)
        g_sink(line);
    else
        fprintf(stderr, "%s\n", line);
}

void GameLog_SetSink(GameLogSink sink) { g_sink = sink; }
