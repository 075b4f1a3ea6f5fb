#include "ui/PageView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRubberBand>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <utility>

namespace dorvex::ui {
namespace {

// The pointer of "簽字筆": a pen whose tip is the hot spot.
QCursor PenCursor() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(4, 28), QPointF(26, 6));
    painter.setPen(QPen(QColor(30, 30, 160), 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(7, 25), QPointF(26, 6));
    painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(2, 30), QPointF(7, 25));
    painter.end();
    return QCursor(pixmap, 2, 29);
}

// The pointer of "橡皮擦": a block as wide as the eraser's stroke, centred on the hot spot.
QCursor EraserCursor() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(255, 200, 200));
    painter.drawRect(QRect(8, 8, 16, 16));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(QRect(9, 9, 14, 14));
    painter.end();
    return QCursor(pixmap, 16, 16);
}

}  // namespace

QImage ToQImage(const Raster& image) {
    if (image.Empty()) return QImage();
    QImage out(image.Width(), image.Height(), image.DisplayChannels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (out.isNull()) return out;  // no memory for it: nothing is shown
    image.WriteDisplayRows(out.bits(), static_cast<std::size_t>(out.bytesPerLine()));
    out.setDotsPerMeterX(static_cast<int>(std::lround(image.XDpi() / 0.0254)));
    out.setDotsPerMeterY(static_cast<int>(std::lround(image.YDpi() / 0.0254)));
    return out;
}

PageView::PageView(QWidget* parent) : QAbstractScrollArea(parent) {
    mBand = new QRubberBand(QRubberBand::Rectangle, viewport());
    mBand->hide();
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
}

PageView::~PageView() = default;

void PageView::Refresh() {
    if (mViewer != mConvertedFrom || (mViewer && mViewer->Revision() != mConverted)) {
        mImage = mViewer && mViewer->HasImage() ? ToQImage(std::as_const(*mViewer).Image()) : QImage();
        mConvertedFrom = mViewer;
        mConverted = mViewer ? mViewer->Revision() : 0;
        mScaled = QImage();
    }
    Layout();
    PlaceBand();
    UpdateCursor();
    viewport()->update();
}

double PageView::Scale() const {
    if (!mViewer || mImage.isNull()) return 0;
    switch (mViewer->DisplayMode) {
        case ImageViewer::Display::FitPage: {
            const QSize view = viewport()->size();
            return std::max(std::min(static_cast<double>(view.width()) / mImage.width(),
                                     static_cast<double>(view.height()) / mImage.height()),
                            0.001);
        }
        case ImageViewer::Display::Original: return 1.0;
        case ImageViewer::Display::Zoom: return std::max(mViewer->ZoomPercent, 1) / 100.0;
    }
    return 1.0;
}

void PageView::Layout() {
    // A fitted page needs no scroll bars, and the room they would take changes the fit.
    const Qt::ScrollBarPolicy bars = mViewer && mViewer->DisplayMode == ImageViewer::Display::FitPage
                                         ? Qt::ScrollBarAlwaysOff
                                         : Qt::ScrollBarAsNeeded;
    if (horizontalScrollBarPolicy() != bars) setHorizontalScrollBarPolicy(bars);
    if (verticalScrollBarPolicy() != bars) setVerticalScrollBarPolicy(bars);
    const double scale = Scale();
    const QSize view = viewport()->size();
    const int width = static_cast<int>(std::floor(mImage.width() * scale));
    const int height = static_cast<int>(std::floor(mImage.height() * scale));
    horizontalScrollBar()->setRange(0, std::max(0, width - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(std::max(1, view.width() / 20));
    verticalScrollBar()->setRange(0, std::max(0, height - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(std::max(1, view.height() / 20));
    if (mViewer && scale > 0 && mViewer->DisplayMode == ImageViewer::Display::FitPage) {
        mViewer->FittedAt(static_cast<int>(std::lround(scale * 100)));
    }
}

QPointF PageView::Origin() const {
    const double scale = Scale();
    const QSize view = viewport()->size();
    const double width = std::floor(mImage.width() * scale);
    const double height = std::floor(mImage.height() * scale);
    const double x = width < view.width() ? (view.width() - width) / 2 : -horizontalScrollBar()->value();
    const double y = height < view.height() ? (view.height() - height) / 2 : -verticalScrollBar()->value();
    return {std::floor(x), std::floor(y)};
}

QPointF PageView::ToImage(const QPointF& point) const {
    const double scale = Scale();
    if (scale <= 0) return {};
    return (point - Origin()) / scale;
}

QRect PageView::ToViewport(const RasterRect& rect) const {
    const double scale = Scale();
    const QPointF origin = Origin();
    return QRectF(origin.x() + rect.left * scale, origin.y() + rect.top * scale, rect.width * scale, rect.height * scale)
        .toAlignedRect();
}

void PageView::BringIntoView(const RasterRect& area) {
    Layout();
    const double scale = Scale();
    const QSize view = viewport()->size();
    horizontalScrollBar()->setValue(static_cast<int>((area.left + area.width / 2.0) * scale - view.width() / 2.0));
    verticalScrollBar()->setValue(static_cast<int>((area.top + area.height / 2.0) * scale - view.height() / 2.0));
    PlaceBand();
    viewport()->update();
}

void PageView::PlaceBand() {
    if (mDraggingBand) return;
    if (mViewer && mViewer->RubberBand && !mImage.isNull()) {
        mBand->setGeometry(ToViewport(*mViewer->RubberBand));
        mBand->show();
    } else {
        mBand->hide();
    }
}

void PageView::UpdateCursor() {
    if (!mViewer || mImage.isNull()) {
        viewport()->unsetCursor();
        return;
    }
    switch (mViewer->ActiveTool) {
        case ImageViewer::Tool::Pen: viewport()->setCursor(PenCursor()); return;
        case ImageViewer::Tool::Eraser: viewport()->setCursor(EraserCursor()); return;
        case ImageViewer::Tool::None: break;
    }
    if (mViewer->RubberBandMode) viewport()->setCursor(Qt::CrossCursor);
    else viewport()->unsetCursor();
}

void PageView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    if (mImage.isNull()) return;
    const double scale = Scale();
    const QPointF origin = Origin();
    if (scale < 1.0) {
        // Reduced once per scale with area averaging: 1-bit text turns to grey, not to gaps.
        if (mScaled.isNull() || mScaledAt != scale) {
            const int width = std::max(1, static_cast<int>(std::floor(mImage.width() * scale)));
            const int height = std::max(1, static_cast<int>(std::floor(mImage.height() * scale)));
            mScaled = mImage.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            mScaledAt = scale;
        }
        painter.drawImage(origin, mScaled);
    } else {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scale != 1.0);
        painter.translate(origin);
        painter.scale(scale, scale);
        painter.drawImage(QPointF(0, 0), mImage);
        painter.restore();
    }
    if (mViewer && mViewer->BarcodeArea) {
        // Where the barcode was looked for, drawn over the page, not into it.
        painter.setPen(QPen(kBarcodeAreaColour, 2, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(ToViewport(*mViewer->BarcodeArea).adjusted(1, 1, -1, -1));
    }
    if (mDrawing && !mStroke.empty() && mViewer) {
        const bool pen = mViewer->ActiveTool == ImageViewer::Tool::Pen;
        const int width = pen ? ImageViewer::kPenWidth : ImageViewer::kEraserWidth;
        painter.setPen(QPen(pen ? Qt::black : Qt::white, std::max(1.0, width * scale), Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        QPainterPath path(origin + QPointF(mStroke.front().x, mStroke.front().y) * scale);
        for (const StrokePoint& point : mStroke) path.lineTo(origin + QPointF(point.x, point.y) * scale);
        painter.drawPath(path);
    }
}

void PageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Layout();
    PlaceBand();
}

void PageView::scrollContentsBy(int, int) {
    PlaceBand();
    viewport()->update();
}

void PageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !mViewer || mImage.isNull()) return QAbstractScrollArea::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    if (mViewer->ActiveTool != ImageViewer::Tool::None) {
        const QPointF point = ToImage(at);
        mStroke = {{static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y()))}};
        mDrawing = true;
        viewport()->update();
    } else if (mViewer->RubberBandMode) {
        mDraggingBand = true;
        mBandStart = at;
        mBand->setGeometry(QRect(at, QSize()));
        mBand->show();
    }
}

void PageView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (mDrawing) {
        const QPointF point = ToImage(at);
        const StrokePoint next{static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y()))};
        if (next.x != mStroke.back().x || next.y != mStroke.back().y) mStroke.push_back(next);
        viewport()->update();
    } else if (mDraggingBand) {
        mBand->setGeometry(QRect(mBandStart, at).normalized());
    }
}

void PageView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && RightReleased && mViewer && !mImage.isNull()) {
        RightReleased(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
    const QPoint at = event->position().toPoint();
    if (mDrawing) {
        mouseMoveEvent(event);
        mDrawing = false;
        std::vector<StrokePoint> stroke = std::move(mStroke);
        mStroke.clear();
        viewport()->update();
        if (Stroke) Stroke(stroke);
    } else if (mDraggingBand) {
        mDraggingBand = false;
        const QRect drawn = QRect(mBandStart, at).normalized();
        const QPointF topLeft = ToImage(drawn.topLeft());
        const QPointF bottomRight = ToImage(drawn.bottomRight() + QPoint(1, 1));
        const int left = static_cast<int>(std::floor(topLeft.x()));
        const int top = static_cast<int>(std::floor(topLeft.y()));
        // A click without a drag draws no band (and takes the one shown away).
        const bool click = drawn.width() < 3 && drawn.height() < 3;
        const RasterRect band{left, top, click ? 0 : static_cast<int>(std::ceil(bottomRight.x())) - left,
                              click ? 0 : static_cast<int>(std::ceil(bottomRight.y())) - top};
        if (BandDrawn) BandDrawn(band);
        PlaceBand();
    }
}

}  // namespace dorvex::ui
