#pragma once
// Small 1-bit pages that say which page they are: page k carries a black bar 10·k pixels wide
// and 10 high, so its ink is 100·k pixels.

#include <string>

#include "platform/Raster.h"

namespace dorvex::test {

inline Raster NumberedPage(int k, int bits = 1) {
    Raster page = Raster::Blank(200, 120, bits, 200);
    for (int y = 10; y < 20; ++y) {
        for (int x = 10; x < 10 + 10 * k; ++x) page.SetBlack(x, y);
    }
    return page;
}

inline int PageNumberOf(const Raster& page) { return static_cast<int>((page.CountInk() + 50) / 100); }

inline int PageNumberIn(const std::string& path, int page) { return PageNumberOf(Raster::Load(path, page)); }

}  // namespace dorvex::test
