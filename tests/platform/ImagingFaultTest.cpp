// The imaging layer under real faults: a full disk, a file size limit, truncated, broken and
// hostile files. A failed write must never be taken for success nor change the file it was
// meant for.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "SmallDisk.h"
#include "TestImages.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "platform/Raster.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// A 1-bit page of noise: G4 cannot shrink it, so each page takes tens of kilobytes.
Raster NoisyPage(unsigned seed) {
    Raster page = Raster::Blank(800, 600, 1, 200);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            state = state * 1103515245u + 12345u;
            if ((state >> 16) & 1) page.SetBlack(x, y);
        }
    }
    return page;
}

std::string WriteNoisyDocument(const std::string& path, int pages) {
    for (int k = 1; k <= pages; ++k) NoisyPage(static_cast<unsigned>(k)).Save(path, fileformat::TiffG4, k, k == 1 ? SaveMode::Overwrite : SaveMode::Append);
    return ReadFileBytes(path);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const DorvexError& e) {
        return e.what();
    }
    return "no error";
}

void ExpectEveryPageReads(const std::string& path, int pages) {
    ImageInfo info = ReadImageInfo(path);
    EXPECT_EQ(info.pages, pages);
    EXPECT_EQ(info.damage, "");
    for (int p = 1; p <= info.pages; ++p) EXPECT_EQ(Raster::Load(path, p).Width(), 800) << "page " << p;
}

}  // namespace

TEST(ImagingFaults, AFullDiskFailsEveryWriteAndLeavesTheFileAsItWas) {
    test::SmallDisk disk("2m");
    DORVEX_NEED_SMALL_DISK(disk);
    std::string path = disk.File("doc.tif");
    std::string jpeg = disk.File("page.jpg");
    std::string bytes = WriteNoisyDocument(path, 3);
    test::NumberedPage(2, 24).Save(jpeg, fileformat::Jpeg);
    std::string jpegBytes = ReadFileBytes(jpeg);
    disk.Fill();

    const std::vector<std::pair<std::string, std::function<void()>>> writes = {
        {"replace page 2", [&] { NoisyPage(9).Save(path, fileformat::TiffG4, 2, SaveMode::Replace); }},
        {"insert page 2", [&] { NoisyPage(9).Save(path, fileformat::TiffG4, 2, SaveMode::Insert); }},
        {"append", [&] { NoisyPage(9).Save(path, fileformat::TiffG4, 4, SaveMode::Append); }},
        {"insert after the last page", [&] { NoisyPage(9).Save(path, fileformat::TiffG4, 4, SaveMode::Insert); }},
        {"overwrite", [&] { NoisyPage(9).Save(path, fileformat::TiffG4); }},
        {"delete page 2", [&] { DeletePage(path, 2); }},
        {"move page 3", [&] { MovePage(path, 3, 1); }},
        {"overwrite a JPEG", [&] { NoisyPage(9).Save(jpeg, fileformat::Jpeg); }},
        {"a new JPEG", [&] { NoisyPage(9).Save(disk.File("new.jpg"), fileformat::Jpeg); }},
    };
    for (const auto& [name, write] : writes) {
        SCOPED_TRACE(name);
        EXPECT_NE(ErrorOf(write), "no error");
        EXPECT_EQ(ReadFileBytes(path), bytes);
        EXPECT_EQ(ReadFileBytes(jpeg), jpegBytes);
        EXPECT_EQ(FilesIn(disk.Path()), (std::vector<std::string>{".filler", "doc.tif", "page.jpg"}));
    }

    // Room for part of a page: the append fails half-way and is cut back off.
    disk.Free(24 * 1024);
    EXPECT_NE(ErrorOf([&] { NoisyPage(9).Save(path, fileformat::TiffG4, 4, SaveMode::Append); }), "no error");
    EXPECT_EQ(ReadFileBytes(path), bytes);
    ExpectEveryPageReads(path, 3);

    disk.Empty();
    NoisyPage(9).Save(path, fileformat::TiffG4, 4, SaveMode::Append);
    ExpectEveryPageReads(path, 4);
}

TEST(ImagingFaults, AFileSizeLimitFailsTheAppendAndTheRewrite) {
    test::TempFolder dir;
    std::string path = dir.File("doc.tif");
    std::string bytes = WriteNoisyDocument(path, 3);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(bytes.size() + 20000), static_cast<rlim_t>(bytes.size() + 20000)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool appendFailed = ErrorOf([&] { NoisyPage(9).Save(path, fileformat::TiffG4, 4, SaveMode::Append); }) != "no error";
        bool unchanged = ReadFileBytes(path) == bytes;
        bool rewriteFailed = ErrorOf([&] { NoisyPage(9).Save(path, fileformat::TiffG4, 1, SaveMode::Insert); }) != "no error";
        ::_exit((appendFailed ? 0 : 1) | (unchanged && ReadFileBytes(path) == bytes ? 0 : 2) | (rewriteFailed ? 0 : 4));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: append taken for success, 2: file changed, 4: rewrite taken for success";
    ExpectEveryPageReads(path, 3);
}

TEST(ImagingFaults, TruncatedBrokenAndLoopingFilesSayWhichPagesCannotBeRead) {
    test::TempFolder dir;
    std::string whole = dir.File("whole.tif");
    test::WriteGrayTiff(whole, 3, 200, 120);
    std::string bytes = ReadFileBytes(whole);

    std::string cut = dir.File("cut.tif");
    WriteBytesToFile(bytes.substr(0, bytes.size() * 7 / 10), cut);
    ImageInfo info = ReadImageInfo(cut);
    EXPECT_EQ(info.pages, 2);
    EXPECT_NE(info.damage.find("truncated"), std::string::npos) << info.damage;
    EXPECT_EQ(Raster::Load(cut, 2).Width(), 200);
    EXPECT_NE(ErrorOf([&] { Raster::Load(cut, 3); }).find("cannot be read"), std::string::npos);
    EXPECT_FALSE(ProbeImage(cut));
    // A page appended to a file cut short (a crash during an earlier append) follows the last
    // whole page.
    test::NumberedPage(1).Save(cut, fileformat::TiffG4, 3, SaveMode::Append);
    ImageInfo healed = ReadImageInfo(cut);
    EXPECT_EQ(healed.pages, 3);
    EXPECT_EQ(healed.damage, "");
    EXPECT_EQ(test::PageNumberIn(cut, 3), 1);

    std::string broken = dir.File("broken.tif");
    test::WriteGrayTiff(broken, 3, 200, 120, 0, 2);
    EXPECT_EQ(ReadImageInfo(broken).pages, 3);
    EXPECT_EQ(Raster::Load(broken, 1).Width(), 200);
    EXPECT_NE(ErrorOf([&] { Raster::Load(broken, 2); }).find("page 2"), std::string::npos);
    EXPECT_EQ(Raster::Load(broken, 3).Width(), 200);

    // The last directory links back to the first.
    std::string looping = bytes;
    std::uint32_t first = static_cast<unsigned char>(looping[4]) | static_cast<unsigned char>(looping[5]) << 8 |
                          static_cast<unsigned char>(looping[6]) << 16 | static_cast<std::uint32_t>(static_cast<unsigned char>(looping[7])) << 24;
    for (int i = 0; i < 4; ++i) looping[looping.size() - 4 + static_cast<std::size_t>(i)] = static_cast<char>(first >> (8 * i));
    WriteBytesToFile(looping, dir.File("loop.tif"));
    ImageInfo loop = ReadImageInfo(dir.File("loop.tif"));
    EXPECT_EQ(loop.pages, 3);
    EXPECT_NE(loop.damage.find("overlaps"), std::string::npos) << loop.damage;
    // Its last link leads nowhere whole: an append cuts it and follows the third page.
    test::NumberedPage(1).Save(dir.File("loop.tif"), fileformat::TiffG4, 4, SaveMode::Append);
    EXPECT_EQ(ReadImageInfo(dir.File("loop.tif")).pages, 4);
    EXPECT_EQ(ReadImageInfo(dir.File("loop.tif")).damage, "");
}

TEST(ImagingFaults, PixelBombsAreRefusedFromTheHeader) {
    test::TempFolder dir;
    // A PNG whose header asks for 23000 x 23000 colour pixels.
    std::string png = "\x89PNG\r\n\x1a\n";
    auto chunk = [&png](const std::string& type, const std::string& data) {
        std::string length;
        for (int i = 3; i >= 0; --i) length.push_back(static_cast<char>((data.size() >> (8 * i)) & 0xFF));
        png += length + type + data + std::string(4, '\0');
    };
    std::string ihdr;
    for (std::uint32_t v : {23000u, 23000u}) {
        for (int i = 3; i >= 0; --i) ihdr.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    chunk("IHDR", ihdr);
    chunk("IDAT", std::string(64, '\0'));
    chunk("IEND", "");
    WriteBytesToFile(png, dir.File("bomb.png"));
    std::string error = ErrorOf([&] { Raster::Load(dir.File("bomb.png")); });
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_EQ(error.find("damaged"), std::string::npos) << error;

    // A TIFF page of 30000 x 30000 grey pixels, the data never written.
    std::string tiff = dir.File("bomb.tif");
    test::WriteGrayTiff(tiff, 1, 30000, 4);
    std::string bytes = ReadFileBytes(tiff);
    std::size_t height = bytes.find(std::string("\x01\x01\x04\x00\x01\x00\x00\x00\x04\x00\x00\x00", 12));
    ASSERT_NE(height, std::string::npos);
    bytes[height + 8] = static_cast<char>(30000 & 0xFF);
    bytes[height + 9] = static_cast<char>(30000 >> 8);
    WriteBytesToFile(bytes, tiff);
    error = ErrorOf([&] { Raster::Load(tiff); });
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_THROW(Raster::Blank(30000, 30000, 8), DorvexError);
}

TEST(ImagingFaults, CmykPagesAreReadAsColour) {
    test::TempFolder dir;
    std::string path = dir.File("cmyk.tif");
    test::WriteCmykTiff(path, 40, 20);
    Raster page = Raster::Load(path);
    EXPECT_EQ(page.BitsPerPixel(), 24);
    EXPECT_EQ(page.Width(), 40);
    EXPECT_FALSE(page.IsBlack(5, 10));   // cyan
    EXPECT_FALSE(page.IsBlack(20, 10));  // white
    EXPECT_TRUE(page.IsBlack(35, 10));   // black
    Raster cyan = page.Crop({0, 0, 13, 20});
    cyan.ConvertTo(8);
    EXPECT_EQ(cyan.CountInk(), 0);  // light blue, not dark
    EXPECT_TRUE(ProbeImage(path));
}

TEST(ImagingFaults, ABarcodePrintedAcrossALandscapePageIsRead) {
    const char* corpus = std::getenv("DORVEX_CORPUS");
    ASSERT_NE(corpus, nullptr) << "set DORVEX_CORPUS to the generated corpus";
    for (const auto& [file, code] : {std::pair{"barcode_CODE128.tif", "AB-115-0001"}, std::pair{"barcode_ITF.tif", "1150000012"}}) {
        Raster page = Raster::Load(std::string(corpus) + "/" + file);
        for (int turn : {9000, -9000}) {
            Raster turned = page;
            turned.Rotate(turn);
            std::vector<std::string> found = turned.ReadBarcodes({0, 0, turned.Width(), turned.Height()});
            ASSERT_FALSE(found.empty()) << file << " turned " << turn;
            EXPECT_EQ(found.front(), code);
        }
    }
}

TEST(ImagingFaults, AnAppendKilledHalfWayLosesNoEarlierPageAndTheNextAppendWorks) {
    test::TempFolder dir;
    std::string path = dir.File("doc.tif");
    WriteNoisyDocument(path, 2);
    for (int attempt = 0; attempt < 5; ++attempt) {
        int before = ReadImageInfo(path).pages;
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Raster page = NoisyPage(7);
            for (int n = 1;; ++n) page.Save(path, fileformat::TiffG4, n, SaveMode::Append);
        }
        ::usleep(20000 + attempt * 13000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ImageInfo info = ReadImageInfo(path);
        ASSERT_GE(info.pages, before);
        for (int p = 1; p <= info.pages; ++p) ASSERT_EQ(Raster::Load(path, p).Width(), 800) << "page " << p;
        NoisyPage(8).Save(path, fileformat::TiffG4, info.pages + 1, SaveMode::Append);
        ExpectEveryPageReads(path, info.pages + 1);
    }
}

TEST(ImagingFaults, AShortBarcodeIsReadWhereverItLiesOnThePage) {
    const char* corpus = std::getenv("DORVEX_CORPUS");
    ASSERT_NE(corpus, nullptr) << "set DORVEX_CORPUS to the generated corpus";
    // A band 26 rows high out of the middle of a corpus symbol, drawn on a blank page at every
    // height: wherever it lies, the rows read must find it.
    Raster source = Raster::Load(std::string(corpus) + "/barcode_CODE128.tif");
    const int left = source.Width() - 800, top = 80, band = 26;
    std::vector<int> missed;
    for (int at = 0; at < 420; at += 5) {
        Raster page = Raster::Blank(1000, 700, 1, 200);
        for (int y = 0; y < band; ++y) {
            for (int x = 0; x < 800; ++x) {
                if (source.IsBlack(left + x, top + y)) page.SetBlack(100 + x, at + y);
            }
        }
        std::vector<std::string> found = page.ReadBarcodes({0, 0, page.Width(), page.Height()});
        if (found.empty() || found.front() != "AB-115-0001") missed.push_back(at);
    }
    EXPECT_TRUE(missed.empty()) << "missed at " << ::testing::PrintToString(missed);
}
