#include "model/PageEditing.h"

#include <gtest/gtest.h>

#include <set>

#include "TestPages.h"
#include "TestUtil.h"
#include "model/EditDialogs.h"
#include "model/PageFiles.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// A document of pages numbered first..first+count-1, in one multi-page file or one file each.
std::shared_ptr<CInno> MakeDocument(CScanList& list, const std::string& inno, int count, bool multi, int first = 1) {
    auto doc = list.Add("B", inno);
    doc->EnableMultiTIFF = multi;
    for (int k = first; k < first + count; ++k) AppendPage(*doc, test::NumberedPage(k));
    return doc;
}

std::vector<int> Numbers(const CInno& doc) {
    std::vector<int> numbers;
    for (int p = 1; p <= doc.ActPage(); ++p) numbers.push_back(test::PageNumberOf(LoadPage(doc, p)));
    return numbers;
}

class Editing : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { list.Subscribe(&recovery); }
    void TearDown() override { list.Unsubscribe(&recovery); }
    test::TempFolder dir;
    CScanList list;
    CScanList server;
    RecoveryFileFollower recovery;  // the record follows every edit, as in the scan window
    bool multi() const { return GetParam(); }
};

}  // namespace

TEST_P(Editing, AppendAndInsertAfterTheCurrentPage) {
    auto doc = MakeDocument(list, "A", 3, multi());
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(doc->Length(), multi() ? 1 : 3);
    doc->LastPage();
    ASSERT_TRUE(InsertPageAfterCurrent(*doc, test::NumberedPage(9)));  // after the last page
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 2, 3, 9}));
    EXPECT_EQ(doc->SelectedIndex, 4);
    doc->SelectedIndex = 1;
    InsertPageAfterCurrent(*doc, test::NumberedPage(8));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 8, 2, 3, 9}));
    doc->SelectedIndex = 3;
    SaveThisPage(*doc, test::NumberedPage(7));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 8, 7, 3, 9}));

    // Saving a page of a document already saved to the server marks it changed, so that it is
    // sent again: on the to-scan list 2 becomes 6, off it 11 becomes 10.
    doc->SetIsMine(true);
    doc->SetState(state::Saved);
    SaveThisPage(*doc, test::NumberedPage(6));
    EXPECT_EQ(doc->state(), state::Changed);
    doc->SetIsMine(false);
    doc->SetState(state::SavedOther);
    SaveThisPage(*doc, test::NumberedPage(5));
    EXPECT_EQ(doc->state(), state::ChangedOther);
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 8, 5, 3, 9}));
}

TEST_P(Editing, CutAndPasteOrders) {
    auto doc = MakeDocument(list, "A", 5, multi());
    doc->SourcePage = 4;
    doc->SelectedIndex = 2;
    ASSERT_TRUE(MoveCutPage(list, &server, doc, doc));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 4, 2, 3, 5}));

    auto other = MakeDocument(list, "C", 5, multi());
    other->SourcePage = 1;
    other->SelectedIndex = 3;
    ASSERT_TRUE(MoveCutPage(list, &server, other, other));
    EXPECT_EQ(Numbers(*other), (std::vector<int>{2, 3, 1, 4, 5}));

    other->SourcePage = 2;
    other->SelectedIndex = 2;
    EXPECT_FALSE(MoveCutPage(list, &server, other, other));  // onto itself: nothing
    EXPECT_EQ(Numbers(*other), (std::vector<int>{2, 3, 1, 4, 5}));

    // Between documents.
    doc->SourcePage = 5;
    other->SelectedIndex = 5;
    ASSERT_TRUE(MoveCutPage(list, &server, doc, other));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 4, 2, 3}));
    EXPECT_EQ(Numbers(*other), (std::vector<int>{2, 3, 1, 4, 5, 5}));
}

TEST_P(Editing, DeletingPagesAndWholeDocuments) {
    auto doc = MakeDocument(list, "A", 5, multi());
    std::vector<std::string> files;
    for (int i = 1; i <= doc->Length(); ++i) files.push_back(doc->FilePaths(i));
    ASSERT_TRUE(DeletePageRange(list, &server, doc, 2, 4));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 5}));
    if (!multi()) {
        EXPECT_FALSE(FileExists(files[2]));
    }
    EXPECT_FALSE(DeletePageRange(list, &server, doc, 1, 3));

    server.Add("B", "ONE")->SetState(state::Scanned);
    auto one = MakeDocument(list, "ONE", 1, multi());
    std::string file = one->FilePath();
    EXPECT_EQ(DeletePageOfDocument(list, &server, one, 1), DeleteOutcome::DocumentRemoved);
    EXPECT_FALSE(list.IsInnoExists("ONE"));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(server.GetInno2("ONE")->state(), state::New);
    EXPECT_EQ(DeletePageOfDocument(list, &server, doc, 3), DeleteOutcome::Nothing);
}

TEST_P(Editing, MovingARunOfPages) {
    auto doc = MakeDocument(list, "A", 5, multi());
    ASSERT_TRUE(MovePages(*doc, 1, 2, 4));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{3, 4, 1, 2, 5}));
    ASSERT_TRUE(MovePages(*doc, 4, 5, 1));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{3, 2, 5, 4, 1}));
    EXPECT_FALSE(MovePages(*doc, 2, 3, 2));
    EXPECT_FALSE(MovePages(*doc, 0, 3, 5));
}

TEST_P(Editing, SplittingAfterAndBeforeAPage) {
    auto doc = MakeDocument(list, "A", 5, multi());
    list.Add("B", "Z");
    ASSERT_TRUE(MergeOrCut(list, &server, "A", false, 2, true, "A2", false));  // page 3 以後
    auto split = list.GetInno2("A2");
    ASSERT_TRUE(split);
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 2}));
    EXPECT_EQ(Numbers(*split), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(list.BatchNoList(1)->Item(2), split);  // right after its source
    EXPECT_EQ(split->EnableMultiTIFF, multi());

    auto other = MakeDocument(list, "C", 5, multi());
    ASSERT_TRUE(MergeOrCut(list, &server, "C", false, 2, false, "C1", false));  // page 3 以前
    EXPECT_EQ(Numbers(*other), (std::vector<int>{4, 5}));
    EXPECT_EQ(Numbers(*list.GetInno2("C1")), (std::vector<int>{1, 2, 3}));

    // Everything split off: the source goes.
    ASSERT_TRUE(MergeOrCut(list, &server, "C", false, 0, true, "C2", false));
    EXPECT_FALSE(list.IsInnoExists("C"));
    EXPECT_EQ(Numbers(*list.GetInno2("C2")), (std::vector<int>{4, 5}));
    EXPECT_TRUE(FileExists(RecoveryFilePath()));
}

TEST_P(Editing, AttachmentsMergesAndRefusals) {
    auto doc = MakeDocument(list, "A", 4, multi());
    ASSERT_TRUE(MergeOrCut(list, &server, "A", false, 3, true, "", true));
    ASSERT_TRUE(MergeOrCut(list, &server, "A", false, 2, true, "", true));
    auto first = list.GetInno2("A_1");
    auto second = list.GetInno2("A_2");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Parent(), doc);
    EXPECT_EQ(second->Parent(), doc);
    EXPECT_EQ(Numbers(*first), (std::vector<int>{4}));
    EXPECT_EQ(Numbers(*second), (std::vector<int>{3}));

    EXPECT_FALSE(MergeOrCut(list, &server, "A", true, 0, true, "NOPE", false));   // merge into nothing
    EXPECT_FALSE(MergeOrCut(list, &server, "A", false, 0, true, "A_1", false));   // split onto a number in use
    EXPECT_FALSE(MergeOrCut(list, &server, "A", false, 5, true, "NEW", false));   // no page 6
    EXPECT_FALSE(MergeOrCut(list, &server, "MISSING", false, 0, true, "NEW", false));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 2}));

    ASSERT_TRUE(MergeOrCut(list, &server, "A_1", true, 0, true, "A", false));
    EXPECT_FALSE(list.IsInnoExists("A_1"));
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{1, 2, 4}));
}

// What was read from a document's pages (its recognised first page) holds only while its
// revision stays: every edit of the pages gives a new one, also those that rewrite a file
// under the same list of files.
TEST_P(Editing, EveryEditOfThePagesGivesANewRevision) {
    auto doc = MakeDocument(list, "A", 3, multi());
    std::set<std::uint64_t> seen{doc->PagesRevision()};
    auto renewed = [&](const char* edit) {
        EXPECT_TRUE(seen.insert(doc->PagesRevision()).second) << edit;
        EXPECT_EQ(Numbers(*doc).size(), static_cast<std::size_t>(doc->ActPage()));
    };
    doc->SelectedIndex = 1;
    SaveThisPage(*doc, test::NumberedPage(7));
    renewed("a page saved over");
    ASSERT_TRUE(MovePages(*doc, 3, 3, 0));
    renewed("pages moved");
    EditEveryPage(list, &server, doc, [](Raster&, int) { return true; });
    renewed("every page rewritten");
    AppendPage(*doc, test::NumberedPage(4));
    renewed("a page added");
    DeletePageOfDocument(list, &server, doc, 1);
    renewed("a page deleted");
    const CInno copy = *doc;
    doc->SetWords({{"主旨", "x"}});
    renewed("words set");
    *doc = copy;  // taken back to an earlier state, it is announced as changed again
    doc->Announce(change::PagesChanged);
    renewed("taken back");
    EXPECT_EQ(Numbers(*doc), (std::vector<int>{7, 2, 4}));
}

INSTANTIATE_TEST_SUITE_P(StorageModes, Editing, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "MultiPageFile" : "FilePerPage"; });

TEST(Merging, PagesTakeTheTargetsOwnStorage) {
    test::TempFolder dir;
    CScanList list;
    auto grey = list.Add("B", "GREY");
    grey->EnableMultiTIFF = false;
    grey->Format = 17;
    grey->BitmapBits = 8;
    for (int k = 1; k <= 2; ++k) AppendPage(*grey, test::NumberedPage(k, 8));
    auto bw = MakeDocument(list, "BW", 2, true, 5);
    ASSERT_TRUE(MergeOrCut(list, nullptr, "GREY", true, 0, true, "BW", false));
    EXPECT_TRUE(bw->EnableMultiTIFF);
    EXPECT_EQ(bw->Format, 29);
    EXPECT_EQ(bw->Length(), 1);
    EXPECT_EQ(bw->ActPage(), 4);
    ImageInfo info = ReadImageInfo(bw->FilePath());
    EXPECT_EQ(info.pages, 4);
    EXPECT_EQ(info.format, 29);
    EXPECT_EQ(Numbers(*bw), (std::vector<int>{5, 6, 1, 2}));
    EXPECT_FALSE(list.IsInnoExists("GREY"));
}

TEST(EditDialogs, ChecksAndRecords) {
    FrmMultiMove move;
    move.Pages = 5;
    move.TxtStart.text = "2";
    move.TxtEnd.text = "3";
    move.TxtTarget.text = "1";
    EXPECT_FALSE(move.OkEnabled());  // after page 1 is where they are
    move.TxtTarget.text = "4";
    EXPECT_TRUE(move.OkEnabled());
    move.TxtTarget.text = "3";
    EXPECT_FALSE(move.OkEnabled());
    move.TxtStart.text = "0";
    move.TxtTarget.text = "5";
    EXPECT_FALSE(move.OkEnabled());
    move.TxtStart.text = "x";
    EXPECT_FALSE(move.OkEnabled());
    move.Inno = "A1";
    EXPECT_EQ(move.SetInfo(), "A1 總頁數：5");

    FrmDelete del;
    del.MaxPage = 5;
    del.CurrentPage = 3;
    del.CmdOK_Click();
    EXPECT_EQ(del.StartPage, 3);
    EXPECT_EQ(del.EndPage, 5);
    del.ChooseType(1);
    EXPECT_FALSE(del.TxtStart.enabled);
    del.CmdOK_Click();
    EXPECT_EQ(del.StartPage, 1);
    EXPECT_EQ(del.EndPage, 3);
    del.ChooseType(2);
    EXPECT_TRUE(del.TxtStart.enabled);
    del.TxtStart.text = "4";
    del.TxtEnd.text = "2";
    del.CmdOK_Click();
    EXPECT_FALSE(del.ClickOK);
    del.TxtEnd.text = "6";
    del.CmdOK_Click();
    EXPECT_FALSE(del.ClickOK);
    del.TxtEnd.text = "5";
    del.CmdOK_Click();
    EXPECT_TRUE(del.ClickOK);
    EXPECT_TRUE(FrmDelete::AcceptsKey('7'));
    EXPECT_TRUE(FrmDelete::AcceptsKey(8));
    EXPECT_FALSE(FrmDelete::AcceptsKey('A'));

    FrmRotate rotate;
    rotate.CmdOK_Click();
    EXPECT_FALSE(rotate.ClickOK);
    rotate.Choice = 2;
    rotate.CmdOK_Click();
    EXPECT_TRUE(rotate.ClickOK);
    EXPECT_EQ(rotate.Angle(), 27000);

    FrmMergeCut mc;
    mc.Inno = "A";
    mc.TotalPage = 5;
    mc.AddInno("B");
    mc.AddInno("C");
    mc.SetEnableAttachment(true);
    mc.Form_Load();
    EXPECT_EQ(mc.CbMC.items, (std::vector<std::string>{"合併", "分割", "附件"}));
    EXPECT_EQ(mc.Message(), "文件概要：A   總頁數：5");
    EXPECT_TRUE(mc.NumberBoxVisible());
    mc.Preset(true, 9, false, "C");
    EXPECT_TRUE(mc.WantMerge());
    EXPECT_TRUE(mc.TargetListVisible());
    EXPECT_EQ(mc.StartAt(), 4);
    EXPECT_FALSE(mc.StartAfter());
    EXPECT_EQ(mc.TargetInno(), "C");
    mc.CbMC.Select(2);
    EXPECT_TRUE(mc.BeAttachment());
    EXPECT_FALSE(mc.ToWordVisible());
    mc.SetEnableAttachment(false);
    EXPECT_EQ(mc.CbMC.items.size(), 2u);
}

TEST(EditDialogs, TheDeleteBoxesFollowThePresetTypeWhenShown) {
    FrmDelete del;
    del.Form_Load();
    EXPECT_FALSE(del.TxtStart.enabled);
    EXPECT_FALSE(del.TxtEnd.enabled);
    FrmDelete range;
    range.DeleteType = 2;
    range.Form_Load();
    EXPECT_TRUE(range.TxtStart.enabled);
    EXPECT_TRUE(range.TxtEnd.enabled);
}

TEST(EditDialogs, RotationByATypedAngle) {
    FrmRotate rotate;
    EXPECT_FALSE(rotate.TxtAngle.enabled);
    rotate.Choose(FrmRotate::kFreeAngle);
    EXPECT_TRUE(rotate.TxtAngle.enabled);
    EXPECT_FALSE(rotate.OkEnabled());
    rotate.CmdOK_Click();
    EXPECT_FALSE(rotate.ClickOK);  // nothing typed
    rotate.TxtAngle.text = "12.5";
    EXPECT_TRUE(rotate.OkEnabled());
    rotate.CmdOK_Click();
    EXPECT_TRUE(rotate.ClickOK);
    EXPECT_EQ(rotate.Angle(), 1250);
    rotate.TxtAngle.text = "-725";
    EXPECT_EQ(rotate.Angle(), -36000);
    rotate.TxtAngle.text = "abc";
    rotate.CmdOK_Click();
    EXPECT_FALSE(rotate.ClickOK);
    EXPECT_EQ(rotate.Angle(), 0);
    rotate.Choose(1);  // a fixed angle again: the typed one no longer counts
    EXPECT_FALSE(rotate.TxtAngle.enabled);
    rotate.CmdOK_Click();
    EXPECT_TRUE(rotate.ClickOK);
    EXPECT_EQ(rotate.Angle(), 18000);
}
