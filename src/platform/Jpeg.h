#pragma once

#include <cstddef>
#include <string>

struct Pix;

namespace dorvex {

// JPEG files read and written by libjpeg straight into and out of the page's own rows: the
// same pixels and the same bytes as Leptonica's reader and writer (quality, 2x2 chroma,
// resolution in dots per inch, the comment kept as the page's text), without its copy of every
// row through a buffer of bytes.
struct JpegReading {
    Pix* pix = nullptr;        // 8-bit grey or 24-bit colour, owned by the caller
    bool outOfMemory = false;  // else a null page is damaged or truncated (libjpeg reported
                               // an error, or corrupt data before the last row)
    bool otherKind = false;    // a JPEG of another kind (CMYK), for Leptonica to read
};
JpegReading ReadJpegFile(const std::string& path);

// Encodes an 8-bit grey or 24-bit colour page; false when out of memory or for a page of
// another kind (which Leptonica encodes). The bytes are the caller's, freed with free().
bool EncodeJpeg(Pix* pix, int quality, unsigned char** bytes, std::size_t* size);

}  // namespace dorvex
