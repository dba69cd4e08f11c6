#pragma once

#include <cstdio>
#include <cstdlib>

// Ends the run when an invariant of the code under test breaks; libFuzzer keeps the input that
// broke it as a crash file.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__,            \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
