#pragma once
// Whether a file is an image we can read, and its page count and size. The file's first page
// is decoded, so a damaged or truncated file is not taken for an image.

#include <optional>
#include <string>

namespace dorvex {

enum class ImageKind { Tiff, Jpeg, Png, Bmp, Other };

struct ImageFileInfo {
    ImageKind kind = ImageKind::Other;
    int pages = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

std::optional<ImageFileInfo> ProbeImage(const std::string& path);

// Routes the imaging library's own messages into the trace hook (called once, idempotent).
void RouteImagingMessages();

}  // namespace dorvex
