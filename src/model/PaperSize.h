#pragma once
// Paper-size codes (the scanner standard's supported-sizes values 0..53, plus 54 for A4
// landscape) and their texts.

#include <cstdint>
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

}  // namespace dorvex
