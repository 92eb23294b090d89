// The editor's rounding: to the nearest integer with halves to even, computed in extended precision
// from integer and single-precision operands.
#pragma once

#include <cmath>
#include <cstdint>

inline std::int64_t RoundHalfEven(long double value)
{
    return static_cast<std::int64_t>(std::nearbyintl(value));
}
