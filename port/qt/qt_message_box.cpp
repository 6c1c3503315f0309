// Message boxes: the Win32 icons on Qt's, and Ctrl+C as on Windows.
#include "qt/qt_message_box.h"

#include <windows.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMessageBox>

namespace port {

namespace {

QMessageBox::Icon IconFor(unsigned type)
{
    switch (type & 0xF0) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONASTERISK:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

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

QMessageBox *CreateMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned type)
{
    auto *box = new QMessageBox(IconFor(type), caption, text, QMessageBox::Ok, owner);
    box->setTextFormat(Qt::PlainText);
    box->installEventFilter(new MessageBoxCopy(box));
    return box;
}

}  // namespace port
