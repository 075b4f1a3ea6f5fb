#pragma once
// The parameter cipher that web pages use for the server address, operator, batch and document
// numbers: a stream cipher of MD5 and XOR under a fixed key, carried as base64 text. A cipher
// text is 16 random bytes followed by one 16-byte block per 16 bytes of zero-padded plain text.
// Text crosses the cipher as CP950 bytes; EncryptText/DecryptText convert from and to UTF-8.

#include <string>
#include <string_view>

namespace dorvex {

inline constexpr std::string_view kCipherKey = "QUANTRILEX";
inline constexpr int kCipherBlockSize = 16;

// Byte-level cipher. Decrypt drops every 0x00 and 0x0D byte and a final 0x13 byte; it throws
// DorvexError(SubscriptOutOfRange) when nothing remains.
std::string Encrypt(std::string_view plainBytes, std::string_view key = kCipherKey, int blockSize = kCipherBlockSize);
std::string Decrypt(std::string_view cipherText, std::string_view key = kCipherKey, int blockSize = kCipherBlockSize);

// UTF-8 text through the cipher in CP950. EncryptText throws DorvexError(InvalidArgument) for a
// text that CP950 cannot express; DecryptText widens the bytes leniently (undecodable bytes
// become U+FFFD, as a wrong key gives arbitrary bytes).
std::string EncryptText(std::string_view text);
std::string DecryptText(std::string_view cipherText);

// Helpers of the cipher, exposed for tests.
std::string XorBytes(std::string_view a, std::string_view b);
std::string HexToBytes(std::string_view hex);
std::string CleanPlainBytes(std::string_view bytes);

}  // namespace dorvex
