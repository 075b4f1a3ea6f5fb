#include "support/CodePage.h"

#include <iconv.h>

#include <cctype>

#include <cerrno>
#include <memory>

#include "support/Error.h"

namespace dorvex {
namespace {

constexpr const char* kAnsi = "CP950";

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts strictly; on a byte sequence that cannot be converted, either fails or (when
// `replace` is set) emits `replacement` and skips one input byte.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input,
                                   bool replace, std::string_view replacement) {
    iconv_t raw = iconv_open(to, from);
    if (raw == reinterpret_cast<iconv_t>(-1)) {
        throw DorvexError(err::InvalidArgument, std::string("no converter from ") + from + " to " + to);
    }
    std::unique_ptr<void, IconvCloser> cd(raw);
    std::string out;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[4096];
    while (true) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = inLeft > 0 ? iconv(raw, &in, &inLeft, &outPtr, &outLeft)
                               : iconv(raw, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (rc != static_cast<size_t>(-1)) {
            if (inLeft == 0) {
                // Flush any shift state once, then stop.
                outPtr = buffer;
                outLeft = sizeof buffer;
                iconv(raw, nullptr, nullptr, &outPtr, &outLeft);
                out.append(buffer, static_cast<size_t>(outPtr - buffer));
                return out;
            }
            continue;
        }
        if (errno == E2BIG) continue;
        if (!replace) return std::nullopt;
        // EILSEQ or EINVAL (truncated sequence at the end): replace one byte and go on.
        out.append(replacement);
        ++in;
        --inLeft;
        iconv(raw, nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) return out;
    }
}

}  // namespace

std::optional<std::string> TryToAnsi(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return Convert(kAnsi, "UTF-8", utf8, false, {});
}

std::string ToAnsi(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) throw DorvexError(err::InvalidArgument, "the text is not valid UTF-8");
    auto converted = TryToAnsi(utf8);
    if (!converted) {
        throw DorvexError(err::InvalidArgument,
                          "the text has characters that the CP950 (Traditional Chinese) code page cannot express");
    }
    return *converted;
}

std::string ToAnsiLenient(std::string_view utf8) {
    if (auto whole = TryToAnsi(utf8)) return *whole;
    std::string out;
    for (char32_t c : ToU32(utf8)) out += TryToAnsi(ToUtf8(std::u32string(1, c))).value_or("?");
    return out;
}

std::optional<std::string> TryFromAnsi(std::string_view ansi) {
    return Convert("UTF-8", kAnsi, ansi, false, {});
}

std::string FromAnsi(std::string_view ansi) {
    return *Convert("UTF-8", kAnsi, ansi, true, "\xEF\xBF\xBD");
}

std::string DecodeText(std::string_view bytes, std::string charset) {
    for (char& c : charset) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool utf16 = charset.rfind("utf-16", 0) == 0;
    if (!utf16 && bytes.size() >= 2) {
        unsigned char b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
        if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
            utf16 = true;
            charset = "utf-16";
        }
    }
    if (utf16) {
        // "UTF-16" reads the byte order mark; without one a reply is taken as little-endian.
        bool bom = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
        const char* from = charset == "utf-16be" ? "UTF-16BE" : charset == "utf-16le" || !bom ? "UTF-16LE" : "UTF-16";
        return *Convert("UTF-8", from, bytes, true, "\xEF\xBF\xBD");
    }
    if (charset == "big5" || charset == "cp950" || charset == "ms950" || charset == "x-big5" || charset == "big5-hkscs" ||
        charset == "windows-950") {
        return FromAnsi(bytes);
    }
    if (charset.empty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii") {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        return std::string(bytes);
    }
    std::string upper;
    for (char c : charset) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    try {
        if (std::optional<std::string> text = Convert("UTF-8", upper.c_str(), bytes, true, "\xEF\xBF\xBD")) return *text;
    } catch (const DorvexError&) {
        // a character set iconv does not know: as it came
    }
    return std::string(bytes);
}

namespace {

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i, or returns
// nullopt (and advances by one byte) for a malformed sequence.
std::optional<char32_t> DecodeOne(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2; cp = lead & 0x1F; minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3; cp = lead & 0x0F; minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4; cp = lead & 0x07; minimum = 0x10000;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return std::nullopt;
    }
    for (int k = 1; k < length; ++k) {
        unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += static_cast<std::size_t>(length);
    return cp;
}

}  // namespace

std::u32string ToU32(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        out.push_back(DecodeOne(utf8, i).value_or(U'\uFFFD'));
    }
    return out;
}

std::string ToUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (!DecodeOne(text, i)) return false;
    }
    return true;
}

std::size_t CharCount(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        DecodeOne(utf8, i);
        ++count;
    }
    return count;
}

}  // namespace dorvex
