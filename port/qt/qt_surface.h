// The dialog's top-level window on Qt. Its client area is an image the
// program draws on, painted beneath the controls.
#pragma once

#include <stdint.h>

#include <functional>

#include <QImage>
#include <QWidget>

#include "window_backend.h"

namespace port {

class DialogSurface : public QWidget {
public:
    DialogSurface() = default;

    // Called for the close box instead of closing: the dialog procedure
    // decides whether the window goes.
    std::function<void()> onClose;

    // The client area in the program's pixels, each a square of
    // PixelScale() x PixelScale() device pixels.
    QSize PixelSize() const;
    int PixelScale() const;

    // The client area starts this far down the widget, below a title bar
    // of the program's own; 0 where the frame draws it.
    void SetClientTop(int top) { clientTop_ = top; }

    // Lends the pixels, to one borrower at a time; they stay put until
    // EndDrawing, even if the window is resized meanwhile.
    void BeginDrawing(Surface *surface);
    // Puts the changed pixels on the screen at once.
    void EndDrawing(const SurfaceRect &changed);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The image's rectangle under a rectangle of the widget, and back.
    QRect ImageRect(const QRect &widgetRect) const;
    QRectF WidgetRect(const QRect &imageRect) const;
    void FitImage();

    QImage image_;  // the program's pixels, in Qt's RGB32
    int imageScale_ = 1;
    int clientTop_ = 0;
    bool drawing_ = false;  // the pixels are lent
};

}  // namespace port
