// The dialog's drawing surface: the program's pixels on the screen.
//
// The program draws straight into the image Qt paints: its pixels carry
// the opaque alpha byte Qt's RGB32 needs (Surface::fixedBits), and the
// drawing layer says which rectangle it changed, so nothing is converted or
// compared and only that rectangle is repainted.
//
// On a scaled display each of the program's pixels is a square of whole
// device pixels: the scale factor rounded down. At 1.5 a pixel is 1 x 1
// device pixels and the band 256 device rows; at 2 it is 2 x 2, as Qt
// would draw it anyway. Qt scaling the image by 1.5 itself would make some
// dots 1 and some 2 pixels wide or high, a ragged trace. Rounding down
// rather than to the nearest keeps the whole 256-row band inside the
// window: at 1.5 and 1.75 a 2 x 2 pixel would make it taller than the
// window's 260 rows and cut off the loudest samples.
#include "qt/qt_surface.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include <QCloseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace port {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

}  // namespace

int DialogSurface::PixelScale() const
{
    // A hair above the factor, so 2 given as 1.9999999 still counts as 2.
    return std::max(1, (int)floor(devicePixelRatioF() + 1e-6));
}

QSize DialogSurface::PixelSize() const
{
    // Qt rounds the window's size in device pixels to the nearest; the
    // image covers all of it, the last pixel perhaps only in part.
    const qreal ratio = devicePixelRatioF();
    const int scale = PixelScale();
    const int deviceWidth = qRound(width() * ratio);
    const int deviceHeight = qRound((height() - clientTop_) * ratio);
    return QSize((deviceWidth + scale - 1) / scale, (deviceHeight + scale - 1) / scale);
}

void DialogSurface::BeginDrawing(Surface *surface)
{
    FitImage();
    drawing_ = true;
    surface->pixels = reinterpret_cast<uint32_t *>(image_.bits());
    surface->width = image_.width();
    surface->height = image_.height();
    surface->stride = image_.bytesPerLine() / 4;
    surface->fixedBits = kOpaque;
}

void DialogSurface::EndDrawing(const SurfaceRect &changed)
{
    if (!drawing_) {
        return;
    }
    drawing_ = false;
    const QRect drawn = QRect(changed.x, changed.y, changed.width, changed.height) & image_.rect();
    // Resized meanwhile: the whole window repaints anyway.
    FitImage();
    if (drawn.isEmpty()) {
        return;
    }
    // What lies under the controls does not show: they are opaque and need
    // no repainting.
    QRegion region(WidgetRect(drawn).toAlignedRect());
    for (const QObject *child : children()) {
        const QWidget *control = qobject_cast<const QWidget *>(child);
        if (control != nullptr && control->isVisible() && !control->isWindow()) {
            region -= control->geometry();
        }
    }
    if (!region.isEmpty()) {
        repaint(region);
    }
}

void DialogSurface::paintEvent(QPaintEvent *event)
{
    // In strips of 64 device rows: Qt hands a blit of more than about a
    // hundred to its thread pool, which for a copy this small costs more in
    // wake-ups than it saves.
    if (!drawing_) {
        FitImage();  // the window may have moved to a screen of another scale
    }
    const int strip = std::max(1, 64 / imageScale_);
    QPainter painter(this);
    for (const QRect &rect : event->region()) {
        const QRect source = ImageRect(rect);
        for (int y = source.top(); y <= source.bottom(); y += strip) {
            const QRect rows(source.left(), y, source.width(), std::min(strip, source.bottom() + 1 - y));
            painter.drawImage(WidgetRect(rows), image_, rows);
        }
    }
}

void DialogSurface::resizeEvent(QResizeEvent *)
{
    if (!drawing_) {
        FitImage();
    }
}

void DialogSurface::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (onClose) {
        onClose();
    }
}

// Widget coordinates are Qt's device-independent pixels; the image's are
// imageScale_ device pixels each, from the client area's top.
QRect DialogSurface::ImageRect(const QRect &rect) const
{
    const QRect widgetRect = rect.translated(0, -clientTop_);
    const qreal perPixel = devicePixelRatioF() / imageScale_;
    const int left = (int)floor(widgetRect.left() * perPixel);
    const int top = (int)floor(widgetRect.top() * perPixel);
    const int right = (int)ceil((widgetRect.right() + 1) * perPixel);
    const int bottom = (int)ceil((widgetRect.bottom() + 1) * perPixel);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & image_.rect();
}

QRectF DialogSurface::WidgetRect(const QRect &imageRect) const
{
    const qreal perPixel = devicePixelRatioF() / imageScale_;
    return QRectF(imageRect.x() / perPixel, imageRect.y() / perPixel + clientTop_,
                  imageRect.width() / perPixel, imageRect.height() / perPixel);
}

// Keeps what was drawn; new area gets the dialog's background, as on Windows.
void DialogSurface::FitImage()
{
    const QSize size = PixelSize();
    if (image_.size() == size && imageScale_ == PixelScale()) {
        return;
    }
    QImage next(size, QImage::Format_RGB32);
    next.fill(palette().color(QPalette::Window).rgb() | kOpaque);
    const int keptWidth = std::min(image_.width(), next.width());
    const int keptHeight = std::min(image_.height(), next.height());
    for (int y = 0; y < keptHeight; y++) {
        memcpy(next.scanLine(y), image_.constScanLine(y), keptWidth * sizeof(uint32_t));
    }
    image_ = std::move(next);
    imageScale_ = PixelScale();
}

}  // namespace port
