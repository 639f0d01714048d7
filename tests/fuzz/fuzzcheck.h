#pragma once

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

// A broken invariant is a crash, so that libFuzzer keeps the input.
inline void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

} // namespace Fuzz
