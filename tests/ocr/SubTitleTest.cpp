#include "ocr/SubTitle.h"

#include <gtest/gtest.h>

#include "ocr/DocType.h"

using namespace dorvex;

TEST(DocType, FindsTheLongestTypeNameThatEndsTheText) {
    CDocType types;
    EXPECT_EQ(types.GetDocTypeName(0), "令");
    EXPECT_EQ(types.GetDocTypeName(13), "機密文書機密等級變換或註銷通知單");
    EXPECT_EQ(types.GetDocTypeName(14), "");
    EXPECT_EQ(types.GetDocTypeName(15), "");
    EXPECT_EQ(types.TypeNames().size(), 15u);

    EXPECT_TRUE(types.FindTitle("臺北市政府函"));
    EXPECT_EQ(types.LastDocTypeName(), "函");
    EXPECT_EQ(types.LastTitle(), "臺北市政府");
    EXPECT_TRUE(types.FindTitle("內政部書函"));  // not "函" with "書" left on the agency
    EXPECT_EQ(types.LastDocTypeName(), "書函");
    EXPECT_EQ(types.LastTitle(), "內政部");
    EXPECT_TRUE(types.FindTitle("本府簽稿會核單"));
    EXPECT_EQ(types.LastDocTypeName(), "簽稿會核單");
    EXPECT_EQ(types.LastTitle(), "本府");
    EXPECT_TRUE(types.FindTitle("公告"));
    EXPECT_EQ(types.LastDocTypeName(), "公告");
    EXPECT_EQ(types.LastTitle(), "");
    EXPECT_TRUE(types.FindTitle("教育部開會通知單"));
    EXPECT_EQ(types.LastDocTypeName(), "開會通知單");
    EXPECT_FALSE(types.FindTitle("函件說明"));
    EXPECT_EQ(types.LastDocTypeName(), "開會通知單");  // kept after a miss
    EXPECT_FALSE(types.FindTitle(""));
}

TEST(SubTitle, ATitleOpensTheTextWithItsColonOrStandsAlone) {
    CSubTitles titles;
    EXPECT_TRUE(titles.FindSubTitle("說明：一、依據主旨：請查照"));
    EXPECT_EQ(titles.LastSubTitle(), "說明");
    EXPECT_EQ(titles.LastSubValue(), "一、依據主旨：請查照");
    EXPECT_EQ(titles.LastSubTitlePos(), 1);

    EXPECT_TRUE(titles.FindSubTitle("主旨:核定"));
    EXPECT_EQ(titles.LastSubTitle(), "主旨");
    EXPECT_EQ(titles.LastSubValue(), "核定");

    EXPECT_TRUE(titles.FindSubTitle("正本"));  // a title alone
    EXPECT_EQ(titles.LastSubTitle(), "正本");
    EXPECT_EQ(titles.LastSubValue(), "");
    EXPECT_EQ(titles.LastSubTitlePos(), 1);

    // Not where other text comes first, nor at the end of a line.
    EXPECT_FALSE(titles.FindSubTitle("檢送附件一份，主旨:核定"));
    EXPECT_FALSE(titles.FindSubTitle("實施方式詳如附件"));
    EXPECT_EQ(titles.LastSubTitlePos(), 1);
    EXPECT_FALSE(titles.FindSubTitle("主旨請查照"));
    EXPECT_FALSE(titles.FindSubTitle("主"));
    EXPECT_FALSE(titles.FindSubTitle(""));
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
    // Every window loads the table again: it is replaced, not extended.
    titles.LoadFixedWords("<Words><Word><OldText>台北</OldText><NewText>臺北市</NewText></Word></Words>");
    titles.LoadFixedWords("<Words><Word><OldText>台北</OldText><NewText>臺北市</NewText></Word></Words>");
    ASSERT_EQ(titles.FixedWords().size(), 1u);
    EXPECT_EQ(titles.ApplyFixedWords("台北"), "臺北市");
    titles.AddFixedWord("a", "aa");
    EXPECT_EQ(titles.ApplyFixedWords("aXa"), "aaXaa");
}
