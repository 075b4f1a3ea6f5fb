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

// Writes `pages` grey pages of width × height; pads the file with zero bytes up to `totalSize`
// when that is larger. Each page's pixels are filled with a value that depends on the page.
inline void WriteGrayTiff(const std::string& path, int pages, std::uint32_t width, std::uint32_t height,
                          std::size_t totalSize = 0) {
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
        struct Entry { std::uint16_t tag, type; std::uint32_t value; };
        const std::vector<Entry> entries = {
            {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
            {273, 4, dataOffset}, {277, 3, 1}, {278, 4, height}, {279, 4, width * height}};
        PutLE(out, static_cast<std::uint32_t>(entries.size()), 2);
        for (const Entry& e : entries) {
            PutLE(out, e.tag, 2);
            PutLE(out, e.type, 2);
            PutLE(out, 1, 4);
            PutLE(out, e.value, 4);
        }
        previousLink = out.size();
        PutLE(out, 0, 4);
    }
    if (out.size() < totalSize) out.append(totalSize - out.size(), '\0');
    std::ofstream(path, std::ios::binary) << out;
}

}  // namespace dorvex::test
