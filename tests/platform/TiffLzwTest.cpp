// Our LZW coder against libtiff's reader: whatever the bytes, a strip reads back as it was.

#include "platform/TiffLzw.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "platform/Raster.h"

using namespace dorvex;

namespace {

// Writes `strips` as the strips of a one-row-per-strip-set 8-bit TIFF `width` wide, coded by us,
// and reads each back with libtiff.
std::vector<std::vector<std::uint8_t>> RoundTrip(const std::string& path, int width, const std::vector<std::vector<std::uint8_t>>& strips) {
    const int rowsPerStrip = static_cast<int>(strips.front().size()) / width;
    int height = 0;
    for (const auto& strip : strips) height += static_cast<int>(strip.size()) / width;
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    tiff_file::LzwEncoder encoder;  // one coder for every strip, as a page is written
    for (std::size_t s = 0; s < strips.size(); ++s) {
        std::vector<std::uint8_t> coded = encoder.Encode(strips[s].data(), strips[s].size());
        EXPECT_GE(TIFFWriteRawStrip(tiff, static_cast<uint32_t>(s), coded.data(), static_cast<tmsize_t>(coded.size())), 0);
    }
    TIFFClose(tiff);
    std::vector<std::vector<std::uint8_t>> back;
    tiff = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(tiff, nullptr);
    for (std::size_t s = 0; s < strips.size(); ++s) {
        std::vector<std::uint8_t> strip(strips[s].size() + 16, 0xAB);
        tmsize_t got = TIFFReadEncodedStrip(tiff, static_cast<uint32_t>(s), strip.data(), static_cast<tmsize_t>(strips[s].size()));
        EXPECT_EQ(got, static_cast<tmsize_t>(strips[s].size())) << "strip " << s;
        strip.resize(strips[s].size());
        back.push_back(strip);
    }
    TIFFClose(tiff);
    return back;
}

}  // namespace

TEST(TiffLzw, EveryKindOfStripReadsBackAsItWas) {
    test::TempFolder dir;
    std::uint32_t seed = 7;
    auto random = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(seed >> 16);
    };
    const int width = 257;
    struct Case {
        const char* what;
        std::function<std::uint8_t(std::size_t)> byte;
    };
    const std::vector<Case> cases = {
        // noise fills the table again and again: every code width, every clear
        {"noise", [&](std::size_t) { return random(); }},
        // one run: the run chain grows until the table fills
        {"white paper", [](std::size_t) { return std::uint8_t{255}; }},
        {"text on paper", [&](std::size_t i) { return (i % 97 < 3 || random() % 40 == 0) ? random() : std::uint8_t{255}; }},
        {"runs of every value", [](std::size_t i) { return static_cast<std::uint8_t>((i / 300) % 256); }},
        {"two values", [&](std::size_t) { return static_cast<std::uint8_t>(random() % 2); }},
        {"a rising ramp", [](std::size_t i) { return static_cast<std::uint8_t>(i % 256); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::vector<std::uint8_t>> strips;
        std::size_t at = 0;
        for (int s = 0; s < 4; ++s) {
            std::vector<std::uint8_t> strip(static_cast<std::size_t>(width) * 120);
            for (auto& b : strip) b = c.byte(at++);
            strips.push_back(strip);
        }
        strips.push_back(std::vector<std::uint8_t>(static_cast<std::size_t>(width), 0));  // a short last strip
        EXPECT_TRUE(RoundTrip(dir.File("strips.tif"), width, strips) == strips);
    }
    // A strip of one byte; and 8 MiB of white, a run long enough that its chain alone fills the
    // table (3,836 codes hold runs up to 7.4 million bytes).
    EXPECT_TRUE(RoundTrip(dir.File("one.tif"), 1, {{42}}) == (std::vector<std::vector<std::uint8_t>>{{42}}));
    const std::vector<std::vector<std::uint8_t>> white = {std::vector<std::uint8_t>(4096u * 2048u, 255)};
    EXPECT_TRUE(RoundTrip(dir.File("white.tif"), 4096, white) == white);
}

TEST(TiffLzw, GreyAndColourPagesSavedAsLzwLoadAsTheyWere) {
    test::TempFolder dir;
    for (int bits : {8, 24}) {
        SCOPED_TRACE(bits);
        Raster page = Raster::Blank(1203, 907, bits, 300);
        for (int y = 0; y < page.Height(); y += 9) page.DrawLine(0, y, page.Width() - 1, (y * 7) % page.Height(), 2, true);
        const std::string path = dir.File("page" + std::to_string(bits) + ".tif");
        page.Save(path, fileformat::TiffLzw);
        page.Save(path, fileformat::TiffLzw, 2, SaveMode::Append);
        EXPECT_EQ(ReadImageInfo(path).format, fileformat::TiffLzw);
        for (int p : {1, 2}) {
            Raster back = Raster::Load(path, p);
            EXPECT_EQ(back.BitsPerPixel(), bits);
            EXPECT_EQ(back.ToDisplaySamples().data, page.ToDisplaySamples().data) << "page " << p;
        }
    }
}
