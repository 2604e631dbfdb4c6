#include "common/assert.h"

#include <cstdio>
#include <cstdlib>

void Assert_Fail(const char* condition, const char* file, int line)
{
    fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, condition);
    fflush(stderr);
    abort();
}
