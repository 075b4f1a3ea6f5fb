#include "platform/Pcx.h"

#include <cstdint>

#include "platform/Raster.h"
#include "support/Error.h"

namespace dorvex {
namespace {

void Put16(std::string& out, std::size_t at, int value) {
    out[at] = static_cast<char>(value & 0xff);
    out[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

// One plane's line: runs of up to 63 equal bytes, a byte of 0xC0 or more always as a run.
void EncodeLine(std::string& out, const std::uint8_t* line, int length) {
    for (int i = 0; i < length;) {
        int run = 1;
        while (i + run < length && run < 63 && line[i + run] == line[i]) ++run;
        if (run > 1 || line[i] >= 0xC0) out.push_back(static_cast<char>(0xC0 | run));
        out.push_back(static_cast<char>(line[i]));
        i += run;
    }
}

}  // namespace

std::string EncodePcx(const Raster& page) {
    if (page.Empty()) throw DorvexError(err::InvalidArgument, "there is no image to save");
    const int width = page.Width();
    const int height = page.Height();
    if (width > 65535 || height > 65535) throw DorvexError(err::InvalidArgument, "the page is too large for PCX");
    const Raster::DisplaySamples samples = page.ToDisplaySamples();
    const bool mono = page.BitsPerPixel() == 1;
    const int planes = samples.channels;  // 1 grey or mono, 3 colour
    const int bits = mono ? 1 : 8;
    int bytesPerLine = mono ? (width + 7) / 8 : width;
    bytesPerLine += bytesPerLine % 2;  // lines hold an even number of bytes

    std::string out(128, '\0');
    out[0] = 10;  // ZSoft
    out[1] = 5;   // version 3.0 and later
    out[2] = 1;   // run-length encoding
    out[3] = static_cast<char>(bits);
    Put16(out, 8, width - 1);
    Put16(out, 10, height - 1);
    Put16(out, 12, page.XDpi());
    Put16(out, 14, page.YDpi());
    // The 16-colour palette: black, then white (what a 1-bit page's two values mean).
    for (int i = 19; i < 22; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(0xff);
    out[65] = static_cast<char>(planes);
    Put16(out, 66, bytesPerLine);
    Put16(out, 68, mono || planes == 3 ? 1 : 2);  // colour or monochrome, or grey
    out.reserve(128 + static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerLine * planes) / 2);

    std::vector<std::uint8_t> line(static_cast<std::size_t>(bytesPerLine));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = samples.data.data() + static_cast<std::size_t>(y) * width * planes;
        for (int plane = 0; plane < planes; ++plane) {
            std::fill(line.begin(), line.end(), 0);
            if (mono) {
                for (int x = 0; x < width; ++x) {
                    if (row[x] != 0) line[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                }
            } else {
                for (int x = 0; x < width; ++x) line[static_cast<std::size_t>(x)] = row[x * planes + plane];
            }
            EncodeLine(out, line.data(), bytesPerLine);
        }
    }
    if (!mono && planes == 1) {  // the grey palette after the pixels
        out.push_back(12);
        for (int i = 0; i < 256; ++i) out.append(3, static_cast<char>(i));
    }
    return out;
}

}  // namespace dorvex
