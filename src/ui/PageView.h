#pragma once
// The single-page viewer's Qt view: draws an ImageViewer (the page at its zoom, smoothly scaled,
// the rubber band, the drawing tool's cursor) and hands the person's gestures back: a rubber
// band drawn, a stroke of the pen or the eraser.

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>

#include "control/Viewers.h"

class QRubberBand;

namespace dorvex::ui {

// A page as a QImage of its own: 8-bit grey for 1- and 8-bit pages, RGB for colour pages.
QImage ToQImage(const Raster& image);

// The frame of the area searched for a barcode (dashed, over the page).
inline const QColor kBarcodeAreaColour{0, 120, 215};

class PageView : public QAbstractScrollArea {
public:
    explicit PageView(QWidget* parent = nullptr);
    ~PageView() override;

    // The viewer drawn; Refresh draws it as it now is.
    void SetViewer(ImageViewer* viewer) { mViewer = viewer; }
    void Refresh();

    // The scale the page is drawn at (1 = one image pixel to one screen pixel); 0 without a page.
    double Scale() const;
    // Between viewport points and image pixels.
    QPointF ToImage(const QPointF& viewportPoint) const;
    QRect ToViewport(const RasterRect& rect) const;
    // Scrolls so that the area (image pixels) is centred.
    void BringIntoView(const RasterRect& area);
    // The page as last converted (for printing and tests).
    const QImage& PageImage() const { return mImage; }

    // Gestures, in image pixels.
    std::function<void(const RasterRect&)> BandDrawn;
    std::function<void(const std::vector<StrokePoint>&)> Stroke;
    // The right button was released over the page (at this screen point).
    std::function<void(const QPoint&)> RightReleased;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Layout();
    QPointF Origin() const;  // where the page's top left corner is drawn, in viewport points
    void PlaceBand();
    void UpdateCursor();

    ImageViewer* mViewer = nullptr;
    QImage mImage;  // the page at full size
    const ImageViewer* mConvertedFrom = nullptr;
    std::uint64_t mConverted = ~std::uint64_t{0};  // the viewer's revision that mImage shows
    QImage mScaled;                                  // the page reduced for a scale below 1
    double mScaledAt = 0;
    QRubberBand* mBand = nullptr;
    bool mDraggingBand = false;
    QPoint mBandStart;
    std::vector<StrokePoint> mStroke;  // the stroke being drawn
    bool mDrawing = false;
};

}  // namespace dorvex::ui
