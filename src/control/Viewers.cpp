#include "control/Viewers.h"

#include <algorithm>

namespace dorvex {

void ImageViewer::Load(const std::string& path, int page) {
    ImageInfo info = ReadImageInfo(path);
    Raster image = Raster::Load(path, page);
    mImage = std::move(image);
    ++mRevision;
    mInfo = info;
    mPath = path;
    mPage = page;
    SavePage = page;
    BarcodeArea.reset();
}

void ImageViewer::SetImage(Raster image) {
    mImage = std::move(image);
    ++mRevision;
    mPath.clear();
    mPage = 0;
    mInfo = ImageInfo{};
    mInfo.bitsPerPixel = mImage.BitsPerPixel();
    mInfo.width = mImage.Width();
    mInfo.height = mImage.Height();
    mInfo.pages = mImage.Empty() ? 0 : 1;
    BarcodeArea.reset();
}

void ImageViewer::Clear() {
    mImage = Raster();
    ++mRevision;
    mPath.clear();
    mPage = 0;
    mInfo = ImageInfo{};
    RubberBand.reset();
    BarcodeArea.reset();
}

void ImageViewer::ZoomIn() {
    DisplayMode = Display::Zoom;
    ZoomPercent += 5;
}

void ImageViewer::ZoomOut() {
    DisplayMode = Display::Zoom;
    if (ZoomPercent <= 10) return;
    ZoomPercent -= 5;
}

std::optional<RasterRect> ImageViewer::BandDrawn(const RasterRect& band, int viewWidth, int viewHeight, bool ocr) {
    RubberBand.reset();
    if (!HasImage()) return std::nullopt;
    const int left = std::max(band.left, 0);
    const int top = std::max(band.top, 0);
    const int right = std::min(band.left + band.width, mImage.Width());
    const int bottom = std::min(band.top + band.height, mImage.Height());
    if (right <= left || bottom <= top) return std::nullopt;
    const RasterRect clipped{left, top, right - left, bottom - top};
    if (!AreaZoomArmed || ocr) {
        RubberBand = clipped;
        return std::nullopt;
    }
    AreaZoomArmed = false;
    RubberBandMode = false;
    const long long across = static_cast<long long>(std::max(viewWidth, 1)) * 100 / clipped.width;
    const long long down = static_cast<long long>(std::max(viewHeight, 1)) * 100 / clipped.height;
    DisplayMode = Display::Zoom;
    ZoomPercent = static_cast<int>(std::clamp<long long>(std::min(across, down), 1, kMaxAreaZoom));
    return clipped;
}

void ImageViewer::FittedAt(int percent) {
    if (DisplayMode == Display::FitPage && percent > 0) ZoomPercent = percent;
}

bool ImageViewer::DrawStroke(const std::vector<StrokePoint>& points) {
    if (ActiveTool == Tool::None || !HasImage() || points.empty()) return false;
    const bool pen = ActiveTool == Tool::Pen;
    ++mRevision;
    const int width = pen ? kPenWidth : kEraserWidth;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const StrokePoint& from = points[i == 0 ? 0 : i - 1];
        mImage.DrawLine(from.x, from.y, points[i].x, points[i].y, width, pen);
    }
    return true;
}

void ThumbnailStrip::Clear() {
    Items.clear();
    Offset = 0;
    Selected = -1;
}

Raster ThumbnailStrip::MakeThumbnail(const Raster& image) {
    Raster thumb = image;
    if (thumb.Empty() || thumb.Width() <= kThumbnailWidth) return thumb;
    int height = std::max(1, thumb.Height() * kThumbnailWidth / thumb.Width());
    thumb.Resize(kThumbnailWidth, height);
    return thumb;
}

void ThumbnailStrip::LoadGroup(int pageCount, int offset, const std::function<Raster(int)>& loadPage) {
    Items.clear();
    Offset = std::clamp(offset, 0, std::max(pageCount - 1, 0));
    for (int page = Offset + 1; page <= std::min(pageCount, Offset + ItemLimit); ++page) {
        Items.push_back({page, MakeThumbnail(loadPage(page))});
    }
    if (Selected >= static_cast<int>(Items.size())) Selected = Items.empty() ? -1 : 0;
}

void ThumbnailStrip::Replace(int page, const Raster& image) {
    for (Item& item : Items) {
        if (item.page == page) item.thumbnail = MakeThumbnail(image);
    }
}

}  // namespace dorvex
