#pragma once
// The LZW coding of TIFF strips (codes of 9 to 12 bits, most significant bit first, a clear
// code opening each strip and whenever the table fills, the early change of code width that
// libtiff reads).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace dorvex::tiff_file {

class LzwEncoder {
public:
    LzwEncoder();
    ~LzwEncoder();
    // One strip's bytes, coded. Throws std::bad_alloc when out of memory.
    std::vector<std::uint8_t> Encode(const std::uint8_t* data, std::size_t size);

private:
    struct Table;
    std::unique_ptr<Table> mTable;
};

}  // namespace dorvex::tiff_file
