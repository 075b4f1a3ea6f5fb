#pragma once
// The scan window's viewers as core objects: the single-page viewer and the invisible work area
// (an image with the file it came from, the page to save into, zoom and rubber band), and the
// thumbnail strip (a group of pages from an offset on). The Qt views only draw them.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Raster.h"

namespace dorvex {

class ImageViewer {
public:
    // Loads page `page` of `path` and reads the file's information; throws DorvexError.
    void Load(const std::string& path, int page);
    void SetImage(Raster image);  // an image that came from no file (a copy, a scan)
    void Clear();
    bool HasImage() const { return !mImage.Empty(); }
    Raster& Image() { return mImage; }
    const Raster& Image() const { return mImage; }

    // The file the image came from and its information (format, depth, page count).
    const std::string& FilePath() const { return mPath; }
    int Page() const { return mPage; }
    const ImageInfo& FileInfo() const { return mInfo; }
    int SavePage = 1;

    // Zoom in percent; FitPage shows the whole page, Original its own size.
    enum class Display { Zoom, FitPage, Original };
    Display DisplayMode = Display::FitPage;
    int ZoomPercent = 100;
    void ZoomIn();   // +5 points
    void ZoomOut();  // -5 points; nothing at 10 % or less
    void FitView() { DisplayMode = Display::FitPage; }
    void OriginalSize() { DisplayMode = Display::Original, ZoomPercent = 100; }

    bool RubberBandMode = false;
    std::optional<RasterRect> RubberBand;  // in image pixels

private:
    Raster mImage;
    std::string mPath;
    int mPage = 0;
    ImageInfo mInfo;
};

class ThumbnailStrip {
public:
    struct Item {
        int page = 0;  // 1-based page of the document
        Raster thumbnail;
    };
    static constexpr int kThumbnailWidth = 160;

    int ItemLimit = 8;  // pages per group
    int Offset = 0;     // page number before the first item
    int Selected = -1;  // index into Items, -1 for none
    std::vector<Item> Items;

    void Clear();
    // Shows the group of up to ItemLimit pages after page `offset` of a document of `pageCount`
    // pages; `loadPage` gives a page's image.
    void LoadGroup(int pageCount, int offset, const std::function<Raster(int)>& loadPage);
    // Replaces the thumbnail of `page` when it is shown.
    void Replace(int page, const Raster& image);
    static Raster MakeThumbnail(const Raster& image);
};

}  // namespace dorvex
