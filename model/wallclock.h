#pragma once

#include <chrono>

// Wall-clock instants are seconds since 1970-01-01 UTC, with sub-second precision.
using WallClockTime = double;

inline WallClockTime wallClockNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}
