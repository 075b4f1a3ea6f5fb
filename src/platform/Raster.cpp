#include "platform/Raster.h"

#include <leptonica/allheaders.h>
#include <tiffio.h>
#include <unistd.h>
#include <fcntl.h>
#define ZX_USE_UTF8 1  // text() as UTF-8
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>

#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;
struct BoxDeleter {
    void operator()(BOX* box) const { boxDestroy(&box); }
};
using BoxPtr = std::unique_ptr<BOX, BoxDeleter>;
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

void LeptonicaToTrace(const char* text) { DebugTrace(std::string("leptonica: ") + text); }

void TiffToTrace(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    DebugTrace(std::string("libtiff: ") + (module ? module : "") + ": " + text);
}

[[noreturn]] void Fail(int number, const std::string& text) { throw DorvexError(number, text); }

bool IsTiffFormat(l_int32 format) {
    switch (format) {
        case IFF_TIFF: case IFF_TIFF_PACKBITS: case IFF_TIFF_RLE: case IFF_TIFF_G3: case IFF_TIFF_G4:
        case IFF_TIFF_LZW: case IFF_TIFF_ZIP: case IFF_TIFF_JPEG:
            return true;
        default:
            return false;
    }
}

l_int32 LeptonicaFormat(const std::string& path) {
    l_int32 format = IFF_UNKNOWN;
    if (!FileExists(path)) Fail(err::FileNotFound, "the image file " + path + " does not exist");
    if (findFileFormat(path.c_str(), &format) != 0 || format == IFF_UNKNOWN) {
        Fail(err::InvalidArgument, path + " is not an image file that can be read (TIFF, JPEG, PNG or BMP)");
    }
    if (!IsTiffFormat(format) && format != IFF_JFIF_JPEG && format != IFF_PNG && format != IFF_BMP) {
        Fail(err::InvalidArgument, path + " is in an image format that is not supported (use TIFF, JPEG, PNG or BMP)");
    }
    return format;
}

int TiffPageCount(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    l_int32 count = 0;
    if (!file || tiffGetCount(file.get(), &count) != 0 || count < 1) {
        Fail(err::InvalidArgument, path + " is a damaged TIFF file (its pages cannot be counted)");
    }
    return count;
}

// Brings a decoded page to the depths the layer works with: 1, 8 or 32 bits, no colour map.
PIX* Normalise(PIX* pix) {
    PixPtr owned(pix);
    if (pixGetColormap(owned.get()) != nullptr) owned.reset(pixRemoveColormap(owned.get(), REMOVE_CMAP_BASED_ON_SRC));
    if (!owned) return nullptr;
    l_int32 depth = pixGetDepth(owned.get());
    if (depth == 2 || depth == 4 || depth == 16) owned.reset(pixConvertTo8(owned.get(), 0));
    else if (depth == 24) owned.reset(pixConvertTo32(owned.get()));
    if (owned && pixGetDepth(owned.get()) == 32) pixSetSpp(owned.get(), 3);
    return owned.release();
}

l_int32 TiffCompressionFor(const PIX* pix, int format) {
    if (format == fileformat::TiffG4) return IFF_TIFF_G4;
    if (format == fileformat::TiffLzw) return IFF_TIFF_LZW;
    (void)pix;
    return IFF_TIFF;
}

bool IsTiffCode(int format) {
    return format == fileformat::TiffG4 || format == fileformat::TiffLzw || format == fileformat::Tiff;
}

// The page converted to the depth the file format holds.
PixPtr ForFormat(PIX* pix, int format) {
    l_int32 depth = pixGetDepth(pix);
    if (format == fileformat::TiffG4 && depth != 1) return PixPtr(pixConvertTo1(pix, 128));
    if (format == fileformat::Jpeg && depth == 1) return PixPtr(pixConvertTo8(pix, 0));
    return PixPtr(pixClone(pix));
}

void SyncAndRename(const std::string& temp, const std::string& path) {
    if (!SyncFile(temp) || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        Fail(err::DeviceIo, "cannot write " + path + " (disk full or not writable?)");
    }
}

std::string TempBeside(const std::string& path) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) Fail(err::PathNotFound, "cannot create a file beside " + path);
    ::close(fd);
    return temp;
}

void WriteTiffPage(const std::string& path, PIX* pix, l_int32 comptype, bool first) {
    if (pixWriteTiff(path.c_str(), pix, comptype, first ? "w" : "a") != 0) {
        Fail(err::DeviceIo, "cannot write a page into " + path + " (disk full?)");
    }
}

// Rewrites a TIFF file beside itself from a list of page sources and renames it over the old
// one, so that a crash leaves the old file whole. A source is an existing page (1-based) or a
// new image.
struct PageSource {
    int existing = 0;
    const PIX* image = nullptr;
    int format = fileformat::TiffG4;
};

void RewriteTiff(const std::string& path, const std::vector<PageSource>& pages) {
    std::string temp = TempBeside(path);
    try {
        bool first = true;
        for (const PageSource& source : pages) {
            if (source.image != nullptr) {
                PixPtr converted = ForFormat(const_cast<PIX*>(source.image), source.format);
                WriteTiffPage(temp, converted.get(), TiffCompressionFor(converted.get(), source.format), first);
            } else {
                PixPtr page(pixReadTiff(path.c_str(), source.existing - 1));
                if (!page) Fail(err::InvalidArgument, "page " + std::to_string(source.existing) + " of " + path + " is damaged");
                l_int32 comptype = pixGetInputFormat(page.get());
                if (!IsTiffFormat(comptype) || (comptype == IFF_TIFF_G4 && pixGetDepth(page.get()) != 1)) comptype = IFF_TIFF_LZW;
                WriteTiffPage(temp, page.get(), comptype, first);
            }
            first = false;
        }
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    SyncAndRename(temp, path);
}

}  // namespace

void RouteImagingMessages() {
    static const bool routed = [] {
        leptSetStderrHandler(&LeptonicaToTrace);
        TIFFSetErrorHandler(&TiffToTrace);
        TIFFSetWarningHandler(&TiffToTrace);
        return true;
    }();
    (void)routed;
}

namespace {
// Every program that links the imaging layer has the libraries' messages routed from the start.
const bool kMessagesRouted = (RouteImagingMessages(), true);
}  // namespace

// ---- Raster: lifetime ----

Raster::Raster() = default;
Raster::Raster(Pix* pix) : mPix(pix) {}
Raster::~Raster() { Reset(nullptr); }
Raster::Raster(const Raster& other) : mPix(other.mPix ? pixCopy(nullptr, other.mPix) : nullptr) {}
Raster& Raster::operator=(const Raster& other) {
    if (this != &other) Reset(other.mPix ? pixCopy(nullptr, other.mPix) : nullptr);
    return *this;
}
Raster::Raster(Raster&& other) noexcept : mPix(other.mPix) { other.mPix = nullptr; }
Raster& Raster::operator=(Raster&& other) noexcept {
    if (this != &other) {
        Reset(other.mPix);
        other.mPix = nullptr;
    }
    return *this;
}
void Raster::Reset(Pix* pix) {
    if (mPix != nullptr) pixDestroy(&mPix);
    mPix = pix;
}

Raster Raster::Load(const std::string& path, int page) {
    RouteImagingMessages();
    l_int32 format = LeptonicaFormat(path);
    PIX* pix = nullptr;
    if (IsTiffFormat(format)) {
        int count = TiffPageCount(path);
        if (page < 1 || page > count) {
            Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page) + " (it has " + std::to_string(count) + ")");
        }
        pix = pixReadTiff(path.c_str(), page - 1);
    } else {
        if (page != 1) Fail(err::SubscriptOutOfRange, path + " has one page only");
        pix = pixRead(path.c_str());
    }
    if (pix == nullptr) Fail(err::InvalidArgument, "page " + std::to_string(page) + " of " + path + " is damaged or truncated");
    pix = Normalise(pix);
    if (pix == nullptr) Fail(err::InvalidArgument, "page " + std::to_string(page) + " of " + path + " cannot be converted");
    return Raster(pix);
}

Raster Raster::Blank(int width, int height, int bitsPerPixel, int dpi) {
    l_int32 depth = bitsPerPixel == 1 ? 1 : bitsPerPixel == 8 ? 8 : 32;
    PIX* pix = pixCreate(width, height, depth);
    if (pix == nullptr) Fail(err::InvalidArgument, "cannot make a page of that size");
    if (depth == 1) pixClearAll(pix);
    else pixSetAll(pix);
    if (depth == 32) pixSetSpp(pix, 3);
    pixSetResolution(pix, dpi, dpi);
    return Raster(pix);
}

int Raster::Width() const { return mPix ? pixGetWidth(mPix) : 0; }
int Raster::Height() const { return mPix ? pixGetHeight(mPix) : 0; }
int Raster::BitsPerPixel() const {
    if (!mPix) return 0;
    l_int32 depth = pixGetDepth(mPix);
    return depth == 32 ? 24 : depth;
}
int Raster::XDpi() const { return mPix ? pixGetXRes(mPix) : 0; }
int Raster::YDpi() const { return mPix ? pixGetYRes(mPix) : 0; }
void Raster::SetDpi(int x, int y) {
    if (mPix) pixSetResolution(mPix, x, y);
}

// ---- Saving ----

void Raster::Save(const std::string& path, int format, int page, SaveMode mode) const {
    RouteImagingMessages();
    if (!mPix) Fail(err::InvalidArgument, "there is no image to save");
    if (!IsTiffCode(format)) {
        if (mode != SaveMode::Overwrite || page != 1) Fail(err::InvalidArgument, "only TIFF files hold more than one page");
        l_int32 target = format == fileformat::Jpeg ? IFF_JFIF_JPEG : format == fileformat::Png ? IFF_PNG
                         : format == fileformat::Bmp ? IFF_BMP : IFF_UNKNOWN;
        if (target == IFF_UNKNOWN) Fail(err::InvalidArgument, "unknown file format code " + std::to_string(format));
        PixPtr converted = ForFormat(mPix, format);
        std::string temp = TempBeside(path);
        bool ok = target == IFF_JFIF_JPEG ? pixWriteJpeg(temp.c_str(), converted.get(), 75, 0) == 0
                                          : pixWrite(temp.c_str(), converted.get(), target) == 0;
        if (!ok) {
            ::unlink(temp.c_str());
            Fail(err::DeviceIo, "cannot write " + path);
        }
        SyncAndRename(temp, path);
        return;
    }
    // A placeholder made by the temporary-file helper is empty: it holds no pages yet.
    bool hasPages = GetFileLength(path) > 0;
    // Appending needs no page count (counting walks every page of the file).
    int count = hasPages && mode != SaveMode::Append ? TiffPageCount(path) : 0;
    PixPtr converted = ForFormat(mPix, format);
    l_int32 comptype = TiffCompressionFor(converted.get(), format);
    if (mode == SaveMode::Overwrite || (!hasPages && (mode == SaveMode::Append || (mode == SaveMode::Insert && page == 1)))) {
        std::string temp = TempBeside(path);
        try {
            WriteTiffPage(temp, converted.get(), comptype, true);
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
        SyncAndRename(temp, path);
        return;
    }
    if (mode == SaveMode::Append || (mode == SaveMode::Insert && page == count + 1)) {
        // libtiff adds the new directory at the end and links it last: earlier pages are not
        // rewritten, and a crash leaves them readable.
        WriteTiffPage(path, converted.get(), comptype, false);
        return;
    }
    int last = mode == SaveMode::Insert ? count + 1 : count;
    if (page < 1 || page > last) Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page));
    std::vector<PageSource> pages;
    for (int p = 1; p <= count; ++p) {
        if (p == page) {
            pages.push_back({0, mPix, format});
            if (mode == SaveMode::Replace) continue;
        }
        pages.push_back({p, nullptr, format});
    }
    RewriteTiff(path, pages);
}

void DeletePage(const std::string& path, int page) {
    RouteImagingMessages();
    int count = TiffPageCount(path);
    if (page < 1 || page > count) Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page));
    if (count == 1) Fail(err::InvalidArgument, "cannot remove the only page of " + path);
    std::vector<PageSource> pages;
    for (int p = 1; p <= count; ++p) {
        if (p != page) pages.push_back({p, nullptr, 0});
    }
    RewriteTiff(path, pages);
}

void MovePage(const std::string& path, int from, int to) {
    RouteImagingMessages();
    int count = TiffPageCount(path);
    if (from < 1 || from > count || to < 1 || to > count) Fail(err::SubscriptOutOfRange, path + " has no such page");
    if (from == to) return;
    std::vector<int> order;
    for (int p = 1; p <= count; ++p) {
        if (p != from) order.push_back(p);
    }
    order.insert(order.begin() + (to - 1), from);
    std::vector<PageSource> pages;
    for (int p : order) pages.push_back({p, nullptr, 0});
    RewriteTiff(path, pages);
}

ImageInfo ReadImageInfo(const std::string& path) {
    RouteImagingMessages();
    l_int32 format = LeptonicaFormat(path);
    ImageInfo info;
    if (IsTiffFormat(format)) {
        info.pages = TiffPageCount(path);
        FilePtr file(std::fopen(path.c_str(), "rb"));
        l_int32 w = 0, h = 0, bps = 0, spp = 0, res = 0, cmap = 0, tiffFormat = 0;
        if (!file || freadHeaderTiff(file.get(), 0, &w, &h, &bps, &spp, &res, &cmap, &tiffFormat) != 0) {
            Fail(err::InvalidArgument, path + " is a damaged TIFF file");
        }
        info.width = w;
        info.height = h;
        info.bitsPerPixel = cmap ? 8 : bps * std::min(spp, 3);
        l_int32 comptype = 0;
        std::rewind(file.get());
        findTiffCompression(file.get(), &comptype);
        info.format = comptype == IFF_TIFF_G4 ? fileformat::TiffG4 : comptype == IFF_TIFF_LZW ? fileformat::TiffLzw : fileformat::Tiff;
        l_int32 xres = 0, yres = 0;
        std::rewind(file.get());
        getTiffResolution(file.get(), &xres, &yres);
        info.xdpi = xres;
        info.ydpi = yres;
        return info;
    }
    Raster page = Raster::Load(path, 1);
    info.pages = 1;
    info.width = page.Width();
    info.height = page.Height();
    info.bitsPerPixel = page.BitsPerPixel();
    info.xdpi = page.XDpi();
    info.ydpi = page.YDpi();
    info.format = format == IFF_JFIF_JPEG ? fileformat::Jpeg : format == IFF_PNG ? fileformat::Png : fileformat::Bmp;
    return info;
}

std::optional<ImageInfo> ProbeImage(const std::string& path) {
    try {
        ImageInfo info = ReadImageInfo(path);
        Raster::Load(path, 1);
        return info;
    } catch (const DorvexError&) {
        return std::nullopt;
    }
}

// ---- Processing ----

void Raster::Invert() {
    if (mPix) pixInvert(mPix, mPix);
}

void Raster::ReduceTo1Bit() {
    if (mPix && pixGetDepth(mPix) != 1) Reset(pixConvertTo1(mPix, 128));
}

void Raster::ConvertTo(int bitsPerPixel) {
    if (!mPix || BitsPerPixel() == bitsPerPixel) return;
    if (bitsPerPixel == 1) ReduceTo1Bit();
    else if (bitsPerPixel == 8) Reset(pixConvertTo8(mPix, 0));
    else Reset(Normalise(pixConvertTo32(mPix)));
}

std::optional<int> Raster::DetectSkew(int rangeHundredths, int resolutionHundredths) const {
    if (!mPix || rangeHundredths <= 0) return std::nullopt;
    PixPtr binary(pixGetDepth(mPix) == 1 ? pixClone(mPix) : pixConvertTo1(mPix, 128));
    if (!binary) return std::nullopt;
    l_float32 angle = 0;
    l_float32 confidence = 0;
    float range = static_cast<float>(rangeHundredths) / 100.0f;
    float delta = std::clamp(range / 10.0f, 0.1f, 1.0f);
    float precision = std::max(static_cast<float>(resolutionHundredths) / 100.0f, 0.01f);
    // Reduce by 4 for the sweep and by 2 for the search on full pages; small images less.
    l_int32 reduction = std::min(pixGetWidth(binary.get()), pixGetHeight(binary.get())) >= 1200 ? 4 : 1;
    if (pixFindSkewSweepAndSearch(binary.get(), &angle, &confidence, reduction, std::min(reduction, 2), range, delta,
                                  precision) != 0) {
        return std::nullopt;
    }
    // Letters with a few lines of text score about 2; noise and blank pages stay below 1.5.
    if (confidence < 1.5f) return std::nullopt;
    // Leptonica gives the rotation that straightens the page (clockwise positive); the page
    // leans the other way.
    return static_cast<int>(std::lround(-angle * 100.0f));
}

void Raster::Rotate(int hundredths) {
    if (!mPix || hundredths % 36000 == 0) return;
    if (hundredths % 9000 == 0) {
        int quads = ((hundredths / 9000) % 4 + 4) % 4;
        Reset(pixRotateOrth(mPix, quads));
        return;
    }
    float radians = static_cast<float>(hundredths) / 100.0f * 3.14159265358979f / 180.0f;
    l_int32 type = (pixGetDepth(mPix) == 1 && std::abs(hundredths) <= 1000) ? L_ROTATE_SHEAR : L_ROTATE_AREA_MAP;
    PIX* rotated = pixRotate(mPix, radians, type, L_BRING_IN_WHITE, 0, 0);
    if (rotated) Reset(Normalise(rotated));
}

void Raster::AutoTrim() {
    if (!mPix) return;
    PixPtr binary(pixGetDepth(mPix) == 1 ? pixClone(mPix) : pixConvertTo1(mPix, 128));
    BOX* raw = nullptr;
    if (!binary || pixClipToForeground(binary.get(), nullptr, &raw) != 0 || raw == nullptr) return;
    BoxPtr box(raw);
    PIX* clipped = pixClipRectangle(mPix, box.get(), nullptr);
    if (clipped) Reset(clipped);
}

void Raster::RemoveBorder(int sideMask, int percent, int noiseLength, int variance) {
    if (!mPix || sideMask <= 0) return;
    percent = std::clamp(percent, 0, 100);
    noiseLength = std::clamp(noiseLength, 0, 10);
    variance = std::clamp(variance, 0, 10);
    ReduceTo1Bit();
    const int w = pixGetWidth(mPix);
    const int h = pixGetHeight(mPix);
    l_uint32* data = pixGetData(mPix);
    const l_int32 wpl = pixGetWpl(mPix);
    auto black = [&](int x, int y) { return GET_DATA_BIT(data + y * wpl, x) != 0; };
    auto clear = [&](int x, int y) { CLEAR_DATA_BIT(data + y * wpl, x); };

    struct Side {
        int mask;
        bool rows;   // lines are rows (left/right sides) or columns (top/bottom)
        bool fromEnd;
    };
    const Side sides[] = {{1, true, false}, {2, true, true}, {4, false, false}, {8, false, true}};
    for (const Side& side : sides) {
        if ((sideMask & side.mask) == 0) continue;
        const int lines = side.rows ? h : w;
        const int across = side.rows ? w : h;
        const int maxDepth = across * percent / 100;
        if (maxDepth <= 0) continue;
        auto at = [&](int line, int depth, bool set) {
            int x = side.rows ? (side.fromEnd ? w - 1 - depth : depth) : line;
            int y = side.rows ? line : (side.fromEnd ? h - 1 - depth : depth);
            if (set) clear(x, y);
            return black(x, y);
        };
        std::vector<int> depth(static_cast<std::size_t>(lines), 0);
        int banded = 0;
        for (int line = 0; line < lines; ++line) {
            int end = 0;  // one past the band's last dark pixel
            int gap = 0;
            for (int d = 0; d < maxDepth; ++d) {
                if (at(line, d, false)) {
                    end = d + 1;
                    gap = 0;
                } else if (++gap > noiseLength) {
                    break;
                }
            }
            depth[static_cast<std::size_t>(line)] = end;
            if (end > 0) ++banded;
        }
        // A band along at most half of the side is content touching the edge, not a border.
        if (banded * 2 < lines) continue;
        for (int line = 0; line < lines; ++line) {
            int end = depth[static_cast<std::size_t>(line)];
            if (end == 0) continue;
            end = std::min(end + variance, maxDepth);
            for (int d = 0; d < end; ++d) at(line, d, true);
        }
    }
}

void Raster::Despeckle() {
    if (!mPix) return;
    if (pixGetDepth(mPix) == 1) {
        // Keep every component at least 3 pixels wide or high.
        PIX* kept = pixSelectBySize(mPix, 3, 3, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr);
        if (kept) Reset(kept);
        return;
    }
    // Grey and colour: the specks are found on a 1-bit copy and painted white with their
    // soft edge, so that text is not blurred the way a median filter would.
    PixPtr binary(pixConvertTo1(mPix, 128));
    if (!binary) return;
    PixPtr kept(pixSelectBySize(binary.get(), 3, 3, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr));
    if (!kept) return;
    PixPtr specks(pixSubtract(nullptr, binary.get(), kept.get()));
    if (!specks) return;
    PixPtr halo(pixDilateBrick(nullptr, specks.get(), 3, 3));
    if (!halo) return;
    pixSetMasked(mPix, halo.get(), pixGetDepth(mPix) == 8 ? 255 : 0xffffff00);
}

void Raster::Resize(int width, int height) {
    if (!mPix || width <= 0 || height <= 0) return;
    PIX* scaled = pixScaleToSize(mPix, width, height);
    if (scaled) Reset(Normalise(scaled));
}

void Raster::HalveSize() {
    if (!mPix) return;
    PIX* half = pixGetDepth(mPix) == 1 ? pixReduceRankBinary2(mPix, 1, nullptr) : pixScale(mPix, 0.5f, 0.5f);
    if (half) Reset(Normalise(half));
}

std::int64_t Raster::CountInk() const {
    if (!mPix) return 0;
    PixPtr binary(pixGetDepth(mPix) == 1 ? pixClone(mPix) : pixConvertTo1(mPix, 128));
    l_int32 count = 0;
    if (!binary || pixCountPixels(binary.get(), &count, nullptr) != 0) return 0;
    return count;
}

Raster Raster::Crop(const RasterRect& rect) const {
    if (!mPix) return Raster();
    BoxPtr box(boxCreate(rect.left, rect.top, rect.width, rect.height));
    PIX* clipped = box ? pixClipRectangle(mPix, box.get(), nullptr) : nullptr;
    return clipped ? Raster(clipped) : Raster();
}

void Raster::FillWhite(const RasterRect& rect) {
    if (!mPix) return;
    l_int32 op = pixGetDepth(mPix) == 1 ? PIX_CLR : PIX_SET;
    pixRasterop(mPix, rect.left, rect.top, rect.width, rect.height, op, nullptr, 0, 0);
}

std::vector<std::string> Raster::ReadBarcodes(const RasterRect& rect) const {
    std::vector<std::string> texts;
    if (!mPix) return texts;
    Raster region = Crop(rect);
    if (region.Empty()) return texts;
    PixPtr grey(pixConvertTo8(region.mPix, 0));
    if (!grey) return texts;
    const int w = pixGetWidth(grey.get());
    const int h = pixGetHeight(grey.get());
    // zxing wants packed 8-bit rows; Leptonica keeps bytes in 32-bit words.
    std::vector<std::uint8_t> lum(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        l_uint32* line = pixGetData(grey.get()) + y * pixGetWpl(grey.get());
        for (int x = 0; x < w; ++x) lum[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(GET_DATA_BYTE(line, x));
    }
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::ITF |
                     ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::UPCA |
                     ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::Codabar);
    hints.setTryRotate(false);
    hints.setTryHarder(false);
    // zxing scans a few rows around the middle of an image, so the region is read in strips of
    // 256 rows, half overlapping, top to bottom: the first symbol found is the top one. One
    // symbol per strip (asking zxing for several trips an assertion of its own in this version).
    constexpr int kStrip = 256;
    for (int top = 0; top < h; top += kStrip / 2) {
        int height = std::min(kStrip, h - top);
        if (height < 16 && top > 0) break;
        ZXing::ImageView strip(lum.data() + static_cast<std::size_t>(top) * static_cast<std::size_t>(w), w, height,
                               ZXing::ImageFormat::Lum);
        ZXing::Result result = ZXing::ReadBarcode(strip, hints);
        if (!result.isValid()) continue;
        std::string text = result.text();
        if (texts.empty() || texts.back() != text) texts.push_back(text);
        if (top + height >= h) break;
    }
    return texts;
}

void Raster::SetBlack(int x, int y) {
    if (!mPix) return;
    if (pixGetDepth(mPix) == 1) pixSetPixel(mPix, x, y, 1);
    else pixSetPixel(mPix, x, y, 0);
}

bool Raster::IsBlack(int x, int y) const {
    if (!mPix) return false;
    l_uint32 value = 0;
    pixGetPixel(mPix, x, y, &value);
    if (pixGetDepth(mPix) == 1) return value != 0;
    if (pixGetDepth(mPix) == 8) return value < 128;
    l_int32 r = 0, g = 0, b = 0;
    extractRGBValues(value, &r, &g, &b);
    return (r + g + b) / 3 < 128;
}

}  // namespace dorvex
