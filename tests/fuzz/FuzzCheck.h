#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant that a fuzz target checks: on failure it names the condition and aborts, so that
// libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)
