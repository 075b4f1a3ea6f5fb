#pragma once
// Rounding and the lenient string-to-number conversion that the settings strings rely on.

#include <cstdint>
#include <string_view>

namespace dorvex {

// Smallest whole number not below x.
std::int32_t Ceiling(double x);
// Largest whole number not above x.
std::int32_t Floor(double x);
// Rounds to the nearest whole number, halves to the even neighbour (banker's rounding).
double RoundHalfEven(double x);

// The leading decimal number of a text (blanks skipped; "12abc" gives 12, "abc" gives 0).
double Val(std::string_view text);
// True when the whole text (blanks around it allowed) is one decimal number.
bool IsNumeric(std::string_view text);

}  // namespace dorvex
