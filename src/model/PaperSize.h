#pragma once
// Paper-size codes (the scanner standard's supported-sizes values 0..53, plus 54 for A4
// landscape) and their texts.

#include <cstdint>
#include <optional>
#include <string>

namespace dorvex {

class CPSize {
public:
    static constexpr int kCount = 55;
    // The text of a code; "無法辨識的紙張大小" outside 0..54.
    std::string GetPaperDescription(std::int32_t code) const;
    // The first code whose text equals `text` exactly; 0 when none does.
    std::int32_t GetPaperLong(const std::string& text) const;
};

struct PaperMillimetres {
    double width = 0;
    double height = 0;
};
// The size of a paper code in portrait orientation (54, A4 landscape, is 297 × 210); nullopt
// for codes without a fixed size (0 "NONE", 8, the US statement).
std::optional<PaperMillimetres> PaperSizeOf(std::int32_t code);

}  // namespace dorvex
