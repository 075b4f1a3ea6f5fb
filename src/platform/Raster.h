#pragma once
// The imaging layer: one page image in memory (Raster) and the page files on disk, over
// Leptonica, libtiff and zxing-cpp (kept out of this header).
//
// File format codes are the ones stored files are bound to: 29 TIFF with CCITT G4 (1 bit),
// 17 TIFF with LZW (grey, colour), 21 JPEG, 3 other TIFF, 6 BMP, 75 PNG, 1 PCX (written only).
// Pages are 1-based. Angles are in hundredths of a degree, positive clockwise. Colour pages
// count as 24 bits.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Pix;

namespace dorvex {

namespace fileformat {
constexpr int Pcx = 1;
constexpr int Tiff = 3;
constexpr int Bmp = 6;
constexpr int TiffLzw = 17;
constexpr int Jpeg = 21;
constexpr int TiffG4 = 29;
constexpr int Png = 75;
}  // namespace fileformat

enum class SaveMode {
    Overwrite,  // the file becomes this one page
    Insert,     // inserted as page `page` (page count + 1 appends)
    Replace,    // replaces page `page`
    Append,     // added after the last page
};

struct ImageInfo {
    int format = 0;  // file format code
    int bitsPerPixel = 0;
    int pages = 0;
    int width = 0;  // of the first page
    int height = 0;
    int xdpi = 0;
    int ydpi = 0;
    // Why pages after `pages` cannot be read (a truncated or damaged file); empty when whole.
    std::string damage;
};

struct RasterRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class PageFileBuilder;

// Operations throw DorvexError: a missing, damaged or oversized file, and a lack of memory
// (number 7) are never taken for an empty or blank page.
class Raster {
public:
    Raster();
    ~Raster();
    Raster(const Raster& other);
    Raster& operator=(const Raster& other);
    Raster(Raster&& other) noexcept;
    Raster& operator=(Raster&& other) noexcept;

    // Page `page` of an image file; throws DorvexError with a clear description for a missing,
    // damaged, truncated or unsupported file or a page it does not have.
    static Raster Load(const std::string& path, int page = 1);
    // A white page.
    static Raster Blank(int width, int height, int bitsPerPixel, int dpi = 300);
    // A page from raw scanner lines, `bytesPerLine` apart: 1 bit (leftmost pixel in the high
    // bit, 1 = black, as scanners send line art), 8 bits grey or 24 bits as R, G, B bytes.
    // Throws for another depth, a page over the pixel budget or lines too short for the width.
    static Raster FromSamples(int width, int height, int bitsPerPixel, const std::uint8_t* data,
                              std::size_t bytesPerLine, int dpi);

    bool Empty() const { return mPix == nullptr; }
    int Width() const;
    int Height() const;
    int BitsPerPixel() const;  // 1, 8 or 24
    int XDpi() const;
    int YDpi() const;
    void SetDpi(int x, int y);

    // Saves into `path` as `format`, converting the depth to what the format holds (G4: 1 bit;
    // JPEG: 8 or 24). Every write is checked, synced and read back before it counts; a failed
    // one leaves the file as it was. Overwrite, Insert and Replace write a new file beside it
    // and rename it over; Append adds to the file in place and cuts a failed append back off.
    void Save(const std::string& path, int format, int page = 1, SaveMode mode = SaveMode::Overwrite) const;

    void Invert();
    void ReduceTo1Bit();
    Raster OneBitCopy() const;  // as ReduceTo1Bit, into a new page
    void ConvertTo(int bitsPerPixel);  // 1, 8 or 24
    // The page's skew within ±range, in hundredths (positive: the content leans clockwise);
    // nullopt when no confident angle is found.
    std::optional<int> DetectSkew(int rangeHundredths, int resolutionHundredths = 10) const;
    void Rotate(int hundredths);
    void AutoTrim();
    // Black borders along the sides in `sideMask` (1 left, 2 right, 4 top, 8 bottom): a side
    // whose dark band covers at least `percent` % of its length loses the band; white gaps
    // up to `noiseLength` pixels inside the band are bridged, and `variance` pixels beyond its
    // inner edge are cleared too. Works on the 1-bit page.
    void RemoveBorder(int sideMask, int percent, int noiseLength, int variance);
    // Removes isolated dark specks of at most 2 × 2 pixels (on grey and colour pages, with
    // their soft edge).
    void Despeckle();
    void Resize(int width, int height);
    void HalveSize();
    // Dark pixels: the set pixels of a 1-bit page, pixels darker than mid-grey otherwise.
    // Throws for an empty image.
    std::int64_t CountInk() const;
    Raster Crop(const RasterRect& rect) const;
    void FillWhite(const RasterRect& rect);
    // The data of the linear barcodes (Code 39, Code 128, Interleaved 2 of 5, EAN/UPC,
    // Codabar) found in `rect`, top to bottom, up to the first for which `enough` says true;
    // when none lies across the page, codes printed along it (a landscape scan), left to right.
    std::vector<std::string> ReadBarcodes(const RasterRect& rect,
                                          const std::function<bool(const std::string&)>& enough = nullptr) const;

    // A line `thickness` pixels wide from (x0, y0) to (x1, y1), black or white; the parts
    // outside the page are left out.
    void DrawLine(int x0, int y0, int x1, int y1, int thickness, bool black);

    // The page for a display: 8-bit grey for 1- and 8-bit pages (a set 1-bit pixel is 0, a clear
    // one 255) or R, G, B bytes for colour pages, in rows of Width() × channels bytes without
    // padding, top row first. Empty for an empty image.
    struct DisplaySamples {
        int width = 0;
        int height = 0;
        int channels = 0;  // 1 grey, 3 colour
        std::vector<std::uint8_t> data;
    };
    DisplaySamples ToDisplaySamples() const;
    // The same rows written into a buffer of the caller's (a display image's own), rows
    // `bytesPerLine` apart (at least Width() × DisplayChannels()); nothing for an empty image.
    int DisplayChannels() const;
    void WriteDisplayRows(std::uint8_t* data, std::size_t bytesPerLine) const;

    // For tests and tools: set a pixel black.
    void SetBlack(int x, int y);
    bool IsBlack(int x, int y) const;

private:
    friend class PageFileBuilder;
    friend struct RasterAccess;  // the other adapters of src/platform (platform/RasterAccess.h)
    explicit Raster(Pix* pix);
    void Reset(Pix* pix);
    Pix* mPix = nullptr;
};

// A multi-page TIFF file written beside `path` that replaces it on Commit. Until then `path`
// is untouched, and a builder dropped without Commit leaves nothing behind. Finish writes the
// new file whole (checked and synced) without renaming it, so that an edit of two files can
// finish both before either is replaced.
class PageFileBuilder {
public:
    explicit PageFileBuilder(const std::string& path);
    ~PageFileBuilder();
    PageFileBuilder(PageFileBuilder&&) noexcept;
    PageFileBuilder(const PageFileBuilder&) = delete;
    PageFileBuilder& operator=(const PageFileBuilder&) = delete;

    void Add(const Raster& page, int format);            // converted to the TIFF format code
    void AddFrom(const std::string& file, int page);     // a page of a file, as it is stored
    int Pages() const;
    void Finish();
    void Commit();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// The file's format, depth, page count, size and resolution; throws DorvexError for a file
// that is not an image we read. A TIFF file whose directory chain breaks off counts the pages
// before the break and says why in `damage`.
ImageInfo ReadImageInfo(const std::string& path);
// Whether the file is an image we read, its first page decoding cleanly.
std::optional<ImageInfo> ProbeImage(const std::string& path);
// Whether the file is an image whose pages can be counted, from its headers alone (no pixel is
// decoded, so a page over the decoding budget passes): what sending the file needs. No
// resolution is read for a file that is not a TIFF.
std::optional<ImageInfo> ProbeImageHeader(const std::string& path);
// Removes page `page` of a multi-page file (rewritten beside and renamed over).
void DeletePage(const std::string& path, int page);
// Moves page `from` of a multi-page file so that it becomes page `to` (one rewrite).
void MovePage(const std::string& path, int from, int to);
// Rewrites a multi-page file with its pages in `order` (1-based page numbers of the file).
void RewritePages(const std::string& path, const std::vector<int>& order);

// Routes the imaging libraries' own messages into the trace hook (idempotent).
void RouteImagingMessages();

}  // namespace dorvex
