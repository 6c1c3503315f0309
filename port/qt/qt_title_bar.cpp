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
// the right with an ellipsis, and the close box, the only box the program's
// windows have.
#include "qt/qt_title_bar.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "qt/qt_accessible.h"
#include "qt/qt_system_command.h"
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

namespace {

// The close box: a glyph in the bar's colours, acting when the pointer is
// let go over it, as on Windows.
class CloseBox : public QAbstractButton {
public:
    explicit CloseBox(QWidget *bar) : QAbstractButton(bar)
    {
        setFocusPolicy(Qt::NoFocus);  // the keyboard stays with the dialog manager
        setAccessibleName(QStringLiteral("Close"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QPalette::ColorGroup group = window()->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
        QPainter painter(this);
        if (isDown()) {
            painter.fillRect(rect(), palette().color(group, QPalette::Highlight).darker(130));
        }
        painter.setPen(QPen(palette().color(group, QPalette::HighlightedText), 1.5));
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF glyph =
            QRectF(rect()).adjusted(width() * 0.3, height() * 0.3, -width() * 0.3, -height() * 0.3);
        painter.drawLine(glyph.topLeft(), glyph.bottomRight());
        painter.drawLine(glyph.bottomLeft(), glyph.topRight());
    }
};

}  // namespace

TitleBar::TitleBar(QWidget *window, bool resizable, std::function<void(unsigned command)> pressed)
    : QWidget(window), window_(window), resizable_(resizable), pressed_(std::move(pressed))
{
    MarkTitleBar(this);
    setFont(QGuiApplication::font());  // the desktop's, not the dialog's
    const int height = fontMetrics().height() + 12;
    setGeometry(0, 0, window->width(), height);
    closeBox_ = new CloseBox(this);
    // The window decides, as for the frame's box: the dialog's close box
    // asks the dialog procedure.
    connect(closeBox_, &QAbstractButton::clicked, window_, &QWidget::close);
    PlaceCloseBox();
    window->installEventFilter(this);
    if (resizable_) {
        window->setMouseTracking(true);  // for the edges' cursors
    }
}

void TitleBar::PlaceCloseBox()
{
    const int size = height() - 6;
    closeBox_->setGeometry(width() - 3 - (size + 2), 3, size, size);
}

void TitleBar::paintEvent(QPaintEvent *)
{
    const QPalette::ColorGroup group = window_->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(group, QPalette::Highlight));
    painter.setPen(palette().color(group, QPalette::HighlightedText));

    const int margin = height() / 3;
    const int textRight = closeBox_->x() - margin;
    const QRect text(margin, 0, textRight - margin, height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(window_->windowTitle(), Qt::ElideRight, text.width()));
}

// The close box takes its own presses; the rest of the bar moves the window.
void TitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        Press(EdgesAt(mapToParent(event->position().toPoint())));
    }
}

void TitleBar::Press(Qt::Edges edges)
{
    const unsigned command = FrameCommand(edges);
    if (pressed_) {
        pressed_(command);
    } else {
        CarryOutSystemCommand(window_, command);
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
        update();  // the close box too, which lies on the bar
        break;
    case QEvent::Resize:
        resize(window_->width(), height());
        PlaceCloseBox();
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
        if (edges && press->button() == Qt::LeftButton) {
            Press(edges);
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
