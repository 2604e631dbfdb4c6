// Assertions for programmer errors: a caller that breaks a documented
// contract (a null the contract forbids, an entry handed to the wrong pool,
// an edit that leaves a linked structure inconsistent). Bad outside data is
// never asserted on: readers refuse it with 0/null and the error slot.
//
// HELM_ASSERT(cond) is on when the build defines HELM_ASSERTS to non-zero
// (the CMake option HELM_ASSERTS: on in Debug and in the sanitizer build,
// off in release builds), not by NDEBUG. When off, the condition is not
// evaluated, so it must have no side effect the program relies on. When on,
// a false condition prints "file:line: assertion failed: cond" to stderr
// and aborts.
#pragma once

#if defined(HELM_ASSERTS) && HELM_ASSERTS
#define HELM_ASSERT(cond) ((cond) ? (void)0 : Assert_Fail(#cond, __FILE__, __LINE__))
#else
// sizeof keeps the condition compiled (names stay checked, no unused
// warnings) without evaluating it.
#define HELM_ASSERT(cond) ((void)sizeof(!(cond)))
#endif

// 1 when this build evaluates HELM_ASSERT.
constexpr int Assert_Enabled(void)
{
#if defined(HELM_ASSERTS) && HELM_ASSERTS
    return 1;
#else
    return 0;
#endif
}

// Reports the failed condition with its place and aborts. Never returns.
[[noreturn]] void Assert_Fail(const char* condition, const char* file, int line);
