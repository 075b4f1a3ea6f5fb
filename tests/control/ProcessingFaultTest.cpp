// Page processing when things go wrong: too little memory must be an error, never a blank
// page that gets dropped; an existing document keeps its storage; a failed batch clean-up or a
// stale cut changes nothing and says so.

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <cstdint>
#include <map>
#include <vector>

#include "ScriptedPrompter.h"
#include "SmallDisk.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "control/PageProcessing.h"
#include "control/ScanPages.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressLimitWorks = false;  // the sanitizer reserves terabytes of address space
#else
constexpr bool kAddressLimitWorks = true;
#endif

long AddressSpaceBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    return pages * ::sysconf(_SC_PAGESIZE);
}

// Runs `work` in a child whose address space may grow by `room` bytes only. The child's exit
// status: 0 the work threw the out-of-memory error, 1 it gave an answer, 2 any other error.
int UnderMemoryLimit(long room, const std::function<void()>& work) {
    pid_t child = ::fork();
    if (child == 0) {
        // Memory the parent freed stays in its heap and would be reused within the limit.
        ::malloc_trim(0);
        rlimit limit{static_cast<rlim_t>(AddressSpaceBytes() + room), static_cast<rlim_t>(AddressSpaceBytes() + room)};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            work();
            ::_exit(1);
        } catch (const DorvexError& e) {
            ::_exit(e.Number() == err::OutOfMemory ? 0 : 2);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

Raster LetterPage(int bits) {
    Raster page = Raster::Blank(2480, 3508, bits, 300);
    for (int y = 400; y < 3000; y += 60) {
        for (int x = 300; x < 2100; ++x) page.SetBlack(x, y);
    }
    return page;
}

}  // namespace

TEST(MemoryFaults, AFailedOperationIsAnErrorNotABlankPage) {
    if (!kAddressLimitWorks) GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    ScanProperties p;
    p.Set(prop::WPageRemove, "1");
    p.Set(prop::Deskew, "1");
    p.Set(prop::DotRemove, "1");
    for (int bits : {1, 8, 24}) {
        SCOPED_TRACE(bits);
        Raster page = LetterPage(bits);
        ASSERT_FALSE(IsBlankPage(page, p));
        EXPECT_EQ(UnderMemoryLimit(256 * 1024, [&] { (void)IsBlankPage(page, p); }), 0);
        EXPECT_EQ(UnderMemoryLimit(256 * 1024, [&] {
                      Raster copy = page;
                      RunCleanUpChain(copy, p, 1, p.ComputeRestrictSize());
                      if (IsBlankPage(copy, p)) throw std::runtime_error("dropped as blank");
                  }),
                  0);
        EXPECT_EQ(UnderMemoryLimit(256 * 1024, [&] {
                      Raster copy = page;
                      copy.Rotate(250);
                  }),
                  0);
    }
    EXPECT_THROW(IsBlankPage(Raster(), p), DorvexError);
}

// A colour page coded as JPEG while memory runs out, at every stage of the coding (its tables,
// its rows, the growing buffer of a noisy page's megabytes): an error, or the file, never a crash.
TEST(MemoryFaults, AJpegCodedWhileMemoryRunsOutIsAnErrorNotACrash) {
    if (!kAddressLimitWorks) GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    test::TempFolder dir;
    const int w = 1200, h = 1600;
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(w) * h * 3);
    std::uint32_t seed = 5;
    for (std::uint8_t& sample : samples) {
        seed = seed * 1103515245u + 12345u;
        sample = static_cast<std::uint8_t>(seed >> 16);
    }
    const Raster page = Raster::FromSamples(w, h, 24, samples.data(), static_cast<std::size_t>(w) * 3, 300);
    // Which limits run out depends on the free memory the test process already holds, so only
    // the outcome is checked, not where the limit falls.
    for (long room = 64 * 1024; room <= 8 * 1024 * 1024; room += room / 4) {
        const int status = UnderMemoryLimit(room, [&] { page.Save(dir.File("page.jpg"), fileformat::Jpeg); });
        EXPECT_TRUE(status == 0 || status == 1) << "room " << room << ": status " << status;
    }
}

TEST(MemoryFaults, AFileTooLargeForTheMemoryLeftIsNotCalledDamaged) {
    if (!kAddressLimitWorks) GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    test::TempFolder dir;
    LetterPage(24).Save(dir.File("colour.tif"), fileformat::TiffLzw);
    EXPECT_EQ(UnderMemoryLimit(4 * 1024 * 1024, [&] { Raster::Load(dir.File("colour.tif")); }), 0);
    EXPECT_EQ(Raster::Load(dir.File("colour.tif")).Width(), 2480);
}

TEST(Splitting, ADocumentNamedAgainKeepsItsStorage) {
    test::TempFolder dir;
    CScanList list;
    ScanProperties p;
    p.Set(prop::UseBarcode, "1");
    p.Set(prop::EnableMultiTIFF, "1");
    SplitState state{"B1", 1, "SEP", nullptr};
    PageSplitter splitter(list, p, state);
    ASSERT_EQ(splitter.Split("777", 1), SplitDecision::Store);
    auto doc = state.target;
    for (int k : {1, 2, 3}) AppendPage(*doc, test::NumberedPage(k));
    EXPECT_EQ(splitter.Split("SEP", 1), SplitDecision::Drop);
    // The settings changed to one JPEG file per page; the number comes again after a separator.
    p.Set(prop::ImgFormat, "JPG");
    ASSERT_EQ(splitter.Split("777", 24), SplitDecision::Store);
    EXPECT_EQ(state.target, doc);
    EXPECT_TRUE(doc->EnableMultiTIFF);
    EXPECT_EQ(doc->Format, 29);
    EXPECT_EQ(doc->BitmapBits, 1);
    AppendPage(*doc, test::NumberedPage(4));
    EXPECT_EQ(ReadImageInfo(doc->FilePath()).pages, 4);
    for (int page = 1; page <= 4; ++page) EXPECT_EQ(test::PageNumberOf(LoadPage(*doc, page)), page);
}

TEST(ScanWindowFaults, AStaleCutIsRefusedWithAMessage) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    ScanProperties props;
    CScanList list;
    ScanPages pages(person, props, list);
    auto a = list.Add("B", "A");
    auto b = list.Add("B", "B");
    a->EnableMultiTIFF = b->EnableMultiTIFF = false;  // the merge hands A's page files to B
    for (int k : {1, 2}) AppendPage(*a, test::NumberedPage(k));
    for (int k : {5, 6}) AppendPage(*b, test::NumberedPage(k));
    pages.CurrentDoc = a;
    a->SelectedIndex = 2;
    pages.ImgCut();
    ASSERT_TRUE(MergeOrCut(list, nullptr, "A", true, 0, true, "B", false));
    pages.CurrentDoc = b;
    b->SelectedIndex = 1;
    pages.ImgPaste();
    ASSERT_EQ(person.boxes.size(), 1u);
    EXPECT_EQ(person.boxes[0].text, ScanPages::kCutSourceGone);
    EXPECT_EQ(person.boxes[0].title, ScanPages::kPasteTitle);
    EXPECT_EQ(person.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(person.boxes[0].buttons, MsgButtons::OK);
    EXPECT_EQ(b->ActPage(), 4);
    EXPECT_TRUE(b->FilesExists());
    EXPECT_EQ(pages.ClipboardMode, 0);
}

TEST(ScanWindowFaults, ABatchCleanUpOnAFullDiskLeavesTheDocumentAndSaysWhy) {
    test::SmallDisk disk("2m");
    DORVEX_NEED_SMALL_DISK(disk);
    test::ScriptedPrompter person;
    ScanProperties props;
    props.Set(prop::WPageRemove, "1");
    CScanList list;
    ScanPages pages(person, props, list);
    auto doc = list.Add("B", "A");
    AppendPage(*doc, test::NumberedPage(3));
    AppendPage(*doc, Raster::Blank(200, 120, 1));
    AppendPage(*doc, test::NumberedPage(4));
    std::string bytes = ReadFileBytes(doc->FilePath());
    disk.Fill();
    pages.ExecuteBatchImageEffect();
    ASSERT_EQ(person.boxes.size(), 1u);
    EXPECT_EQ(person.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_NE(person.boxes[0].text.find("disk full"), std::string::npos) << person.boxes[0].text;
    EXPECT_EQ(ReadFileBytes(doc->FilePath()), bytes);
    EXPECT_EQ(doc->ActPage(), 3);
    disk.Empty();
    pages.ExecuteBatchImageEffect();
    EXPECT_EQ(doc->ActPage(), 2);
    EXPECT_EQ(ReadImageInfo(doc->FilePath()).pages, 2);
    EXPECT_GE(person.yields, 3);
}

TEST(ScanWindowFaults, TheRecoveryFileFollowsEveryPageCommand) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    ScanProperties props;
    props.Set(prop::WPageRemove, "1");
    CScanList list;
    ScanPages pages(person, props, list);
    auto a = list.Add("B", "A");
    auto b = list.Add("B", "B");
    a->EnableMultiTIFF = b->EnableMultiTIFF = false;
    AppendPage(*a, test::NumberedPage(4));
    AppendPage(*a, Raster::Blank(200, 120, 1));
    AppendPage(*a, test::NumberedPage(7));
    for (int k : {5, 6}) AppendPage(*b, test::NumberedPage(k));
    pages.WriteRecovery();
    // What a restart after a crash would bring back.
    auto restored = [] {
        CScanList fresh;
        ReadRecoveryFile(fresh);
        std::map<std::string, std::vector<int>> numbers;
        for (const auto& doc : fresh.AllInnos()) {
            for (int p = 1; p <= doc->ActPage(); ++p) numbers[doc->Inno()].push_back(test::PageNumberOf(LoadPage(*doc, p)));
        }
        return numbers;
    };
    using Numbers = std::map<std::string, std::vector<int>>;
    pages.ExecuteBatchImageEffect();  // the blank page goes, the others are rewritten
    EXPECT_EQ(restored(), (Numbers{{"A", {4, 7}}, {"B", {5, 6}}}));

    pages.CurrentDoc = a;
    a->SelectedIndex = 1;
    pages.ImgCut();
    pages.CurrentDoc = b;
    b->SelectedIndex = 1;
    pages.ImgPaste();
    EXPECT_EQ(restored(), (Numbers{{"A", {7}}, {"B", {5, 4, 6}}}));

    b->SelectedIndex = 3;
    pages.LoadImageByCInno(b);
    pages.ImgDelete();
    EXPECT_EQ(restored(), (Numbers{{"A", {7}}, {"B", {5, 4}}}));
    EXPECT_TRUE(person.boxes.empty());
}
