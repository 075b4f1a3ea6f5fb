#include "platform/Raster.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestPages.h"
#include "platform/GreyLevels.h"
#include "platform/Jpeg.h"
#include "platform/PageMemory.h"
#include "platform/RasterAccess.h"
#include "TestUtil.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::NumberedPage;
using test::PageNumberIn;

namespace {
std::vector<int> PagesOf(const std::string& path) {
    std::vector<int> numbers;
    for (int p = 1; p <= ReadImageInfo(path).pages; ++p) numbers.push_back(PageNumberIn(path, p));
    return numbers;
}
}  // namespace

TEST(RasterFiles, MultiPageG4AppendInsertReplaceDeleteMove) {
    test::TempFolder dir;
    std::string path = dir.File("doc.tif");
    WriteBytesToFile("", path);  // an empty placeholder, as the temporary-file helper makes
    for (int k = 1; k <= 3; ++k) NumberedPage(k).Save(path, fileformat::TiffG4, k, SaveMode::Append);
    ImageInfo info = ReadImageInfo(path);
    EXPECT_EQ(info.format, fileformat::TiffG4);
    EXPECT_EQ(info.pages, 3);
    EXPECT_EQ(info.bitsPerPixel, 1);
    EXPECT_EQ(info.width, 200);
    EXPECT_EQ(info.xdpi, 200);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{1, 2, 3}));

    NumberedPage(7).Save(path, fileformat::TiffG4, 2, SaveMode::Insert);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{1, 7, 2, 3}));
    NumberedPage(8).Save(path, fileformat::TiffG4, 5, SaveMode::Insert);  // after the last
    NumberedPage(9).Save(path, fileformat::TiffG4, 1, SaveMode::Replace);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{9, 7, 2, 3, 8}));
    DeletePage(path, 2);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{9, 2, 3, 8}));
    MovePage(path, 4, 1);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{8, 9, 2, 3}));
    EXPECT_EQ(ReadImageInfo(path).format, fileformat::TiffG4);
    EXPECT_THROW(DeletePage(path, 5), DorvexError);
    EXPECT_THROW(NumberedPage(1).Save(path, fileformat::TiffG4, 9, SaveMode::Replace), DorvexError);
    NumberedPage(4).Save(path, fileformat::TiffG4, 1, SaveMode::Overwrite);
    EXPECT_EQ(PagesOf(path), (std::vector<int>{4}));
    EXPECT_THROW(DeletePage(path, 1), DorvexError);  // never an empty file
}

TEST(RasterFiles, GreyColourAndJpeg) {
    test::TempFolder dir;
    Raster grey = NumberedPage(2, 8);
    EXPECT_EQ(grey.BitsPerPixel(), 8);
    grey.Save(dir.File("g.tif"), fileformat::TiffLzw);
    EXPECT_EQ(ReadImageInfo(dir.File("g.tif")).format, fileformat::TiffLzw);
    EXPECT_EQ(ReadImageInfo(dir.File("g.tif")).bitsPerPixel, 8);
    Raster colour = NumberedPage(3, 24);
    EXPECT_EQ(colour.BitsPerPixel(), 24);
    colour.Save(dir.File("c.jpg"), fileformat::Jpeg);
    ImageInfo jpeg = ReadImageInfo(dir.File("c.jpg"));
    EXPECT_EQ(jpeg.format, fileformat::Jpeg);
    EXPECT_EQ(jpeg.bitsPerPixel, 24);
    EXPECT_EQ(test::PageNumberIn(dir.File("c.jpg"), 1), 3);
    NumberedPage(1).Save(dir.File("b.jpg"), fileformat::Jpeg);  // 1 bit goes out as grey
    EXPECT_EQ(ReadImageInfo(dir.File("b.jpg")).bitsPerPixel, 8);
    // A grey page saved as G4 is reduced to 1 bit.
    grey.Save(dir.File("g4.tif"), fileformat::TiffG4);
    EXPECT_EQ(ReadImageInfo(dir.File("g4.tif")).bitsPerPixel, 1);
    EXPECT_THROW(grey.Save(dir.File("c.jpg"), fileformat::Jpeg, 2, SaveMode::Append), DorvexError);
    NumberedPage(5).Save(dir.File("p.png"), fileformat::Png);
    EXPECT_EQ(ReadImageInfo(dir.File("p.png")).format, fileformat::Png);
    NumberedPage(5).Save(dir.File("p.bmp"), fileformat::Bmp);
    EXPECT_EQ(test::PageNumberIn(dir.File("p.bmp"), 1), 5);
}

TEST(RasterFiles, DamagedFilesGiveClearErrorsAndChangeNothing) {
    test::TempFolder dir;
    std::string path = dir.File("doc.tif");
    for (int k = 1; k <= 3; ++k) NumberedPage(k).Save(path, fileformat::TiffG4, k, k == 1 ? SaveMode::Overwrite : SaveMode::Append);
    std::string bytes = ReadFileBytes(path);

    auto expectError = [](const std::function<void()>& action, const std::string& mention) {
        try {
            action();
            ADD_FAILURE() << "no error";
        } catch (const DorvexError& e) {
            EXPECT_NE(std::string(e.what()).find(mention), std::string::npos) << e.what();
        }
    };
    WriteBytesToFile(bytes.substr(0, 12), dir.File("truncated.tif"));
    WriteBytesToFile("plain text, not a picture", dir.File("notes.tif"));
    WriteBytesToFile("GIF89a\x01\x00\x01\x00\x00\x00\x00;", dir.File("anim.gif"));
    expectError([&] { Raster::Load(dir.File("truncated.tif")); }, "truncated.tif");
    expectError([&] { Raster::Load(dir.File("notes.tif")); }, "not an image");
    expectError([&] { Raster::Load(dir.File("anim.gif")); }, "TIFF, JPEG, PNG or BMP");
    expectError([&] { Raster::Load(dir.File("missing.tif")); }, "does not exist");
    expectError([&] { Raster::Load(path, 4); }, "no page 4");
    expectError([&] { ReadImageInfo(dir.File("truncated.tif")); }, "truncated.tif");
    EXPECT_FALSE(ProbeImage(dir.File("truncated.tif")));
    EXPECT_FALSE(ProbeImage(dir.File("notes.tif")));
    EXPECT_TRUE(ProbeImage(path));
    // A failed edit leaves the file as it was.
    expectError([&] { NumberedPage(1).Save(path, fileformat::TiffG4, 7, SaveMode::Insert); }, "no page 7");
    EXPECT_EQ(ReadFileBytes(path), bytes);
    expectError([&] { NumberedPage(1).Save(dir.File("nofolder/x.tif"), fileformat::TiffG4); }, "nofolder");
}

TEST(RasterFiles, AKilledRewriteLeavesTheOldFileWhole) {
    test::TempFolder dir;
    std::string path = dir.File("big.tif");
    Raster page = Raster::Blank(1654, 2339, 1, 200);
    for (int y = 100; y < 2200; y += 40) {
        for (int x = 100; x < 1500; x += 3) page.SetBlack(x, y);
    }
    for (int k = 1; k <= 30; ++k) page.Save(path, fileformat::TiffG4, k, k == 1 ? SaveMode::Overwrite : SaveMode::Append);
    for (int attempt = 0; attempt < 5; ++attempt) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) NumberedPage(1).Save(path, fileformat::TiffG4, 2, SaveMode::Insert);
        }
        ::usleep(30000 + attempt * 17000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ImageInfo info = ReadImageInfo(path);
        ASSERT_GE(info.pages, 30);
        for (int p = 1; p <= info.pages; ++p) ASSERT_FALSE(Raster::Load(path, p).Empty());
    }
}

TEST(RasterProcessing, RotateTrimBorderDespeckleAndCount) {
    Raster page = NumberedPage(3);
    EXPECT_EQ(page.CountInk(), 300);
    Raster turned = page;
    turned.Rotate(9000);
    EXPECT_EQ(turned.Width(), 120);
    EXPECT_EQ(turned.Height(), 200);
    EXPECT_TRUE(turned.IsBlack(120 - 15, 15));  // clockwise: the top-left bar goes to the top-right
    turned.Rotate(-9000);
    EXPECT_TRUE(turned.IsBlack(15, 15));
    Raster tilted = page;
    tilted.Rotate(500);
    EXPECT_EQ(tilted.Width(), 200);
    EXPECT_NEAR(static_cast<double>(tilted.CountInk()), 300.0, 60.0);

    Raster trimmed = page;
    trimmed.AutoTrim();
    EXPECT_EQ(trimmed.Width(), 30);
    EXPECT_EQ(trimmed.Height(), 10);

    // Specks go, the bar stays.
    Raster speckled = page;
    speckled.SetBlack(150, 80);
    speckled.SetBlack(100, 100);
    speckled.SetBlack(101, 100);
    speckled.Despeckle();
    EXPECT_EQ(speckled.CountInk(), 300);

    // A dark band along the left side goes; the bar away from the edge stays.
    Raster bordered = NumberedPage(1);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 6; ++x) bordered.SetBlack(x, y);
    }
    bordered.RemoveBorder(1, 20, 2, 0);
    EXPECT_EQ(bordered.CountInk(), 100);
    Raster untouched = NumberedPage(1);
    for (int x = 0; x < 6; ++x) untouched.SetBlack(x, 50);  // one short mark is not a border
    untouched.RemoveBorder(15, 20, 5, 5);
    EXPECT_EQ(untouched.CountInk(), 106);

    Raster half = page;
    half.HalveSize();
    EXPECT_EQ(half.Width(), 100);
    Raster grey = NumberedPage(2, 8);
    grey.ReduceTo1Bit();
    EXPECT_EQ(grey.BitsPerPixel(), 1);
    EXPECT_EQ(grey.CountInk(), 200);
    grey.Invert();
    EXPECT_EQ(grey.CountInk(), 200 * 120 - 200);
    Raster piece = page.Crop({10, 10, 20, 10});
    EXPECT_EQ(piece.CountInk(), 200);
    page.FillWhite({0, 0, 25, 25});
    EXPECT_EQ(page.CountInk(), 150);
    page.Resize(400, 240);
    EXPECT_EQ(page.Height(), 240);
}

TEST(RasterProcessing, GreyAndColourSpecksGoTextStays) {
    for (int bits : {8, 24}) {
        Raster page = test::NumberedPage(2, bits);
        page.SetBlack(150, 80);
        page.SetBlack(151, 80);
        page.SetBlack(100, 100);
        page.Despeckle();
        EXPECT_FALSE(page.IsBlack(150, 80)) << bits;
        EXPECT_FALSE(page.IsBlack(100, 100)) << bits;
        EXPECT_EQ(page.CountInk(), 200) << bits;
        EXPECT_EQ(page.BitsPerPixel(), bits);
    }
}

TEST(RasterProcessing, BorderValuesOutsideTheirRangeActAsTheNearestEnd) {
    // 64 pixels wide: the lines follow each other in memory with nothing between. A band 4
    // pixels wide down the left side; a mark 16 pixels inside it; a ruled line from the band
    // to 4 pixels short of the right edge; a dot near the left edge on the line below.
    auto page = [] {
        Raster p = Raster::Blank(64, 32, 1);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 4 && y != 20; ++x) p.SetBlack(x, y);
        }
        for (int y = 5; y < 9; ++y) {
            for (int x = 20; x < 24; ++x) p.SetBlack(x, y);
        }
        for (int x = 0; x < 60; ++x) p.SetBlack(x, 19);
        for (int x = 2; x < 6; ++x) p.SetBlack(x, 20);
        return p;
    };
    auto ink = [](const Raster& p, int left, int top, int width, int height) {
        return p.Crop({left, top, width, height}).CountInk();
    };
    // Variance 50 clears 10 pixels beyond the band: the mark stays.
    Raster wide = page();
    wide.RemoveBorder(1, 50, 2, 50);
    EXPECT_EQ(ink(wide, 0, 0, 4, 32), 0);
    EXPECT_EQ(ink(wide, 20, 5, 4, 4), 16);
    // A negative variance clears the band itself, no less.
    Raster narrow = page();
    narrow.RemoveBorder(1, 50, 2, -5);
    EXPECT_EQ(ink(narrow, 0, 0, 4, 32), 0);
    // A noise length of 50 bridges 10 white pixels, not the 16 before the mark.
    Raster bridged = page();
    bridged.RemoveBorder(1, 50, 50, 0);
    EXPECT_EQ(ink(bridged, 20, 5, 4, 4), 16);
    // 500 % reaches the right edge and stops there: the dot on the next line stays.
    Raster deep = page();
    deep.RemoveBorder(1, 500, 0, 10);
    EXPECT_EQ(ink(deep, 0, 19, 64, 1), 0);
    EXPECT_EQ(ink(deep, 0, 20, 64, 1), 4);
}

TEST(RasterProcessing, DespeckleRemovesExactlyTheComponentsOfAtMostTwoByTwo) {
    // Noise dense enough to make every shape of component, checked against a plain flood fill.
    const int w = 157, h = 93;  // rows that do not fill whole words
    Raster page = Raster::Blank(w, h, 1);
    unsigned state = 12345;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            state = state * 1103515245u + 12345u;
            if ((state >> 16) % 100 < 22) page.SetBlack(x, y);
        }
    }
    std::vector<int> component(static_cast<std::size_t>(w * h), -1);
    std::vector<bool> small;
    for (int start = 0; start < w * h; ++start) {
        if (!page.IsBlack(start % w, start / w) || component[static_cast<std::size_t>(start)] >= 0) continue;
        int id = static_cast<int>(small.size());
        int x0 = w, x1 = -1, y0 = h, y1 = -1;
        std::vector<int> stack{start};
        component[static_cast<std::size_t>(start)] = id;
        while (!stack.empty()) {
            int at = stack.back();
            stack.pop_back();
            int x = at % w, y = at / w;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h || !page.IsBlack(nx, ny)) continue;
                    int& seen = component[static_cast<std::size_t>(ny * w + nx)];
                    if (seen < 0) seen = id, stack.push_back(ny * w + nx);
                }
            }
        }
        small.push_back(x1 - x0 < 2 && y1 - y0 < 2);
    }
    Raster cleaned = page;
    cleaned.Despeckle();
    int removed = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int id = component[static_cast<std::size_t>(y * w + x)];
            bool expected = id >= 0 && !small[static_cast<std::size_t>(id)];
            ASSERT_EQ(cleaned.IsBlack(x, y), expected) << x << "," << y;
            removed += id >= 0 && small[static_cast<std::size_t>(id)];
        }
    }
    EXPECT_GT(removed, 100);
}

TEST(RasterFiles, ARewriteKeepsTheFilesPermissions) {
    test::TempFolder dir;
    std::string path = dir.File("doc.tif");
    for (int k = 1; k <= 2; ++k) NumberedPage(k).Save(path, fileformat::TiffG4, k, k == 1 ? SaveMode::Overwrite : SaveMode::Append);
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(0640));
    NumberedPage(3).Save(path, fileformat::TiffG4, 1, SaveMode::Insert);
    DeletePage(path, 2);
    EXPECT_EQ(std::filesystem::status(path).permissions(), static_cast<std::filesystem::perms>(0640));
    EXPECT_EQ(PagesOf(path), (std::vector<int>{3, 2}));
}

TEST(RasterSamples, OneBitLinesKeepOneAsBlackTheHighBitFirstAndNoStrayBits) {
    // 10 pixels a line in 2 bytes, 3 bytes apart; the bits past the width are set in the first line.
    const std::vector<std::uint8_t> stray = {0x80, 0x7F, 0xAA, 0x00, 0x40, 0x00};
    const std::vector<std::uint8_t> clean = {0x80, 0x40, 0x00, 0x00, 0x40, 0x00};
    Raster page = Raster::FromSamples(10, 2, 1, stray.data(), 3, 150);
    EXPECT_EQ(page.BitsPerPixel(), 1);
    EXPECT_EQ(page.XDpi(), 150);
    EXPECT_TRUE(page.IsBlack(0, 0) && page.IsBlack(9, 0) && page.IsBlack(9, 1));
    EXPECT_EQ(page.CountInk(), 3);
    // The same pixels without the stray bits save to the same file.
    test::TempFolder dir;
    page.Save(dir.File("stray.bmp"), fileformat::Bmp);
    Raster::FromSamples(10, 2, 1, clean.data(), 3, 150).Save(dir.File("clean.bmp"), fileformat::Bmp);
    EXPECT_EQ(ReadFileBytes(dir.File("stray.bmp")), ReadFileBytes(dir.File("clean.bmp")));
}

TEST(RasterSamples, GreyAndColourLinesKeepTheirSamplesInOrder) {
    const std::vector<std::uint8_t> grey = {0, 255, 100, 7, 200, 30, 255, 0};  // 3 pixels, 4 bytes apart
    Raster g = Raster::FromSamples(3, 2, 8, grey.data(), 4, 300);
    EXPECT_EQ(g.BitsPerPixel(), 8);
    EXPECT_TRUE(g.IsBlack(0, 0) && !g.IsBlack(1, 0) && g.IsBlack(2, 0) && !g.IsBlack(0, 1) && g.IsBlack(1, 1));
    // Orange reads as light grey, its mirror image (R and B swapped) as dark grey.
    const std::vector<std::uint8_t> colour = {255, 128, 0, 0, 128, 255};
    Raster c = Raster::FromSamples(2, 1, 24, colour.data(), 6, 300);
    EXPECT_EQ(c.BitsPerPixel(), 24);
    c.ConvertTo(8);
    EXPECT_TRUE(!c.IsBlack(0, 0) && c.IsBlack(1, 0));
}

TEST(RasterSamples, RefusesOtherDepthsShortLinesAndPagesOverTheBudget) {
    const std::vector<std::uint8_t> data(64, 0);
    EXPECT_THROW(Raster::FromSamples(4, 2, 16, data.data(), 8, 300), DorvexError);
    EXPECT_THROW(Raster::FromSamples(4, 2, 24, data.data(), 11, 300), DorvexError);
    EXPECT_THROW(Raster::FromSamples(17, 2, 1, data.data(), 2, 300), DorvexError);
    EXPECT_THROW(Raster::FromSamples(4, 2, 8, nullptr, 4, 300), DorvexError);
    EXPECT_THROW(Raster::FromSamples(20000, 20000, 8, data.data(), 20000, 300), DorvexError);
}

TEST(RasterDisplay, OneBitPagesShowAsBlackAndWhiteGreyAndColourAsTheyAre) {
    Raster page = Raster::Blank(5, 2, 1, 200);
    page.SetBlack(1, 0);
    page.SetBlack(4, 1);
    Raster::DisplaySamples shown = page.ToDisplaySamples();
    EXPECT_EQ(shown.width, 5);
    EXPECT_EQ(shown.height, 2);
    EXPECT_EQ(shown.channels, 1);
    EXPECT_EQ(shown.data, (std::vector<std::uint8_t>{255, 0, 255, 255, 255, 255, 255, 255, 255, 0}));

    const std::vector<std::uint8_t> grey = {0, 255, 100, 9, 7, 200, 30, 9};  // 3 pixels, 4 bytes apart
    EXPECT_EQ(Raster::FromSamples(3, 2, 8, grey.data(), 4, 300).ToDisplaySamples().data,
              (std::vector<std::uint8_t>{0, 255, 100, 7, 200, 30}));
    const std::vector<std::uint8_t> colour = {255, 128, 0, 1, 2, 3};
    Raster::DisplaySamples rgb = Raster::FromSamples(2, 1, 24, colour.data(), 6, 300).ToDisplaySamples();
    EXPECT_EQ(rgb.channels, 3);
    EXPECT_EQ(rgb.data, colour);
    EXPECT_TRUE(Raster().ToDisplaySamples().data.empty());

    // Into rows of a display image's own, padded; rows too short are refused.
    std::vector<std::uint8_t> padded(2 * 8, 7);
    page.WriteDisplayRows(padded.data(), 8);
    EXPECT_EQ(padded, (std::vector<std::uint8_t>{255, 0, 255, 255, 255, 7, 7, 7, 255, 255, 255, 255, 0, 7, 7, 7}));
    EXPECT_THROW(Raster::FromSamples(2, 1, 24, colour.data(), 6, 300).WriteDisplayRows(padded.data(), 5), DorvexError);
    EXPECT_EQ(Raster::FromSamples(2, 1, 24, colour.data(), 6, 300).DisplayChannels(), 3);
}

TEST(RasterDisplay, LinesAreDrawnBlackOrWhiteOnEveryDepthAndClippedToThePage) {
    for (int bits : {1, 8, 24}) {
        Raster page = Raster::Blank(40, 30, bits, 200);
        page.DrawLine(5, 10, 34, 10, 3, true);
        EXPECT_TRUE(page.IsBlack(5, 10) && page.IsBlack(20, 9) && page.IsBlack(34, 11)) << bits;
        EXPECT_FALSE(page.IsBlack(20, 14) || page.IsBlack(2, 10)) << bits;
        const std::int64_t ink = page.CountInk();
        EXPECT_GE(ink, 30 * 3) << bits;
        EXPECT_LE(ink, 30 * 3 + 12) << bits;
        // White over part of it, then a line that runs off the page.
        page.DrawLine(10, 5, 10, 25, 1, false);
        EXPECT_FALSE(page.IsBlack(10, 10)) << bits;
        EXPECT_TRUE(page.IsBlack(11, 10)) << bits;
        page.DrawLine(-20, 0, 60, 0, 1, true);
        EXPECT_TRUE(page.IsBlack(0, 0) && page.IsBlack(39, 0)) << bits;
        EXPECT_EQ(page.Width(), 40);
    }
}

// PCX is written by us; netpbm's reader (which honours the header's palette) reads it back as
// an independent check.
TEST(PcxFiles, EveryDepthReadsBackAsWritten) {
    test::TempFolder dir;
    // "width height per-mille of white", and whether the first pixel is black.
    auto describe = [&](const std::string& path) {
        std::string ppm = dir.File("read.ppm");
        EXPECT_EQ(std::system(("pcxtoppm '" + path + "' > '" + ppm + "' 2>/dev/null").c_str()), 0);
        std::string bytes = ReadFileBytes(ppm);
        int width = 0, height = 0, maxValue = 0, consumed = 0;
        if (std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &consumed) != 3) return std::string("?");
        const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data()) + consumed + 1;
        long long sum = 0;
        for (long long i = 0; i < 3LL * width * height; ++i) sum += data[i];
        return std::to_string(width) + " " + std::to_string(height) + " " +
               std::to_string(sum * 1000 / (255LL * 3 * width * height)) + (data[0] == 0 ? " black" : " white");
    };
    // A quarter of a 1-bit page black, at the top left.
    Raster mono = Raster::Blank(203, 100, 1, 200);  // an odd width: the lines are padded
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 101; ++x) mono.SetBlack(x, y);
    }
    mono.Save(dir.File("mono.pcx"), fileformat::Pcx);
    EXPECT_EQ(describe(dir.File("mono.pcx")), "203 100 751 black");
    Raster grey = mono;
    grey.ConvertTo(8);
    grey.Save(dir.File("grey.pcx"), fileformat::Pcx);
    EXPECT_EQ(describe(dir.File("grey.pcx")), "203 100 751 black");
    Raster colour = mono;
    colour.ConvertTo(24);
    colour.Save(dir.File("colour.pcx"), fileformat::Pcx);
    EXPECT_EQ(describe(dir.File("colour.pcx")), "203 100 751 black");
    EXPECT_THROW(Raster().Save(dir.File("none.pcx"), fileformat::Pcx), DorvexError);
}

// Grey and colour pages turn exactly as Leptonica's area-mapped rotation turns them, pixel for
// pixel, at both signs and with the edges brought in white: on noise in every channel (no two
// channels alike) beside white paper with a black bar.
TEST(RasterProcessing, GreyAndColourTurnAsTheAreaMappedRotation) {
    const int w = 301, h = 203;
    for (int bits : {8, 24}) {
        const std::size_t stride = static_cast<std::size_t>(w) * (bits / 8);
        std::vector<std::uint8_t> samples(stride * h, 255);
        std::uint32_t seed = 12345;
        for (int y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < stride / 2; ++x) {
                seed = seed * 1103515245u + 12345u;
                samples[y * stride + x] = static_cast<std::uint8_t>(seed >> 16);
            }
        }
        Raster page = Raster::FromSamples(w, h, bits, samples.data(), stride, 200);
        for (int y = 150; y < 170; ++y) page.DrawLine(200, y, 280, y, 1, true);
        // 523 and -984: angles where a float sine would put some pixels elsewhere.
        for (int hundredths : {437, -250, 523, -984, 3}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(hundredths));
            Raster ours = page;
            ours.Rotate(hundredths);
            const float radians = static_cast<float>(hundredths) / 100.0f * 3.14159265358979f / 180.0f;
            PIX* source = RasterAccess::PixOf(page);
            PIX* theirs = bits == 8 ? pixRotateAMGray(source, radians, 255) : pixRotateAMColor(source, radians, 0xffffff00);
            ASSERT_NE(theirs, nullptr);
            l_int32 same = 0;
            EXPECT_EQ(pixEqual(RasterAccess::PixOf(ours), theirs, &same), 0);
            EXPECT_EQ(same, 1);
            pixDestroy(&theirs);
        }
    }
}

// The grey and 1-bit copies are Leptonica's pixels: every one of the 16.7 million colours, and
// grey noise on rows whose width is no multiple of 32 (the last word's pixels), at the
// thresholds' ends.
TEST(RasterProcessing, GreyAndOneBitCopiesAreLeptonicasPixels) {
    auto same = [](PIX* ours, PIX* theirs) {
        l_int32 equal = 0;
        const bool ok = ours != nullptr && theirs != nullptr && pixEqual(ours, theirs, &equal) == 0 && equal == 1;
        pixDestroy(&ours);
        pixDestroy(&theirs);
        return ok;
    };
    PIX* colours = pixCreate(4096, 4096, 32);
    ASSERT_NE(colours, nullptr);
    l_uint32* data = pixGetData(colours);
    for (l_uint32 rgb = 0; rgb < (1u << 24); ++rgb) data[rgb] = rgb << 8;
    EXPECT_TRUE(same(GreyCopyOf(colours), pixConvertTo8(colours, 0)));
    EXPECT_TRUE(same(OneBitCopyOf(colours, 128), pixConvertTo1(colours, 128)));
    BOX* part = boxCreate(5, 7, 4061, 300);
    PIX* narrow = pixClipRectangle(colours, part, nullptr);
    boxDestroy(&part);
    pixDestroy(&colours);
    EXPECT_TRUE(same(OneBitCopyOf(narrow, 130), pixConvertTo1(narrow, 130)));
    pixDestroy(&narrow);

    for (int w : {1, 31, 33, 301}) {
        PIX* grey = pixCreate(w, 37, 8);
        ASSERT_NE(grey, nullptr);
        std::uint32_t seed = 99;
        for (int y = 0; y < 37; ++y) {
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245u + 12345u;
                pixSetPixel(grey, x, y, (seed >> 16) & 0xff);
            }
        }
        for (int threshold : {0, 1, 128, 200, 255}) {
            SCOPED_TRACE("width " + std::to_string(w) + ", threshold " + std::to_string(threshold));
            EXPECT_TRUE(same(OneBitCopyOf(grey, threshold), pixThresholdToBinary(grey, threshold)));
        }
        pixDestroy(&grey);
    }
}

// Once the programs' page memory is set up, a colour page's buffer asks the kernel for huge
// pages (its mapping carries the "hg" flag), and freeing it goes through the usual way.
TEST(PageMemory, ColourPagesAskForHugePages) {
    if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage")) GTEST_SKIP() << "this kernel has no huge pages";
    KeepPageBuffersForReuse();
    PIX* page = pixCreate(2480, 3508, 32);
    ASSERT_NE(page, nullptr);
    const auto at = reinterpret_cast<std::uintptr_t>(pixGetData(page)) + 8 * 1024 * 1024;
    std::ifstream smaps("/proc/self/smaps");
    std::string line, flags;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {  // a mapping's first line
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            flags = line;
        }
    }
    pixDestroy(&page);
    EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
}

// JPEG files written and read by libjpeg straight from and into the page's rows are the bytes
// Leptonica's writer makes and the pixels its reader gives, for grey and colour pages of an odd
// width, with and without a resolution; damaged data is refused, not read as a page.
TEST(JpegFiles, BytesAndPixelsAreLeptonicasAndDamageIsRefused) {
    test::TempFolder dir;
    for (int bits : {8, 24}) {
        for (int dpi : {0, 300}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(dpi) + " dpi");
            const int w = 301, h = 203;
            const std::size_t stride = static_cast<std::size_t>(w) * (bits / 8);
            std::vector<std::uint8_t> samples(stride * h);
            std::uint32_t seed = 7;
            for (std::size_t i = 0; i < samples.size(); ++i) {
                seed = seed * 1103515245u + 12345u;
                samples[i] = static_cast<std::uint8_t>(i % stride < stride / 2 ? seed >> 16 : (i / stride) % 256);
            }
            Raster page = Raster::FromSamples(w, h, bits, samples.data(), stride, dpi);
            PIX* pix = RasterAccess::PixOf(page);
            if (dpi != 0) pixSetText(pix, "scanned at the front desk");
            unsigned char* ours = nullptr;
            std::size_t ourSize = 0;
            ASSERT_TRUE(EncodeJpeg(pix, 75, &ours, &ourSize));
            l_uint8* theirs = nullptr;
            std::size_t theirSize = 0;
            ASSERT_EQ(pixWriteMemJpeg(&theirs, &theirSize, pix, 75, 0), 0);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(ours), ourSize), std::string(reinterpret_cast<char*>(theirs), theirSize));
            lept_free(theirs);
            const std::string file = dir.File("page.jpg");
            WriteBytesToFile(std::string(reinterpret_cast<char*>(ours), ourSize), file);
            std::free(ours);

            JpegReading read = ReadJpegFile(file);
            ASSERT_NE(read.pix, nullptr);
            PIX* expected = pixRead(file.c_str());
            ASSERT_NE(expected, nullptr);
            ASSERT_EQ(pixGetDepth(read.pix), pixGetDepth(expected));
            EXPECT_EQ(pixGetXRes(read.pix), pixGetXRes(expected));
            EXPECT_EQ(pixGetYRes(read.pix), dpi);
            EXPECT_STREQ(pixGetText(read.pix), pixGetText(expected));
            EXPECT_STREQ(pixGetText(read.pix), dpi != 0 ? "scanned at the front desk" : nullptr);
            const std::size_t rowBytes = bits == 8 ? static_cast<std::size_t>(w) : static_cast<std::size_t>(w) * 4;
            for (int y = 0; y < h; ++y) {
                const auto* a = pixGetData(read.pix) + static_cast<std::ptrdiff_t>(y) * pixGetWpl(read.pix);
                const auto* b = pixGetData(expected) + static_cast<std::ptrdiff_t>(y) * pixGetWpl(expected);
                if (bits == 8) {
                    for (int x = 0; x < w; ++x) ASSERT_EQ(GET_DATA_BYTE(a, x), GET_DATA_BYTE(b, x)) << x << "," << y;
                } else {
                    ASSERT_EQ(std::memcmp(a, b, rowBytes), 0) << "row " << y;
                }
            }
            pixDestroy(&expected);
            pixDestroy(&read.pix);

            // Padding after the last row, before the end marker (as some scanners leave it),
            // costs no pixel: the page is read.
            const std::string whole = ReadFileBytes(file);
            WriteBytesToFile(whole.substr(0, whole.size() - 2) + std::string(16, '\0') + whole.substr(whole.size() - 2), file);
            JpegReading padded = ReadJpegFile(file);
            EXPECT_NE(padded.pix, nullptr);
            pixDestroy(&padded.pix);
            std::string broken = whole;
            // Marker bytes in the coded data (a flipped bit elsewhere may decode to other pixels:
            // JPEG carries no checksum).
            for (std::size_t i = broken.size() / 3; i < broken.size() / 3 + 40; i += 7) broken[i] = static_cast<char>(0xff);
            for (const std::string& damaged : {whole.substr(0, whole.size() / 2), whole.substr(0, 40), broken}) {
                WriteBytesToFile(damaged, file);
                JpegReading bad = ReadJpegFile(file);
                EXPECT_EQ(bad.pix, nullptr);
                EXPECT_FALSE(bad.outOfMemory);
                EXPECT_THROW(Raster::Load(file), DorvexError);
            }
        }
    }
}
