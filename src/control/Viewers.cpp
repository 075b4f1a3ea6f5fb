#include "control/Viewers.h"

#include <algorithm>

namespace dorvex {

void ImageViewer::Load(const std::string& path, int page) {
    ImageInfo info = ReadImageInfo(path);
    Raster image = Raster::Load(path, page);
    mImage = std::move(image);
    mInfo = info;
    mPath = path;
    mPage = page;
    SavePage = page;
}

void ImageViewer::SetImage(Raster image) {
    mImage = std::move(image);
    mPath.clear();
    mPage = 0;
    mInfo = ImageInfo{};
    mInfo.bitsPerPixel = mImage.BitsPerPixel();
    mInfo.width = mImage.Width();
    mInfo.height = mImage.Height();
    mInfo.pages = mImage.Empty() ? 0 : 1;
}

void ImageViewer::Clear() {
    mImage = Raster();
    mPath.clear();
    mPage = 0;
    mInfo = ImageInfo{};
    RubberBand.reset();
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
