// Invariant checks of the fuzz targets: a broken one says which and traps, which libFuzzer
// reports as a crash and keeps the input that caused it.
#pragma once

#include <cstdio>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                            \
        }                                                                                \
    } while (0)
