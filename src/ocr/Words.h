#pragma once
// What a recognition engine reports for a page: words in reading order, each with its text,
// the number of the text region it belongs to and its pixel rectangles (one per character or
// piece; the first one places the word).

#include <string>
#include <vector>

namespace dorvex {

struct PixelRect {
    long Left = 0;
    long Top = 0;
    long Right = 0;
    long Bottom = 0;
};

struct OcrWord {
    std::string Text;
    long RegionId = 0;
    std::vector<PixelRect> Rects;
    // How sure the engine is of the text, 0 to 100; -1 when it does not say.
    float Confidence = -1;

    // The first rectangle; throws DorvexError when the engine gave none.
    const PixelRect& FirstRect() const;
};

}  // namespace dorvex
