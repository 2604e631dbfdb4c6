#include "common/cmdline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

enum class Kind { Bool, Int, String };

bool IsOption(const char* token, const char* name)
{
    return token && token[0] == '-' && strcasecmp(token + 1, name) == 0;
}

bool IsOneOf(const char* word, const char* a, const char* b, const char* c)
{
    return strcasecmp(word, a) == 0 || strcasecmp(word, b) == 0 || strcasecmp(word, c) == 0;
}

void ReadSwitch(int count, char** tokens, bool remove, const char* name, uint32_t* out)
{
    for (int i = 0; i < count; ++i) {
        if (!IsOption(tokens[i], name))
            continue;
        if (i == count - 1) {
            *out = 1;
            continue;
        }
        const char* next = tokens[i + 1];
        if (!next || next[0] == '-') {
            *out = 1;
            if (remove)
                tokens[i] = nullptr;
            continue;
        }
        if (IsOneOf(next, "TRUE", "YES", "ON"))
            *out = 1;
        else if (IsOneOf(next, "FALSE", "NO", "OFF"))
            *out = 0;
        if (remove)
            tokens[i] = tokens[i + 1] = nullptr;
        ++i;  // go on behind the value
    }
}

void ReadValue(int count, char** tokens, bool remove, const char* name, Kind kind, void* out)
{
    for (int i = 0; i + 1 < count; ++i) {
        if (!IsOption(tokens[i], name) || !tokens[i + 1])
            continue;
        if (kind == Kind::Int)
            *(int32_t*)out = (int32_t)atoi(tokens[i + 1]);
        else
            *(char**)out = tokens[i + 1];
        if (remove)
            tokens[i] = tokens[i + 1] = nullptr;
        ++i;
    }
}

void ReadAll(int count, char** tokens, bool remove, Kind kind, va_list args)
{
    if (!tokens || count <= 0)
        return;
    for (;;) {
        const char* name = va_arg(args, const char*);
        if (!name)
            break;
        void* out = va_arg(args, void*);
        if (!out)
            continue;
        if (kind == Kind::Bool)
            ReadSwitch(count, tokens, remove, name, (uint32_t*)out);
        else
            ReadValue(count, tokens, remove, name, kind, out);
    }
}

}  // namespace

int CmdLine_GetIntInRange(int count, char** tokens, const char* name, int32_t least, int32_t most, int32_t* out,
                          char* why, size_t size)
{
    int32_t value = 0;
    bool found = false;
    for (int i = 0; tokens && i + 1 < count; ++i) {
        const char* text = tokens[i + 1];
        if (!IsOption(tokens[i], name) || !text) continue;
        const char* digits = text + (text[0] == '-' || text[0] == '+');
        char* end = nullptr;
        const long long read = strtoll(text, &end, 10);
        if (*digits < '0' || *digits > '9' || *end) {
            snprintf(why, size, "%s: \"%s\" is not a number", tokens[i], text);
            return 0;
        }
        if (read > most) {  // too long for any type reads as its largest value
            snprintf(why, size, "%s %s is above the limit of %d", tokens[i], text, (int)most);
            return 0;
        }
        if (read < least) {
            snprintf(why, size, "%s %s is below the limit of %d", tokens[i], text, (int)least);
            return 0;
        }
        value = (int32_t)read;
        found = true;
        ++i;
    }
    if (found) *out = value;
    return 1;
}

#define HELM_CMDLINE_READER(Function, kind)                          \
    void Function(int count, char** tokens, int remove, ...)         \
    {                                                                \
        va_list args;                                                \
        va_start(args, remove);                                      \
        ReadAll(count, tokens, remove != 0, kind, args);             \
        va_end(args);                                                \
    }                                                                \
    void Function(char** tokens, int count, ...)                     \
    {                                                                \
        va_list args;                                                \
        va_start(args, count);                                       \
        ReadAll(count, tokens, false, kind, args);                   \
        va_end(args);                                                \
    }

HELM_CMDLINE_READER(CmdLine_GetBools, Kind::Bool)
HELM_CMDLINE_READER(CmdLine_GetInts, Kind::Int)
HELM_CMDLINE_READER(CmdLine_GetStrings, Kind::String)
