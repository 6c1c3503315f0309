// The dialog's title bar on Wayland, drawn by the program itself where the
// compositor draws none.
#pragma once

#include <functional>

#include <QStringList>
#include <QWidget>

class QAbstractButton;

namespace port {

// Whether the dialog draws its own title bar on Qt's platform `platform`
// (its plugin's name), where the compositor offers the Wayland globals
// `globals` (none where it did not answer): on Wayland, unless the
// compositor draws title bars itself (it offers xdg-decoration's manager).
// Without it Qt draws one, which falls short of the template (see
// qt_title_bar.cpp).
bool NeedsOwnTitleBar(const QString &platform, const QStringList &globals);
// The same for this program's platform, asking the compositor on Wayland.
bool NeedsOwnTitleBar();

// Across the top of a frameless top-level window: its caption, and the
// close box, a child button that assistive technology sees under its
// Windows name. Pressing the bar moves the
// window; when `resizable`, pressing the window's edges resizes it, as a
// thick frame does: `pressed`, if given, is told the system command
// (qt_system_command.h), and decides; else the bar carries it out.
class TitleBar : public QWidget {
    Q_OBJECT

public:
    TitleBar(QWidget *window, bool resizable, std::function<void(unsigned command)> pressed = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PlaceCloseBox();
    Qt::Edges EdgesAt(const QPoint &windowPoint) const;
    void Press(Qt::Edges edges);

    QWidget *const window_;
    const bool resizable_;
    const std::function<void(unsigned)> pressed_;
    QAbstractButton *closeBox_;
};

}  // namespace port
