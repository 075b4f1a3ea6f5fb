#pragma once
// For the adapters inside src/platform only: the Leptonica image behind a Raster, so that an
// adapter over another library that works on Leptonica images (Tesseract) can use the page
// without a copy. Nothing outside src/platform includes this header.

#include "platform/Raster.h"

namespace dorvex {

struct RasterAccess {
    // The page's image, owned by the Raster (nullptr for an empty one).
    static Pix* PixOf(const Raster& raster) { return raster.mPix; }
};

}  // namespace dorvex
