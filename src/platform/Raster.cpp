#include "platform/Raster.h"

#include "platform/Pcx.h"

#include <leptonica/allheaders.h>
#include <tiffio.h>
#include <unistd.h>
#include <fcntl.h>
#include <sys/stat.h>
#define ZX_USE_UTF8 1  // text() as UTF-8
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "support/Error.h"
#include "support/ModFS.h"
#include "platform/AreaRotation.h"
#include "platform/GreyLevels.h"
#include "platform/Jpeg.h"
#include "platform/TiffFile.h"
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
struct BytesDeleter {
    void operator()(l_uint8* bytes) const { lept_free(bytes); }
};

void LeptonicaToTrace(const char* text) {
    tiff_file::Report(std::string_view(text).rfind("Error", 0) == 0, text);
    DebugTrace(std::string("leptonica: ") + text);
}

std::string TiffText(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    return std::string(module ? module : "") + ": " + text;
}
void TiffErrorToTrace(const char* module, const char* format, va_list args) {
    std::string text = TiffText(module, format, args);
    tiff_file::Report(true, text);
    DebugTrace("libtiff: " + text);
}
void TiffWarningToTrace(const char* module, const char* format, va_list args) {
    std::string text = TiffText(module, format, args);
    tiff_file::Report(false, text);
    DebugTrace("libtiff: " + text);
}

[[noreturn]] void Fail(int number, const std::string& text) { throw DorvexError(number, text); }

// The result of a Leptonica operation, or the error that says it could not be done (they fail
// only for want of memory once their arguments are checked).
PIX* Need(PIX* pix, const char* what) {
    if (pix == nullptr) Fail(err::OutOfMemory, std::string("not enough memory to ") + what + " the page");
    return pix;
}

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

const tiff_file::Chain& TiffChain(const std::string& path) {
    try {
        return tiff_file::CurrentChain(path);
    } catch (const DorvexError& e) {
        Fail(err::InvalidArgument, path + " is a damaged TIFF file (" + e.what() + ")");
    }
}

// A page larger than this is refused before it is decoded: A3 at 600 dpi and A4 at 1200 dpi
// fit, a forged header asking for gigabytes does not.
constexpr std::int64_t kMaxPixels = 150'000'000;

void CheckPixelBudget(const std::string& path, int page, std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) Fail(err::InvalidArgument, "page " + std::to_string(page) + " of " + path + " is damaged (it has no size)");
    if (width > kMaxPixels / height) {
        Fail(err::InvalidArgument, "page " + std::to_string(page) + " of " + path + " is too large (" + std::to_string(width) +
                                       " x " + std::to_string(height) + " pixels; at most 150 megapixels are read)");
    }
}

// Brings a decoded page to the depths the layer works with: 1, 8 or 32 bits, no colour map.
PIX* Normalise(PIX* pix) {
    PixPtr owned(pix);
    if (pixGetColormap(owned.get()) != nullptr) owned.reset(Need(pixRemoveColormap(owned.get(), REMOVE_CMAP_BASED_ON_SRC), "convert"));
    l_int32 depth = pixGetDepth(owned.get());
    if (depth == 2 || depth == 4 || depth == 16) owned.reset(Need(pixConvertTo8(owned.get(), 0), "convert"));
    else if (depth == 24) owned.reset(Need(pixConvertTo32(owned.get()), "convert"));
    if (pixGetDepth(owned.get()) == 32) pixSetSpp(owned.get(), 3);
    return owned.release();
}

// A page's directory opened with libtiff, which is what decodes it: its own view of the size.
struct TiffPage {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif{nullptr, TIFFClose};
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
};

bool OpenTiffPage(const std::string& path, std::uint64_t offset, TiffPage& page) {
    page.tif.reset(TIFFOpen(path.c_str(), "r"));
    return page.tif && TIFFSetSubDirectory(page.tif.get(), offset) == 1 &&
           TIFFGetField(page.tif.get(), TIFFTAG_IMAGEWIDTH, &page.width) == 1 &&
           TIFFGetField(page.tif.get(), TIFFTAG_IMAGELENGTH, &page.height) == 1 &&
           TIFFGetFieldDefaulted(page.tif.get(), TIFFTAG_PHOTOMETRIC, &page.photometric) == 1;
}

void SetResolutionFrom(TIFF* tif, PIX* pix) {
    float xres = 0, yres = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) == 1 && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) == 1) {
        pixSetResolution(pix, static_cast<l_int32>(std::lround(xres)), static_cast<l_int32>(std::lround(yres)));
    }
}

// A CMYK (separated) page as RGB. Leptonica reads 8-bit CMYK only, and libtiff's own RGBA
// conversion refuses 16-bit samples, which is what many programs write; so the samples are
// read row by row here (the high byte of 16-bit ones) and converted.
PIX* ReadSeparatedTiff(const TiffPage& page) {
    TIFF* tif = page.tif.get();
    const uint32_t w = page.width, h = page.height;
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, inkset = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
    if (TIFFIsTiled(tif) || (bits != 8 && bits != 16) || samples < 4 || inkset != INKSET_CMYK || w == 0 || h == 0) return nullptr;
    PixPtr pix(Need(pixCreate(static_cast<l_int32>(w), static_cast<l_int32>(h), 32), "read"));
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    const std::size_t perPixel = planar == PLANARCONFIG_CONTIG ? samples : 1;
    if (lineSize < static_cast<tmsize_t>(w * perPixel * (bits / 8))) return nullptr;
    std::vector<unsigned char> line(static_cast<std::size_t>(lineSize));
    // The four inks of each pixel of a row, as 8-bit values.
    std::vector<unsigned char> inks(static_cast<std::size_t>(w) * 4);
    auto sample = [&](std::size_t index) -> unsigned char {
        if (bits == 8) return line[index];
        std::uint16_t value = 0;
        std::memcpy(&value, line.data() + index * 2, 2);  // libtiff gives samples in host order
        return static_cast<unsigned char>(value >> 8);
    };
    l_uint32* data = pixGetData(pix.get());
    const l_int32 wpl = pixGetWpl(pix.get());
    for (uint32_t y = 0; y < h; ++y) {
        for (uint16_t plane = 0; plane < (planar == PLANARCONFIG_CONTIG ? 1 : 4); ++plane) {
            if (TIFFReadScanline(tif, line.data(), y, plane) < 0) return nullptr;
            for (uint32_t x = 0; x < w; ++x) {
                for (int ink = 0; ink < 4; ++ink) {
                    if (planar != PLANARCONFIG_CONTIG && ink != plane) continue;
                    std::size_t at = planar == PLANARCONFIG_CONTIG ? static_cast<std::size_t>(x) * samples + static_cast<std::size_t>(ink) : x;
                    inks[static_cast<std::size_t>(x) * 4 + static_cast<std::size_t>(ink)] = sample(at);
                }
            }
        }
        for (uint32_t x = 0; x < w; ++x) {
            const unsigned char* cmyk = inks.data() + static_cast<std::size_t>(x) * 4;
            auto channel = [&](int ink) { return static_cast<l_int32>((255 - cmyk[ink]) * (255 - cmyk[3]) / 255); };
            composeRGBPixel(channel(0), channel(1), channel(2), data + static_cast<std::ptrdiff_t>(y) * wpl + x);
        }
    }
    pixSetSpp(pix.get(), 3);
    SetResolutionFrom(tif, pix.get());
    return pix.release();
}

// Any other page libtiff can turn into RGB (tiles, 16-bit grey with alpha, ...), for the pages
// Leptonica does not read.
PIX* ReadTiffAsRgb(const TiffPage& page) {
    TIFF* tif = page.tif.get();
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif, message) != 1) return nullptr;
    std::vector<uint32_t> raster(static_cast<std::size_t>(page.width) * page.height);
    if (TIFFReadRGBAImageOriented(tif, page.width, page.height, raster.data(), ORIENTATION_TOPLEFT, 0) != 1) return nullptr;
    PixPtr pix(Need(pixCreate(static_cast<l_int32>(page.width), static_cast<l_int32>(page.height), 32), "read"));
    l_uint32* data = pixGetData(pix.get());
    const l_int32 wpl = pixGetWpl(pix.get());
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
            uint32_t rgba = raster[static_cast<std::size_t>(y) * page.width + x];
            composeRGBPixel(static_cast<l_int32>(TIFFGetR(rgba)), static_cast<l_int32>(TIFFGetG(rgba)),
                            static_cast<l_int32>(TIFFGetB(rgba)), data + static_cast<std::ptrdiff_t>(y) * wpl + x);
        }
    }
    pixSetSpp(pix.get(), 3);
    SetResolutionFrom(tif, pix.get());
    return pix.release();
}

// Runs a decoder under a capture of the libraries' messages. A picture that came with an
// error, or with a strip that ended early, is damaged and dropped.
struct Attempt {
    PIX* pix = nullptr;
    bool outOfMemory = false;
};
Attempt TryDecode(const std::function<PIX*()>& decode) {
    tiff_file::MessageCapture capture;
    Attempt attempt;
    try {
        attempt.pix = decode();
    } catch (const std::bad_alloc&) {
        attempt.outOfMemory = true;
        return attempt;
    }
    attempt.outOfMemory = capture.OutOfMemory();
    bool damaged = !capture.Errors().empty() || capture.Warnings().find("Premature EOF") != std::string::npos;
    if (attempt.pix != nullptr && damaged && !attempt.outOfMemory) pixDestroy(&attempt.pix);
    return attempt;
}

// Decodes page `page` of a file of Leptonica format `format`, refusing pages over the pixel
// budget and telling a damaged page from a lack of memory.
PIX* DecodePage(const std::string& path, l_int32 format, int page) {
    const std::string where = "page " + std::to_string(page) + " of " + path;
    Attempt attempt;
    if (IsTiffFormat(format)) {
        const tiff_file::Chain& chain = TiffChain(path);
        if (page < 1 || page > chain.pages) {
            if (page >= 1 && !chain.damage.empty()) Fail(err::InvalidArgument, where + " cannot be read: " + chain.damage);
            Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page) + " (it has " + std::to_string(chain.pages) + ")");
        }
        const std::uint64_t offset = chain.headers[static_cast<std::size_t>(page - 1)].offset;
        TiffPage header;
        {
            tiff_file::MessageCapture quiet;  // a directory libtiff cannot read is reported below
            if (!OpenTiffPage(path, offset, header)) {
                Fail(err::InvalidArgument, where + " is damaged (its directory cannot be read)");
            }
        }
        CheckPixelBudget(path, page, header.width, header.height);
        if (header.photometric == PHOTOMETRIC_SEPARATED) attempt = TryDecode([&] { return ReadSeparatedTiff(header); });
        // Read from its directory's place, without walking the pages before it. Leptonica then
        // also reads the next directory, and a fault there would count against this page: so a
        // page that fails is read once more the slow way before it is called damaged.
        if (attempt.pix == nullptr && !attempt.outOfMemory) {
            attempt = TryDecode([&] {
                std::size_t at = offset;
                return pixReadFromMultipageTiff(path.c_str(), &at);
            });
        }
        if (attempt.pix == nullptr && !attempt.outOfMemory) attempt = TryDecode([&] { return pixReadTiff(path.c_str(), page - 1); });
        if (attempt.pix == nullptr && !attempt.outOfMemory) {
            Attempt rgb = TryDecode([&] { return ReadTiffAsRgb(header); });
            if (rgb.pix != nullptr || rgb.outOfMemory) attempt = rgb;
        }
    } else {
        if (page != 1) Fail(err::SubscriptOutOfRange, path + " has one page only");
        l_int32 w = 0, h = 0, bps = 0, spp = 0, cmap = 0, f = 0;
        if (pixReadHeader(path.c_str(), &f, &w, &h, &bps, &spp, &cmap) != 0 || w <= 0 || h <= 0) {
            Fail(err::InvalidArgument, where + " is damaged or truncated");
        }
        CheckPixelBudget(path, page, w, h);
        JpegReading jpeg;
        if (format == IFF_JFIF_JPEG) jpeg = ReadJpegFile(path);
        attempt.pix = jpeg.pix;
        attempt.outOfMemory = jpeg.outOfMemory;
        if (format != IFF_JFIF_JPEG || jpeg.otherKind) attempt = TryDecode([&] { return pixRead(path.c_str()); });
    }
    if (attempt.pix == nullptr) {
        if (attempt.outOfMemory) Fail(err::OutOfMemory, "not enough memory to read " + where);
        Fail(err::InvalidArgument, where + " is damaged or truncated");
    }
    return Normalise(attempt.pix);
}

bool IsTiffCode(int format) {
    return format == fileformat::TiffG4 || format == fileformat::TiffLzw || format == fileformat::Tiff;
}

l_int32 TiffCompressionFor(int format) {
    if (format == fileformat::TiffG4) return IFF_TIFF_G4;
    if (format == fileformat::TiffLzw) return IFF_TIFF_LZW;
    return IFF_TIFF;
}

// 1-bit and grey copies, our faster way where the page is of a kind it takes.
PIX* OneBitOf(PIX* pix) {
    if (pixGetDepth(pix) == 1) return pixClone(pix);
    if (PIX* fast = OneBitCopyOf(pix, 128)) return fast;
    return pixConvertTo1(pix, 128);
}

PIX* GreyOf(PIX* pix) {
    if (PIX* fast = GreyCopyOf(pix)) return fast;
    return pixConvertTo8(pix, 0);
}

// The page converted to the depth the file format holds.
PixPtr ForFormat(PIX* pix, int format) {
    l_int32 depth = pixGetDepth(pix);
    if (format == fileformat::TiffG4 && depth != 1) return PixPtr(Need(OneBitOf(pix), "convert"));
    if (format == fileformat::Jpeg && depth == 1) return PixPtr(Need(pixConvertTo8(pix, 0), "convert"));
    return PixPtr(Need(pixClone(pix), "copy"));
}

// The compression an existing page is written back with: its own where we write it.
l_int32 KeptCompression(PIX* page) {
    l_int32 comptype = pixGetInputFormat(page);
    if (comptype == IFF_TIFF_G4 && pixGetDepth(page) == 1) return IFF_TIFF_G4;
    if (comptype == IFF_TIFF || comptype == IFF_TIFF_PACKBITS || comptype == IFF_TIFF_ZIP) return comptype;
    return IFF_TIFF_LZW;
}

// A new file in the folder of `path`, hidden (".name.XXXXXX") so that a crash that leaves it
// behind does not put it among the files a person lists or passes on with "*".
std::string TempBeside(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string temp = slash == std::string::npos ? "." + path + ".XXXXXX"
                                                  : path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) Fail(err::PathNotFound, "cannot create a file beside " + path + ": " + std::strerror(errno));
    ::close(fd);
    return temp;
}

void RenameOver(const std::string& temp, const std::string& path) {
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        Fail(err::DeviceIo, "cannot replace " + path + ": " + why);
    }
}

}  // namespace

void RouteImagingMessages() {
    static const bool routed = [] {
        leptSetStderrHandler(&LeptonicaToTrace);
        TIFFSetErrorHandler(&TiffErrorToTrace);
        TIFFSetWarningHandler(&TiffWarningToTrace);
        return true;
    }();
    (void)routed;
}

namespace {
// Every program that links the imaging layer has the libraries' messages routed from the start.
const bool kMessagesRouted = (RouteImagingMessages(), true);
}  // namespace

// ---- Page files built beside their place ----

struct PageFileBuilder::Impl {
    std::string target;
    std::string temp;
    std::optional<tiff_file::Writer> writer;
    bool finished = false;
};

PageFileBuilder::PageFileBuilder(const std::string& path) : mImpl(std::make_unique<Impl>()) {
    RouteImagingMessages();
    mImpl->target = path;
    mImpl->temp = TempBeside(path);
    try {
        mImpl->writer.emplace(tiff_file::Writer::Create(mImpl->temp));
    } catch (...) {
        ::unlink(mImpl->temp.c_str());
        throw;
    }
}

PageFileBuilder::~PageFileBuilder() {
    if (!mImpl) return;
    mImpl->writer.reset();
    if (!mImpl->temp.empty()) ::unlink(mImpl->temp.c_str());
}

PageFileBuilder::PageFileBuilder(PageFileBuilder&&) noexcept = default;

int PageFileBuilder::Pages() const { return mImpl->writer ? mImpl->writer->Pages() : 0; }

void PageFileBuilder::Add(const Raster& page, int format) {
    if (page.Empty()) Fail(err::InvalidArgument, "there is no image to save");
    if (!IsTiffCode(format)) Fail(err::InvalidArgument, "only TIFF files hold more than one page");
    PixPtr converted = ForFormat(page.mPix, format);
    mImpl->writer->AddPage(converted.get(), TiffCompressionFor(format));
}

void PageFileBuilder::AddFrom(const std::string& file, int page) {
    PixPtr pix(DecodePage(file, LeptonicaFormat(file), page));
    mImpl->writer->AddPage(pix.get(), KeptCompression(pix.get()));
}

void PageFileBuilder::Finish() {
    if (mImpl->finished) return;
    mImpl->writer->Commit();
    mImpl->finished = true;
}

void PageFileBuilder::Commit() {
    Finish();
    // The file keeps the permissions it had; a new one gets what the umask allows (the
    // temporary file was made private).
    struct stat target {};
    mode_t mode = 0;
    if (::stat(mImpl->target.c_str(), &target) == 0) {
        mode = target.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::chmod(mImpl->temp.c_str(), mode) != 0) Fail(err::DeviceIo, "cannot set the permissions of " + mImpl->target + ": " + std::strerror(errno));
    RenameOver(mImpl->temp, mImpl->target);
    mImpl->temp.clear();
}

// ---- Raster: lifetime ----

Raster::Raster() = default;
Raster::Raster(Pix* pix) : mPix(pix) {}
Raster::~Raster() { Reset(nullptr); }
Raster::Raster(const Raster& other) : mPix(other.mPix ? Need(pixCopy(nullptr, other.mPix), "copy") : nullptr) {}
Raster& Raster::operator=(const Raster& other) {
    if (this != &other) Reset(other.mPix ? Need(pixCopy(nullptr, other.mPix), "copy") : nullptr);
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
    return Raster(DecodePage(path, LeptonicaFormat(path), page));
}

Raster Raster::Blank(int width, int height, int bitsPerPixel, int dpi) {
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) > kMaxPixels / height) {
        Fail(err::InvalidArgument, "cannot make a page of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
    l_int32 depth = bitsPerPixel == 1 ? 1 : bitsPerPixel == 8 ? 8 : 32;
    PIX* pix = Need(pixCreate(width, height, depth), "make");
    if (depth == 1) pixClearAll(pix);
    else pixSetAll(pix);
    if (depth == 32) pixSetSpp(pix, 3);
    pixSetResolution(pix, dpi, dpi);
    return Raster(pix);
}

Raster Raster::FromSamples(int width, int height, int bitsPerPixel, const std::uint8_t* data, std::size_t bytesPerLine, int dpi) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24) {
        Fail(err::InvalidArgument, "cannot make a page of " + std::to_string(bitsPerPixel) + " bits per pixel");
    }
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) > kMaxPixels / height) {
        Fail(err::InvalidArgument, "cannot make a page of " + size + " pixels (at most 150 megapixels)");
    }
    const std::size_t used = bitsPerPixel == 1 ? (static_cast<std::size_t>(width) + 7) / 8
                                               : static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel / 8);
    if (data == nullptr || bytesPerLine < used) Fail(err::InvalidArgument, "the lines given for a page of " + size + " pixels are too short");
    const l_int32 depth = bitsPerPixel == 24 ? 32 : bitsPerPixel;
    PixPtr pix(Need(pixCreate(width, height, depth), "make"));
    l_uint32* words = pixGetData(pix.get());
    const l_int32 wpl = pixGetWpl(pix.get());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = data + static_cast<std::size_t>(y) * bytesPerLine;
        l_uint32* out = words + static_cast<std::ptrdiff_t>(y) * wpl;
        if (depth == 32) {
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = (static_cast<l_uint32>(in[0]) << L_RED_SHIFT) | (static_cast<l_uint32>(in[1]) << L_GREEN_SHIFT) |
                         (static_cast<l_uint32>(in[2]) << L_BLUE_SHIFT);
            }
        } else {
            // Leptonica keeps pixels in 32-bit words: the byte macro places each byte on any host.
            for (std::size_t i = 0; i < used; ++i) SET_DATA_BYTE(out, i, in[i]);
        }
    }
    // Bits past the width of a 1-bit line are no pixels: cleared, they never reach a saved file.
    if (depth == 1 && pixSetPadBits(pix.get(), 0) != 0) Fail(err::InvalidArgument, "cannot make a page of " + size + " pixels");
    if (depth == 32) pixSetSpp(pix.get(), 3);
    pixSetResolution(pix.get(), dpi, dpi);
    return Raster(pix.release());
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
        if (format == fileformat::Pcx) {
            WriteFileAtomic(path, EncodePcx(*this));
            return;
        }
        l_int32 target = format == fileformat::Jpeg ? IFF_JFIF_JPEG : format == fileformat::Png ? IFF_PNG
                         : format == fileformat::Bmp ? IFF_BMP : IFF_UNKNOWN;
        if (target == IFF_UNKNOWN) Fail(err::InvalidArgument, "unknown file format code " + std::to_string(format));
        PixPtr converted = ForFormat(mPix, format);
        // Encoded in memory, then written and synced by us: the encoders' own file writes do
        // not report a full disk.
        l_uint8* raw = nullptr;
        std::size_t size = 0;
        bool ok = target == IFF_JFIF_JPEG ? EncodeJpeg(converted.get(), 75, &raw, &size) || pixWriteMemJpeg(&raw, &size, converted.get(), 75, 0) == 0
                                          : pixWriteMem(&raw, &size, converted.get(), target) == 0;
        std::unique_ptr<l_uint8, BytesDeleter> bytes(raw);
        if (!ok || !bytes) Fail(err::OutOfMemory, "not enough memory to encode the page for " + path);
        WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.get()), size));
        return;
    }
    // A placeholder made by the temporary-file helper is empty: it holds no pages yet.
    const bool hasPages = GetFileLength(path) > 0;
    PixPtr converted = ForFormat(mPix, format);
    if (mode == SaveMode::Overwrite || (!hasPages && (mode == SaveMode::Append || (mode == SaveMode::Insert && page == 1)))) {
        PageFileBuilder builder(path);
        builder.Add(*this, format);
        builder.Commit();
        return;
    }
    // Appending needs no decoding of earlier pages; a failed append is cut back off.
    const int count = TiffChain(path).pages;
    if (mode == SaveMode::Append || (mode == SaveMode::Insert && page == count + 1)) {
        tiff_file::Writer writer = tiff_file::Writer::Append(path);
        writer.AddPage(converted.get(), TiffCompressionFor(format));
        writer.Commit();
        return;
    }
    const int last = mode == SaveMode::Insert ? count + 1 : count;
    if (page < 1 || page > last) Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page));
    PageFileBuilder builder(path);
    for (int p = 1; p <= count; ++p) {
        if (p == page) {
            builder.Add(*this, format);
            if (mode == SaveMode::Replace) continue;
        }
        builder.AddFrom(path, p);
    }
    builder.Commit();
}

void RewritePages(const std::string& path, const std::vector<int>& order) {
    if (order.empty()) Fail(err::InvalidArgument, "cannot leave " + path + " without pages");
    PageFileBuilder builder(path);
    for (int p : order) builder.AddFrom(path, p);
    builder.Commit();
}

void DeletePage(const std::string& path, int page) {
    RouteImagingMessages();
    int count = TiffChain(path).pages;
    if (page < 1 || page > count) Fail(err::SubscriptOutOfRange, path + " has no page " + std::to_string(page));
    if (count == 1) Fail(err::InvalidArgument, "cannot remove the only page of " + path);
    std::vector<int> order;
    for (int p = 1; p <= count; ++p) {
        if (p != page) order.push_back(p);
    }
    RewritePages(path, order);
}

void MovePage(const std::string& path, int from, int to) {
    RouteImagingMessages();
    int count = TiffChain(path).pages;
    if (from < 1 || from > count || to < 1 || to > count) Fail(err::SubscriptOutOfRange, path + " has no such page");
    if (from == to) return;
    std::vector<int> order;
    for (int p = 1; p <= count; ++p) {
        if (p != from) order.push_back(p);
    }
    order.insert(order.begin() + (to - 1), from);
    RewritePages(path, order);
}

ImageInfo ReadImageInfo(const std::string& path) {
    RouteImagingMessages();
    l_int32 format = LeptonicaFormat(path);
    ImageInfo info;
    if (IsTiffFormat(format)) {
        tiff_file::Chain chain = TiffChain(path);
        if (chain.pages == 0) Fail(err::InvalidArgument, path + " is a damaged TIFF file (" + chain.damage + ")");
        info.pages = chain.pages;
        info.damage = chain.damage;
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
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

std::optional<ImageInfo> ProbeImageHeader(const std::string& path) {
    try {
        RouteImagingMessages();
        l_int32 format = LeptonicaFormat(path);
        if (IsTiffFormat(format)) {
            ImageInfo info = ReadImageInfo(path);
            if (!info.damage.empty()) return std::nullopt;
            return info;
        }
        l_int32 w = 0, h = 0, bps = 0, spp = 0, cmap = 0, f = 0;
        if (pixReadHeader(path.c_str(), &f, &w, &h, &bps, &spp, &cmap) != 0 || w <= 0 || h <= 0) return std::nullopt;
        ImageInfo info;
        info.pages = 1;
        info.width = w;
        info.height = h;
        info.bitsPerPixel = cmap ? 8 : bps * std::min(spp, 3);
        info.format = format == IFF_JFIF_JPEG ? fileformat::Jpeg : format == IFF_PNG ? fileformat::Png : fileformat::Bmp;
        return info;
    } catch (const DorvexError&) {
        return std::nullopt;
    }
}

std::optional<ImageInfo> ProbeImage(const std::string& path) {
    try {
        ImageInfo info = ReadImageInfo(path);
        if (!info.damage.empty()) return std::nullopt;
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
    if (mPix && pixGetDepth(mPix) != 1) *this = OneBitCopy();
}

Raster Raster::OneBitCopy() const {
    if (!mPix || pixGetDepth(mPix) == 1) return *this;
    return Raster(Need(OneBitOf(mPix), "reduce"));
}

void Raster::ConvertTo(int bitsPerPixel) {
    if (!mPix || BitsPerPixel() == bitsPerPixel) return;
    if (bitsPerPixel == 1) ReduceTo1Bit();
    else if (bitsPerPixel == 8) Reset(Need(GreyOf(mPix), "convert"));
    else Reset(Normalise(Need(pixConvertTo32(mPix), "convert")));
}

std::optional<int> Raster::DetectSkew(int rangeHundredths, int resolutionHundredths) const {
    if (!mPix || rangeHundredths <= 0) return std::nullopt;
    PixPtr binary(Need(OneBitOf(mPix), "deskew"));
    l_float32 angle = 0;
    l_float32 confidence = 0;
    float range = static_cast<float>(rangeHundredths) / 100.0f;
    float delta = std::clamp(range / 10.0f, 0.1f, 1.0f);
    float precision = std::max(static_cast<float>(resolutionHundredths) / 100.0f, 0.01f);
    // The sweep runs on the page reduced to about 40 dpi and the search to about 75 dpi (by 8
    // and 4 at 300 dpi, by 4 and 2 at 200 dpi); small images are not reduced.
    const l_int32 side = std::min(pixGetWidth(binary.get()), pixGetHeight(binary.get()));
    const l_int32 search = side >= 2400 ? 4 : side >= 1200 ? 2 : 1;
    const l_int32 sweep = search == 1 ? 1 : search * 2;
    if (pixFindSkewSweepAndSearch(binary.get(), &angle, &confidence, sweep, search, range, delta, precision) != 0) {
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
        Reset(Need(pixRotateOrth(mPix, quads), "rotate"));
        return;
    }
    float radians = static_cast<float>(hundredths) / 100.0f * 3.14159265358979f / 180.0f;
    if (pixGetDepth(mPix) == 1 && std::abs(hundredths) <= 1000) {
        // Shears move whole runs of bits. pixRotate would sample every pixel beyond 3.4 degrees,
        // which costs more than the rest of a page's clean-up; three shears keep every pixel
        // within a pixel of its place well past the 10 degrees a deskew turns a page.
        Reset(Need(pixRotateShearCenter(mPix, radians, L_BRING_IN_WHITE), "rotate"));
        return;
    }
    if (PIX* turned = RotateByAreaMap(mPix, radians)) {
        Reset(turned);
        return;
    }
    Reset(Normalise(Need(pixRotate(mPix, radians, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0), "rotate")));
}

void Raster::AutoTrim() {
    if (!mPix) return;
    PixPtr binary(Need(OneBitOf(mPix), "trim"));
    l_int32 empty = 0;
    if (pixZero(binary.get(), &empty) != 0 || empty) return;  // nothing to trim to
    BOX* raw = nullptr;
    if (pixClipToForeground(binary.get(), nullptr, &raw) != 0 || raw == nullptr) Need(nullptr, "trim");
    BoxPtr box(raw);
    Reset(Need(pixClipRectangle(mPix, box.get(), nullptr), "trim"));
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

namespace {

// A run of set pixels of one row of a 1-bit image, x0..x1 inclusive.
struct InkRun {
    int y, x0, x1;
};

// The runs of the 8-connected components of a 1-bit image whose bounding box is at most
// 2 x 2 pixels. Components are found by joining the runs of neighbouring rows (union-find),
// which touches each run a few times instead of flood-filling every component.
std::vector<InkRun> SpeckRuns(PIX* binary) {
    const int w = pixGetWidth(binary);
    const int h = pixGetHeight(binary);
    const l_int32 wpl = pixGetWpl(binary);
    const l_uint32* data = pixGetData(binary);
    std::vector<InkRun> runs;
    std::vector<std::size_t> rowStart(static_cast<std::size_t>(h) + 1);
    for (int y = 0; y < h; ++y) {
        rowStart[static_cast<std::size_t>(y)] = runs.size();
        const l_uint32* line = data + static_cast<std::ptrdiff_t>(y) * wpl;
        int x = 0;
        while (x < w) {
            // The next set bit at or after x (bit 31 of a word is its leftmost pixel).
            int word = x >> 5;
            l_uint32 bits = line[word] & (0xFFFFFFFFu >> (x & 31));
            while (bits == 0 && ++word < wpl) bits = line[word];
            if (bits == 0) break;
            const int start = (word << 5) + __builtin_clz(bits);
            if (start >= w) break;
            // The next clear bit after it.
            word = start >> 5;
            bits = ~line[word] & (0xFFFFFFFFu >> (start & 31));
            while (bits == 0 && ++word < wpl) bits = ~line[word];
            const int end = std::min(bits == 0 ? w : (word << 5) + __builtin_clz(bits), w);
            runs.push_back({y, start, end - 1});
            x = end;
        }
    }
    rowStart[static_cast<std::size_t>(h)] = runs.size();

    std::vector<std::size_t> parent(runs.size());
    for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = i;
    auto find = [&parent](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    for (int y = 1; y < h; ++y) {
        std::size_t above = rowStart[static_cast<std::size_t>(y - 1)];
        const std::size_t aboveEnd = rowStart[static_cast<std::size_t>(y)];
        for (std::size_t i = rowStart[static_cast<std::size_t>(y)]; i < rowStart[static_cast<std::size_t>(y) + 1]; ++i) {
            while (above < aboveEnd && runs[above].x1 < runs[i].x0 - 1) ++above;
            for (std::size_t j = above; j < aboveEnd && runs[j].x0 <= runs[i].x1 + 1; ++j) parent[find(i)] = find(j);
        }
    }
    struct Box {
        int x0 = INT_MAX, x1 = -1, y0 = INT_MAX, y1 = -1;
    };
    std::vector<Box> boxes(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        Box& box = boxes[find(i)];
        box.x0 = std::min(box.x0, runs[i].x0);
        box.x1 = std::max(box.x1, runs[i].x1);
        box.y0 = std::min(box.y0, runs[i].y);
        box.y1 = std::max(box.y1, runs[i].y);
    }
    std::vector<InkRun> specks;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Box& box = boxes[find(i)];
        if (box.x1 - box.x0 < 2 && box.y1 - box.y0 < 2) specks.push_back(runs[i]);
    }
    return specks;
}

// Sets (or clears) the pixels of the runs in a 1-bit image.
void PaintRuns(PIX* binary, const std::vector<InkRun>& runs, bool set) {
    l_uint32* data = pixGetData(binary);
    const l_int32 wpl = pixGetWpl(binary);
    for (const InkRun& run : runs) {
        l_uint32* line = data + static_cast<std::ptrdiff_t>(run.y) * wpl;
        for (int x = run.x0; x <= run.x1; ++x) {
            if (set) SET_DATA_BIT(line, x);
            else CLEAR_DATA_BIT(line, x);
        }
    }
}

}  // namespace

void Raster::Despeckle() {
    if (!mPix) return;
    if (pixGetDepth(mPix) == 1) {
        // Keep every component at least 3 pixels wide or high.
        PaintRuns(mPix, SpeckRuns(mPix), false);
        return;
    }
    // Grey and colour: the specks are found on a 1-bit copy and painted white with their
    // soft edge, so that text is not blurred the way a median filter would.
    PixPtr binary(Need(OneBitOf(mPix), "despeckle"));
    std::vector<InkRun> specks = SpeckRuns(binary.get());
    if (specks.empty()) return;
    PixPtr mask(Need(pixCreate(pixGetWidth(mPix), pixGetHeight(mPix), 1), "despeckle"));
    PaintRuns(mask.get(), specks, true);
    PixPtr halo(Need(pixDilateBrick(nullptr, mask.get(), 3, 3), "despeckle"));
    pixSetMasked(mPix, halo.get(), pixGetDepth(mPix) == 8 ? 255 : 0xffffff00);
}

void Raster::Resize(int width, int height) {
    if (!mPix || width <= 0 || height <= 0) return;
    Reset(Normalise(Need(pixScaleToSize(mPix, width, height), "resize")));
}

void Raster::HalveSize() {
    if (!mPix) return;
    Reset(Normalise(Need(pixGetDepth(mPix) == 1 ? pixReduceRankBinary2(mPix, 1, nullptr) : pixScale(mPix, 0.5f, 0.5f), "shrink")));
}

std::int64_t Raster::CountInk() const {
    if (!mPix) Fail(err::InvalidArgument, "there is no image to count");
    PixPtr binary(Need(OneBitOf(mPix), "count"));
    l_int32 count = 0;
    if (pixCountPixels(binary.get(), &count, nullptr) != 0) Need(nullptr, "count");
    return count;
}

Raster Raster::Crop(const RasterRect& rect) const {
    if (!mPix) return Raster();
    if (rect.width <= 0 || rect.height <= 0 || rect.left >= Width() || rect.top >= Height() || rect.left + rect.width <= 0 ||
        rect.top + rect.height <= 0) {
        return Raster();  // nothing of the page lies there
    }
    BoxPtr box(boxCreate(rect.left, rect.top, rect.width, rect.height));
    if (!box) Need(nullptr, "crop");
    return Raster(Need(pixClipRectangle(mPix, box.get(), nullptr), "crop"));
}

void Raster::FillWhite(const RasterRect& rect) {
    if (!mPix) return;
    l_int32 op = pixGetDepth(mPix) == 1 ? PIX_CLR : PIX_SET;
    pixRasterop(mPix, rect.left, rect.top, rect.width, rect.height, op, nullptr, 0, 0);
}

namespace {

// Reads linear symbols across a region of a 1- or 8-bit page, on every 12th row, top to bottom,
// or every 12th column, left to right, for codes printed along a landscape page. Only the lines
// read are unpacked to grey levels. zxing reads them 16 at a time, all of them (its "try
// harder"), and wants a symbol on two of them: consecutive groups share a line, so any two
// neighbouring lines are read together and a code 24 rows high is found wherever it lies.
class LineScanner {
public:
    LineScanner(PIX* pix, const RasterRect& box) : mPix(pix), mBox(box) {
        mHints.setFormats(ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::ITF |
                          ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::UPCA |
                          ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::Codabar);
        mHints.setTryRotate(false);
        mHints.setTryHarder(true);
    }

    // Adds the symbols found to `texts`; false once `enough` says so.
    bool Scan(bool columns, const std::function<bool(const std::string&)>& enough, std::vector<std::string>& texts) {
        constexpr int kStep = 12;
        constexpr int kGroup = 16;
        const int lines = columns ? mBox.width : mBox.height;
        const std::size_t length = static_cast<std::size_t>(columns ? mBox.height : mBox.width);
        std::vector<std::uint8_t> lum(length * kGroup);
        int rows = 0;
        for (int line = kStep / 2; line < lines; line += kStep) {
            std::uint8_t* out = lum.data() + static_cast<std::size_t>(rows) * length;
            if (columns) Column(mBox.left + line, out);
            else Row(mBox.top + line, out);
            if (++rows < kGroup && line + kStep < lines) continue;
            if (rows == 1) {  // zxing reads nothing from one row
                std::copy_n(lum.begin(), length, lum.begin() + static_cast<std::ptrdiff_t>(length));
                rows = 2;
            }
            ZXing::Result result = ZXing::ReadBarcode(
                ZXing::ImageView(lum.data(), static_cast<int>(length), rows, ZXing::ImageFormat::Lum), mHints);
            // The group's last line opens the next group.
            std::copy_n(lum.begin() + static_cast<std::ptrdiff_t>((rows - 1) * length), length, lum.begin());
            rows = 1;
            if (!result.isValid()) continue;
            std::string text = result.text();
            if (!texts.empty() && texts.back() == text) continue;
            texts.push_back(text);
            if (enough && enough(text)) return false;
        }
        return true;
    }

private:
    void Row(int y, std::uint8_t* out) const {
        const l_uint32* line = pixGetData(mPix) + static_cast<std::ptrdiff_t>(y) * pixGetWpl(mPix);
        if (pixGetDepth(mPix) == 8) {
            for (int x = 0; x < mBox.width; ++x) out[x] = static_cast<std::uint8_t>(GET_DATA_BYTE(line, mBox.left + x));
            return;
        }
        for (int x = 0; x < mBox.width; ++x) out[x] = GET_DATA_BIT(line, mBox.left + x) ? 0 : 255;
    }
    void Column(int x, std::uint8_t* out) const {
        const l_uint32* data = pixGetData(mPix);
        const l_int32 wpl = pixGetWpl(mPix);
        const bool binary = pixGetDepth(mPix) == 1;
        for (int y = 0; y < mBox.height; ++y) {
            const l_uint32* line = data + static_cast<std::ptrdiff_t>(mBox.top + y) * wpl;
            out[y] = binary ? (GET_DATA_BIT(line, x) ? 0 : 255) : static_cast<std::uint8_t>(GET_DATA_BYTE(line, x));
        }
    }

    PIX* mPix;
    RasterRect mBox;
    ZXing::DecodeHints mHints;
};

}  // namespace

std::vector<std::string> Raster::ReadBarcodes(const RasterRect& rect, const std::function<bool(const std::string&)>& enough) const {
    std::vector<std::string> texts;
    if (!mPix) return texts;
    RasterRect box = rect;
    box.left = std::clamp(box.left, 0, Width());
    box.top = std::clamp(box.top, 0, Height());
    box.width = std::clamp(rect.left + rect.width, 0, Width()) - box.left;
    box.height = std::clamp(rect.top + rect.height, 0, Height()) - box.top;
    if (box.width <= 0 || box.height <= 0) return texts;
    PixPtr grey(Need(pixClone(mPix), "read barcodes on"));
    if (pixGetDepth(mPix) == 32) {
        // Only the region is made grey, not the whole colour page.
        Raster piece = Crop(box);
        grey.reset(Need(GreyOf(piece.mPix), "read barcodes on"));
        box.left = box.top = 0;
    }
    LineScanner scanner(grey.get(), box);
    // A code printed along the page of a landscape scan is read across the columns.
    if (scanner.Scan(false, enough, texts) && texts.empty()) scanner.Scan(true, enough, texts);
    return texts;
}

void Raster::DrawLine(int x0, int y0, int x1, int y1, int thickness, bool black) {
    if (!mPix || thickness < 1) return;
    // On a 1-bit page a set pixel is black; on grey and colour pages a set pixel is white.
    const bool oneBit = pixGetDepth(mPix) == 1;
    const l_int32 op = black == oneBit ? L_SET_PIXELS : L_CLEAR_PIXELS;
    if (pixRenderLine(mPix, x0, y0, x1, y1, thickness, op) != 0) Fail(err::OutOfMemory, "cannot draw on the page");
}

int Raster::DisplayChannels() const { return mPix && pixGetDepth(mPix) == 32 ? 3 : 1; }

void Raster::WriteDisplayRows(std::uint8_t* data, std::size_t bytesPerLine) const {
    if (!mPix || data == nullptr) return;
    const l_int32 depth = pixGetDepth(mPix);
    const int width = pixGetWidth(mPix);
    const int height = pixGetHeight(mPix);
    if (bytesPerLine < static_cast<std::size_t>(width) * static_cast<std::size_t>(DisplayChannels())) {
        Fail(err::InvalidArgument, "the display rows given are too short for the page");
    }
    const l_uint32* words = pixGetData(mPix);
    const l_int32 wpl = pixGetWpl(mPix);
    for (int y = 0; y < height; ++y) {
        const l_uint32* line = words + static_cast<std::ptrdiff_t>(y) * wpl;
        std::uint8_t* out = data + static_cast<std::size_t>(y) * bytesPerLine;
        for (int x = 0; x < width; ++x) {
            if (depth == 1) {
                out[x] = GET_DATA_BIT(line, x) ? 0 : 255;
            } else if (depth == 8) {
                out[x] = static_cast<std::uint8_t>(GET_DATA_BYTE(line, x));
            } else {
                const l_uint32 pixel = line[x];
                out[3 * x] = static_cast<std::uint8_t>((pixel >> L_RED_SHIFT) & 0xff);
                out[3 * x + 1] = static_cast<std::uint8_t>((pixel >> L_GREEN_SHIFT) & 0xff);
                out[3 * x + 2] = static_cast<std::uint8_t>((pixel >> L_BLUE_SHIFT) & 0xff);
            }
        }
    }
}

Raster::DisplaySamples Raster::ToDisplaySamples() const {
    DisplaySamples samples;
    if (!mPix) return samples;
    samples.width = Width();
    samples.height = Height();
    samples.channels = DisplayChannels();
    const std::size_t row = static_cast<std::size_t>(samples.width) * static_cast<std::size_t>(samples.channels);
    samples.data.resize(row * static_cast<std::size_t>(samples.height));
    WriteDisplayRows(samples.data.data(), row);
    return samples;
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
