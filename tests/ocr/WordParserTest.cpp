#include "ocr/WordParser.h"

#include <gtest/gtest.h>

#include "support/CodePage.h"
#include "support/Error.h"

using namespace dorvex;

namespace {

constexpr long kCharWidth = 40;

// One word per character, as the engine delivers Chinese text.
void AddLine(std::vector<OcrWord>& words, const std::string& text, long region, long left, long top, long size = kCharWidth,
             float confidence = 95) {
    long x = left;
    for (char32_t c : ToU32(text)) {
        words.push_back({ToUtf8(std::u32string(1, c)), region, {{x, top, x + size, top + size}}, confidence});
        x += size;
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
    AddLine(words, "遠在右方的註記", 9, 236 + 12 * kCharWidth, 1020);  // far right of title and item: dropped
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

TEST(WordParser, ATitleOpensAFieldOnlyAtTheStartOfALine) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "附件：實施要點一份", 1, 236, 100);
    // The subject's first line ends in the word 附件, its second line goes on.
    AddLine(words, "主旨：檢送實施要點一份，實施方式詳如附件", 2, 236, 160);
    AddLine(words, "請查照並轉知所屬學校。", 3, 236 + 3 * kCharWidth, 220);
    AddLine(words, "一主旨：不是標題", 4, 236, 280);  // a title after other text opens nothing
    AddLine(words, "說明", 5, 236, 340);              // a title alone on its line does
    AddLine(words, "一、依據會議決議辦理。", 6, 236 + 3 * kCharWidth, 400);
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"附件", "實施要點一份"},
                                                             {"主旨", "檢送實施要點一份，實施方式詳如附件請查照並轉知所屬學校。"},
                                                             {"說明", "一、依據會議決議辦理。"}}));
}

TEST(WordParser, HangingLinesOfAnItemContinueIt) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    const long w = kCharWidth, x = 236;
    AddLine(words, "說明：", 1, x, 100);
    AddLine(words, "一、本年度疫苗自十月起開打，請各院所", 2, x + 3 * w, 160);
    AddLine(words, "於門診張貼接種資訊，", 3, x + 5 * w, 220);  // aligned after 一、
    AddLine(words, "並通知長者。", 4, x + 5 * w, 280);
    AddLine(words, "（一）分項說明，", 5, x + 5 * w, 340);
    AddLine(words, "續分項。", 6, x + 8 * w, 400);             // aligned after （一）
    AddLine(words, "二、請主動協助預約。", 7, x + 3 * w - 3, 460);  // back at the items' edge
    AddLine(words, "收文日期：中華民國113年6月5日", 8, x + 20 * w, 520);  // far right: dropped
    AddLine(words, "頁碼", 9, x, 580);                                      // the title's edge: dropped
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"說明", "一、本年度疫苗自十月起開打，請各院所於門診張貼接種資訊，並通知長者。"
                                                                      "（一）分項說明，續分項。二、請主動協助預約。"}}));
}

TEST(WordParser, OnlyTheLetterheadNamesTheTypeAndAgency) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "檔號：", 1, 236, 100);
    AddLine(words, "新北市政府教育局書函", 2, 700, 200, 60);
    AddLine(words, "受文者：新北市立圖書館", 3, 236, 320);
    AddLine(words, "說明：", 4, 236, 380);
    AddLine(words, "一、依據教育部113年5月1日臺教字第1130012345號函", 5, 236 + 3 * kCharWidth, 440);
    AddLine(words, "辦理。", 6, 236 + 5 * kCharWidth, 500);
    AddLine(words, "依據：交通部114年1月20日交路字第1140001234號函", 7, 236, 560);  // at the left: dropped
    EXPECT_EQ(ParsePage(parser, words),
              (std::vector<CPhase>{{"類別", "書函"},
                                   {"機關名稱", "新北市政府教育局"},
                                   {"受文者", "新北市立圖書館"},
                                   {"說明", "一、依據教育部113年5月1日臺教字第1130012345號函辦理。"}}));

    // Of the lines above the first field, the one of the largest text is the letterhead.
    std::vector<OcrWord> top;
    AddLine(top, "機密等級：普通令", 1, 236, 100);
    AddLine(top, "行政院令", 2, 900, 200, 60);
    AddLine(top, "主旨：修正規定。", 3, 236, 320);
    EXPECT_EQ(ParsePage(parser, top), (std::vector<CPhase>{{"類別", "令"}, {"機關名稱", "行政院"}, {"主旨", "修正規定。"}}));
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
    AddLine(words, "正本：", 4, 100, 400);
    AddLine(words, "正本：乙", 5, 100, 500);
    // The first value read stands; an empty one is filled by a later line.
    EXPECT_EQ(ParsePage(parser, words), (std::vector<CPhase>{{"主旨", "舊"}, {"說明", "甲"}, {"正本", "乙"}}));
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

    // A line of one word of several characters still opens its field (the title is its first).
    CWordParser other(titles);
    std::vector<OcrWord> packed = {{"主旨：甲", 1, {{0, 0, 10, 10}}, 80}};
    other.Parse(packed, false, "");
    EXPECT_EQ(other.GetData(), (std::vector<CPhase>{{"主旨", "甲"}}));
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
    AddLine(page.Words, "發文日期：中華民國113年5月15日", 2, 300, 420);  // the first one stands
    AddLine(page.Words, "速剮：最速件", 3, 300, 480);             // too short to be sure
    AddLine(page.Words, "開會時點：上午", 4, 300, 540);           // as near 開會時間 as 開會地點
    AddLine(page.Words, "備註：站絡人及電話：不在行首", 5, 300, 600);  // mended only where a line opens
    // A receipt stamp's titles are titles of their own, however near a letter's they are.
    AddLine(page.Words, "收文日期：中華民國113年5月20日", 6, 1500, 3000);
    AddLine(page.Words, "收文字號：1130012345", 7, 1500, 3060);
    AddLine(page.Words, "來文日朗：中華民國113年5月21日", 8, 1500, 3120);  // nearer 來文日期 than 發文日期
    AddLine(page.Words, "發文字號：府文字第1號", 9, 300, 660);
    parser.LoadPage(page);
    EXPECT_EQ(parser.LoadError(), "");
    const std::vector<CPhase> expected = {{"聯絡人及電話", "李大同"},
                                          {"發文日期", "中華民國113年5月14日"},
                                          {"備註", "站絡人及電話：不在行首"},
                                          {"發文字號", "府文字第1號"}};
    EXPECT_EQ(parser.GetData(), expected);
    EXPECT_EQ(parser.XDPI, 300);
    EXPECT_EQ(parser.PixelWidth, 2480);
}

TEST(WordParser, AFieldIsAsSureAsItsLeastSureCharacter) {
    CSubTitles titles;
    CWordParser parser(titles);
    std::vector<OcrWord> words;
    AddLine(words, "臺北市政府函", 1, 900, 100, 60, 90);
    AddLine(words, "主旨：請", 2, 236, 300, kCharWidth, 93);
    AddLine(words, "查", 2, 236 + 4 * kCharWidth, 300, kCharWidth, 41);
    AddLine(words, "照。", 3, 236 + 3 * kCharWidth, 360, kCharWidth, 88);
    AddLine(words, "說明：", 4, 236, 420, kCharWidth, 20);  // the title's own characters do not count
    const std::vector<CPhase> got = ParsePage(parser, words);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_FLOAT_EQ(got[0].Confidence, 90);  // 類別
    EXPECT_FLOAT_EQ(got[1].Confidence, 90);  // 機關名稱
    EXPECT_EQ(got[2].Value, "請查照。");
    EXPECT_FLOAT_EQ(got[2].Confidence, 41);
    EXPECT_EQ(got[3].Value, "");
    EXPECT_LT(got[3].Confidence, 0);  // nothing read: no confidence
    EXPECT_TRUE(CPhase::IsUnsure(41));
    EXPECT_FALSE(CPhase::IsUnsure(90));
    EXPECT_FALSE(CPhase::IsUnsure(-1));
}
