#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding) as one unbroken line. Decoding skips every
// character outside the alphabet (line breaks, blanks) and ignores a trailing incomplete group.

#include <optional>
#include <string>
#include <string_view>

namespace dorvex {

std::string Base64Encode(std::string_view bytes);
// Appends the encoding to `out` (no intermediate copy for large chunks).
void Base64EncodeTo(std::string_view bytes, std::string& out);
std::string Base64Decode(std::string_view text);
// Strict check for input from the network: only alphabet characters, correct padding.
bool IsStrictBase64(std::string_view text);
// Strict decoding for input from the network: blanks and line breaks are allowed between
// groups, anything else outside the alphabet, a partial group or misplaced padding is refused.
std::optional<std::string> Base64DecodeStrict(std::string_view text);

}  // namespace dorvex
