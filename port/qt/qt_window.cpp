// The dialog and its controls on Qt Widgets, built from the template: the
// window, push buttons and static text placed in dialog units, their
// enabled state and focus as the dialog manager sets them, and the user's
// clicks, keys and close box passed back to it.
#include "qt/qt_window.h"

#include <windows.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "qt/dialog_font.h"
#include "qt/qt_accessible.h"
#include "qt/qt_key_filter.h"
#include "qt/qt_message_box.h"
#include "qt/qt_surface.h"
#include "qt/qt_title_bar.h"
#include "qt/x11_socket.h"

namespace port {

namespace {

// The string Windows averages to find the horizontal base unit.
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool SameClass(const std::string &a, const char *b)
{
    return QString::fromStdString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

QRect ToQRect(const PixelRect &r)
{
    return QRect(r.x, r.y, r.width, r.height);
}

Qt::WindowFlags FrameFlags(uint32_t style)
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if ((style & WS_CAPTION) == WS_CAPTION) {
        flags |= Qt::WindowTitleHint;
    }
    if (style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

}  // namespace

QtWindowBackend::QtWindowBackend()
{
    InstallDialogAccessibility();
    ListenForSessionEnd();
    WidenX11Socket();
}

QtWindowBackend::~QtWindowBackend()
{
    StopListeningForSessionEnd();
    DestroyDialogWindow();
}

bool QtWindowBackend::CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input)
{
    DestroyDialogWindow();
    input_ = input;
    dialog_ = new DialogSurface;
    MarkDialogWindow(dialog_);
    dialog_->onClose = [this] {
        if (Accepting()) {
            input_->CloseClicked();
        }
    };
    auto *keyFilter =
        new DialogKeyFilter([this](int vk, int modifiers) { ForwardKey(vk, modifiers); }, dialog_);

    // Where the program draws the title bar itself, the window is frameless
    // (Qt drops that flag beside the frame's), and its client area starts
    // below the bar.
    const bool ownTitleBar = (dialog.style & WS_CAPTION) == WS_CAPTION && NeedsOwnTitleBar();
    dialog_->setWindowFlags(ownTitleBar ? Qt::Window | Qt::FramelessWindowHint : FrameFlags(dialog.style));
    dialog_->setWindowTitle(QString::fromStdString(dialog.caption));
    // The window itself can hold the focus, so keys still arrive when no
    // control has it; Qt never moves it there by itself.
    dialog_->setFocusPolicy(Qt::NoFocus);
    dialog_->installEventFilter(keyFilter);

    if ((dialog.style & DS_SETFONT) && !dialog.faceName.empty() && dialog.pointSize > 0) {
        dialog_->setFont(DialogFont(dialog.faceName, dialog.pointSize));  // the controls inherit it
    }
    const QFontMetrics metrics = dialog_->fontMetrics();
    units_ = BaseUnitsFromMetrics(metrics.horizontalAdvance(QLatin1String(kAlphabet)), metrics.height());

    // The template's x, y place the client area, from the screen's origin.
    QRect client = ToQRect(DialogRectToPixels(dialog.x, dialog.y, dialog.cx, dialog.cy, units_));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        client.translate(screen->geometry().topLeft());
    }
    const int top = ownTitleBar ? (new TitleBar(dialog_, dialog.style & WS_THICKFRAME,
                                                [this](unsigned command) {
                                                    if (Accepting()) {
                                                        input_->FramePressed(command);
                                                    }
                                                }))
                                      ->height()
                                : 0;
    dialog_->SetClientTop(top);
    dialog_->setGeometry(client.adjusted(0, -top, 0, 0));
    if (!(dialog.style & WS_THICKFRAME)) {
        dialog_->setFixedSize(dialog_->size());
    }

    // Created in template order, which is also Qt's focus chain order.
    for (const DialogItem &item : dialog.items) {
        QWidget *control = CreateControl(item);
        if (control == nullptr) {
            qWarning("Dialog %s: control class \"%s\" is not supported", dialog.name.c_str(),
                     item.className.c_str());
            DestroyDialogWindow();
            return false;
        }
        // Positioned once and never laid out again, as on Windows.
        control->setGeometry(
            ToQRect(DialogRectToPixels(item.x, item.y, item.cx, item.cy, units_)).translated(0, top));
        control->setEnabled(!(item.style & WS_DISABLED));
        control->setVisible(item.style & WS_VISIBLE);
        control->setFocusPolicy(Qt::NoFocus);  // focus is set by the dialog manager only
        control->installEventFilter(keyFilter);
        controls_.push_back(Control{item.id, control});
    }

    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    return true;
}

QWidget *QtWindowBackend::CreateControl(const DialogItem &item)
{
    const QString text = QString::fromStdString(item.text);
    if (SameClass(item.className, "Button")) {
        auto *button = new QPushButton(dialog_);
        // Marked before its accessibility answers are first asked for, which
        // setText already does.
        MarkDialogButton(button, item.style & WS_TABSTOP);
        button->setText(text);
        // Enter and Space belong to the dialog manager, never to the button.
        button->setAutoDefault(false);
        button->setDefault(false);
        // Nor do mnemonics: Qt would click the button on Alt+letter.
        button->setShortcut(QKeySequence());
        button->setAutoFillBackground(true);  // solid over the drawing, as on Windows
        const int id = item.id;
        QObject::connect(button, &QPushButton::clicked, dialog_, [this, id] {
            if (Accepting()) {
                input_->ButtonClicked(id);
            }
        });
        return button;
    }
    if (SameClass(item.className, "Static")) {
        auto *label = new QLabel(dialog_);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        label->setWordWrap(true);
        label->setAutoFillBackground(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // the template's statics are all left-aligned
        if (item.style & SS_SUNKEN) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        }
        // Text starts right inside the frame, as on Windows. Qt would indent
        // a framed label by half an "x" at the top too, and two lines of an
        // 8-point font would no longer fit a box 18 dialog units high.
        label->setIndent(0);
        return label;
    }
    return nullptr;
}

void QtWindowBackend::DestroyDialogWindow()
{
    input_ = nullptr;
    controls_.clear();
    messageBox_ = nullptr;  // a child of the dialog
    // Never called from inside one of the dialog's own event handlers: they
    // only queue the user's input, which the dialog manager takes later.
    delete dialog_;
    dialog_ = nullptr;
}

void QtWindowBackend::SetControlEnabled(int id, bool enabled)
{
    if (QWidget *control = ControlWidget(id)) {
        control->setEnabled(enabled);
    }
}

void QtWindowBackend::SetFocusControl(int id)
{
    if (dialog_ == nullptr) {
        return;
    }
    QWidget *control = id != 0 ? ControlWidget(id) : nullptr;
    // Qt refuses focus to a disabled or hidden widget; the window takes it then.
    if (control != nullptr && control->isEnabled() && control->isVisible()) {
        control->setFocus(Qt::OtherFocusReason);
    } else {
        dialog_->setFocus(Qt::OtherFocusReason);
    }
}

void QtWindowBackend::OpenMessageBox(const char *text, const char *caption, unsigned type,
                                     std::function<void()> closed)
{
    delete messageBox_;
    // Win32 titles a message box without a caption "Error".
    const QString title = QString::fromUtf8(caption != nullptr ? caption : "Error");
    messageBox_ = CreateMessageBox(dialog_, QString::fromUtf8(text != nullptr ? text : ""), title, type,
                                   NeedsOwnTitleBar());
    // Told from inside WaitForEvents, which then returns.
    QObject::connect(messageBox_, &QDialog::finished, messageBox_, std::move(closed));
    // Window-modal: the window system keeps the user's input from the
    // dialog until the box is closed.
    messageBox_->open();
}

void QtWindowBackend::Beep(unsigned type)
{
    (void)type;  // one sound for every kind
    QApplication::beep();
}

void QtWindowBackend::ClientSize(int *width, int *height)
{
    const QSize size = dialog_ != nullptr ? dialog_->PixelSize() : QSize(0, 0);
    *width = size.width();
    *height = size.height();
}

bool QtWindowBackend::BeginDrawing(Surface *surface)
{
    if (dialog_ == nullptr) {
        return false;
    }
    dialog_->BeginDrawing(surface);
    return true;
}

// Painted at once rather than at the next wait: the program may be busy
// with sound for a while before it waits again.
void QtWindowBackend::EndDrawing(const SurfaceRect &changed)
{
    if (dialog_ != nullptr) {
        dialog_->EndDrawing(changed);
    }
}

void QtWindowBackend::WaitForEvents()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QWidget *QtWindowBackend::DialogWidget() const
{
    return dialog_;
}

QWidget *QtWindowBackend::ControlWidget(int id) const
{
    for (const Control &control : controls_) {
        if (control.id == id) {
            return control.widget;
        }
    }
    return nullptr;
}

QMessageBox *QtWindowBackend::MessageBoxWidget() const
{
    return messageBox_;
}

bool QtWindowBackend::Accepting() const
{
    return input_ != nullptr;
}

void QtWindowBackend::ForwardKey(int vk, int modifiers)
{
    if (Accepting()) {
        // Focus cues show once the keyboard is used, as on Windows.
        if (!dialog_->testAttribute(Qt::WA_KeyboardFocusChange)) {
            dialog_->setAttribute(Qt::WA_KeyboardFocusChange);
            if (QWidget *focus = dialog_->focusWidget()) {
                focus->update();
            }
        }
        input_->KeyPressed(vk, modifiers);
    }
}

}  // namespace port
