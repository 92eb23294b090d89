#include "platform/io/MulDiv.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(3, 1, 2), 2);   // 1.5
    EXPECT_EQ(MulDiv(-3, 1, 2), -2); // -1.5
    EXPECT_EQ(MulDiv(3, -1, 2), -2);
    EXPECT_EQ(MulDiv(3, 1, -2), -2);
    EXPECT_EQ(MulDiv(-3, -1, -2), -2);
    EXPECT_EQ(MulDiv(5, 1, 4), 1); // 1.25
    EXPECT_EQ(MulDiv(7, 1, 4), 2); // 1.75
    EXPECT_EQ(MulDiv(-7, 1, 4), -2);
    EXPECT_EQ(MulDiv(176400, 3, 1000), 529); // 529.2
    EXPECT_EQ(MulDiv(2, 16, 8), 4);
    EXPECT_EQ(MulDiv(0, 123, 7), 0);
}

TEST(MulDiv, UsesA64BitProduct)
{
    // 100000 * 100000 overflows 32 bits, the quotient does not.
    EXPECT_EQ(MulDiv(100000, 100000, 1000), 10000000);
    EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
                     std::numeric_limits<std::int32_t>::max()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), 1, 1),
              std::numeric_limits<std::int32_t>::min());
}

TEST(MulDiv, ZeroDivisorOrOverflowGivesMinusOne)
{
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0, 0, 0), -1);
    EXPECT_EQ(MulDiv(100000, 100000, 1), -1);
    EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), -1, 1), -1);
    EXPECT_EQ(MulDiv(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(), -1),
              -1);
}

} // namespace
