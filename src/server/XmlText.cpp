#include "server/XmlText.h"

namespace dorvex {

std::string XmlEscape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            // Kept as references: a parser turns a literal tab or line break in an attribute
            // into a space, and a CR in text into a line feed.
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace dorvex
