// Message boxes: the warning's icon, named for screen readers, Ctrl+C as on Windows, and the
// frame of the dialog: where the program draws the dialog's title bar, the
// box's is the program's too, with its caption and a close box only (Qt's
// would offer minimize and maximize, which a message box has not).
#include "qt/qt_message_box.h"

#include <windows.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>

#include "qt/qt_title_bar.h"

namespace port {

namespace {

// Ctrl+C in a message box copies its title, text and button, framed with
// dashes, as a Windows message box does.
class MessageBoxCopy : public QObject {
public:
    explicit MessageBoxCopy(QMessageBox *box) : QObject(box), box_(box) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress ||
            !static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
            return QObject::eventFilter(watched, event);
        }
        const QString rule = QStringLiteral("---------------------------\n");
        QApplication::clipboard()->setText(rule + box_->windowTitle() + "\n" + rule + box_->text() + "\n" +
                                           rule + "OK\n" + rule);
        return true;
    }

private:
    QMessageBox *box_;
};

}  // namespace

QMessageBox *CreateMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned type,
                              bool ownTitleBar)
{
    // The program warns only; any other type shows no icon.
    const bool warning = (type & MB_ICONMASK) == MB_ICONEXCLAMATION;
    auto *box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                                QMessageBox::Ok, owner);
    box->setTextFormat(Qt::PlainText);
    // Named, so that a screen reader says what the picture shows.
    if (auto *icon = box->findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label")); icon && warning) {
        icon->setAccessibleName(QStringLiteral("Warning"));
    }
    box->installEventFilter(new MessageBoxCopy(box));
    // Where the style would put icons on the buttons (GNOME's and KDE's
    // themes do), as a Windows message box never does.
    for (QAbstractButton *button : box->buttons()) {
        button->setIcon(QIcon());
    }
    if (ownTitleBar) {
        box->setWindowFlag(Qt::FramelessWindowHint);
        auto *bar = new TitleBar(box, false);
        bar->lower();  // first in the children, as a screen reader reads it
        // The layout keeps below the bar; the box sizes itself to it.
        box->setContentsMargins(0, bar->height(), 0, 0);
    }
    return box;
}

}  // namespace port
