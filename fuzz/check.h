#pragma once
// What a fuzz target asserts: a failed check names its file and line, so a finding reads
// without a debugger, and aborts so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

inline void checkAt(bool condition, const char *file, int line)
{
    if (!condition) {
        std::fprintf(stderr, "check failed at %s:%d\n", file, line);
        std::abort();
    }
}

#define check(condition) checkAt((condition), __FILE__, __LINE__)
