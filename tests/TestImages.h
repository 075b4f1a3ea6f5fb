#pragma once
// Small real image files made on the spot: uncompressed grey TIFF pages written byte by byte
// (optionally padded to an exact file size), for tests that need readable images.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace dorvex::test {

inline void PutLE(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One TIFF directory entry with a single value.
struct TiffEntry {
    std::uint16_t tag, type;
    std::uint32_t value;
};

// A directory's entry count and entries (its link to the next one is the caller's).
inline void PutTiffEntries(std::string& out, const std::vector<TiffEntry>& entries) {
    PutLE(out, static_cast<std::uint32_t>(entries.size()), 2);
    for (const TiffEntry& e : entries) {
        PutLE(out, e.tag, 2);
        PutLE(out, e.type, 2);
        PutLE(out, 1, 4);
        PutLE(out, e.value, 4);
    }
}

// Writes `pages` grey pages of width × height; pads the file with zero bytes up to `totalSize`
// when that is larger. Each page's pixels are filled with a value that depends on the page.
// Page `brokenPage` (1-based; 0 for none) points at pixel data past the end of the file.
inline void WriteGrayTiff(const std::string& path, int pages, std::uint32_t width, std::uint32_t height,
                          std::size_t totalSize = 0, int brokenPage = 0) {
    std::string out = "II";
    PutLE(out, 42, 2);
    std::size_t firstIfdField = out.size();
    PutLE(out, 0, 4);
    std::size_t previousLink = firstIfdField;
    for (int page = 0; page < pages; ++page) {
        std::uint32_t dataOffset = static_cast<std::uint32_t>(out.size());
        out.append(static_cast<std::size_t>(width) * height, static_cast<char>(0x40 + page * 16));
        if (out.size() % 2) out.push_back('\0');
        std::uint32_t ifdOffset = static_cast<std::uint32_t>(out.size());
        for (int i = 0; i < 4; ++i) out[previousLink + static_cast<std::size_t>(i)] = static_cast<char>((ifdOffset >> (8 * i)) & 0xFF);
        const std::vector<TiffEntry> entries = {
            {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
            {273, 4, page + 1 == brokenPage ? 0x7FFFFF00u : dataOffset}, {277, 3, 1}, {278, 4, height}, {279, 4, width * height}};
        PutTiffEntries(out, entries);
        previousLink = out.size();
        PutLE(out, 0, 4);
    }
    if (out.size() < totalSize) out.append(totalSize - out.size(), '\0');
    std::ofstream(path, std::ios::binary) << out;
}

// A one-page 8-bit grey TIFF of any size, all white, PackBits-compressed (64 bytes a row of
// 4096 pixels): a page far over the decoding budget in a small file. `width` is a multiple of
// 128.
inline void WriteLargeWhiteTiff(const std::string& path, std::uint32_t width, std::uint32_t height) {
    std::string row;
    for (std::uint32_t x = 0; x < width; x += 128) row += "\x81\xff";  // 128 times 0xff
    std::string out = "II";
    PutLE(out, 42, 2);
    PutLE(out, 8, 4);
    const std::uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
    const std::vector<TiffEntry> entries = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 32773}, {262, 3, 1},
                                        {273, 4, dataOffset}, {277, 3, 1}, {278, 4, height},
                                        {279, 4, static_cast<std::uint32_t>(row.size()) * height}};
    PutTiffEntries(out, entries);
    PutLE(out, 0, 4);
    std::ofstream file(path, std::ios::binary);
    file << out;
    for (std::uint32_t y = 0; y < height; ++y) file << row;
}

// A one-page uncompressed CMYK TIFF of 16 bits per ink (as ImageMagick writes it by default):
// the left third cyan, the middle white, the right black.
inline void WriteCmykTiff(const std::string& path, std::uint32_t width, std::uint32_t height) {
    std::string out = "II";
    PutLE(out, 42, 2);
    PutLE(out, 8, 4);
    std::uint16_t count = 11;
    std::uint32_t ifdSize = 2 + count * 12u + 4;
    std::uint32_t bitsAt = 8 + ifdSize;
    std::uint32_t dataAt = bitsAt + 8;
    auto ink = [&out](bool on) { PutLE(out, on ? 0xFFFF : 0, 2); };
    PutLE(out, count, 2);
    struct Entry { std::uint16_t tag, type; std::uint32_t count, value; };
    const std::vector<Entry> entries = {
        {256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 4, bitsAt}, {259, 3, 1, 1}, {262, 3, 1, 5},
        {273, 4, 1, dataAt}, {277, 3, 1, 4}, {278, 4, 1, height}, {279, 4, 1, width * height * 8}, {284, 3, 1, 1},
        {332, 3, 1, 1}};
    for (const Entry& e : entries) {
        PutLE(out, e.tag, 2);
        PutLE(out, e.type, 2);
        PutLE(out, e.count, 4);
        PutLE(out, e.value, 4);
    }
    PutLE(out, 0, 4);
    for (int i = 0; i < 4; ++i) PutLE(out, 16, 2);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            bool cyan = x < width / 3;
            bool black = x >= 2 * width / 3;
            ink(cyan);   // C
            ink(false);  // M
            ink(false);  // Y
            ink(black);  // K
        }
    }
    std::ofstream(path, std::ios::binary) << out;
}

}  // namespace dorvex::test
