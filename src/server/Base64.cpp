#include "server/Base64.h"

#include <array>
#include <cstdint>

namespace dorvex {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto kDecode = MakeDecodeTable();

}  // namespace

void Base64EncodeTo(std::string_view bytes, std::string& out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::size_t start = out.size();
    out.resize(start + (n + 2) / 3 * 4);
    char* o = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        std::uint32_t v = (static_cast<std::uint32_t>(in[i]) << 16) | (static_cast<std::uint32_t>(in[i + 1]) << 8) | in[i + 2];
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16;
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (n - i == 2) {
        std::uint32_t v = (static_cast<std::uint32_t>(in[i]) << 16) | (static_cast<std::uint32_t>(in[i + 1]) << 8);
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    }
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    Base64EncodeTo(bytes, out);
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;  // the group's values so far, '=' counting as 0
    int filled = 0;
    int padAt = 4;  // position of the first '=' in the group
    for (char c : text) {
        std::int8_t value = kDecode[static_cast<unsigned char>(c)];
        if (value < 0) {
            if (c != '=') continue;
            if (padAt == 4) padAt = filled;
            value = 0;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++filled < 4) continue;
        // A "=" third drops the second and third bytes; a "=" fourth drops the third.
        out.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (padAt > 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (padAt > 3) out.push_back(static_cast<char>(bits & 0xFF));
        bits = 0;
        filled = 0;
        padAt = 4;
    }
    return out;
}

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int filled = 0;
    int padding = 0;
    for (char c : text) {
        std::int8_t value = kDecode[static_cast<unsigned char>(c)];
        if (value >= 0) {
            if (padding > 0) return std::nullopt;  // data after padding
            bits = (bits << 6) | static_cast<std::uint32_t>(value);
            if (++filled == 4) {
                out.push_back(static_cast<char>(bits >> 16));
                out.push_back(static_cast<char>(bits >> 8));
                out.push_back(static_cast<char>(bits));
                bits = 0;
                filled = 0;
            }
        } else if (c == '=') {
            if (filled < 2 || filled + ++padding > 4) return std::nullopt;
        } else if (c != ' ' && c != '\r' && c != '\n' && c != '\t') {
            return std::nullopt;
        }
    }
    if (padding > 0) {
        if (filled + padding != 4) return std::nullopt;
        bits <<= 6 * padding;
        out.push_back(static_cast<char>(bits >> 16));
        if (filled == 3) out.push_back(static_cast<char>(bits >> 8));
    } else if (filled != 0) {
        return std::nullopt;
    }
    return out;
}

bool IsStrictBase64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '=') {
            std::size_t fromEnd = text.size() - i;
            if (fromEnd > 2) return false;
            if (fromEnd == 2 && text[i + 1] != '=') return false;
        } else if (kDecode[static_cast<unsigned char>(c)] < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace dorvex
