// SPDX-License-Identifier: MIT
#pragma once

// An invariant of a fuzz target: a broken one aborts, which the fuzzer reports
// with the input. Qt-free, for the targets that link no Qt.

#include <cstdio>
#include <cstdlib>

#define REQUIRE(cond)                                                                  \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "invariant broken at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)
