#pragma once
// The MD5 message digest (RFC 1321) that the parameter cipher rests on.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dorvex {

std::array<std::uint8_t, 16> Md5Digest(std::string_view bytes);
// The digest of the first `count` bytes as 32 upper-case hexadecimal digits. Throws
// DorvexError(Overflow) for a count of 0x0FFFFFFF or more, or one beyond the bytes given.
std::string MD5Hex(std::string_view bytes, std::int64_t count);

}  // namespace dorvex
