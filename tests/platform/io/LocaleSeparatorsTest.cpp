#include "platform/io/LocaleSeparators.h"

#include <gtest/gtest.h>

namespace {

TEST(LocaleSeparators, PosixLocaleUsesPointAndColon)
{
    const LocaleSeparators posix = ReadSystemLocaleSeparators("C");
    EXPECT_EQ(posix.decimal, ".");
    EXPECT_EQ(posix.time, ":");
}

TEST(LocaleSeparators, UnknownLocaleFallsBackToDefaults)
{
    const LocaleSeparators none = ReadSystemLocaleSeparators("xx_NOWHERE.UTF-8");
    EXPECT_EQ(none.decimal, ".");
    EXPECT_EQ(none.time, ":");
}

TEST(LocaleSeparators, FrenchLocaleWhenInstalled)
{
    const LocaleSeparators fr = ReadSystemLocaleSeparators("fr_FR.UTF-8");
    if (fr.decimal == ".")
        GTEST_SKIP() << "the fr_FR.UTF-8 locale is not installed on this machine";
    EXPECT_EQ(fr.decimal, ",");
    EXPECT_EQ(fr.time, ":");
}

TEST(LocaleSeparators, OverrideReplacesAndRestores)
{
    const LocaleSeparators system = CurrentLocaleSeparators();
    SetLocaleSeparatorsOverride(LocaleSeparators{",", "h"});
    EXPECT_EQ(CurrentLocaleSeparators().decimal, ",");
    EXPECT_EQ(CurrentLocaleSeparators().time, "h");
    SetLocaleSeparatorsOverride(std::nullopt);
    EXPECT_EQ(CurrentLocaleSeparators().decimal, system.decimal);
    EXPECT_EQ(CurrentLocaleSeparators().time, system.time);
}

} // namespace
