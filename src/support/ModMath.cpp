#include "support/ModMath.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "support/Error.h"
#include "support/Text.h"

namespace dorvex {
namespace {

std::int32_t ToLong(double x) {
    if (!(x >= -2147483648.0 && x <= 2147483647.0)) {
        throw DorvexError(err::Overflow, "Overflow");
    }
    return static_cast<std::int32_t>(x);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Length of the longest prefix of `text` that is a decimal number: [sign] digits [. digits]
// [e [sign] digits]. Returns 0 when there is none.
std::size_t NumberPrefix(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) { ++i; ++digits; }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) { ++i; ++digits; }
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) { ++j; ++expDigits; }
        if (expDigits > 0) i = j;
    }
    return i;
}

}  // namespace

std::int32_t Ceiling(double x) { return ToLong(-std::floor(-x)); }

std::int32_t Floor(double x) { return ToLong(std::floor(x)); }

double RoundHalfEven(double x) {
    double floor = std::floor(x);
    double diff = x - floor;
    if (diff < 0.5) return floor;
    if (diff > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

double Val(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    std::size_t length = NumberPrefix(text);
    if (length == 0) return 0.0;
    return std::strtod(std::string(text.substr(0, length)).c_str(), nullptr);
}

bool IsNumeric(std::string_view text) {
    std::string trimmed = Trim(text);
    return !trimmed.empty() && NumberPrefix(trimmed) == trimmed.size();
}

}  // namespace dorvex
