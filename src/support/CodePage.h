#pragma once
// Text is UTF-8 everywhere inside; the servers and the parameter cipher speak CP950 (the
// Traditional Chinese ANSI code page). This is the one place that converts between them, plus
// the code-point helpers for algorithms that count characters rather than bytes.

#include <optional>
#include <string>
#include <string_view>

namespace dorvex {

// UTF-8 to CP950 bytes; nullopt when a character has no CP950 form or the input is not UTF-8.
std::optional<std::string> TryToAnsi(std::string_view utf8);
// As TryToAnsi, but throws DorvexError(InvalidArgument) naming the problem.
std::string ToAnsi(std::string_view utf8);
// UTF-8 to CP950 bytes, each character CP950 cannot express becoming "?" (for report files).
std::string ToAnsiLenient(std::string_view utf8);
// CP950 bytes to UTF-8; nullopt when the bytes are not valid CP950.
std::optional<std::string> TryFromAnsi(std::string_view ansi);
// CP950 bytes to UTF-8, each undecodable byte becoming U+FFFD (never fails).
std::string FromAnsi(std::string_view ansi);
// Text received in `charset` (a MIME or XML encoding name, "" when none was given) as UTF-8:
// UTF-16 (also recognised by its byte order mark), Big5/CP950, UTF-8 and whatever else iconv
// knows; bytes that do not decode become U+FFFD.
std::string DecodeText(std::string_view bytes, std::string charset);

// Code points of a UTF-8 text; malformed bytes become U+FFFD.
std::u32string ToU32(std::string_view utf8);
std::string ToUtf8(std::u32string_view text);
bool IsValidUtf8(std::string_view text);
// Number of characters (code points).
std::size_t CharCount(std::string_view utf8);

}  // namespace dorvex
