#pragma once
// ZSoft PCX, version 5 with run-length encoding: no imaging library here writes it, and clerks'
// older systems still read it. 1-bit pages become one 1-bit plane (a set bit is white), grey
// pages 8 bits with a grey palette, colour pages three 8-bit planes.

#include <string>

namespace dorvex {

class Raster;

// The whole file; throws DorvexError for an empty page or one larger than PCX can describe.
std::string EncodePcx(const Raster& page);

}  // namespace dorvex
