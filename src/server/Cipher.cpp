#include "server/Cipher.h"

#include <algorithm>

#include "server/Base64.h"
#include "server/Md5.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/Random.h"

namespace dorvex {
namespace {

constexpr std::size_t kChainLimit = 512;

std::string MaskOf(const std::string& chain) {
    return HexToBytes(MD5Hex(chain, static_cast<std::int64_t>(chain.size())));
}

// Kc' = XorBytes(SubBytes(ConcatBytes(block, Kc), 0, 512), K)
std::string NextChain(std::string_view block, const std::string& chain, std::string_view key) {
    std::string joined = std::string(block) + chain;
    joined.resize(std::min(joined.size(), kChainLimit));
    return XorBytes(joined, key);
}

std::string FirstChain(std::string_view key, std::string_view iv) {
    std::string chain = XorBytes(key, iv);
    chain.resize(std::min(chain.size(), kChainLimit));
    return chain;
}

}  // namespace

std::string XorBytes(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
    return out;
}

std::string HexToBytes(std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 0;
    };
    std::string out(hex.size() / 2, '\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char>((nibble(hex[2 * i]) << 4) | nibble(hex[2 * i + 1]));
    }
    return out;
}

std::string CleanPlainBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        if (c != '\x00' && c != '\x0D') out.push_back(c);
    }
    if (!out.empty() && out.back() == '\x13') out.pop_back();
    return out;
}

std::string Encrypt(std::string_view plainBytes, std::string_view key, int blockSize) {
    const auto bs = static_cast<std::size_t>(blockSize);
    std::string plain(plainBytes);
    if (plain.size() % bs != 0) plain.resize((plain.size() / bs + 1) * bs, '\0');
    // The random prefix comes from the operating system: every call differs, even two calls
    // within one clock tick.
    std::string iv = SystemRandomBytes(bs);
    std::string out = iv;
    std::string chain = FirstChain(key, iv);
    for (std::size_t i = 0; i < plain.size(); i += bs) {
        std::string_view block = std::string_view(plain).substr(i, bs);
        std::string enciphered = XorBytes(block, MaskOf(chain));
        out += enciphered;
        chain = NextChain(enciphered, chain, key);
    }
    return Base64Encode(out);
}

std::string Decrypt(std::string_view cipherText, std::string_view key, int blockSize) {
    const auto bs = static_cast<std::size_t>(blockSize);
    std::string bytes = Base64Decode(cipherText);
    std::string iv = bytes.substr(0, std::min(bs, bytes.size()));
    std::string chain = FirstChain(key, iv);
    std::string out(1, '\0');
    for (std::size_t p = bs; p < bytes.size(); p += bs) {
        std::string_view block = std::string_view(bytes).substr(p, bs);
        out += XorBytes(block, MaskOf(chain));
        chain = NextChain(block, chain, key);
    }
    std::string clean = CleanPlainBytes(out);
    if (clean.empty()) throw DorvexError(err::SubscriptOutOfRange, "Subscript out of range: the cipher text holds no text");
    return clean;
}

std::string EncryptText(std::string_view text) { return Encrypt(ToAnsi(text)); }

std::string DecryptText(std::string_view cipherText) { return FromAnsi(Decrypt(cipherText)); }

}  // namespace dorvex
