// `dorvex scan` killed at any moment, or stopped by a full disk, never loses a page that
// reached a page file: the recovery file accounts for every stored page, no page file is torn,
// and a restore brings every page back in order.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "SmallDisk.h"
#include "TestUtil.h"
#include "model/PageFiles.h"
#include "model/ScanList.h"
#include "platform/Raster.h"
#include "platform/TiffFile.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// Page k: 40·k dark pixels in a bar, and a block that keeps it from being blank.
Raster CountedPage(int k) {
    Raster page = Raster::Blank(320, 200, 1, 200);
    for (int y = 150; y < 190; ++y) {
        for (int x = 20; x < 300; ++x) page.SetBlack(x, y);
    }
    for (int i = 0; i < 40 * k; ++i) page.SetBlack(10 + i % 300, 10 + i / 300);
    return page;
}
int CountOf(const Raster& page) { return static_cast<int>((page.CountInk() - 280 * 40 + 20) / 40); }

// Starts `dorvex scan` with its temporary folder at `tmpDir`; standard error goes to `errFile`.
pid_t StartScan(const std::string& tmpDir, const std::string& feed, const std::string& errFile,
                const std::vector<std::string>& extra = {}) {
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("DORVEX_TMPDIR", tmpDir.c_str(), 1);
        int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(err, 2);
        std::vector<std::string> all = {DORVEX_BIN, "scan", "--device", "file:" + feed, "--no-upload"};
        all.insert(all.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(DORVEX_BIN, argv.data());
        ::_exit(127);
    }
    return child;
}

int Wait(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The pages that reached the page files of a temporary folder, in the files' own count.
int PagesInPageFiles(const std::string& tmpDir) {
    int pages = 0;
    for (const std::string& file : ListFiles(tmpDir, "*.tmp", true)) {
        if (GetFileLength(file) == 0) continue;
        ImageInfo info = ReadImageInfo(file);
        // Only a page whose append the kill cut off may be unreadable: it was never recorded,
        // and the next append unlinks it.
        if (!info.damage.empty()) {
            EXPECT_TRUE(tiff_file::WalkChain(file).brokenTail) << file << ": " << info.damage;
        }
        pages += info.pages;
    }
    return pages;
}

// What a restore brings back from the folder's recovery file; every page in its document's
// order, starting at `firstPage` of the feed.
int CheckRestore(const std::string& tmpDir, int firstPage) {
    CScanList list;
    ReadRecoveryFile(list, tmpDir + "/Dorvex.bak");
    int pages = 0;
    int expected = firstPage;
    for (const auto& doc : list.AllInnos()) {
        for (int page = 1; page <= doc->ActPage(); ++page) {
            EXPECT_EQ(CountOf(Raster::Load(doc->FilePaths(page), doc->EnableMultiTIFF ? page : 1)), expected++);
            ++pages;
        }
    }
    return pages;
}

class ScanCrash : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.File("feed"));
        for (int k = 1; k <= 200; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "feed/%03d.tif", k);
            CountedPage(k).Save(dir.File(name), fileformat::TiffG4);
        }
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    }
    test::TempFolder dir;
};

TEST_F(ScanCrash, AProcessKilledAtAnyMomentLosesNoStoredPage) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay(5, 250);  // a whole run takes about 300 ms here
    int killedMidRun = 0;
    for (int round = 0; round < 12; ++round) {
        std::string tmp = dir.File("tmp" + std::to_string(round));
        std::filesystem::create_directories(tmp);
        // Every other round keeps one file per page.
        std::vector<std::string> storage;
        if (round % 2 == 1) storage = {"--set", "EnableMultiTIFF=0"};
        pid_t child = StartScan(tmp, dir.File("feed"), dir.File("err"), storage);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(child, SIGKILL);
        if (Wait(child) == -SIGKILL) ++killedMidRun;
        int inFiles = PagesInPageFiles(tmp);
        int restored = CheckRestore(tmp, 1);
        EXPECT_EQ(restored, inFiles) << "round " << round;
        // The listing agrees, and names any file ahead of its record.
        int listed = 0;
        for (const RecoveryEntry& entry : InspectRecoveryFile(tmp + "/Dorvex.bak")) listed += entry.pages;
        EXPECT_EQ(listed, inFiles) << "round " << round;
    }
    // Most rounds must really have stopped the scan in the middle.
    EXPECT_GE(killedMidRun, 6);
}

TEST_F(ScanCrash, AFullTemporaryFolderStopsTheScanAndKeepsEveryStoredPage) {
    test::SmallDisk disk("1m");
    if (!disk.SkipReason().empty()) GTEST_SKIP() << disk.SkipReason();
    // Colour pages of noise do not compress: the small disk holds only a few.
    std::string feed = dir.File("noise");
    std::filesystem::create_directories(feed);
    for (int k = 1; k <= 12; ++k) {
        std::string page = feed + "/" + std::to_string(100 + k) + ".tif";
        ASSERT_EQ(std::system(("convert -size 300x300 xc: +noise Random -seed " + std::to_string(k) +
                               " -density 200 -units PixelsPerInch -compress LZW " + page + " 2>/dev/null")
                                  .c_str()),
                  0);
    }
    pid_t child = StartScan(disk.Path(), feed, dir.File("err"), {"--set", "PixelType=2", "--set", "EnableMultiTIFF=1"});
    EXPECT_EQ(Wait(child), 1);
    std::string err = ReadFileBytes(dir.File("err"));
    EXPECT_NE(err.find("本頁無法儲存"), std::string::npos) << err;
    int inFiles = PagesInPageFiles(disk.Path());
    EXPECT_GT(inFiles, 0);
    EXPECT_LT(inFiles, 12);
    CScanList list;
    ReadRecoveryFile(list, disk.File("Dorvex.bak"));
    int restored = 0;
    for (const auto& doc : list.AllInnos()) {
        for (int page = 1; page <= doc->ActPage(); ++page) {
            EXPECT_NO_THROW(Raster::Load(doc->FilePath(), page));
            ++restored;
        }
    }
    EXPECT_EQ(restored, inFiles);
    for (const RecoveryEntry& entry : InspectRecoveryFile(disk.File("Dorvex.bak"))) {
        EXPECT_TRUE(entry.problems.empty()) << entry.problems.front();
    }
}

}  // namespace
