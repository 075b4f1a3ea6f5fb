#include "model/ScanTree.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "model/ScanList.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// Texts of a node's children, in display order.
std::vector<std::string> ChildTexts(const ScanTree& tree, int index) {
    std::vector<std::string> texts;
    for (int child : tree.Children(index)) texts.push_back(tree.Node(child)->Text);
    return texts;
}

struct Lists {
    CScanList scanned;
    CScanList toScan;
    ScanTree tree;
    Lists() { scanned.CompareList = &toScan; }
    void Update() { tree.UpdateTreeView("0", scanned, &toScan, true); }
};

}  // namespace

TEST(ScanTree, EmptyListShowsRootAndCountAndOnlyInSeveralDocumentsMode) {
    Lists l;
    l.tree.UpdateTreeView("2", l.scanned, &l.toScan, true);
    EXPECT_EQ(l.tree.Count(), 0);
    EXPECT_FALSE(l.tree.Visible);

    l.tree.UpdateTreeView("0", l.scanned, &l.toScan, false);
    ASSERT_EQ(l.tree.Count(), 2);
    EXPECT_TRUE(l.tree.Visible);
    EXPECT_EQ(l.tree.Node(l.tree.RootIndex)->Text, "掃描作業");
    EXPECT_EQ(l.tree.Node(l.tree.RootIndex)->Image, 5);
    EXPECT_EQ(ChildTexts(l.tree, l.tree.RootIndex), std::vector<std::string>{"已掃描影像(0)"});
    EXPECT_EQ(l.tree.Node(l.scanned.Index)->Image, 1);
    EXPECT_TRUE(l.tree.Node(l.scanned.Index)->Expanded);
}

TEST(ScanTree, NodesFollowTheModelWithKeysTextsAndStates) {
    Lists l;
    l.toScan.Add("B1", "A1", 3);
    l.toScan.Add("B1", "S2", 5);
    auto a1 = l.scanned.Add("B1", "A1");
    a1->NewPage("");
    a1->NewPage("");
    l.Update();

    EXPECT_EQ(ChildTexts(l.tree, l.tree.RootIndex), (std::vector<std::string>{"已掃描影像(1)", "待掃描清單(2)"}));
    auto b1 = l.scanned.BatchNoList(1);
    EXPECT_EQ(l.tree.Node(b1->Index)->Key, "b,B1");
    EXPECT_EQ(l.tree.Node(a1->Index)->Key, "d,A1");
    EXPECT_EQ(l.tree.Node(a1->Index)->Text, "A1(2)");
    EXPECT_EQ(l.tree.Node(a1->Index)->Image, a1->state());
    auto s2 = l.toScan.GetInno2("S2");
    EXPECT_EQ(l.tree.Node(l.toScan.BatchNoList(1)->Index)->Key, "a,B1");
    EXPECT_EQ(l.tree.Node(s2->Index)->Key, "c,S2");
    EXPECT_EQ(l.tree.Node(s2->Index)->Text, "S2(5)");
    EXPECT_EQ(l.tree.Node(s2->Index)->Image, 4);

    // A later page and document: old nodes keep their indices, texts and counts follow.
    const int a1Index = a1->Index;
    a1->NewPage("");
    auto a3 = l.scanned.Add("B1", "A3");
    l.Update();
    EXPECT_EQ(a1->Index, a1Index);
    EXPECT_EQ(l.tree.Node(a1Index)->Text, "A1(3)");
    EXPECT_EQ(ChildTexts(l.tree, b1->Index), (std::vector<std::string>{"A1(3)", "A3(0)"}));
    EXPECT_EQ(l.tree.Node(l.scanned.Index)->Text, "已掃描影像(2)");
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, a3->Index), a3);
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, b1->Index), nullptr);
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, s2->Index), nullptr);  // the to-scan list is not clicked open

    // Cleared and rebuilt: every object gets a node again.
    l.tree.Clear(l.scanned, &l.toScan);
    EXPECT_EQ(a1->Index, 0);
    l.Update();
    EXPECT_EQ(l.tree.Count(), 9);
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, a1->Index), a1);
}

TEST(ScanTree, RenamingKeepsNumbersUniqueAndMovesTheListedMarks) {
    Lists l;
    l.toScan.Add("B", "L1");
    l.toScan.Add("B", "L2");
    auto doc = l.scanned.Add("B", "L1");
    doc->NewPage("");
    auto other = l.scanned.Add("B", "X");
    CompareScanList(l.scanned, &l.toScan);
    ASSERT_TRUE(doc->IsMine());
    l.Update();
    auto l1 = l.toScan.GetInno2("L1");
    auto l2 = l.toScan.GetInno2("L2");
    l1->SetState(state::Scanned);

    EXPECT_FALSE(l.tree.AfterLabelEdit(l.scanned, &l.toScan, doc->Index, "X"));
    EXPECT_FALSE(l.tree.AfterLabelEdit(l.scanned, &l.toScan, doc->Index, " (1)"));
    EXPECT_FALSE(l.tree.AfterLabelEdit(l.scanned, &l.toScan, l2->Index, "Y"));  // not a scanned document
    EXPECT_EQ(doc->Inno(), "L1");
    EXPECT_EQ(other->Inno(), "X");
    EXPECT_EQ(l.tree.Node(doc->Index)->Text, "L1(1)");

    // Listed -> unlisted: the entry is not scanned any more.
    ASSERT_TRUE(l.tree.AfterLabelEdit(l.scanned, &l.toScan, doc->Index, "N(1)"));
    EXPECT_EQ(doc->Inno(), "N");
    EXPECT_EQ(l1->state(), state::New);
    EXPECT_EQ(l.tree.Node(l1->Index)->Image, 4);
    EXPECT_EQ(l.tree.Node(doc->Index)->Text, "N(1)");
    EXPECT_EQ(l.tree.Node(doc->Index)->Key, "d,N");
    EXPECT_FALSE(doc->IsMine());

    // Unlisted -> listed.
    ASSERT_TRUE(l.tree.AfterLabelEdit(l.scanned, &l.toScan, doc->Index, "L2"));
    EXPECT_EQ(l2->state(), state::Scanned);
    EXPECT_EQ(l.tree.Node(l2->Index)->Image, 3);
    EXPECT_TRUE(doc->IsMine());
}

TEST(ScanTree, DeletingShiftsEveryStoredIndex) {
    test::TempFolder folder;
    Lists l;
    auto d1 = l.scanned.Add("B", "D1");
    auto d2 = l.scanned.Add("B", "D2");
    auto d3 = l.scanned.Add("B", "D3");
    d2->NewPage(folder.File("d2.tif"));
    ASSERT_TRUE(WriteBytesToFile("page", folder.File("d2.tif")));
    l.toScan.Add("T", "D3");
    l.toScan.Add("T", "D2")->SetState(state::Scanned);
    l.Update();  // the to-scan list's nodes come after the scanned ones
    const int d3Index = d3->Index;
    const int toScanIndex = l.toScan.Index;

    EXPECT_FALSE(l.tree.DeleteDocument(l.scanned, &l.toScan, l.scanned.Index));
    ASSERT_TRUE(l.tree.DeleteDocument(l.scanned, &l.toScan, d2->Index));
    EXPECT_TRUE(FileExists(folder.File("d2.tif")));  // the caller deletes it after the recovery file
    EXPECT_EQ(l.scanned.GetInno2("D2"), nullptr);
    EXPECT_EQ(l.toScan.GetInno2("D2")->state(), state::New);
    EXPECT_EQ(d3->Index, d3Index - 1);
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, d3->Index), d3);
    EXPECT_TRUE(d3->IsMine());  // compared with the to-scan list again

    l.Update();
    EXPECT_EQ(l.toScan.Index, toScanIndex - 1);
    EXPECT_EQ(l.tree.Node(l.toScan.Index)->Text, "待掃描清單(2)");
    EXPECT_EQ(l.tree.Node(l.toScan.GetInno2("D2")->Index)->Image, 4);
    EXPECT_EQ(l.tree.Node(l.toScan.GetInno2("D3")->Index)->Key, "c,D3");
    EXPECT_EQ(ChildTexts(l.tree, d1->BatchNo()->Index), (std::vector<std::string>{"D1(0)", "D3(0)"}));
}

TEST(ScanTree, DragAndDropMakesAndUndoesAttachments) {
    Lists l;
    auto main = l.scanned.Add("B", "M");
    auto att = l.scanned.Add("B", "A");
    auto elsewhere = l.scanned.Add("C", "E");
    l.Update();
    const int batch = main->BatchNo()->Index;

    EXPECT_FALSE(l.tree.CanDrag(att->Index, false));
    EXPECT_TRUE(l.tree.CanDrag(att->Index, true));
    EXPECT_FALSE(l.tree.DragDrop(l.scanned, att->Index, main->Index, false));
    EXPECT_FALSE(l.tree.CanDrop(l.scanned, att->Index, att->Index));
    EXPECT_FALSE(l.tree.CanDrop(l.scanned, att->Index, elsewhere->Index));
    EXPECT_FALSE(l.tree.CanDrop(l.scanned, att->Index, elsewhere->BatchNo()->Index));

    ASSERT_TRUE(l.tree.DragDrop(l.scanned, att->Index, main->Index, true));
    EXPECT_EQ(att->Parent(), main);
    EXPECT_EQ(l.tree.ParentOf(att->Index), main->Index);
    EXPECT_FALSE(l.tree.CanDrop(l.scanned, main->Index, att->Index));  // never under itself
    l.Update();
    EXPECT_EQ(l.tree.ParentOf(att->Index), main->Index);

    ASSERT_TRUE(l.tree.DragDrop(l.scanned, att->Index, batch, true));
    EXPECT_EQ(att->Parent(), nullptr);
    EXPECT_EQ(l.tree.ParentOf(att->Index), batch);

    // An attachment made elsewhere is shown under its main document; deleting the main
    // document leaves it under the batch.
    att->SetParent(main);
    l.Update();
    EXPECT_EQ(l.tree.ParentOf(att->Index), main->Index);
    ASSERT_TRUE(l.tree.DeleteDocument(l.scanned, &l.toScan, main->Index));
    EXPECT_EQ(att->Parent(), nullptr);
    EXPECT_EQ(l.tree.ParentOf(att->Index), batch);
    EXPECT_EQ(l.tree.DocumentAt(l.scanned, att->Index), att);
}

TEST(ScanTree, ImgBarWritesOnlyWhatIsGiven) {
    ImgBar bar;
    bar.Update("B1", "A1", 3);
    bar.Update(std::nullopt, "A2", std::nullopt);
    EXPECT_EQ(bar.BatchPanel, "批號：B1");
    EXPECT_EQ(bar.InnoPanel, "文號：A2");
    EXPECT_EQ(bar.PagePanel, "頁碼：3");
    EXPECT_EQ(bar.PageSelector, "3");
}
