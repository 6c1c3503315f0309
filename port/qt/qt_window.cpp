// The dialog's window, buttons, message boxes and drawing surface on Qt
// Widgets; the dialog keys go to the layer's dialog manager, not to Qt.
#include "qt/qt_window.h"

#include <windows.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QThread>

#include <string.h>

#include <algorithm>

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
        // On a top-level window these bits are the minimize and maximize boxes.
        if (style & WS_MINIMIZEBOX) {
            flags |= Qt::WindowMinimizeButtonHint;
        }
        if (style & WS_MAXIMIZEBOX) {
            flags |= Qt::WindowMaximizeButtonHint;
        }
    }
    return flags;
}

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

int ModifiersOf(Qt::KeyboardModifiers qt)
{
    int modifiers = 0;
    if (qt & Qt::ShiftModifier) {
        modifiers |= kShift;
    }
    if (qt & Qt::AltModifier) {
        modifiers |= kAlt;
    }
    if (qt & Qt::ControlModifier) {
        modifiers |= kControl;
    }
    return modifiers;
}

// The VK code of a key the dialog manager handles itself, or 0.
int DialogKey(const QKeyEvent &key)
{
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_F4:
        return (key.modifiers() & Qt::AltModifier) ? VK_F4 : 0;
    default:
        return 0;
    }
}

}  // namespace

// The dialog's top-level window. Its client area is an image the program
// draws on; painted before the children, it stays beneath the controls.
//
// The program's pixels are 0x00RRGGBB and stay so in pixels_; Qt's RGB32
// images must be 0xFFRRGGBB, so shown_ holds the same pixels as Qt paints
// them. EndDrawing brings shown_ up to date in one pass and repaints only
// the rows that changed: a block of silence redraws one row, not the window.
class QtWindowBackend::Dialog : public QWidget {
public:
    explicit Dialog(QtWindowBackend *owner) : owner_(owner) {}
    void Detach() { owner_ = nullptr; }

    // The pixels stay put until the matching EndDrawing, even if the
    // window is resized meanwhile.
    uint32_t *BeginDrawing(int *stride)
    {
        if (drawing_++ == 0) {
            FitSurface();
        }
        *stride = pixels_.bytesPerLine() / 4;
        return reinterpret_cast<uint32_t *>(pixels_.bits());
    }
    void EndDrawing()
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
    QSize SurfaceSize() const { return pixels_.size(); }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        // In strips: Qt hands a blit of more than about a hundred rows to
        // its thread pool, which for a copy this small costs more in
        // wake-ups than it saves.
        constexpr int kStrip = 64;
        QPainter painter(this);
        for (const QRect &rect : event->region()) {
            for (int y = rect.top(); y <= rect.bottom(); y += kStrip) {
                const QRect strip(rect.left(), y, rect.width(), std::min(kStrip, rect.bottom() + 1 - y));
                painter.drawImage(strip.topLeft(), shown_, strip);
            }
        }
    }
    void resizeEvent(QResizeEvent *) override
    {
        if (drawing_ == 0) {
            FitSurface();
        }
    }
    // The dialog procedure decides whether the window closes.
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        if (owner_ != nullptr) {
            owner_->ForwardClose();
        }
    }

private:
    // Copies the program's pixels to shown_ with an opaque alpha; answers
    // the band of rows that changed.
    QRect UpdateShown()
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
    void FitSurface()
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

    QtWindowBackend *owner_;
    QImage pixels_;  // 0x00RRGGBB, as the program draws them
    QImage shown_;   // 0xFFRRGGBB, as Qt paints them
    int drawing_ = 0;
};

// Takes the dialog-navigation keys away from Qt, which would otherwise move
// focus, click buttons or close the window on its own.
class QtWindowBackend::KeyFilter : public QObject {
public:
    KeyFilter(QtWindowBackend *owner, QObject *parent) : QObject(parent), owner_(owner) {}
    void Detach() { owner_ = nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) {
            return QObject::eventFilter(watched, event);
        }
        const auto *key = static_cast<QKeyEvent *>(event);
        const int vk = DialogKey(*key);
        if (vk == 0) {
            return QObject::eventFilter(watched, event);
        }
        if (type == QEvent::ShortcutOverride) {
            // Accepted, so no shortcut takes the key and it arrives as a press.
            event->accept();
            return true;
        }
        // A held Space still presses a button only once.
        if (type == QEvent::KeyPress && owner_ != nullptr && !(vk == VK_SPACE && key->isAutoRepeat())) {
            int modifiers = ModifiersOf(key->modifiers());
            if (key->key() == Qt::Key_Backtab) {
                modifiers |= kShift;
            }
            owner_->ForwardKey(vk, modifiers);
        }
        return true;
    }

private:
    QtWindowBackend *owner_;
};

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

QtWindowBackend::QtWindowBackend() : dispatcher_(QAbstractEventDispatcher::instance(QThread::currentThread()))
{
    Q_ASSERT(dispatcher_ != nullptr);
}

QtWindowBackend::~QtWindowBackend()
{
    DestroyDialogWindow();
}

bool QtWindowBackend::CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input)
{
    DestroyDialogWindow();
    input_ = input;
    dialog_ = new Dialog(this);
    keyFilter_ = new KeyFilter(this, dialog_);

    dialog_->setWindowFlags(FrameFlags(dialog.style));
    dialog_->setWindowTitle(QString::fromStdString(dialog.caption));
    // The window itself can hold the focus, so keys still arrive when no
    // control has it; Qt never moves it there by itself.
    dialog_->setFocusPolicy(Qt::NoFocus);
    dialog_->installEventFilter(keyFilter_);

    if ((dialog.style & DS_SETFONT) && !dialog.faceName.empty() && dialog.pointSize > 0) {
        QFont font(QString::fromStdString(dialog.faceName));
        font.setPointSize(dialog.pointSize);
        dialog_->setFont(font);  // the controls inherit it
    }
    const QFontMetrics metrics = dialog_->fontMetrics();
    units_ = BaseUnitsFromMetrics(metrics.horizontalAdvance(QLatin1String(kAlphabet)), metrics.height());

    // The template's x, y place the client area, from the screen's origin.
    QRect client = ToQRect(DialogRectToPixels(dialog.x, dialog.y, dialog.cx, dialog.cy, units_));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        client.translate(screen->geometry().topLeft());
    }
    dialog_->setGeometry(client);
    if (!(dialog.style & WS_THICKFRAME)) {
        dialog_->setFixedSize(client.size());
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
        control->setGeometry(ToQRect(DialogRectToPixels(item.x, item.y, item.cx, item.cy, units_)));
        control->setEnabled(!(item.style & WS_DISABLED));
        control->setVisible(item.style & WS_VISIBLE);
        control->setFocusPolicy(Qt::NoFocus);  // focus is set by the dialog manager only
        control->installEventFilter(keyFilter_);
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
        auto *button = new QPushButton(text, dialog_);
        // Enter and Space belong to the dialog manager, never to the button.
        button->setAutoDefault(false);
        button->setDefault(false);
        // Nor do mnemonics: Qt would click the button on Alt+letter.
        button->setShortcut(QKeySequence());
        button->setAutoFillBackground(true);  // solid over the drawing, as on Windows
        const int id = item.id;
        clickConnections_.push_back(
            QObject::connect(button, &QPushButton::clicked, [this, id] { ForwardClick(id); }));
        return button;
    }
    if (SameClass(item.className, "Static")) {
        auto *label = new QLabel(dialog_);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        label->setWordWrap(true);
        label->setAutoFillBackground(true);
        Qt::Alignment horizontal = Qt::AlignLeft;
        if ((item.style & 0x1F) == SS_CENTER) {
            horizontal = Qt::AlignHCenter;
        } else if ((item.style & 0x1F) == SS_RIGHT) {
            horizontal = Qt::AlignRight;
        }
        label->setAlignment(horizontal | Qt::AlignTop);
        if (item.style & SS_SUNKEN) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        }
        return label;
    }
    return nullptr;
}

void QtWindowBackend::DestroyDialogWindow()
{
    input_ = nullptr;
    controls_.clear();
    messageBox_ = nullptr;  // a child of the dialog
    messageBoxOpen_ = false;
    if (dialog_ == nullptr) {
        return;
    }
    for (const QMetaObject::Connection &connection : clickConnections_) {
        QObject::disconnect(connection);
    }
    clickConnections_.clear();
    dialog_->Detach();
    keyFilter_->Detach();
    keyFilter_ = nullptr;
    if (callbackDepth_ > 0) {
        // Called back from one of the dialog's own event handlers, which
        // still use it once we return: Qt deletes it after that handler.
        dialog_->hide();
        dialog_->deleteLater();
    } else {
        delete dialog_;
    }
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

void QtWindowBackend::OpenMessageBox(const char *text, const char *caption, unsigned type)
{
    delete messageBox_;
    // Win32 titles a message box without a caption "Error".
    const QString title = QString::fromUtf8(caption != nullptr ? caption : "Error");
    messageBox_ = new QMessageBox(IconFor(type), title, QString::fromUtf8(text != nullptr ? text : ""),
                                  QMessageBox::Ok, dialog_);
    messageBox_->setTextFormat(Qt::PlainText);
    messageBox_->installEventFilter(new MessageBoxCopy(messageBox_));
    messageBoxOpen_ = true;
    QObject::connect(messageBox_, &QDialog::finished, [this] {
        messageBoxOpen_ = false;
        Wake();
    });
    // Window-modal: the dialog takes no input until the box is closed.
    messageBox_->open();
}

bool QtWindowBackend::MessageBoxOpen()
{
    return messageBoxOpen_;
}

void QtWindowBackend::Beep(unsigned type)
{
    (void)type;  // one sound for every kind
    QApplication::beep();
}

void QtWindowBackend::ClientSize(int *width, int *height)
{
    *width = dialog_ != nullptr ? dialog_->width() : 0;
    *height = dialog_ != nullptr ? dialog_->height() : 0;
}

bool QtWindowBackend::BeginDrawing(Surface *surface)
{
    if (dialog_ == nullptr) {
        return false;
    }
    surface->pixels = dialog_->BeginDrawing(&surface->stride);
    surface->width = dialog_->SurfaceSize().width();
    surface->height = dialog_->SurfaceSize().height();
    return true;
}

// Painted at once rather than at the next wait: the program may be busy
// with sound for a while before it waits again.
void QtWindowBackend::EndDrawing()
{
    if (dialog_ != nullptr) {
        dialog_->EndDrawing();
    }
}

void QtWindowBackend::WaitForEvents()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// A wake-up left pending also ends the next wait, so none is lost between
// the caller's check and WaitForEvents.
void QtWindowBackend::Wake()
{
    dispatcher_->wakeUp();
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
    return input_ != nullptr && !messageBoxOpen_;
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
        ++callbackDepth_;
        input_->KeyPressed(vk, modifiers);
        --callbackDepth_;
    }
}

void QtWindowBackend::ForwardClick(int id)
{
    if (Accepting()) {
        ++callbackDepth_;
        input_->ButtonClicked(id);
        --callbackDepth_;
    }
}

void QtWindowBackend::ForwardClose()
{
    if (Accepting()) {
        ++callbackDepth_;
        input_->CloseClicked();
        --callbackDepth_;
    }
}

}  // namespace port
