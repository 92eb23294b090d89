#include "platform/io/MulDiv.h"

#include <cstdlib>
#include <limits>

std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    // |product| <= 2^62: its magnitude and the divisor's fit 64 bits with room to round.
    const auto p = static_cast<std::uint64_t>(std::llabs(product));
    const auto d = static_cast<std::uint64_t>(std::llabs(static_cast<std::int64_t>(denominator)));
    const std::uint64_t q = (p + d / 2) / d;
    if (negative) {
        if (q > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + 1)
            return -1;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(q));
    }
    if (q > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return -1;
    return static_cast<std::int32_t>(q);
}
