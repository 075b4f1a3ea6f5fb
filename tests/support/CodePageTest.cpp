#include "support/CodePage.h"

#include <gtest/gtest.h>

#include "support/Error.h"

using namespace dorvex;

TEST(CodePage, ChineseRoundTripsThroughCp950) {
    std::string text = "台北市政府函：主旨 A1-€";
    auto ansi = TryToAnsi(text);
    ASSERT_TRUE(ansi);
    EXPECT_EQ(ansi->substr(0, 2), "\xA5\x78");  // 台
    EXPECT_EQ(FromAnsi(*ansi), text);
    EXPECT_EQ(TryFromAnsi(*ansi), text);
}

TEST(CodePage, CharactersOutsideCp950AreRefused) {
    EXPECT_FALSE(TryToAnsi("简体字 simplified"));  // 简 has no Big5 form
    EXPECT_FALSE(TryToAnsi("emoji 😀"));
    EXPECT_FALSE(TryToAnsi("\xFF\xFE not utf-8"));
    try {
        ToAnsi("😀");
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), err::InvalidArgument);
    }
}

TEST(CodePage, DamagedCp950IsReplacedNotLost) {
    std::string damaged = std::string("AB") + "\xA4" ;  // lead byte without trail byte
    EXPECT_FALSE(TryFromAnsi(damaged));
    EXPECT_EQ(FromAnsi(damaged), "AB\xEF\xBF\xBD");
}

TEST(CodePage, CountsCodePointsNotBytes) {
    EXPECT_EQ(CharCount("主旨：請查照。"), 7u);
    EXPECT_EQ(ToU32("a主").size(), 2u);
    EXPECT_EQ(ToUtf8(ToU32("主旨 ok 😀")), "主旨 ok 😀");
    EXPECT_TRUE(IsValidUtf8("說明"));
    EXPECT_FALSE(IsValidUtf8("\xE8\xAA"));          // truncated
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_EQ(ToU32("\xE8\xAA"), std::u32string(2, U'\uFFFD'));
}
