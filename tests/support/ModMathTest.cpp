#include "support/ModMath.h"

#include <gtest/gtest.h>

#include "support/Error.h"

using namespace dorvex;

TEST(ModMath, CeilingAndFloor) {
    EXPECT_EQ(Ceiling(2.1), 3);
    EXPECT_EQ(Ceiling(-2.1), -2);
    EXPECT_EQ(Ceiling(4.0), 4);
    EXPECT_EQ(Floor(2.9), 2);
    EXPECT_EQ(Floor(-2.1), -3);
    EXPECT_EQ(Floor(-3.0), -3);
    EXPECT_THROW(Ceiling(3e10), DorvexError);
}

TEST(ModMath, RoundsHalvesToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
    EXPECT_EQ(RoundHalfEven(2.500001), 3.0);
    EXPECT_EQ(RoundHalfEven(1653.54), 1654.0);
}

TEST(ModMath, ValReadsTheLeadingNumber) {
    EXPECT_EQ(Val("  12abc"), 12.0);
    EXPECT_EQ(Val("0.5"), 0.5);
    EXPECT_EQ(Val("-3.25e1x"), -32.5);
    EXPECT_EQ(Val("abc"), 0.0);
    EXPECT_EQ(Val(""), 0.0);
    EXPECT_EQ(Val("."), 0.0);
    EXPECT_TRUE(IsNumeric(" 45 "));
    EXPECT_TRUE(IsNumeric("0.5"));
    EXPECT_FALSE(IsNumeric("4 5"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("1e"));
}
