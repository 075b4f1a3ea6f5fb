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
    char group[4];
    int filled = 0;
    for (char c : text) {
        if (c != '=' && kDecode[static_cast<unsigned char>(c)] < 0) continue;
        group[filled++] = c;
        if (filled < 4) continue;
        filled = 0;
        auto value = [](char ch) -> std::uint32_t {
            return ch == '=' ? 0u : static_cast<std::uint32_t>(kDecode[static_cast<unsigned char>(ch)]);
        };
        std::uint32_t v = (value(group[0]) << 18) | (value(group[1]) << 12) | (value(group[2]) << 6) | value(group[3]);
        out.push_back(static_cast<char>((v >> 16) & 0xFF));
        if (group[2] != '=') out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (group[2] != '=' && group[3] != '=') out.push_back(static_cast<char>(v & 0xFF));
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
