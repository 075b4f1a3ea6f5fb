#include "model/PageFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestPages.h"
#include "TestUtil.h"
#include "model/PageEditing.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

std::string Page(const test::TempFolder& dir, const std::string& name, int k, int pages = 1) {
    std::string path = dir.File(name);
    for (int p = 1; p <= pages; ++p) {
        test::NumberedPage(k + p - 1).Save(path, fileformat::TiffG4, p, p == 1 ? SaveMode::Overwrite : SaveMode::Append);
    }
    return path;
}

int Lines(const std::string& path) {
    std::string text = ReadFileBytes(path);
    int lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    return lines;
}

}  // namespace

TEST(Storage, PagesAreKeptAsTheSettingsAsk) {
    test::TempFolder dir;
    // A JPEG file holds one page: a JPEG document keeps a file per page whatever
    // EnableMultiTIFF says, so that its second page can be stored at all.
    CInno jpeg;
    ApplyStorage(jpeg, ChooseStorage("jpg", "2", "1", 24));
    AppendPage(jpeg, test::NumberedPage(1, 24));
    AppendPage(jpeg, test::NumberedPage(2, 24));
    EXPECT_EQ(jpeg.Length(), 2);
    EXPECT_EQ(ReadImageInfo(jpeg.FilePaths(2)).format, fileformat::Jpeg);
    EXPECT_EQ(test::PageNumberOf(LoadPage(jpeg, 2)), 2);
    // Black and white: every page in one G4 file.
    CInno bw;
    ApplyStorage(bw, ChooseStorage("G4", "0", "1", 1));
    AppendPage(bw, test::NumberedPage(1));
    AppendPage(bw, test::NumberedPage(2));
    ImageInfo info = ReadImageInfo(bw.FilePath());
    EXPECT_EQ(info.format, fileformat::TiffG4);
    EXPECT_EQ(info.pages, 2);
    // A grey scan keeps its grey levels.
    CInno grey;
    ApplyStorage(grey, ChooseStorage("G4", "1", "1", 8));
    AppendPage(grey, test::NumberedPage(3, 8));
    EXPECT_EQ(ReadImageInfo(grey.FilePath()).bitsPerPixel, 8);
}

TEST(Recovery, OneLinePerPageOfChangedDocumentsOnly) {
    test::TempFolder dir;
    CScanList list;
    auto perPage = list.Add("B1", "P5");
    perPage->EnableMultiTIFF = false;
    for (int k = 1; k <= 5; ++k) perPage->NewPage(Page(dir, "p" + std::to_string(k) + ".tif", k));
    auto multi = list.Add("B1", "M3");
    multi->SetFilePath(Page(dir, "m.tif", 1, 3));
    multi->SetActPage(3);
    multi->SetChanged();
    auto saved = list.Add("B2", "S");
    saved->SetFilePath(Page(dir, "s.tif", 1));
    saved->SetActPage(1);
    saved->SetState(state::SavedOther);
    list.Add("B2", "NEW");  // state 4, no files
    // A changed document whose second page file is gone is left out whole.
    auto gone = list.Add("B2", "GONE");
    gone->EnableMultiTIFF = false;
    gone->NewPage(Page(dir, "g1.tif", 1));
    gone->NewPage(dir.File("g2.tif"));
    std::string path = dir.File("Dorvex.bak");
    WriteRecoveryFile(list, path);
    EXPECT_EQ(Lines(path), 1 + 5 + 1);  // header, five pages, one multi-page line

    CScanList restored;
    RecoveryResult result = ReadRecoveryFile(restored, path);
    EXPECT_EQ(result.restoredPages, 6);
    auto p5 = restored.GetInno("B1", "P5");
    ASSERT_TRUE(p5);
    EXPECT_FALSE(p5->EnableMultiTIFF);
    EXPECT_EQ(p5->ActPage(), 5);
    EXPECT_EQ(p5->FilePaths(4), perPage->FilePaths(4));
    EXPECT_EQ(p5->Format, 29);
    auto m3 = restored.GetInno2("M3");
    ASSERT_TRUE(m3);
    EXPECT_TRUE(m3->EnableMultiTIFF);
    EXPECT_EQ(m3->ActPage(), 3);
    EXPECT_EQ(m3->state(), state::ChangedOther);
    EXPECT_FALSE(restored.IsInnoExists("S"));
    EXPECT_FALSE(restored.IsInnoExists("GONE"));

    // Nothing changed: no recovery file at all.
    CScanList clean;
    WriteRecoveryFile(clean, path);
    EXPECT_FALSE(FileExists(path));
}

TEST(Recovery, EveryValueComesBackWhole) {
    test::TempFolder dir;
    CScanList list;
    auto main = list.Add("B,1", "MAIN");
    main->SetFilePath(Page(dir, "main.tif", 1));
    main->SetActPage(1);
    main->SetChanged();
    auto doc = list.Add("B,1", "A=1|x");
    doc->SetFilePath(Page(dir, "dir,with|odd=chars%.tif", 2));
    doc->SetActPage(1);
    doc->SetParent(main);
    doc->PutWord("主旨", "第一行，含逗號\r\n第二行|直線=等號%百分");
    doc->PutWord("說明", "");
    doc->SetChanged();
    std::string path = dir.File("Dorvex.bak");
    WriteRecoveryFile(list, path);
    CScanList restored;
    EXPECT_EQ(ReadRecoveryFile(restored, path).restoredPages, 2);
    auto back = restored.GetInno("B,1", "A=1|x");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->FilePath(), doc->FilePath());
    EXPECT_EQ(back->Words(), doc->Words());
    ASSERT_TRUE(back->Parent());
    EXPECT_EQ(back->Parent()->Inno(), "MAIN");
}

TEST(Recovery, PlainFormatOfEarlierVersionsStillReads) {
    test::TempFolder dir;
    std::string a = Page(dir, "a.tif", 1), b = Page(dir, "b.tif", 2), m = Page(dir, "m.tif", 1, 2);
    std::string path = dir.File("Dorvex.bak");
    WriteBytesToFile("B1,D1," + a + ",1,,主旨=請查照\\r\\n謝謝|說明=一,二\r\n"
                     "  B1,D1," + b + ",2,,  \r\n"
                     "\r\n"
                     "B1,TOO,FEW\r\n"
                     "B1,GONE," + dir.File("missing.tif") + ",1,,\r\n"
                     "B2,M," + m + ",0,,\r\n", path);
    CScanList list;
    RecoveryResult result = ReadRecoveryFile(list, path);
    EXPECT_EQ(result.restoredPages, 3);
    EXPECT_EQ(result.skippedLines, 2);
    auto d1 = list.GetInno2("D1");
    ASSERT_TRUE(d1);
    EXPECT_EQ(d1->ActPage(), 2);
    EXPECT_EQ(d1->Words(), (std::vector<CPhase>{{"主旨", "請查照\r\n謝謝"}, {"說明", "一"}}));  // cut at the comma, as before
    EXPECT_EQ(list.GetInno2("M")->ActPage(), 2);
    EXPECT_FALSE(list.IsInnoExists("GONE"));
}

TEST(Recovery, DamagedPageFilesAndLinesAreKeptOrSkippedNotFatal) {
    test::TempFolder dir;
    std::string broken = dir.File("broken.tif");
    WriteBytesToFile("not an image any more", broken);
    std::string path = dir.File("Dorvex.bak");
    WriteBytesToFile("#Dorvex recovery 2\r\nB,X," + broken + ",1,,bad%ZZitem\r\nB,Y," + Page(dir, "y.tif", 1) + ",1,,\r\n", path);
    CScanList list;
    RecoveryResult result = ReadRecoveryFile(list, path);
    EXPECT_EQ(result.restoredPages, 2);  // the damaged page is kept for the clerk to see
    EXPECT_TRUE(list.IsInnoExists("X"));
    EXPECT_TRUE(list.IsInnoExists("Y"));
}

TEST(TemporaryFiles, KilledOnCloseUnlessKept) {
    test::TempFolder dir;
    CScanList list;
    auto doc = list.Add("B", "D");
    doc->SetFilePath(Page(dir, "d.tif", 1));
    doc->SetActPage(1);
    doc->SetChanged();
    WriteRecoveryFile(list);
    ASSERT_TRUE(FileExists(RecoveryFilePath()));
    KillTmpFiles(list, false, true);  // AutoKeepTmpFiles: pages stay, the recovery file goes
    EXPECT_TRUE(FileExists(doc->FilePath()));
    EXPECT_FALSE(FileExists(RecoveryFilePath()));
    WriteRecoveryFile(list);
    KillTmpFiles(list, false, false);  // the clerk chose to keep them
    EXPECT_TRUE(FileExists(RecoveryFilePath()));
    KillTmpFiles(list, true, false);
    EXPECT_FALSE(FileExists(doc->FilePath()));
    EXPECT_FALSE(FileExists(RecoveryFilePath()));
}

TEST(Recovery, OneNumberInTwoBatchesComesBackAsTwoDocuments) {
    // A separator scan into another batch may give a number that a first batch holds too.
    test::TempFolder dir;
    for (bool multi : {true, false}) {
        SCOPED_TRACE(multi);
        CScanList list;
        auto first = list.Add("A", "X");
        auto second = list.Add("B", "X");
        first->EnableMultiTIFF = second->EnableMultiTIFF = multi;
        for (int k : {1, 2}) AppendPage(*first, test::NumberedPage(k));
        for (int k : {5, 6, 7}) AppendPage(*second, test::NumberedPage(k));
        std::string path = dir.File("Dorvex.bak");
        WriteRecoveryFile(list, path);

        CScanList restored;
        EXPECT_EQ(ReadRecoveryFile(restored, path).restoredPages, multi ? 2 : 5);
        auto a = restored.GetInno("A", "X");
        auto b = restored.GetInno("B", "X");
        ASSERT_TRUE(a && b);
        ASSERT_EQ(a->ActPage(), 2);
        ASSERT_EQ(b->ActPage(), 3);
        for (int page = 1; page <= 2; ++page) EXPECT_EQ(test::PageNumberOf(LoadPage(*a, page)), page);
        for (int page = 1; page <= 3; ++page) EXPECT_EQ(test::PageNumberOf(LoadPage(*b, page)), page + 4);
    }
}

TEST(Recovery, OnlyPageFilesOfTheTemporaryFolderAreTakenBack) {
    // A damaged or planted recovery file must not make another file a page: it would be sent
    // to the server and deleted with the document.
    test::TempFolder dir;
    test::TempFolder elsewhere;
    std::string outside = Page(elsewhere, "outside.tif", 1);
    std::string inside = Page(dir, "inside.tif", 2);
    ASSERT_EQ(::symlink(outside.c_str(), dir.File("link.tif").c_str()), 0);
    std::string path = dir.File("Dorvex.bak");
    WriteBytesToFile("#Dorvex recovery 2\r\n"
                     "B,OUT," + outside + ",1,,\r\n"
                     "B,UP," + dir.Path() + "/../" + std::filesystem::path(elsewhere.Path()).filename().string() + "/outside.tif,1,,\r\n"
                     "B,LINK," + dir.File("link.tif") + ",1,,\r\n"
                     "B,IN," + inside + ",1,,\r\n", path);
    CScanList list;
    RecoveryResult result = ReadRecoveryFile(list, path);
    EXPECT_EQ(result.restoredPages, 1);
    EXPECT_EQ(result.skippedLines, 3);
    EXPECT_TRUE(list.IsInnoExists("IN"));
    for (const char* inno : {"OUT", "UP", "LINK"}) EXPECT_FALSE(list.IsInnoExists(inno)) << inno;
    KillTmpFiles(list, true, false);
    EXPECT_TRUE(FileExists(outside));
    EXPECT_FALSE(FileExists(inside));

    std::vector<RecoveryEntry> entries = InspectRecoveryFile(path);
    ASSERT_EQ(entries.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].pages, 0) << entries[i].inno;
        ASSERT_EQ(entries[i].problems.size(), 1u) << entries[i].inno;
        EXPECT_NE(entries[i].problems[0].find("not a page file of the temporary folder"), std::string::npos) << entries[i].problems[0];
    }
}

TEST(Recovery, AFileListedTwiceComesBackOnce) {
    // A damaged recovery file that repeats lines must not give two pages, or two documents,
    // one file: deleting either would take the other's page with it.
    test::TempFolder dir;
    std::string p1 = Page(dir, "p1.tif", 1), p2 = Page(dir, "p2.tif", 2), m = Page(dir, "m.tif", 3, 2);
    std::string path = dir.File("Dorvex.bak");
    WriteBytesToFile("#Dorvex recovery 2\r\n"
                     "B,X," + p1 + ",1,,\r\n"
                     "B,X," + p2 + ",2,,\r\n"
                     "B,X," + dir.Path() + "//p1.tif,1,,\r\n"
                     "B,Y," + m + ",0,,,2\r\n"
                     "B,Z," + m + ",0,,,2\r\n", path);
    CScanList list;
    RecoveryResult result = ReadRecoveryFile(list, path);
    EXPECT_EQ(result.restoredPages, 3);
    EXPECT_EQ(result.skippedLines, 2);
    auto x = list.GetInno2("X");
    ASSERT_TRUE(x);
    ASSERT_EQ(x->ActPage(), 2);
    EXPECT_EQ(test::PageNumberOf(LoadPage(*x, 2)), 2);
    ASSERT_TRUE(list.GetInno2("Y"));
    EXPECT_EQ(list.GetInno2("Y")->ActPage(), 2);
    EXPECT_FALSE(list.IsInnoExists("Z"));
    // The listing counts what the restore brings back, and says why the rest is left out.
    int listed = 0, problems = 0;
    for (const RecoveryEntry& entry : InspectRecoveryFile(path)) {
        listed += entry.pages;
        problems += static_cast<int>(entry.problems.size());
    }
    EXPECT_EQ(listed, 4);
    EXPECT_EQ(problems, 2);
}

TEST(TemporaryFiles, AProcessKilledWhileDeletingThemLeavesNoRecoveryFileOfHalfADocument) {
    // Deleting a whole document's pages goes with its record: a kill in the middle must not
    // leave a recovery file that brings back the pages not yet deleted as a shorter document.
    test::TempFolder dir;
    CScanList list;
    auto doc = list.Add("B", "D");
    doc->EnableMultiTIFF = false;
    for (int p = 0; p < 5000; ++p) doc->NewPage("");
    WriteRecoveryFile(list);
    ASSERT_TRUE(FileExists(RecoveryFilePath()));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        char go = 1;
        if (::write(ready[1], &go, 1) != 1) ::_exit(2);
        KillTmpFiles(list, true, false);
        ::_exit(0);
    }
    char go = 0;
    ASSERT_EQ(::read(ready[0], &go, 1), 1);
    ::usleep(2000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    int left = 0;
    for (int p = 1; p <= doc->ActPage(); ++p) left += FileExists(doc->FilePaths(p)) ? 1 : 0;
    ASSERT_TRUE(WIFSIGNALED(status)) << "the deletion ended before the kill; " << left << " files left";
    EXPECT_TRUE(left > 0) << "the kill came after every page was deleted";
    if (FileExists(RecoveryFilePath())) {
        EXPECT_EQ(left, doc->ActPage());
    }
}
