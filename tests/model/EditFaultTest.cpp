// Page edits on a real full disk: every edit either completes or leaves the documents, their
// files and their page counts exactly as they were. No page is counted that is not on disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "SmallDisk.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// A page that G4 cannot shrink, so that a few pages fill the small disk; it still says its
// number through the bar at its top.
Raster BusyPage(int k) {
    Raster page = Raster::Blank(800, 400, 1, 200);
    for (int y = 10; y < 20; ++y) {
        for (int x = 10; x < 10 + 10 * k; ++x) page.SetBlack(x, y);
    }
    unsigned state = static_cast<unsigned>(k) * 2654435761u;
    for (int y = 100; y < 400; ++y) {
        for (int x = 0; x < 800; x += 2) {
            state = state * 1103515245u + 12345u;
            if ((state >> 16) & 1) page.SetBlack(x, y);
        }
    }
    return page;
}

int NumberOf(const Raster& page) { return static_cast<int>((page.Crop({0, 0, 800, 30}).CountInk() + 50) / 100); }

// What a document is: its count, its files and their bytes, and the page numbers it shows.
struct Picture {
    int pages = 0;
    std::vector<std::string> files;
    std::vector<std::string> bytes;
    std::vector<int> numbers;
    bool operator==(const Picture&) const = default;
};

void PrintTo(const Picture& picture, std::ostream* out) {
    *out << picture.pages << " pages in " << picture.files.size() << " files, numbered";
    for (int n : picture.numbers) *out << " " << n;
}

Picture Take(const CInno& doc) {
    Picture picture;
    picture.pages = doc.ActPage();
    for (int i = 1; i <= doc.Length(); ++i) {
        picture.files.push_back(doc.FilePaths(i));
        picture.bytes.push_back(ReadFileBytes(doc.FilePaths(i)));
    }
    for (int p = 1; p <= doc.ActPage(); ++p) picture.numbers.push_back(NumberOf(LoadPage(doc, p)));
    return picture;
}

std::size_t FileCount(const std::string& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

class FullDisk : public ::testing::TestWithParam<bool> {
protected:
    test::SmallDisk disk{"3m"};
    CScanList list;
    CScanList server;
    bool multi() const { return GetParam(); }

    std::shared_ptr<CInno> Document(const std::string& inno, std::vector<int> numbers, bool multiPage) {
        auto doc = list.Add("B", inno);
        doc->EnableMultiTIFF = multiPage;
        for (int k : numbers) AppendPage(*doc, BusyPage(k));
        doc->FirstPage();
        return doc;
    }

    // Runs `edit` on a full disk, and on one with room for half a page so that the write fails
    // half-way, and checks that it failed and changed nothing.
    void ExpectNothingChanges(const std::vector<std::shared_ptr<CInno>>& docs, const std::function<void()>& edit) {
        std::vector<Picture> before;
        std::size_t pageBytes = SIZE_MAX;
        for (const auto& doc : docs) {
            before.push_back(Take(*doc));
            std::size_t bytes = 0;
            for (const std::string& file : before.back().bytes) bytes += file.size();
            pageBytes = std::min(pageBytes, bytes / static_cast<std::size_t>(doc->ActPage()));
        }
        std::size_t files = FileCount(disk.Path());
        for (std::size_t room : {std::size_t{0}, pageBytes / 2}) {
            SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
            disk.Fill(room);
            EXPECT_THROW(edit(), DorvexError);
            disk.Empty();
            for (std::size_t i = 0; i < docs.size(); ++i) {
                EXPECT_TRUE(list.GetInno2(docs[i]->Inno()) == docs[i]) << docs[i]->Inno() << " left the scan list";
                EXPECT_EQ(Take(*docs[i]), before[i]) << docs[i]->Inno();
            }
            EXPECT_EQ(FileCount(disk.Path()), files) << "a file was left behind";
        }
    }
};

}  // namespace

TEST_P(FullDisk, AppendingCountsOnlyThePagesOnDisk) {
    DORVEX_NEED_SMALL_DISK(disk);
    auto doc = Document("A", {1, 2}, multi());
    disk.Fill(60 * 1024);  // room for a page or so, not for all of them
    int stored = 2;
    for (int k = 3; k <= 12; ++k) {
        try {
            AppendPage(*doc, BusyPage(k));
            ++stored;
        } catch (const DorvexError&) {
        }
    }
    EXPECT_LT(stored, 12);
    EXPECT_EQ(doc->ActPage(), stored);
    Picture picture = Take(*doc);
    for (int p = 1; p <= stored; ++p) EXPECT_EQ(picture.numbers[static_cast<std::size_t>(p - 1)], p);
    if (multi()) EXPECT_EQ(ReadImageInfo(doc->FilePath()).pages, stored);
    else EXPECT_EQ(doc->Length(), stored);

    // The first page of a new document that cannot be stored leaves no document behind.
    auto empty = list.Add("B", "EMPTY");
    empty->EnableMultiTIFF = multi();
    disk.Fill();
    std::size_t files = FileCount(disk.Path());
    EXPECT_THROW(AppendPage(*empty, BusyPage(1)), DorvexError);
    EXPECT_EQ(empty->ActPage(), 0);
    EXPECT_EQ(empty->Length(), 0);
    EXPECT_EQ(FileCount(disk.Path()), files);
}

TEST_P(FullDisk, AppendingWithoutRoomForANewFileChangesNothing) {
    // A folder that cannot take one more file (every inode in use) refuses even the empty
    // file that a new page or a new document starts with.
    test::SmallDisk small("3m,nr_inodes=64");
    DORVEX_NEED_SMALL_DISK(small);
    auto doc = list.Add("B", "A");
    doc->EnableMultiTIFF = multi();
    for (int k : {1, 2}) AppendPage(*doc, BusyPage(k));
    auto fresh = list.Add("B", "NEW");
    fresh->EnableMultiTIFF = multi();
    for (int n = 0;; ++n) {
        int fd = ::open(small.File("filler" + std::to_string(n)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) break;
        ::close(fd);
    }
    for (const auto& target : {doc, fresh}) {
        SCOPED_TRACE(target->Inno());
        Picture before = Take(*target);
        const int selected = target->SelectedIndex;
        bool stored = true;
        try {
            AppendPage(*target, BusyPage(3));
        } catch (const DorvexError&) {
            stored = false;
        }
        // Only a page added within the one file it already has can be stored.
        EXPECT_EQ(stored, multi() && target == doc);
        if (stored) {
            EXPECT_EQ(target->ActPage(), before.pages + 1);
            EXPECT_EQ(NumberOf(LoadPage(*target, target->ActPage())), 3);
        } else {
            EXPECT_EQ(Take(*target), before);
            EXPECT_EQ(target->SelectedIndex, selected);
        }
    }
}

TEST_P(FullDisk, SavingInsertingAndDeletingChangeNothingWhenTheyFail) {
    DORVEX_NEED_SMALL_DISK(disk);
    auto doc = Document("A", {1, 2, 3}, multi());
    doc->SetState(state::SavedOther);
    doc->SelectedIndex = 2;
    ExpectNothingChanges({doc}, [&] { SaveThisPage(*doc, BusyPage(7)); });
    EXPECT_EQ(doc->state(), state::SavedOther);  // not marked changed by a save that failed
    ExpectNothingChanges({doc}, [&] { InsertPageAfterCurrent(*doc, BusyPage(7)); });
    EXPECT_EQ(doc->SelectedIndex, 2);
    if (multi()) {  // one file per page: deleting and moving write nothing
        ExpectNothingChanges({doc}, [&] { DeletePageOfDocument(list, &server, doc, 2); });
        ExpectNothingChanges({doc}, [&] { DeletePageRange(list, &server, doc, 2, 3); });
        ExpectNothingChanges({doc}, [&] { MovePages(*doc, 1, 2, 3); });
    }
    ExpectNothingChanges({doc}, [&] {
        EditEveryPage(list, &server, doc, [](Raster& page, int) {
            page.Invert();
            return true;
        });
    });
}

TEST_P(FullDisk, ADocumentTakenAwayKeepsItsFilesUntilTheRecoveryFileNoLongerNamesIt) {
    DORVEX_NEED_SMALL_DISK(disk);
    RecoveryFileFollower recovery;
    int failures = 0;
    recovery.OnError = [&](const std::exception&) { ++failures; };
    list.Subscribe(&recovery);
    auto gone = Document("G", {1}, multi());
    auto range = Document("R", {2, 3}, multi());
    Document("K", {4}, multi());  // a document that stays: the recovery file has to be written
    const std::vector<std::string> goneFiles = {gone->FilePaths(1)};
    const std::string rangeFile = range->FilePaths(1);
    disk.Fill();
    // The record cannot be rewritten, so the files it still names stay on disk.
    EXPECT_EQ(DeletePageOfDocument(list, &server, gone, 1), DeleteOutcome::DocumentRemoved);
    EXPECT_TRUE(DeletePageRange(list, &server, range, 1, 2));
    EXPECT_GE(failures, 2);
    EXPECT_TRUE(FileExists(goneFiles[0]));
    EXPECT_TRUE(FileExists(rangeFile));
    int listed = 0;
    for (const RecoveryEntry& entry : InspectRecoveryFile()) {
        EXPECT_TRUE(entry.problems.empty()) << entry.inno << ": " << entry.problems.front();
        listed += entry.pages;
    }
    EXPECT_EQ(listed, 4);
    // With room again, the next deletion goes through, the record follows it and the files
    // it no longer names go.
    disk.Free(1 << 20);
    auto again = Document("A", {5}, multi());
    ASSERT_EQ(DeletePageOfDocument(list, &server, again, 1), DeleteOutcome::DocumentRemoved);
    EXPECT_FALSE(FileExists(again->FilePaths(1)));
    EXPECT_FALSE(FileExists(goneFiles[0]));
    EXPECT_FALSE(FileExists(rangeFile));
    for (const RecoveryEntry& entry : InspectRecoveryFile()) EXPECT_NE(entry.inno, "A");
    list.Unsubscribe(&recovery);
}

TEST_P(FullDisk, CutAndPasteBetweenDocumentsLosesNoPage) {
    DORVEX_NEED_SMALL_DISK(disk);
    auto source = Document("S", {1, 2, 3}, multi());
    auto target = Document("T", {5, 6}, !multi());
    source->SourcePage = 2;
    target->SelectedIndex = 1;
    ExpectNothingChanges({source, target}, [&] { MoveCutPage(list, &server, source, target); });
    ASSERT_TRUE(MoveCutPage(list, &server, source, target));
    EXPECT_EQ(Take(*source).numbers, (std::vector<int>{1, 3}));
    EXPECT_EQ(Take(*target).numbers, (std::vector<int>{5, 2, 6}));
}

TEST_P(FullDisk, AMergeThatFailsLeavesBothDocumentsAsTheyWere) {
    DORVEX_NEED_SMALL_DISK(disk);
    auto source = Document("S", {1, 2, 3}, multi());
    auto other = Document("O", {7}, !multi());
    // Into a document stored the other way: every page is written anew.
    ExpectNothingChanges({source, other}, [&] { MergeOrCut(list, &server, "S", true, 1, true, "O", false); });
    ExpectNothingChanges({source, other}, [&] { MergeOrCut(list, &server, "S", true, 0, true, "O", false); });
    if (multi()) {  // one file per page: a split hands the files over and writes nothing
        auto target = Document("T", {5, 6}, true);
        ExpectNothingChanges({source, target}, [&] { MergeOrCut(list, &server, "S", true, 1, true, "T", false); });
        ExpectNothingChanges({source}, [&] { MergeOrCut(list, &server, "S", false, 1, true, "NEW", false); });
        EXPECT_FALSE(list.IsInnoExists("NEW"));
    }
    ASSERT_TRUE(MergeOrCut(list, &server, "S", true, 1, true, "O", false));
    EXPECT_EQ(Take(*other).numbers, (std::vector<int>{7, 2, 3}));
    EXPECT_EQ(Take(*source).numbers, (std::vector<int>{1}));
}

INSTANTIATE_TEST_SUITE_P(StorageModes, FullDisk, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "MultiPageFile" : "FilePerPage"; });

TEST(StaleCut, APageCutFromADocumentMergedAwayIsNotPasted) {
    test::TempFolder dir;
    CScanList list;
    auto a = list.Add("B", "A");
    auto b = list.Add("B", "B");
    a->EnableMultiTIFF = b->EnableMultiTIFF = false;  // the merge hands A's page files to B
    for (int k : {1, 2}) AppendPage(*a, test::NumberedPage(k));
    for (int k : {5, 6}) AppendPage(*b, test::NumberedPage(k));
    a->SourcePage = 1;
    ASSERT_TRUE(MergeOrCut(list, nullptr, "A", true, 0, true, "B", false));  // A is gone, its pages in B
    b->SelectedIndex = 4;
    EXPECT_FALSE(MoveCutPage(list, nullptr, a, b));
    ASSERT_EQ(b->ActPage(), 4);
    ASSERT_TRUE(b->FilesExists());
    for (int p = 1; p <= 4; ++p) EXPECT_EQ(test::PageNumberOf(LoadPage(*b, p)), std::vector<int>({5, 6, 1, 2})[static_cast<std::size_t>(p - 1)]);
}
