// `dorvex clean` run as a person runs it, on inputs and outputs that go wrong: its own input as
// output, two inputs of one name, a full disk, truncated and broken files, a memory limit. It
// may fail, but it never exits 0 with a page missing, taken for blank or torn.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "SmallDisk.h"
#include "TestImages.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "platform/Raster.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    int JsonLines() const {
        int lines = 0;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines += line.rfind("{\"file\"", 0) == 0 ? 1 : 0;
        return lines;
    }
};

// Runs the command line with `args`; `addressLimit` bytes of address space when not 0.
Outcome Clean(const test::TempFolder& dir, const std::vector<std::string>& args, rlim_t addressLimit = 0) {
    std::string outPath = dir.File(".out"), errPath = dir.File(".err");
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (addressLimit != 0) {
            rlimit limit{addressLimit, addressLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<std::string> all = {DORVEX_BIN, "clean"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(DORVEX_BIN, argv.data());
        ::_exit(127);
    }
    Outcome run;
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFileBytes(outPath);
    run.err = ReadFileBytes(errPath);
    return run;
}

std::string Document(const std::string& path, std::vector<int> numbers) {
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        test::NumberedPage(numbers[i]).Save(path, fileformat::TiffG4, static_cast<int>(i) + 1,
                                            i == 0 ? SaveMode::Overwrite : SaveMode::Append);
    }
    return ReadFileBytes(path);
}

std::vector<int> Numbers(const std::string& path) {
    std::vector<int> numbers;
    for (int p = 1; p <= ReadImageInfo(path).pages; ++p) numbers.push_back(test::PageNumberIn(path, p));
    return numbers;
}

}  // namespace

TEST(CleanCommand, NeverWritesOverAnInputAndKeepsOutputsApart) {
    test::TempFolder dir;
    std::filesystem::create_directories(dir.File("x"));
    std::string bytes = Document(dir.File("x/scan.tif"), {1, 2, 3});
    Outcome own = Clean(dir, {"-o", dir.File("x"), dir.File("x/scan.tif")});
    EXPECT_EQ(own.status, 0) << own.err;
    EXPECT_EQ(ReadFileBytes(dir.File("x/scan.tif")), bytes);
    EXPECT_EQ(Numbers(dir.File("x/scan_2.tif")), (std::vector<int>{1, 2, 3}));
    EXPECT_NE(own.out.find("scan_2.tif"), std::string::npos);

    std::filesystem::create_directories(dir.File("a"));
    std::filesystem::create_directories(dir.File("b"));
    Document(dir.File("a/same.tif"), {4, 5});
    test::NumberedPage(6).Save(dir.File("b/same.png"), fileformat::Png);
    Outcome twins = Clean(dir, {"-o", dir.File("out/new"), dir.File("a/same.tif"), dir.File("b/same.png")});
    EXPECT_EQ(twins.status, 0) << twins.err;
    EXPECT_EQ(Numbers(dir.File("out/new/same.tif")), (std::vector<int>{4, 5}));
    EXPECT_EQ(Numbers(dir.File("out/new/same_2.tif")), (std::vector<int>{6}));
}

TEST(CleanCommand, AFullDiskIsAFailureAndLeavesNoTornOutput) {
    test::SmallDisk disk("1m");
    DORVEX_NEED_SMALL_DISK(disk);
    test::TempFolder dir;
    Raster page = Raster::Blank(1200, 900, 1, 200);
    for (int y = 0; y < 900; y += 3) {
        for (int x = (y * 7) % 5; x < 1200; x += 5) page.SetBlack(x, y);
    }
    for (int k = 1; k <= 8; ++k) page.Save(dir.File("eight.tif"), fileformat::TiffG4, k, k == 1 ? SaveMode::Overwrite : SaveMode::Append);
    disk.Fill(100 * 1024);  // room for a few pages, not for eight
    Outcome run = Clean(dir, {"-o", disk.File("out"), dir.File("eight.tif")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("eight"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(disk.File("out/eight.tif")));
    EXPECT_TRUE(std::filesystem::is_empty(disk.File("out")));
}

TEST(CleanCommand, EveryReadablePageIsProcessedAndEveryOtherNamed) {
    test::TempFolder dir;
    test::WriteGrayTiff(dir.File("broken.tif"), 3, 200, 120, 0, 2);
    Outcome broken = Clean(dir, {"-o", dir.File("out"), dir.File("broken.tif")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.JsonLines(), 2);
    EXPECT_NE(broken.out.find("\"page\":3"), std::string::npos);
    EXPECT_NE(broken.err.find("page 2 of"), std::string::npos) << broken.err;
    EXPECT_FALSE(FileExists(dir.File("out/broken.tif")));  // not written with a page missing

    // A page over the decoding budget is named too large, never taken for a file that is not
    // an image.
    test::WriteLargeWhiteTiff(dir.File("huge.tif"), 4096, 65536);
    Outcome huge = Clean(dir, {"-o", dir.File("out"), dir.File("huge.tif")});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("too large (4096 x 65536 pixels"), std::string::npos) << huge.err;
    EXPECT_EQ(huge.err.find("not an image"), std::string::npos) << huge.err;

    test::WriteGrayTiff(dir.File("whole.tif"), 3, 200, 120);
    std::string bytes = ReadFileBytes(dir.File("whole.tif"));
    WriteBytesToFile(bytes.substr(0, bytes.size() * 7 / 10), dir.File("cut.tif"));
    Outcome cut = Clean(dir, {"-o", dir.File("out"), dir.File("cut.tif"), dir.File("whole.tif")});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.JsonLines(), 2 + 3);
    EXPECT_NE(cut.err.find("after page 2"), std::string::npos) << cut.err;
    EXPECT_FALSE(FileExists(dir.File("out/cut.tif")));  // not written with its last page missing
    EXPECT_EQ(ReadImageInfo(dir.File("out/whole.tif")).pages, 3);
    // A new output gets the permissions the umask allows, not those of a private temporary file.
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(dir.File("out/whole.tif")).permissions(),
              static_cast<std::filesystem::perms>(0666 & ~mask));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("out")) == false);
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << "a temporary file was left: " << entry.path();
    }
}

TEST(CleanCommand, UnderAMemoryLimitAPageIsNeverDroppedOrReportedDone) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#endif
    test::TempFolder dir;
    Raster letter = Raster::Blank(2480, 3508, 24, 300);
    for (int y = 400; y < 3000; y += 60) {
        for (int x = 300; x < 2100; ++x) letter.SetBlack(x, y);
    }
    letter.Save(dir.File("letter.tif"), fileformat::TiffLzw);
    int failed = 0;
    // The process itself maps about 65 MiB (the scanner libraries included) before any page.
    for (rlim_t mib : {75, 90, 105, 120, 140, 170}) {
        SCOPED_TRACE(mib);
        std::filesystem::remove_all(dir.File("out"));
        Outcome run = Clean(dir, {"--set", "WPageRemove=1", "--set", "Deskew=1", "--set", "DotRemove=1", "-o", dir.File("out"), dir.File("letter.tif")},
                        mib << 20);
        EXPECT_EQ(run.out.find("\"blank\":true"), std::string::npos);
        if (run.status == 0) {
            EXPECT_EQ(run.JsonLines(), 1);
            EXPECT_EQ(ReadImageInfo(dir.File("out/letter.tif")).pages, 1);
        } else {
            ++failed;
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_NE(run.err.find("memory"), std::string::npos) << run.err;
            EXPECT_FALSE(FileExists(dir.File("out/letter.tif")));
        }
    }
    EXPECT_GT(failed, 0) << "no limit was tight enough to test anything";
}
