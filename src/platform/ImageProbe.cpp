#include "platform/ImageProbe.h"

#include <leptonica/allheaders.h>

#include <cstdio>
#include <memory>

#include "support/Trace.h"

namespace dorvex {
namespace {

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

void ToTrace(const char* text) { DebugTrace(std::string("leptonica: ") + text); }

ImageKind KindOf(l_int32 format) {
    switch (format) {
        case IFF_TIFF: case IFF_TIFF_PACKBITS: case IFF_TIFF_RLE: case IFF_TIFF_G3: case IFF_TIFF_G4:
        case IFF_TIFF_LZW: case IFF_TIFF_ZIP: case IFF_TIFF_JPEG:
            return ImageKind::Tiff;
        case IFF_JFIF_JPEG: return ImageKind::Jpeg;
        case IFF_PNG: return ImageKind::Png;
        case IFF_BMP: return ImageKind::Bmp;
        default: return ImageKind::Other;
    }
}

}  // namespace

void RouteImagingMessages() {
    static const bool routed = [] {
        leptSetStderrHandler(&ToTrace);
        return true;
    }();
    (void)routed;
}

std::optional<ImageFileInfo> ProbeImage(const std::string& path) {
    RouteImagingMessages();
    l_int32 format = 0;
    if (findFileFormat(path.c_str(), &format) != 0) return std::nullopt;
    ImageFileInfo info;
    info.kind = KindOf(format);
    if (info.kind == ImageKind::Other) return std::nullopt;
    std::unique_ptr<PIX, PixDeleter> first(info.kind == ImageKind::Tiff ? pixReadTiff(path.c_str(), 0)
                                                                          : pixRead(path.c_str()));
    if (!first) return std::nullopt;
    info.width = pixGetWidth(first.get());
    info.height = pixGetHeight(first.get());
    info.bitsPerPixel = pixGetDepth(first.get());
    info.pages = 1;
    if (info.kind == ImageKind::Tiff) {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
        l_int32 count = 0;
        if (!file || tiffGetCount(file.get(), &count) != 0 || count < 1) return std::nullopt;
        info.pages = count;
    }
    return info;
}

}  // namespace dorvex
