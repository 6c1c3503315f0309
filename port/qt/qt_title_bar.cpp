// The dialog's title bar on Wayland, drawn by the program itself where the
// compositor draws none.
//
// Compositors such as KDE's draw windows' title bars on request (they
// offer xdg-decoration's manager), and there the window has the desktop's
// own, as every other program does. Others, such as weston and GNOME's,
// leave it to the program, so Qt draws one. Qt 6.4's ("bradient") centres
// the caption and cuts a long one on both sides, and shows minimize and
// maximize buttons whatever the window's flags say; its plugin interface is
// private to Qt. So there the window is frameless and this bar stands in
// for the frame's top, as on Windows: the caption from its start, cut at
// the right with an ellipsis, and only the buttons the template asks for.
#include "qt/qt_title_bar.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "qt/wayland_globals.h"

namespace port {

namespace {

constexpr int kResizeBorder = 4;  // pixels at the window's edges that resize it

bool OnWayland(const QString &platform)
{
    return platform.startsWith(QLatin1String("wayland"));  // also "wayland-egl" and the like
}

}  // namespace

bool NeedsOwnTitleBar(const QString &platform, const QStringList &globals)
{
    return OnWayland(platform) && !globals.contains(QLatin1String("zxdg_decoration_manager_v1"));
}

// Asks the compositor only on Wayland, and then once per dialog.
bool NeedsOwnTitleBar()
{
    const QString platform = QGuiApplication::platformName();
    return OnWayland(platform) && NeedsOwnTitleBar(platform, WaylandGlobals());
}

TitleBar::TitleBar(QWidget *window, Qt::WindowFlags frame, bool resizable)
    : QWidget(window), window_(window), frame_(frame), resizable_(resizable)
{
    setFont(QGuiApplication::font());  // the desktop's, not the dialog's
    const int height = fontMetrics().height() + 12;
    setGeometry(0, 0, window->width(), height);
    window->installEventFilter(this);
    if (resizable_) {
        window->setMouseTracking(true);  // for the edges' cursors
    }
}

Qt::WindowType TitleBar::ButtonAt(int index) const
{
    const Qt::WindowType order[] = {Qt::WindowCloseButtonHint, Qt::WindowMaximizeButtonHint,
                                    Qt::WindowMinimizeButtonHint};
    for (Qt::WindowType button : order) {
        if ((frame_ & button) && index-- == 0) {
            return button;
        }
    }
    return Qt::Widget;
}

int TitleBar::ButtonCount() const
{
    int count = 0;
    while (ButtonAt(count) != Qt::Widget) {
        count++;
    }
    return count;
}

QRect TitleBar::ButtonRect(int index) const
{
    const int size = height() - 6;
    return QRect(width() - 3 - (index + 1) * (size + 2), 3, size, size);
}

void TitleBar::paintEvent(QPaintEvent *)
{
    const QPalette::ColorGroup group = window_->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const QColor ink = palette().color(group, QPalette::HighlightedText);
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(group, QPalette::Highlight));
    painter.setPen(ink);

    const int margin = height() / 3;
    const int textRight =
        ButtonCount() > 0 ? ButtonRect(ButtonCount() - 1).left() - margin : width() - margin;
    const QRect text(margin, 0, textRight - margin, height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(window_->windowTitle(), Qt::ElideRight, text.width()));

    QPen pen(ink, 1.5);
    painter.setPen(pen);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < ButtonCount(); i++) {
        const QRect button = ButtonRect(i);
        if (i == pressed_) {
            painter.fillRect(button, palette().color(group, QPalette::Highlight).darker(130));
        }
        const QRectF glyph = QRectF(button).adjusted(button.width() * 0.3, button.height() * 0.3,
                                                     -button.width() * 0.3, -button.height() * 0.3);
        switch (ButtonAt(i)) {
        case Qt::WindowCloseButtonHint:
            painter.drawLine(glyph.topLeft(), glyph.bottomRight());
            painter.drawLine(glyph.bottomLeft(), glyph.topRight());
            break;
        case Qt::WindowMaximizeButtonHint:
            painter.drawRect(glyph);
            break;
        default:
            painter.drawLine(glyph.bottomLeft(), glyph.bottomRight());
            break;
        }
    }
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    pressed_ = -1;
    for (int i = 0; i < ButtonCount(); i++) {
        if (ButtonRect(i).contains(event->position().toPoint())) {
            pressed_ = i;
        }
    }
    if (pressed_ >= 0) {
        update();
        return;
    }
    QWindow *window = window_->windowHandle();
    const Qt::Edges edges = EdgesAt(mapToParent(event->position().toPoint()));
    if (window != nullptr && event->button() == Qt::LeftButton) {
        if (edges) {
            window->startSystemResize(edges);
        } else {
            window->startSystemMove();
        }
    }
}

// A button acts when the pointer is let go over it, as on Windows.
void TitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    const int pressed = pressed_;
    pressed_ = -1;
    update();
    if (pressed < 0 || !ButtonRect(pressed).contains(event->position().toPoint())) {
        return;
    }
    switch (ButtonAt(pressed)) {
    case Qt::WindowCloseButtonHint:
        window_->close();  // the dialog decides, as for the frame's close box
        break;
    case Qt::WindowMaximizeButtonHint:
        window_->isMaximized() ? window_->showNormal() : window_->showMaximized();
        break;
    default:
        window_->showMinimized();
        break;
    }
}

Qt::Edges TitleBar::EdgesAt(const QPoint &p) const
{
    Qt::Edges edges;
    if (!resizable_ || window_->isMaximized()) {
        return edges;
    }
    edges.setFlag(Qt::LeftEdge, p.x() < kResizeBorder);
    edges.setFlag(Qt::RightEdge, p.x() >= window_->width() - kResizeBorder);
    edges.setFlag(Qt::TopEdge, p.y() < kResizeBorder);
    edges.setFlag(Qt::BottomEdge, p.y() >= window_->height() - kResizeBorder);
    return edges;
}

// On the window: its title, activation and width, and its edges.
bool TitleBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window_) {
        return false;
    }
    switch (event->type()) {
    case QEvent::WindowTitleChange:
    case QEvent::ActivationChange:
    case QEvent::WindowStateChange:
        update();
        break;
    case QEvent::Resize:
        resize(window_->width(), height());
        break;
    case QEvent::MouseMove: {
        const Qt::Edges edges = EdgesAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge)) {
            window_->setCursor(Qt::SizeFDiagCursor);
        } else if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge)) {
            window_->setCursor(Qt::SizeBDiagCursor);
        } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
            window_->setCursor(Qt::SizeHorCursor);
        } else if (edges) {
            window_->setCursor(Qt::SizeVerCursor);
        } else {
            window_->unsetCursor();
        }
        break;
    }
    case QEvent::MouseButtonPress: {
        const auto *press = static_cast<QMouseEvent *>(event);
        const Qt::Edges edges = EdgesAt(press->position().toPoint());
        if (edges && press->button() == Qt::LeftButton && window_->windowHandle() != nullptr) {
            window_->windowHandle()->startSystemResize(edges);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

}  // namespace port
