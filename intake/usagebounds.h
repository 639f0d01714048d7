#pragma once

// What a status-line record's "usage" may hold: the helper keeps only values
// within these bounds, and the reader checks them again, since any process of
// the user's can write into the event pipe. Plain C++ for both sides.

#include <cstddef>

namespace UsageBounds {

struct Range
{
    double lowest;
    double highest;
    bool whole; // a whole number (written as an integer)
};

inline constexpr std::size_t textBytes = 200; // the model's name and id
inline constexpr Range percent{0, 100, false};
inline constexpr Range contextSize{1, 100'000'000, true};
inline constexpr Range costUsd{0, 1'000'000, false};
inline constexpr Range durationMs{0, 1e12, true};
inline constexpr Range lines{0, 1e9, true};
inline constexpr Range resetsAt{1, 1e11, true}; // Unix seconds

// False for NaN and the infinities as well.
constexpr bool admits(Range range, double value)
{
    return value >= range.lowest && value <= range.highest &&
           (!range.whole || value == static_cast<double>(static_cast<long long>(value)));
}

} // namespace UsageBounds
