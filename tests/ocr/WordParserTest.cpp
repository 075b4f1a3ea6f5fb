#include "ocr/WordParser.h"

#include <gtest/gtest.h>

#include "support/CodePage.h"
#include "support/Error.h"

using namespace dorvex;

namespace {

constexpr long kCharWidth = 40;

// One word per character, as the engine delivers Chinese text.
void AddLine(std::vector<OcrWord>& words, const std::string& text, long region, long left, long top) {
    long x = left;
    for (char32_t c : ToU32(text)) {
        words.push_back({ToUtf8(std::u32string(1, c)), region, {{x, top, x + kCharWidth, top + kCharWidth}}});
        x += kCharWidth;
    }
}

std::vector<CPhase> ParsePage(CWordParser& parser, const std::vector<OcrWord>& words) {
    parser.ClearResults();
    parser.XDPI = parser.YDPI = 300;
    parser.PixelWidth = 2480;
    parser.PixelHeight = 3508;
    parser.Parse(words, false, "");
    return parser.GetData();
}

}  // namespace

TEST(WordParser, ReadsARealLookingLetter) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "臺北市政府函", 1, 900, 200);
    AddLine(words, "受文者：內政部", 2, 236, 500);
    AddLine(words, "發文日期：中華民國115年3月2日", 3, 236, 560);
    AddLine(words, "主旨：檢送本府會議紀錄一份，", 4, 236, 700);
    AddLine(words, "請查照。", 5, 236 + 3 * kCharWidth, 760);       // wrapped line of 主旨
    AddLine(words, "頁碼 1", 6, 236, 820);                          // same left edge: dropped
    AddLine(words, "說明：", 7, 236, 900);
    AddLine(words, "一、依據行政院函辦理。", 8, 236 + 2 * kCharWidth, 960);
    AddLine(words, "二、遠在右方的註記", 9, 236 + 5 * kCharWidth, 1020);  // 5 widths: dropped
    AddLine(words, "正本：內政部", 10, 236, 1200);

    std::vector<CPhase> got = ParsePage(parser, words);
    std::vector<CPhase> expected = {
        {"類別", "函"},
        {"機關名稱", "臺北市政府"},
        {"受文者", "內政部"},
        {"發文日期", "中華民國115年3月2日"},
        {"主旨", "檢送本府會議紀錄一份，請查照。"},
        {"說明", "一、依據行政院函辦理。"},
        {"正本", "內政部"},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(parser.Text(), "");
    EXPECT_EQ(parser.PixelPaddingLeft(), 236);
    EXPECT_EQ(parser.PixelPaddingRight(), 59);
    EXPECT_EQ(parser.X1(), 236);
    EXPECT_EQ(parser.X2(), 2480 - 59);
    EXPECT_EQ(parser.Y1(), 295);
}

TEST(WordParser, ContinuationNeedsMoreThanOneAndLessThanFiveWidths) {
    CSubTitles titles;
    for (long shift : {kCharWidth, 5 * kCharWidth, 0L, -kCharWidth}) {
        CWordParser parser(titles);
        std::vector<OcrWord> words;
        AddLine(words, "主旨：請查照。", 1, 300, 100);
        AddLine(words, "多餘", 2, 300 + shift, 160);
        EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"主旨", "請查照。"}})) << shift;
    }
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "主旨：請查照。", 1, 300, 100);
    AddLine(words, "續行", 2, 300 + kCharWidth + 1, 160);
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"主旨", "請查照。續行"}}));
}

TEST(WordParser, TitleAfterOtherTextTakesItsCoordinates) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "一主旨：甲", 1, 100, 100);  // the title starts at the second word (x = 140)
    AddLine(words, "乙", 2, 100 + 3 * kCharWidth, 160);  // 2 widths right of the title
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"主旨", "甲乙"}}));
}

TEST(WordParser, NoRuleGivesTheWholeTextCorrected) {
    CSubTitles titles;
    titles.AddFixedWord("O", "0");
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "第1O號", 1, 100, 100);
    AddLine(words, "無標題", 2, 100, 160);
    EXPECT_TRUE(ParsePage(parser, words).empty());
    EXPECT_EQ(parser.Text(), "第10號無標題");
    EXPECT_TRUE(ParsePage(parser, {}).empty());
    EXPECT_EQ(parser.Text(), "");
}

TEST(WordParser, RepeatedTitleKeepsItsFirstPositionAndCorrectionsApply) {
    CSubTitles titles;
    titles.AddFixedWord("査", "查");
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "主旨：舊", 1, 100, 100);
    AddLine(words, "說明：甲", 2, 100, 200);
    AddLine(words, "主旨：請査照", 3, 100, 300);
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"主旨", "請查照"}, {"說明", "甲"}}));
    // A title given to Parse comes first, with an empty value.
    parser.ClearResults();
    parser.Parse(words, false, "第一頁");
    EXPECT_EQ(parser.GetData().front(), (CPhase{"第一頁", ""}));
}

TEST(WordParser, BrokenWordsEndTheParseKeepingEarlierResults) {
    CSubTitles titles;
    CWordParser parser(titles);
    parser.Add("已有", "x");
    std::vector<OcrWord> words;
    AddLine(words, "主旨：甲", 1, 100, 100);
    words.push_back({"乙", 2, {}});
    EXPECT_THROW(parser.Parse(words, false, ""), DorvexError);
    EXPECT_EQ(parser.GetData(), (std::vector<CPhase>{{"已有", "x"}}));

    // A line whose words are fewer than its title position (a multi-character word).
    CWordParser other(titles);
    std::vector<OcrWord> packed = {{"前文主旨：甲", 1, {{0, 0, 10, 10}}}};
    EXPECT_THROW(other.Parse(packed, false, ""), DorvexError);
}

TEST(WordParser, PixelsFromCentimetres) {
    EXPECT_EQ(CWordParser::GetPixelFromCM(2.0, 300), 236);
    EXPECT_EQ(CWordParser::GetPixelFromCM(0.5, 300), 59);
    EXPECT_EQ(CWordParser::GetPixelFromCM(2.54, 200), 200);
    CWordParser parser;
    parser.SetPixelPaddingTop(10.5);
    EXPECT_EQ(parser.PixelPaddingTop(), 10);
    parser.SetPixelPaddingTop(11.5);
    EXPECT_EQ(parser.PixelPaddingTop(), 12);
}

TEST(WordParser, StreamingInterface) {
    CSubTitles titles;
    CWordParser parser(titles);
    parser.PixelWidth = 1000;
    parser.ParseString("臺北市", nullptr, 0, "");
    parser.ParseString("政府函", nullptr, 0, "");  // letterhead completes across pieces
    OcrWord first{"主", 1, {{100, 0, 140, 40}}};
    OcrWord near{"請", 2, {{150, 60, 190, 100}}};
    OcrWord far{"x", 3, {{600, 60, 640, 100}}};
    parser.ParseString("主旨：甲", &first, 0, "");
    parser.ParseString("續", &near, 0, "");   // within a tenth of the page width: kept pending
    parser.ParseString("遠", &far, 0, "");    // too far: dropped
    parser.ParseString("說明：乙", &first, 0, "");  // flushes the pending text once
    EXPECT_EQ(parser.GetData(), (std::vector<CPhase>{{"類別", "函"},
                                                     {"機關名稱", "臺北市政府"},
                                                     {"主旨", "甲續"},
                                                     {"說明", "乙"}}));
}

TEST(WordParser, ARecognisedPageGetsBackATitleMisreadByOneCharacter) {
    CSubTitles titles;
    CWordParser parser(titles);
    OcrPage page;
    page.XDpi = page.YDpi = 300;
    page.PixelWidth = 2480;
    page.PixelHeight = 3508;
    AddLine(page.Words, "站絡人及電話：李大同", 0, 300, 300);
    AddLine(page.Words, "發文日朗：中華民國113年5月14日", 1, 300, 360);
    AddLine(page.Words, "發文日期：中華民國113年5月15日", 2, 300, 420);  // the later one wins
    AddLine(page.Words, "速剮：最速件", 3, 300, 480);             // too short to be sure
    AddLine(page.Words, "開會時點：上午", 4, 300, 540);           // as near 開會時間 as 開會地點
    AddLine(page.Words, "備註：站絡人及電話：不在行首", 5, 300, 600);  // mended only where a line opens
    parser.LoadPage(page);
    EXPECT_EQ(parser.LoadError(), "");
    const std::vector<CPhase> expected = {{"聯絡人及電話", "李大同"}, {"發文日期", "中華民國113年5月15日"}, {"備註", "站絡人及電話：不在行首"}};
    EXPECT_EQ(parser.GetData(), expected);
    EXPECT_EQ(parser.XDPI, 300);
    EXPECT_EQ(parser.PixelWidth, 2480);
}
