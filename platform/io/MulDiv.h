// Multiply-divide of 32-bit integers through a 64-bit product, rounded to the nearest integer with
// halves away from zero. -1 when the divisor is 0 or the result does not fit 32 bits.
#pragma once

#include <cstdint>

std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator);
