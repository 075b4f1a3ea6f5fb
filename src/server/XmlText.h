#pragma once
// Escaping of values placed into request texts, so that no value can change the structure of a
// request (add attributes, break the XML).

#include <string>
#include <string_view>

namespace dorvex {

// Replaces & < > " by their entities and tab, LF and CR by character references, so that every
// value reaches the server unchanged; everything else is kept as it is.
std::string XmlEscape(std::string_view value);

}  // namespace dorvex
