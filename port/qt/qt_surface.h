// The dialog's top-level window on Qt. Its client area is an image the
// program draws on, painted beneath the controls.
#pragma once

#include <stdint.h>

#include <functional>

#include <QImage>
#include <QWidget>

namespace port {

class DialogSurface : public QWidget {
public:
    DialogSurface() = default;

    // Called for the close box instead of closing: the dialog procedure
    // decides whether the window goes.
    std::function<void()> onClose;

    // Lends the client area's pixels, 0x00RRGGBB. They stay put until the
    // matching EndDrawing, even if the window is resized meanwhile.
    uint32_t *BeginDrawing(int *stride);
    // Puts what was drawn on the screen at once.
    void EndDrawing();
    QSize SurfaceSize() const { return pixels_.size(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QRect UpdateShown();
    void FitSurface();

    QImage pixels_;  // 0x00RRGGBB, as the program draws them
    QImage shown_;   // 0xFFRRGGBB, as Qt paints them
    int drawing_ = 0;
};

}  // namespace port
