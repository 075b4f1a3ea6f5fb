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

namespace {

// A row profile of `rows` rows: ink `count` in each row of the given bands.
std::vector<int> Rows(long rows, const std::vector<std::pair<InkRun, int>>& bands) {
    std::vector<int> profile(static_cast<std::size_t>(rows), 0);
    for (const auto& [band, count] : bands) {
        for (long y = band.Left; y < band.Right; ++y) profile[static_cast<std::size_t>(y)] += count;
    }
    return profile;
}

}  // namespace

TEST(InkCells, LinesAreTheBandsOfRowsWithInk) {
    // Three 300-dpi lines of 45 px, 40 px apart, one of them with an empty row inside a
    // character (the strokes of 二), a speck above the first and the side of a stamp's frame
    // (2 px a row) all down the page.
    std::vector<int> profile = Rows(600, {{{100, 145}, 300}, {{185, 200}, 120}, {{212, 230}, 120}, {{270, 315}, 400},
                                          {{40, 43}, 3}, {{0, 600}, 2}});
    std::vector<InkRun> lines = InkLines(profile, 300);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Left, 100);
    EXPECT_EQ(lines[0].Right, 145);
    EXPECT_EQ(lines[1].Left, 185);  // one line across the gap inside its characters
    EXPECT_EQ(lines[1].Right, 230);
    EXPECT_EQ(lines[2].Left, 270);
    EXPECT_EQ(lines[2].Right, 315);
}

TEST(InkCells, APageWithoutTextHasNoLines) {
    EXPECT_TRUE(InkLines({}, 300).empty());
    EXPECT_TRUE(InkLines(Rows(400, {{{10, 12}, 50}, {{200, 203}, 8}}), 300).empty());  // a rule's trace and a speck
    EXPECT_TRUE(InkLines(std::vector<int>(400, 0), 0).empty());  // no resolution stated
}

TEST(InkCells, TheWidestGapSetsALetterheadsLastWordApart) {
    // 教育局, the wide gap of an ideographic space, 函; the characters 5 px apart.
    std::vector<InkRun> runs = {{0, 45}, {50, 95}, {100, 145}, {200, 245}};
    EXPECT_EQ(SetApartFrom(runs, 45, 0.8), 3u);
    // Evenly set text, or a single run, sets nothing apart.
    EXPECT_EQ(SetApartFrom({{0, 45}, {55, 100}, {110, 155}}, 45, 0.8), 0u);
    EXPECT_EQ(SetApartFrom({{0, 45}}, 45, 0.8), 0u);
    // A speck of the glass far left of the line, or beside the set-apart word, is passed over.
    std::vector<InkRun> specked = {{0, 3}, {100, 145}, {150, 195}, {250, 295}, {300, 345}, {420, 423}};
    EXPECT_EQ(SetApartFrom(specked, 45, 0.8), 3u);
}
