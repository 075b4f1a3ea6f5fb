#include "platform/GreyLevels.h"

#include <leptonica/allheaders.h>

#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dorvex {
namespace {

bool IsPlain(Pix* pix, bool greyToo) {
    const l_int32 depth = pixGetDepth(pix);
    return (depth == 32 || (greyToo && depth == 8)) && pixGetColormap(pix) == nullptr && pixGetWidth(pix) > 0 && pixGetHeight(pix) > 0;
}

// Leptonica keeps the first of a word's four bytes in its highest bits: in memory on this
// little-endian machine, each word's bytes are reversed.
inline l_uint32 SwapBytes(l_uint32 word) { return __builtin_bswap32(word); }

// The luminance as Leptonica sums it: float products in this order, no fused multiply-add.
inline float Luminance(l_uint32 word) {
    return L_RED_WEIGHT * static_cast<float>((word >> L_RED_SHIFT) & 0xff) +
           L_GREEN_WEIGHT * static_cast<float>((word >> L_GREEN_SHIFT) & 0xff) +
           L_BLUE_WEIGHT * static_cast<float>((word >> L_BLUE_SHIFT) & 0xff);
}

// One row of colour words as grey bytes, vectorised by the compiler (eight lanes where the
// processor has AVX2). Leptonica adds the half in double; in float the sum truncates to the
// same integer, as it stays below 256.5.
__attribute__((target_clones("avx2", "default"))) void GreyRow(const l_uint32* words, std::uint8_t* grey, l_int32 w) {
    for (l_int32 j = 0; j < w; ++j) grey[j] = static_cast<std::uint8_t>(static_cast<l_int32>(Luminance(words[j]) + 0.5f));
}

// The pixels of a 1-bit row, most significant bit first, for the grey bytes below `threshold`.
// Bits past the width are left clear.
void PackBelow(const std::uint8_t* grey, l_int32 w, int threshold, l_uint32* line) {
    l_int32 j = 0;
    l_int32 word = 0;
#if defined(__SSE2__)
    // Unsigned bytes compared as signed ones with their top bit flipped.
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i limit = _mm_set1_epi8(static_cast<char>((threshold ^ 0x80) & 0xff));
    for (; j + 32 <= w; j += 32, ++word) {
        const __m128i a = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + j)), flip);
        const __m128i b = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + j + 16)), flip);
        std::uint32_t bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(a, limit))) |
                             static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(b, limit))) << 16;
        // movemask puts the first pixel in the lowest bit; Leptonica wants it in the highest.
        bits = ((bits >> 1) & 0x55555555u) | ((bits & 0x55555555u) << 1);
        bits = ((bits >> 2) & 0x33333333u) | ((bits & 0x33333333u) << 2);
        bits = ((bits >> 4) & 0x0f0f0f0fu) | ((bits & 0x0f0f0f0fu) << 4);
        line[word] = __builtin_bswap32(bits);
    }
#endif
    for (; j < w; j += 32, ++word) {
        l_uint32 bits = 0;
        for (l_int32 k = 0; k < 32 && j + k < w; ++k) {
            if (grey[j + k] < threshold) bits |= 0x80000000u >> k;
        }
        line[word] = bits;
    }
}

}  // namespace

Pix* GreyCopyOf(Pix* pix) {
    if (!IsPlain(pix, false)) return nullptr;
    const l_int32 w = pixGetWidth(pix), h = pixGetHeight(pix);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) + 4);  // before the page: it may throw
    PIX* out = pixCreateNoInit(w, h, 8);
    if (out == nullptr) return nullptr;
    pixCopyResolution(out, pix);
    pixCopyInputFormat(out, pix);
    const l_int32 wpls = pixGetWpl(pix), wpld = pixGetWpl(out);
    const l_uint32* src = pixGetData(pix);
    l_uint32* dst = pixGetData(out);
    for (l_int32 i = 0; i < h; ++i) {
        GreyRow(src + static_cast<std::ptrdiff_t>(i) * wpls, row.data(), w);
        l_uint32* line = dst + static_cast<std::ptrdiff_t>(i) * wpld;
        for (l_int32 k = 0; k < wpld; ++k) {
            l_uint32 word = 0;
            std::memcpy(&word, row.data() + static_cast<std::ptrdiff_t>(k) * 4, 4);
            line[k] = SwapBytes(word);
        }
    }
    return out;
}

Pix* OneBitCopyOf(Pix* pix, int threshold) {
    if (!IsPlain(pix, true) || threshold < 0 || threshold > 255) return nullptr;
    const l_int32 w = pixGetWidth(pix), h = pixGetHeight(pix);
    const l_int32 wpls = pixGetWpl(pix);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(wpls) * 4 + 32);  // before the page: it may throw
    PIX* out = pixCreateNoInit(w, h, 1);
    if (out == nullptr) return nullptr;
    pixCopyResolution(out, pix);
    pixCopyInputFormat(out, pix);
    const l_int32 wpld = pixGetWpl(out);
    const l_uint32* src = pixGetData(pix);
    l_uint32* dst = pixGetData(out);
    const bool colour = pixGetDepth(pix) == 32;
    for (l_int32 i = 0; i < h; ++i) {
        const l_uint32* words = src + static_cast<std::ptrdiff_t>(i) * wpls;
        if (colour) {
            GreyRow(words, row.data(), w);
        } else {
            for (l_int32 k = 0; k < wpls; ++k) {
                const l_uint32 word = SwapBytes(words[k]);
                std::memcpy(row.data() + static_cast<std::ptrdiff_t>(k) * 4, &word, 4);
            }
        }
        PackBelow(row.data(), w, threshold, dst + static_cast<std::ptrdiff_t>(i) * wpld);
    }
    return out;
}

}  // namespace dorvex
