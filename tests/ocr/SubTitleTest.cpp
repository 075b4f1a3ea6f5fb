#include "ocr/SubTitle.h"

#include <gtest/gtest.h>

#include "ocr/DocType.h"

using namespace dorvex;

TEST(DocType, FindsTheFirstTypeNameInTableOrder) {
    CDocType types;
    EXPECT_EQ(types.GetDocTypeName(0), "令");
    EXPECT_EQ(types.GetDocTypeName(13), "機密文書機密等級變換或註銷通知單");
    EXPECT_EQ(types.GetDocTypeName(14), "");
    EXPECT_EQ(types.GetDocTypeName(15), "");
    EXPECT_EQ(types.TypeNames().size(), 15u);

    EXPECT_TRUE(types.FindTitle("臺北市政府函"));
    EXPECT_EQ(types.LastDocTypeName(), "函");
    EXPECT_EQ(types.LastTitle(), "臺北市政府");
    EXPECT_TRUE(types.FindTitle("內政部書函"));  // "函" comes first in the table
    EXPECT_EQ(types.LastDocTypeName(), "函");
    EXPECT_EQ(types.LastTitle(), "內政部書");
    EXPECT_TRUE(types.FindTitle("公告"));
    EXPECT_EQ(types.LastDocTypeName(), "公告");
    EXPECT_EQ(types.LastTitle(), "");
    EXPECT_TRUE(types.FindTitle("教育部開會通知單"));
    EXPECT_EQ(types.LastDocTypeName(), "開會通知單");
    EXPECT_FALSE(types.FindTitle("函件說明"));
    EXPECT_EQ(types.LastDocTypeName(), "開會通知單");  // kept after a miss
    EXPECT_FALSE(types.FindTitle(""));
}

TEST(SubTitle, TitlesAreTriedInTableOrder) {
    CSubTitles titles;
    EXPECT_TRUE(titles.FindSubTitle("說明：一、依據主旨：請查照"));
    EXPECT_EQ(titles.LastSubTitle(), "主旨");
    EXPECT_EQ(titles.LastSubValue(), "請查照");
    EXPECT_EQ(titles.LastSubTitlePos(), 8);

    EXPECT_TRUE(titles.FindSubTitle("檢送附件一份，主旨:核定"));  // 附件 without colon goes on
    EXPECT_EQ(titles.LastSubTitle(), "主旨");
    EXPECT_EQ(titles.LastSubValue(), "核定");

    EXPECT_TRUE(titles.FindSubTitle("正本"));  // title ending the text
    EXPECT_EQ(titles.LastSubTitle(), "正本");
    EXPECT_EQ(titles.LastSubValue(), "");
    EXPECT_EQ(titles.LastSubTitlePos(), 1);

    EXPECT_FALSE(titles.FindSubTitle("主旨請查照"));
    EXPECT_EQ(titles.LastSubTitlePos(), 1);
    EXPECT_FALSE(titles.FindSubTitle("主"));
}

TEST(FixedWords, LoadAndApplyInOrder) {
    CSubTitles titles;
    EXPECT_EQ(titles.ApplyFixedWords("王作業"), "王作業");
    titles.LoadFixedWords(
        "<Response><Words><Word><OldText>臺</OldText><NewText>台</NewText></Word>"
        "<Word><OldText>only old</OldText></Word>"
        "<Word><OldText>台北</OldText><NewText>臺北市</NewText></Word></Words></Response>");
    ASSERT_EQ(titles.FixedWords().size(), 2u);
    // Later pairs see the output of earlier ones; replacements are not rescanned.
    EXPECT_EQ(titles.ApplyFixedWords("臺北 臺中"), "臺北市 台中");
    titles.LoadFixedWords("<Response/>");
    titles.LoadFixedWords("not xml <<");
    EXPECT_EQ(titles.FixedWords().size(), 2u);
    titles.AddFixedWord("a", "aa");
    EXPECT_EQ(titles.ApplyFixedWords("aXa"), "aaXaa");
}
