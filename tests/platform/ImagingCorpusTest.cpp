// The page-processing answers on the generated corpus: skew, blank pages and barcodes of pages
// the code has never seen (tests/corpus/make_corpus.sh).

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "control/PageProcessing.h"
#include "platform/Raster.h"

using namespace dorvex;

namespace {

struct Expected {
    std::string file;
    std::string skew;  // hundredths, or "-" when the page has no lines to measure
    bool blank = false;
    std::string barcode;
};

std::vector<Expected> Corpus() {
    const char* dir = std::getenv("DORVEX_CORPUS");
    std::vector<Expected> items;
    if (dir == nullptr) return items;
    std::ifstream in(std::string(dir) + "/expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t bar = line.find('|'); ; bar = line.find('|', start)) {
            f.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        if (f.size() == 4) items.push_back({std::string(dir) + "/" + f[0], f[1], f[2] == "1", f[3]});
    }
    return items;
}

constexpr int kSkewTolerance = 30;  // hundredths of a degree

}  // namespace

TEST(ImagingCorpus, SkewBlankAndBarcodeOfEveryPage) {
    std::vector<Expected> corpus = Corpus();
    ASSERT_GE(corpus.size(), 20u) << "set DORVEX_CORPUS to the generated corpus";
    ScanProperties settings;  // BlankPercent 0.5, all four borders
    int checked = 0;
    for (const Expected& item : corpus) {
        SCOPED_TRACE(item.file);
        Raster page = Raster::Load(item.file);
        if (item.skew != "-") {
            std::optional<int> skew = page.DetectSkew(1000, 10);
            ASSERT_TRUE(skew.has_value());
            EXPECT_NEAR(*skew, std::stoi(item.skew), kSkewTolerance);
        }
        EXPECT_EQ(IsBlankPage(page, settings), item.blank);
        EXPECT_EQ(GetFirstBarcode(page, BarcodeRegion{}), item.barcode);
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(corpus.size()));
}

TEST(ImagingCorpus, DeskewStraightensWithinTheRangeOnly) {
    std::vector<Expected> corpus = Corpus();
    ASSERT_FALSE(corpus.empty());
    std::string dir = corpus.front().file.substr(0, corpus.front().file.rfind('/'));
    ScanProperties settings;
    settings.Set(prop::Deskew, "1");
    for (const char* name : {"skew_-9.tif", "skew_4.tif", "skew_7.tif"}) {
        Raster page = Raster::Load(dir + "/" + name);
        RunCleanUpChain(page, settings, 1, settings.ComputeRestrictSize());
        std::optional<int> after = page.DetectSkew(1000, 10);
        ASSERT_TRUE(after.has_value()) << name;
        EXPECT_LE(std::abs(*after), kSkewTolerance) << name;
    }
    // A page leaning six degrees lies beyond DeskewAngle 5: it keeps its lean. DeskewAngle 10
    // straightens it and reports the skew it found.
    settings.Set(prop::DeskewAngle, "5");
    Raster steep = Raster::Load(dir + "/skew_-6.tif");
    ChainReport beyond = RunCleanUpChain(steep, settings, 1, settings.ComputeRestrictSize());
    EXPECT_NEAR(beyond.skew.value_or(0), -600, kSkewTolerance);  // found, and left alone
    EXPECT_NEAR(steep.DetectSkew(1000, 10).value_or(0), -600, kSkewTolerance);
    settings.Set(prop::DeskewAngle, "10");
    ChainReport report = RunCleanUpChain(steep, settings, 1, settings.ComputeRestrictSize());
    EXPECT_NEAR(report.skew.value_or(0), -600, kSkewTolerance);
    EXPECT_LE(std::abs(steep.DetectSkew(1000, 10).value_or(999)), kSkewTolerance);
    // DeskewAngle 0 is the automatic deskew.
    settings.Set(prop::DeskewAngle, "0");
    Raster page = Raster::Load(dir + "/skew_4.tif");
    RunCleanUpChain(page, settings, 1, settings.ComputeRestrictSize());
    EXPECT_LE(std::abs(page.DetectSkew(1000, 10).value_or(999)), kSkewTolerance);
}

TEST(ImagingCorpus, BordersAndSpecklesAreCleaned) {
    std::vector<Expected> corpus = Corpus();
    ASSERT_FALSE(corpus.empty());
    std::string dir = corpus.front().file.substr(0, corpus.front().file.rfind('/'));
    std::int64_t letterInk = Raster::Load(dir + "/letter.tif").CountInk();
    ScanProperties settings;
    settings.Set(prop::BorderRemove, "1");
    settings.Set(prop::DotRemove, "1");
    for (const char* name : {"borders.tif", "speckles.tif"}) {
        Raster page = Raster::Load(dir + "/" + name);
        RunCleanUpChain(page, settings, 1, settings.ComputeRestrictSize());
        // Within 5 % of the clean letter's ink (the renderings differ a little): the borders and
        // specks are gone, the text stays.
        EXPECT_NEAR(static_cast<double>(page.CountInk()), static_cast<double>(letterInk), letterInk * 0.05) << name;
        // The strips where the borders were are white.
        EXPECT_EQ(page.Crop({0, 0, 70, page.Height()}).CountInk(), 0) << name;
        EXPECT_EQ(page.Crop({page.Width() - 30, 0, 30, page.Height()}).CountInk(), 0) << name;
        EXPECT_EQ(page.Crop({0, page.Height() - 50, page.Width(), 50}).CountInk(), 0) << name;
    }
}

// Feeder pages leaning past three degrees, dusty: the clean-up turns them upright (by shears for
// 1-bit pages), the barcode still reads, the dust goes and no stroke is lost to the turn.
TEST(ImagingCorpus, FeederPagesComeOutStraightCleanAndReadable) {
    std::vector<Expected> corpus = Corpus();
    ASSERT_FALSE(corpus.empty());
    std::string dir = corpus.front().file.substr(0, corpus.front().file.rfind('/'));
    ScanProperties settings;
    settings.Set(prop::Deskew, "1");
    settings.Set(prop::BorderRemove, "1");
    settings.Set(prop::DotRemove, "1");
    for (const char* name : {"feeder_5.tif", "feeder_-6.tif"}) {
        SCOPED_TRACE(name);
        Raster page = Raster::Load(dir + "/" + name);
        const std::int64_t before = page.CountInk();
        ChainReport report = RunCleanUpChain(page, settings, 1, settings.ComputeRestrictSize());
        EXPECT_EQ(page.BitsPerPixel(), 1);
        EXPECT_NEAR(report.skew.value_or(0), std::string(name) == "feeder_5.tif" ? 500 : -600, kSkewTolerance);
        EXPECT_LE(std::abs(page.DetectSkew(1000, 10).value_or(999)), kSkewTolerance);
        EXPECT_EQ(GetFirstBarcode(page, BarcodeRegion{}), "1150000077");
        EXPECT_FALSE(IsBlankPage(page, settings));
        // The dust is 1,500 pixels (300 single ones, 300 squares of four). Shears move pixels
        // without making or losing any, so what the clean-up took is the dust: most of it (a
        // speck the turn spread to three pixels stays), and no more.
        const std::int64_t taken = before - page.CountInk();
        EXPECT_GT(taken, 1000);
        EXPECT_LE(taken, 1500);
    }
}
