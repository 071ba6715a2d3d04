#pragma once
// Property checks inside the fuzz targets: a broken property aborts, so libFuzzer keeps the
// input that broke it as a crash artifact.

#include <cstdio>
#include <cstdlib>

namespace miravox::fuzz {

inline void check(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "property does not hold: %s\n", property);
    std::abort();
}

} // namespace miravox::fuzz
