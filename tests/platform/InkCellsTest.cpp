#include "platform/InkCells.h"

#include <gtest/gtest.h>

using namespace dorvex;

namespace {

constexpr double kHeight = 50;  // the line's ink height in the cases below

}  // namespace

TEST(InkCells, RunsAreTheColumnsThatHoldInk) {
    std::vector<InkRun> runs = InkRuns({0, 2, 3, 0, 0, 1, 0, 4}, 100);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].Left, 101);
    EXPECT_EQ(runs[0].Right, 103);
    EXPECT_EQ(runs[1].Left, 105);
    EXPECT_EQ(runs[1].Right, 106);
    EXPECT_EQ(runs[2].Left, 107);
    EXPECT_EQ(runs[2].Right, 108);
    EXPECT_TRUE(InkRuns({0, 0, 0}, 0).empty());
}

TEST(InkCells, ExpectedWidthsFollowTheKindOfCharacter) {
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U'函'), 0.9);
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U'7'), 0.5);
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U'，'), 0.3);
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U'。'), 0.3);
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U':'), 0.2);
    EXPECT_DOUBLE_EQ(ExpectedInkWidth(U'”'), 0.2);
}

TEST(InkCells, EachCharacterTakesItsOwnRun) {
    // 主旨： set at 55 px a character: two ideographs and a narrow colon.
    std::vector<InkRun> runs = {{100, 145}, {155, 200}, {212, 220}};
    auto spans = MatchInk({0.9, 0.9, 0.3}, runs, kHeight);
    ASSERT_EQ(spans.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(spans[i]) << i;
        EXPECT_EQ(spans[i]->Left, runs[i].Left);
        EXPECT_EQ(spans[i]->Right, runs[i].Right);
    }
}

TEST(InkCells, ACharacterMadeOfSeveralRunsTakesThemAll) {
    // 北 is two halves with a narrow gap, then 市.
    auto spans = MatchInk({0.9, 0.9}, {{0, 20}, {24, 45}, {55, 100}}, kHeight);
    ASSERT_TRUE(spans[0] && spans[1]);
    EXPECT_EQ(spans[0]->Left, 0);
    EXPECT_EQ(spans[0]->Right, 45);
    EXPECT_EQ(spans[1]->Left, 55);
    EXPECT_EQ(spans[1]->Right, 100);
}

TEST(InkCells, AMarkReadIntoAGapGetsNoInk) {
    // 局 ” 函: the quote stands where the letterhead has a wide gap.
    auto spans = MatchInk({0.9, 0.2, 0.9}, {{0, 45}, {120, 166}}, kHeight);
    ASSERT_TRUE(spans[0]);
    EXPECT_FALSE(spans[1]);
    ASSERT_TRUE(spans[2]);
    EXPECT_EQ(spans[2]->Left, 120);
}

TEST(InkCells, TouchingCharactersShareTheirRun) {
    auto spans = MatchInk({0.9, 0.9}, {{0, 90}}, kHeight);
    ASSERT_TRUE(spans[0] && spans[1]);
    EXPECT_EQ(spans[0]->Left, 0);
    EXPECT_EQ(spans[0]->Right, 45);
    EXPECT_EQ(spans[1]->Left, 45);
    EXPECT_EQ(spans[1]->Right, 90);
}

TEST(InkCells, SpecksAwayFromTheTextAreLeftOut) {
    auto spans = MatchInk({0.9, 0.9}, {{0, 2}, {60, 105}, {112, 157}, {300, 302}}, kHeight);
    ASSERT_TRUE(spans[0] && spans[1]);
    EXPECT_EQ(spans[0]->Left, 60);
    EXPECT_EQ(spans[1]->Right, 157);
}

TEST(InkCells, NoInkOrNoCharactersGiveNoSpans) {
    auto none = MatchInk({0.9, 0.5}, {}, kHeight);
    ASSERT_EQ(none.size(), 2u);
    EXPECT_FALSE(none[0]);
    EXPECT_FALSE(none[1]);
    EXPECT_TRUE(MatchInk({}, {{0, 10}}, kHeight).empty());
}
