#pragma once
// The scan window's viewers as core objects: the single-page viewer and the invisible work area
// (an image with the file it came from, the page to save into, zoom and rubber band), and the
// thumbnail strip (a group of pages from an offset on). The Qt views only draw them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Raster.h"

namespace dorvex {

struct StrokePoint {
    int x = 0;
    int y = 0;
};

class ImageViewer {
public:
    // Loads page `page` of `path` and reads the file's information; throws DorvexError.
    void Load(const std::string& path, int page);
    void SetImage(Raster image);  // an image that came from no file (a copy, a scan)
    void Clear();
    bool HasImage() const { return !mImage.Empty(); }
    // The image to change in place: counts as a change (see Revision).
    Raster& Image() { return ++mRevision, mImage; }
    const Raster& Image() const { return mImage; }
    // Changes whenever the image is replaced, cleared or handed out for changing, so that a view
    // draws it again only then.
    std::uint64_t Revision() const { return mRevision; }

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
    // The part of the page searched for its barcode while it was scanned (image pixels), shown
    // on it until another image comes.
    std::optional<RasterRect> BarcodeArea;

    // Area zoom ("區塊放大"): the next rubber band zooms the view to its area.
    bool AreaZoomArmed = false;
    static constexpr int kMaxAreaZoom = 1600;
    // A rubber band the person drew, in image pixels, kept clipped to the page (none when no
    // pixel of the page is inside). With area zoom armed and recognition off, the band is not
    // kept: the zoom becomes the largest (up to kMaxAreaZoom %) at which the band fits a view of
    // `viewWidth` × `viewHeight` screen pixels, rubber-band mode ends, and the band's area is
    // returned for the view to bring into sight.
    std::optional<RasterRect> BandDrawn(const RasterRect& band, int viewWidth, int viewHeight, bool ocr);
    // What a fitted page is shown at, told by the view, so that zooming goes on from there.
    void FittedAt(int percent);

    // The drawing tools of the edit mode ("簽字筆", "橡皮擦"): a stroke marks the page black or
    // white, this many pixels wide.
    enum class Tool { None, Pen, Eraser };
    Tool ActiveTool = Tool::None;
    static constexpr int kPenWidth = 3;
    static constexpr int kEraserWidth = 16;
    // Draws a stroke of the active tool through the points (image pixels); false when nothing
    // was drawn (no tool, no image, no point).
    bool DrawStroke(const std::vector<StrokePoint>& points);

private:
    Raster mImage;
    std::uint64_t mRevision = 0;
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
