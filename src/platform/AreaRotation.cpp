#include "platform/AreaRotation.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

namespace dorvex {
namespace {

// Where each pixel of a row comes from, in sixteenths: the arithmetic (sine and cosine in double,
// float products, the order of the sums, truncation) is Leptonica's, so that every pixel lands
// in the same place. (sinf rounds differently at some angles: 5.23 degrees is one.)
struct Sources {
    std::vector<float> colCos, colSin;  // per column: -(xcen - j) * cos16, (xcen - j) * sin16
    std::vector<l_int32> xpm, ypm;      // per pixel of the current row
    float sin16, cos16;
    l_int32 xcen, ycen;

    Sources(l_int32 w, l_int32 h, float radians)
        : colCos(static_cast<std::size_t>(w)), colSin(static_cast<std::size_t>(w)), xpm(static_cast<std::size_t>(w)),
          ypm(static_cast<std::size_t>(w)), sin16(static_cast<float>(16. * std::sin(static_cast<double>(radians)))),
          cos16(static_cast<float>(16. * std::cos(static_cast<double>(radians)))), xcen(w / 2), ycen(h / 2) {
        for (l_int32 j = 0; j < w; ++j) {
            const l_int32 xdif = xcen - j;
            colCos[static_cast<std::size_t>(j)] = static_cast<float>(-xdif) * cos16;
            colSin[static_cast<std::size_t>(j)] = static_cast<float>(xdif) * sin16;
        }
    }

    void Row(l_int32 i) {
        const l_int32 ydif = ycen - i;
        const float rowSin = static_cast<float>(ydif) * sin16;
        const float rowCos = static_cast<float>(-ydif) * cos16;
        const std::size_t w = colCos.size();
        const float* cc = colCos.data();
        const float* cs = colSin.data();
        l_int32* xs = xpm.data();
        l_int32* ys = ypm.data();
        for (std::size_t j = 0; j < w; ++j) {  // vectorised by the compiler
            xs[j] = static_cast<l_int32>(cc[j] - rowSin);
            ys[j] = static_cast<l_int32>(rowCos + cs[j]);
        }
    }
};

// Where a page has ink, in blocks of 16 pixels of a row: a stretch of the new row whose sources
// all fall on white blocks is white, without weighing its pixels one by one. Most of a letter
// is white paper.
constexpr l_int32 kSpan = 16;

struct InkBlocks {
    l_int32 w, h, blocks;
    std::vector<std::uint8_t> inked;  // per row, per block: 1 where a pixel is not white

    InkBlocks(PIX* pix) : w(pixGetWidth(pix)), h(pixGetHeight(pix)), blocks((w + kSpan - 1) / kSpan),
                          inked(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(h)) {
        const bool colour = pixGetDepth(pix) == 32;
        const l_int32 wpl = pixGetWpl(pix);
        const l_int32 perBlock = colour ? kSpan : kSpan / 4;  // words of a block
        const l_uint32 mask = colour ? 0xffffff00u : 0xffffffffu;
        for (l_int32 i = 0; i < h; ++i) {
            const l_uint32* line = pixGetData(pix) + static_cast<std::ptrdiff_t>(i) * wpl;
            for (l_int32 b = 0; b < blocks; ++b) {
                const l_int32 from = b * perBlock, to = std::min(from + perBlock, wpl);
                l_uint32 all = mask;
                for (l_int32 k = from; k < to; ++k) all &= line[k];  // (pad bytes count as ink)
                inked[static_cast<std::size_t>(i) * static_cast<std::size_t>(blocks) + static_cast<std::size_t>(b)] = (all & mask) != mask;
            }
        }
    }

    // True when columns x0..x1 of rows y0..y1 (inclusive, clamped to the page) are white.
    bool White(l_int32 x0, l_int32 x1, l_int32 y0, l_int32 y1) const {
        x0 = std::clamp(x0, 0, w - 1), x1 = std::clamp(x1, 0, w - 1);
        y0 = std::clamp(y0, 0, h - 1), y1 = std::clamp(y1, 0, h - 1);
        for (l_int32 y = y0; y <= y1; ++y) {
            const std::uint8_t* row = inked.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(blocks);
            for (l_int32 b = x0 / kSpan; b <= x1 / kSpan; ++b) {
                if (row[b] != 0) return false;
            }
        }
        return true;
    }

    // Whether every source pixel of new pixels j0..j1 of the current row is white. The source
    // positions move steadily along a row, so the ends of the stretch bound them.
    bool StretchIsWhite(const Sources& at, l_int32 j0, l_int32 j1) const {
        const l_int32 xa = at.xcen + (at.xpm[static_cast<std::size_t>(j0)] >> 4), xb = at.xcen + (at.xpm[static_cast<std::size_t>(j1)] >> 4);
        const l_int32 ya = at.ycen + (at.ypm[static_cast<std::size_t>(j0)] >> 4), yb = at.ycen + (at.ypm[static_cast<std::size_t>(j1)] >> 4);
        return White(std::min(xa, xb), std::max(xa, xb) + 1, std::min(ya, yb), std::max(ya, yb) + 1);
    }
};

inline l_uint32 Weigh(l_uint32 v00, l_uint32 v10, l_uint32 v01, l_uint32 v11, l_int32 xf, l_int32 yf) {
    return (static_cast<l_uint32>((16 - xf) * (16 - yf)) * v00 + static_cast<l_uint32>(xf * (16 - yf)) * v10 +
            static_cast<l_uint32>((16 - xf) * yf) * v01 + static_cast<l_uint32>(xf * yf) * v11 + 128) /
           256;
}

void RotateGrey(PIX* src, PIX* dst, float radians) {
    const l_int32 w = pixGetWidth(src), h = pixGetHeight(src);
    const l_int32 wpls = pixGetWpl(src), wpld = pixGetWpl(dst);
    const l_uint32* datas = pixGetData(src);
    l_uint32* datad = pixGetData(dst);
    Sources at(w, h, radians);
    const InkBlocks ink(src);
    const l_int32 wm2 = w - 2, hm2 = h - 2;
    for (l_int32 i = 0; i < h; ++i) {
        at.Row(i);
        l_uint32* lined = datad + static_cast<std::ptrdiff_t>(i) * wpld;
        for (l_int32 j = 0; j < w; ++j) {
            if (j % kSpan == 0 && ink.StretchIsWhite(at, j, std::min(j + kSpan, w) - 1)) {
                const l_int32 end = std::min(j + kSpan, w);
                for (l_int32 k = j; k < end; ++k) SET_DATA_BYTE(lined, k, 255);
                j = end - 1;
                continue;
            }
            const l_int32 xpm = at.xpm[static_cast<std::size_t>(j)], ypm = at.ypm[static_cast<std::size_t>(j)];
            const l_int32 xp = at.xcen + (xpm >> 4), yp = at.ycen + (ypm >> 4);
            if (xp < 0 || yp < 0 || xp > wm2 || yp > hm2) {
                SET_DATA_BYTE(lined, j, 255);
                continue;
            }
            const l_uint32* lines = datas + static_cast<std::ptrdiff_t>(yp) * wpls;
            const l_uint32 v00 = GET_DATA_BYTE(lines, xp), v10 = GET_DATA_BYTE(lines, xp + 1);
            const l_uint32 v01 = GET_DATA_BYTE(lines + wpls, xp), v11 = GET_DATA_BYTE(lines + wpls, xp + 1);
            // Four whites make white whatever the weights (most of a letter).
            const l_uint32 val = (v00 & v10 & v01 & v11) == 255 ? 255 : Weigh(v00, v10, v01, v11, xpm & 15, ypm & 15);
            SET_DATA_BYTE(lined, j, val);
        }
    }
}

void RotateColour(PIX* src, PIX* dst, float radians) {
    const l_int32 w = pixGetWidth(src), h = pixGetHeight(src);
    const l_int32 wpls = pixGetWpl(src), wpld = pixGetWpl(dst);
    const l_uint32* datas = pixGetData(src);
    l_uint32* datad = pixGetData(dst);
    Sources at(w, h, radians);
    const InkBlocks ink(src);
    const l_int32 wm2 = w - 2, hm2 = h - 2;
    constexpr l_uint32 kWhite = 0xffffff00;
    for (l_int32 i = 0; i < h; ++i) {
        at.Row(i);
        l_uint32* lined = datad + static_cast<std::ptrdiff_t>(i) * wpld;
        for (l_int32 j = 0; j < w; ++j) {
            if (j % kSpan == 0 && ink.StretchIsWhite(at, j, std::min(j + kSpan, w) - 1)) {
                const l_int32 end = std::min(j + kSpan, w);
                std::fill(lined + j, lined + end, kWhite);
                j = end - 1;
                continue;
            }
            const l_int32 xpm = at.xpm[static_cast<std::size_t>(j)], ypm = at.ypm[static_cast<std::size_t>(j)];
            const l_int32 xp = at.xcen + (xpm >> 4), yp = at.ycen + (ypm >> 4);
            if (xp < 0 || yp < 0 || xp > wm2 || yp > hm2) {
                lined[j] = kWhite;
                continue;
            }
            const l_uint32* lines = datas + static_cast<std::ptrdiff_t>(yp) * wpls + xp;
            const l_uint32 w00 = lines[0], w10 = lines[1], w01 = lines[wpls], w11 = lines[wpls + 1];
            if ((w00 & w10 & w01 & w11 & kWhite) == kWhite) {
                lined[j] = kWhite;
                continue;
            }
            const l_int32 xf = xpm & 15, yf = ypm & 15;
            auto channel = [&](int shift) {
                return Weigh((w00 >> shift) & 0xff, (w10 >> shift) & 0xff, (w01 >> shift) & 0xff, (w11 >> shift) & 0xff, xf, yf)
                       << shift;
            };
            lined[j] = channel(L_RED_SHIFT) | channel(L_GREEN_SHIFT) | channel(L_BLUE_SHIFT);
        }
    }
}

}  // namespace

Pix* RotateByAreaMap(Pix* pix, float radians) {
    const l_int32 depth = pixGetDepth(pix);
    if ((depth != 8 && depth != 32) || pixGetColormap(pix) != nullptr || (depth == 32 && pixGetSpp(pix) == 4)) return nullptr;
    if (pixGetWidth(pix) < 2 || pixGetHeight(pix) < 2) return nullptr;
    if (std::fabs(radians) < 0.001f) return pixClone(pix);  // as Leptonica: under 0.06 degrees, no turn
    // Every pixel is written, so the new page need not be cleared first.
    PIX* out = pixCreateTemplateNoInit(pix);
    if (out == nullptr) return nullptr;
    try {
        if (depth == 8) RotateGrey(pix, out, radians);
        else RotateColour(pix, out, radians);
    } catch (const std::bad_alloc&) {  // the row positions or the ink map
        pixDestroy(&out);
        return nullptr;
    }
    return out;
}

}  // namespace dorvex
