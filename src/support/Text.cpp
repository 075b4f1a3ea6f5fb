#include "support/Text.h"

#include <cctype>

namespace dorvex {

std::string Trim(std::string_view text, std::string_view chars) {
    std::size_t begin = text.find_first_not_of(chars);
    if (begin == std::string_view::npos) return {};
    return std::string(text.substr(begin, text.find_last_not_of(chars) - begin + 1));
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ToLowerAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        std::size_t at = text.find(separator, start);
        pieces.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return pieces;
        start = at + 1;
    }
}

}  // namespace dorvex
