#pragma once
// The imaging layer: one page image in memory (Raster) and the page files on disk, over
// Leptonica, libtiff and zxing-cpp (kept out of this header).
//
// File format codes are the ones stored files are bound to: 29 TIFF with CCITT G4 (1 bit),
// 17 TIFF with LZW (grey, colour), 21 JPEG, 3 other TIFF, 6 BMP, 75 PNG. Pages are 1-based.
// Angles are in hundredths of a degree, positive clockwise. Colour pages count as 24 bits.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Pix;

namespace dorvex {

namespace fileformat {
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
};

struct RasterRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

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

    bool Empty() const { return mPix == nullptr; }
    int Width() const;
    int Height() const;
    int BitsPerPixel() const;  // 1, 8 or 24
    int XDpi() const;
    int YDpi() const;
    void SetDpi(int x, int y);

    // Saves into `path` as `format`, converting the depth to what the format holds (G4: 1 bit;
    // JPEG: 8 or 24). Overwrite and Append never rewrite earlier pages; Insert and Replace
    // rewrite the file beside it and rename it over, so a crash leaves the old file whole.
    void Save(const std::string& path, int format, int page = 1, SaveMode mode = SaveMode::Overwrite) const;

    void Invert();
    void ReduceTo1Bit();
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
    std::int64_t CountInk() const;
    Raster Crop(const RasterRect& rect) const;
    void FillWhite(const RasterRect& rect);
    // The data of the linear barcodes (Code 39, Code 128, Interleaved 2 of 5, EAN/UPC,
    // Codabar) found in `rect`, top to bottom, left to right.
    std::vector<std::string> ReadBarcodes(const RasterRect& rect) const;

    // For tests and tools: set a pixel black.
    void SetBlack(int x, int y);
    bool IsBlack(int x, int y) const;

private:
    explicit Raster(Pix* pix);
    void Reset(Pix* pix);
    Pix* mPix = nullptr;
};

// The file's format, depth, page count, size and resolution; throws DorvexError for a file
// that is not an image we read.
ImageInfo ReadImageInfo(const std::string& path);
// Whether the file is an image we read, its first page decoding cleanly.
std::optional<ImageInfo> ProbeImage(const std::string& path);
// Removes page `page` of a multi-page file (rewritten beside and renamed over).
void DeletePage(const std::string& path, int page);
// Moves page `from` of a multi-page file so that it becomes page `to` (one rewrite).
void MovePage(const std::string& path, int from, int to);

// Routes the imaging libraries' own messages into the trace hook (idempotent).
void RouteImagingMessages();

}  // namespace dorvex
