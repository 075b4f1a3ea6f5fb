#pragma once
// Small text helpers shared across the library (ASCII case, trimming, splitting).

#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

// Without the given characters at either end.
std::string Trim(std::string_view text, std::string_view chars = " \t\r\n");
std::string ToUpperAscii(std::string text);
std::string ToLowerAscii(std::string text);
// The pieces between separators; an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view text, char separator);

}  // namespace dorvex
