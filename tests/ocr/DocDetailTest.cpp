// The field editor's behaviour as a person meets it: what is shown, what is written back and
// when, the type rows and the issue date's colour.

#include <gtest/gtest.h>

#include "model/ScanList.h"
#include "ocr/DocDetail.h"

namespace dorvex {
namespace {

struct Written {
    std::vector<CPhase> changes;
    explicit Written(DocDetail& detail) {
        detail.Change.Connect([this](const std::string& key, const std::string& value) { changes.push_back({key, value}); });
    }
};

TEST(DocDetail, RocDatesAreFoundAnywhereOnceSpacesAreTakenOut) {
    EXPECT_TRUE(DocDetail::IsROCDateTimeFormat("中華民國94年3月1日"));
    EXPECT_TRUE(DocDetail::IsROCDateTimeFormat("中華民國 94 年 3 月 1 日"));
    EXPECT_TRUE(DocDetail::IsROCDateTimeFormat("中華民國\t94年\u30003月\r\n1日"));
    EXPECT_TRUE(DocDetail::IsROCDateTimeFormat("發文於中華民國114年12月8日上午"));
    EXPECT_FALSE(DocDetail::IsROCDateTimeFormat("94年3月1日"));
    EXPECT_FALSE(DocDetail::IsROCDateTimeFormat("2005/03/01"));
    EXPECT_FALSE(DocDetail::IsROCDateTimeFormat("中華民國年3月1日"));
    EXPECT_FALSE(DocDetail::IsROCDateTimeFormat("中華民國94年3月1"));
    EXPECT_FALSE(DocDetail::IsROCDateTimeFormat(""));
}

TEST(DocDetail, UpdateShowsTheWordsWithoutWritingThemBack) {
    DocDetail detail;
    Written written(detail);
    const std::vector<CPhase> words = {{"類別", "函"},     {"機關名稱", "臺北市政府"}, {"發文日期", "中華民國114年1月2日"},
                                       {"主旨", "請查照。"}, {"說明", "不在表上"},     {"附件", "如文"}};
    detail.Update(&words);
    EXPECT_EQ(detail.TypeText(), "函");
    EXPECT_EQ(detail.TypeIndex(), 1);
    EXPECT_EQ(detail.Text(0), "臺北市政府");
    EXPECT_EQ(detail.Text(2), "中華民國114年1月2日");
    EXPECT_FALSE(detail.DateIsRed());
    EXPECT_EQ(detail.Text(5), "如文");
    EXPECT_EQ(detail.Text(6), "請查照。");
    EXPECT_EQ(detail.Text(1), "");
    // Moving the focus through every field afterwards writes nothing back.
    for (int field = 0; field < DocDetail::kFields; ++field) {
        EXPECT_FALSE(detail.Dirty(field));
        detail.TxtContent_GotFocus(field);
        detail.TxtContent_LostFocus(field);
    }
    detail.ForceSync();
    EXPECT_TRUE(written.changes.empty());

    // Words without a type leave the type empty; no words at all keep what is shown.
    const std::vector<CPhase> untyped = {{"發文日期", "114/01/02"}};
    detail.Update(&untyped);
    EXPECT_EQ(detail.TypeIndex(), -1);
    EXPECT_EQ(detail.TypeText(), "");
    EXPECT_EQ(detail.Text(6), "");
    EXPECT_TRUE(detail.DateIsRed());
    detail.Update(nullptr);
    EXPECT_EQ(detail.Text(2), "114/01/02");
    EXPECT_TRUE(written.changes.empty());
}

TEST(DocDetail, AnEditIsWrittenUnderItsKeyWhenTheFieldIsLeftOrSynced) {
    DocDetail detail;
    Written written(detail);
    detail.TxtContent_GotFocus(0);
    detail.TxtContent_Change(0, "教育部");
    EXPECT_TRUE(detail.Dirty(0));
    detail.TxtContent_LostFocus(0);
    ASSERT_EQ(written.changes.size(), 1u);
    EXPECT_EQ(written.changes[0], (CPhase{"機關名稱", "教育部"}));
    EXPECT_EQ(detail.FocusedField(), -1);

    // The field still being edited when the upload starts goes with ForceSync, once.
    detail.TxtContent_GotFocus(3);
    detail.TxtContent_Change(3, "教字第1號");
    detail.TxtContent_Change(2, "中華民國 1 年 1 月 1 日");
    detail.ForceSync();
    detail.ForceSync();
    detail.TxtContent_LostFocus(3);
    ASSERT_EQ(written.changes.size(), 3u);
    EXPECT_EQ(written.changes[1], (CPhase{"發文日期", "中華民國 1 年 1 月 1 日"}));
    EXPECT_EQ(written.changes[2], (CPhase{"發文字號", "教字第1號"}));
    EXPECT_FALSE(detail.DateIsRed());
    detail.TxtContent_Change(2, "1/1/1");
    EXPECT_TRUE(detail.DateIsRed());
}

TEST(DocDetail, AMeetingNoticeSwapsTheSubjectRowForTheMeetingRow) {
    DocDetail detail;
    Written written(detail);
    ASSERT_EQ(detail.TypeNames().size(), 15u);
    EXPECT_EQ(detail.TypeNames()[DocDetail::kMeetingType], "開會通知單");
    EXPECT_EQ(detail.TypeNames()[14], "");
    EXPECT_TRUE(detail.RowVisible(7));
    EXPECT_FALSE(detail.RowVisible(8));
    detail.CbType_Click(DocDetail::kMeetingType);
    EXPECT_FALSE(detail.RowVisible(7));
    EXPECT_TRUE(detail.RowVisible(8));
    detail.CbType_Click(DocDetail::kMeetingType);  // the same type again writes nothing
    detail.CbType_Click(4);
    EXPECT_TRUE(detail.RowVisible(7));
    EXPECT_FALSE(detail.RowVisible(8));
    ASSERT_EQ(written.changes.size(), 2u);
    EXPECT_EQ(written.changes[0], (CPhase{"類別", "開會通知單"}));
    EXPECT_EQ(written.changes[1], (CPhase{"類別", "公告"}));
    // A meeting notice shown from a document's words shows its meeting row too.
    const std::vector<CPhase> words = {{"類別", "開會通知單"}, {"開會事由", "年度會議"}};
    detail.Update(&words);
    EXPECT_TRUE(detail.RowVisible(8));
    EXPECT_EQ(detail.Text(7), "年度會議");
    EXPECT_EQ(written.changes.size(), 2u);
}

TEST(DocDetail, PunctuationReplacesTheSelectionOfTheFocusedFieldOnly) {
    DocDetail detail;
    const std::vector<CPhase> words = {{"主旨", "請查照辦理"}};
    detail.Update(&words);
    detail.InsertText("，");  // no field has the focus
    EXPECT_EQ(detail.Text(6), "請查照辦理");
    detail.TxtContent_GotFocus(6);
    detail.TxtContent_Select(6, 3, 0);
    detail.InsertText("，");
    EXPECT_EQ(detail.Text(6), "請查照，辦理");
    EXPECT_EQ(detail.CaretPosition(), 4);
    EXPECT_TRUE(detail.Dirty(6));
    detail.TxtContent_Select(6, 4, 2);  // "辦理" selected
    detail.InsertText("。");
    EXPECT_EQ(detail.Text(6), "請查照，。");
    EXPECT_EQ(detail.CaretPosition(), 5);
    // A selection reaching past the end is cut at the end.
    detail.TxtContent_Select(6, 9, 4);
    detail.InsertText("☆");
    EXPECT_EQ(detail.Text(6), "請查照，。☆");
}

TEST(DocDetail, FieldsReadWithLowConfidenceAreMarkedUntilTheClerkEditsThem) {
    DocDetail detail;
    Written written(detail);
    const std::vector<CPhase> words = {{"類別", "函", 35}, {"機關名稱", "教育部", 96}, {"主旨", "請查照", 52}, {"受文者", "本府"}};
    detail.Update(&words);
    EXPECT_TRUE(detail.TypeUnsure());
    EXPECT_FALSE(detail.Unsure(0));  // sure enough
    EXPECT_FALSE(detail.Unsure(1));  // no confidence: typed or kept, not read
    EXPECT_TRUE(detail.Unsure(6));
    detail.TxtContent_GotFocus(6);
    detail.TxtContent_Change(6, "請查照。");
    EXPECT_FALSE(detail.Unsure(6));
    detail.CbType_Click(1);
    EXPECT_FALSE(detail.TypeUnsure());
    // The document written back holds the clerk's value, no longer the engine's reading.
    CInno doc;
    doc.SetWords(words);
    doc.PutWord("主旨", "請查照。");
    EXPECT_LT(doc.Words()[2].Confidence, 0);
    EXPECT_EQ(doc.Words()[0].Confidence, 35);
    detail.Update(&doc.Words());
    EXPECT_FALSE(detail.Unsure(6));
    const std::vector<CPhase> none;
    detail.Update(&none);
    EXPECT_FALSE(detail.TypeUnsure());
}

TEST(DocDetail, TitlesAndTheirKeys) {
    DocDetail detail;
    const std::vector<std::string> titles = {"類別", "來文機關", "受文者", "來文日期", "來文字號", "速別", "附件", "主旨", "開會事由"};
    EXPECT_EQ(detail.GetTitles(), titles);
    EXPECT_EQ(DocDetail::GetRealTitle("來文機關"), "機關名稱");
    EXPECT_EQ(DocDetail::GetRealTitle("來文日期"), "發文日期");
    EXPECT_EQ(DocDetail::GetRealTitle("來文字號"), "發文字號");
    EXPECT_EQ(DocDetail::GetRealTitle("主旨"), "主旨");
}

}  // namespace
}  // namespace dorvex
