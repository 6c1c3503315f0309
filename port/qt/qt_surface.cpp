// The dialog's drawing surface: the program's pixels on the screen.
//
// The program's pixels are 0x00RRGGBB and stay so in pixels_; Qt's RGB32
// images must be 0xFFRRGGBB, so shown_ holds the same pixels as Qt paints
// them. EndDrawing brings shown_ up to date in one pass and repaints only
// the rows that changed: a block of silence redraws one row, not the window.
#include "qt/qt_surface.h"

#include <string.h>

#include <algorithm>

#include <QCloseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace port {

uint32_t *DialogSurface::BeginDrawing(int *stride)
{
    if (drawing_++ == 0) {
        FitSurface();
    }
    *stride = pixels_.bytesPerLine() / 4;
    return reinterpret_cast<uint32_t *>(pixels_.bits());
}

void DialogSurface::EndDrawing()
{
    if (drawing_ > 0 && --drawing_ == 0) {
        const QRect changed = UpdateShown();
        FitSurface();
        // What lies under the controls does not show: they are opaque and
        // need no repainting.
        QRegion region(changed);
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
}

void DialogSurface::paintEvent(QPaintEvent *event)
{
    // In strips: Qt hands a blit of more than about a hundred rows to its
    // thread pool, which for a copy this small costs more in wake-ups than
    // it saves.
    constexpr int kStrip = 64;
    QPainter painter(this);
    for (const QRect &rect : event->region()) {
        for (int y = rect.top(); y <= rect.bottom(); y += kStrip) {
            const QRect strip(rect.left(), y, rect.width(), std::min(kStrip, rect.bottom() + 1 - y));
            painter.drawImage(strip.topLeft(), shown_, strip);
        }
    }
}

void DialogSurface::resizeEvent(QResizeEvent *)
{
    if (drawing_ == 0) {
        FitSurface();
    }
}

void DialogSurface::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (onClose) {
        onClose();
    }
}

// Copies the program's pixels to shown_ with an opaque alpha; answers the
// band of rows that changed.
QRect DialogSurface::UpdateShown()
{
    const int width = pixels_.width();
    const int height = pixels_.height();
    const uint32_t *source = reinterpret_cast<const uint32_t *>(pixels_.constBits());
    uint32_t *target = reinterpret_cast<uint32_t *>(shown_.bits());
    const qsizetype sourceStride = pixels_.bytesPerLine() / 4;
    const qsizetype targetStride = shown_.bytesPerLine() / 4;
    // Four pixels at a time: at -O2 the compiler would go one by one.
    typedef uint32_t Four __attribute__((vector_size(16)));
    const Four opaque = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
    int first = height, last = -1;
    for (int y = 0; y < height; y++) {
        const uint32_t *from = source + y * sourceStride;
        uint32_t *to = target + y * targetStride;
        Four differences = {0, 0, 0, 0};
        int x = 0;
        for (; x + 4 <= width; x += 4) {
            Four pixels, old;
            memcpy(&pixels, from + x, sizeof pixels);
            memcpy(&old, to + x, sizeof old);
            pixels |= opaque;
            differences |= pixels ^ old;
            memcpy(to + x, &pixels, sizeof pixels);
        }
        uint32_t difference = differences[0] | differences[1] | differences[2] | differences[3];
        for (; x < width; x++) {
            const uint32_t pixel = from[x] | 0xFF000000u;
            difference |= to[x] ^ pixel;
            to[x] = pixel;
        }
        if (difference != 0) {
            first = std::min(first, y);
            last = y;
        }
    }
    return last < 0 ? QRect() : QRect(0, first, width, last - first + 1);
}

// Keeps what was drawn; new area gets the dialog's background, as on Windows.
void DialogSurface::FitSurface()
{
    if (pixels_.size() == size()) {
        return;
    }
    // Filled by hand: QImage::fill would make the alpha opaque.
    QImage next(size(), QImage::Format_RGB32);
    const uint32_t background = palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    const int kept = std::min(pixels_.width(), next.width());
    for (int y = 0; y < next.height(); y++) {
        uint32_t *row = reinterpret_cast<uint32_t *>(next.scanLine(y));
        int x = 0;
        if (y < pixels_.height()) {
            memcpy(row, pixels_.constScanLine(y), kept * sizeof(uint32_t));
            x = kept;
        }
        std::fill(row + x, row + next.width(), background);
    }
    pixels_ = std::move(next);
    // Zeroed so the first comparison reads defined pixels; the whole widget
    // repaints after a resize anyway.
    shown_ = QImage(size(), QImage::Format_RGB32);
    shown_.fill(0u);
    UpdateShown();
}

}  // namespace port
