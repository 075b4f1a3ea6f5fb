#pragma once

struct Pix;

namespace dorvex {

// Turns an 8-bit grey or 24-bit colour page about its centre by `radians` (clockwise positive),
// each pixel interpolated from the four it falls between, in sixteenths of a pixel; white comes
// in at the corners. The pixels are the ones Leptonica's pixRotateAMGray / pixRotateAMColor
// give, at a fraction of their cost: the products of a column are computed once per page, not
// once per pixel, and stretches of a row that fall on white paper are filled white without
// weighing their pixels. Returns nullptr when out of memory, or for a page of another kind
// (which pixRotate handles).
Pix* RotateByAreaMap(Pix* pix, float radians);

}  // namespace dorvex
