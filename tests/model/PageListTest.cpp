#include <gtest/gtest.h>

#include <cstdio>

#include "TestUtil.h"
#include "model/ScanList.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// A one-file-per-page document with pages named p1..pN (real files).
std::shared_ptr<CInno> PerPageDocument(const test::TempFolder& dir, int pages) {
    auto doc = std::make_shared<CInno>();
    doc->EnableMultiTIFF = false;
    for (int i = 1; i <= pages; ++i) {
        std::string path = dir.File("p" + std::to_string(i));
        WriteBytesToFile("x", path);
        doc->NewPage(path);
    }
    return doc;
}

std::vector<std::string> Names(const CInno& doc) {
    std::vector<std::string> names;
    for (int i = 1; i <= doc.Length(); ++i) names.push_back(GetFileName(doc.FilePaths(i), ""));
    return names;
}

}  // namespace

TEST(Pages, NewPageInOneFilePerPageMode) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 3);
    EXPECT_EQ(doc->ActPage(), 3);
    EXPECT_EQ(doc->Length(), 3);
    EXPECT_EQ(doc->SelectedIndex, 3);
    EXPECT_EQ(doc->state(), state::ChangedOther);
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p1", "p2", "p3"}));

    // A new page goes behind the current page; without a path it gets a new temporary file.
    doc->SelectedIndex = 1;
    doc->NewPage("");
    EXPECT_EQ(doc->SelectedIndex, 2);
    EXPECT_EQ(doc->Length(), 4);
    EXPECT_TRUE(FileExists(doc->FilePath()));
    EXPECT_EQ(GetFileName(doc->FilePath(), "").rfind("KQ", 0), 0u);
    EXPECT_EQ(GetFileName(doc->FilePaths(3), ""), "p2");
    EXPECT_EQ(doc->RealPageNumber(), 1);
    EXPECT_EQ(doc->GetRealPageNumber(4), 1);
}

TEST(Pages, MultiPageModeKeepsOneFile) {
    test::TempFolder dir;
    CInno doc;
    doc.NewPage("");
    std::string file = doc.FilePath();
    doc.NewPage("");
    doc.NewPage("");
    EXPECT_EQ(doc.ActPage(), 3);
    EXPECT_EQ(doc.Length(), 1);
    EXPECT_EQ(doc.FilePaths(3), file);
    EXPECT_EQ(doc.FilePaths(99), file);
    EXPECT_EQ(doc.RealPageNumber(), 3);
    EXPECT_EQ(doc.GetRealPageNumber(2), 2);

    // Deleting page 2 counts the pages down and leaves the shared file alone.
    doc.Delete(2, true);
    EXPECT_EQ(doc.ActPage(), 2);
    EXPECT_EQ(doc.SelectedIndex, 2);
    EXPECT_TRUE(FileExists(file));
    doc.SetFilePath(dir.File("other.tif"));
    EXPECT_EQ(doc.Length(), 1);
    EXPECT_EQ(doc.FilePath(), dir.File("other.tif"));
    doc.InsertPageAt(1);  // only for one file per page
    EXPECT_EQ(doc.ActPage(), 2);
}

TEST(Pages, DeleteKeepsSelectionAndCountsInStep) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 5);
    doc->SelectedIndex = 5;
    doc->Delete(3, true);
    EXPECT_EQ(doc->ActPage(), 4);
    EXPECT_EQ(doc->Length(), 4);
    EXPECT_EQ(doc->SelectedIndex, 4);
    EXPECT_FALSE(FileExists(dir.File("p3")));
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p1", "p2", "p4", "p5"}));

    doc->Delete(1, false);  // the file stays
    EXPECT_TRUE(FileExists(dir.File("p1")));
    EXPECT_EQ(doc->SelectedIndex, 3);
    doc->Delete(9, true);  // not a page of the document: nothing changes
    doc->Delete(0, true);
    EXPECT_EQ(doc->ActPage(), 3);
    EXPECT_EQ(doc->Length(), 3);
}

TEST(Pages, InsertPageAtLeavesTheNewNameFree) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 2);
    doc->InsertPageAt(2);
    EXPECT_EQ(doc->ActPage(), 3);
    EXPECT_EQ(doc->Length(), 3);
    std::string fresh = doc->FilePaths(2);
    EXPECT_FALSE(fresh.empty());
    EXPECT_FALSE(FileExists(fresh));
    EXPECT_FALSE(doc->FilesExists());
    doc->InsertPageAt(5);  // beyond ActPage + 1
    doc->InsertPageAt(0);
    EXPECT_EQ(doc->ActPage(), 3);
    doc->InsertPageAt(4);  // at the end
    EXPECT_EQ(doc->Length(), 4);
}

TEST(Pages, MovePagesToWorkedExamples) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 5);
    doc->MovePagesTo(1, 2, 4);
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p3", "p4", "p1", "p2", "p5"}));

    doc = PerPageDocument(dir, 5);
    doc->MovePagesTo(4, 5, 1);
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p1", "p4", "p5", "p2", "p3"}));

    doc = PerPageDocument(dir, 5);
    doc->MovePagesTo(3, 4, 0);  // to the front
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p3", "p4", "p1", "p2", "p5"}));
    doc->MovePagesTo(1, 1, 5);  // to the end
    EXPECT_EQ(Names(*doc), (std::vector<std::string>{"p4", "p1", "p2", "p5", "p3"}));

    // Meaningless or out-of-range moves change nothing.
    auto before = Names(*doc);
    doc->MovePagesTo(2, 4, 3);
    doc->MovePagesTo(2, 2, 2);
    doc->MovePagesTo(0, 2, 4);
    doc->MovePagesTo(4, 6, 1);
    doc->MovePagesTo(3, 2, 0);
    EXPECT_EQ(Names(*doc), before);
    EXPECT_EQ(doc->ActPage(), 5);
}

TEST(Pages, NavigationStopsAtTheEnds) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 3);
    doc->FirstPage();
    doc->PreviousPage();
    EXPECT_EQ(doc->SelectedIndex, 1);
    doc->LastPage();
    doc->NextPage();
    EXPECT_EQ(doc->SelectedIndex, 3);
    // With fewer pages the selection moves onto the last page left.
    doc->SetActPage(2);
    EXPECT_EQ(doc->SelectedIndex, 2);
}

TEST(Pages, AMissingPageFileIsNoticedAndEveryOtherFileRemoved) {
    test::TempFolder dir;
    auto doc = PerPageDocument(dir, 3);
    EXPECT_TRUE(doc->FilesExists());
    std::remove(dir.File("p2").c_str());
    EXPECT_FALSE(doc->FilesExists());
    doc->KillFiles();
    EXPECT_FALSE(FileExists(dir.File("p1")));
    EXPECT_FALSE(FileExists(dir.File("p3")));
}
