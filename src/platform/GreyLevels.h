#pragma once

struct Pix;

namespace dorvex {

// A grey copy of a 24-bit colour page, and a 1-bit copy of a grey or colour one: the same
// pixels as Leptonica's pixConvertTo8 and pixConvertTo1 (luminance 0.3 R + 0.5 G + 0.2 B,
// rounded; black below the threshold), computed many pixels at a time and, for 1 bit, without
// the grey page between. The skew search, the speck search and the blank test each take a 1-bit
// copy, which made up a third of a colour page's clean-up. Return nullptr when out of memory,
// or for a page of another kind (which Leptonica converts).
Pix* GreyCopyOf(Pix* pix);
Pix* OneBitCopyOf(Pix* pix, int threshold);

}  // namespace dorvex
