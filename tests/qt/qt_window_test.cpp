// The Qt dialog built from the program's own "Record" template, driven
// through Qt's window-system entry points as a user's input would be.
#include "qt/qt_window.h"
#include "qt/qt_message_box.h"
#include "qt/qt_title_bar.h"
#include "qt/wayland_globals.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "../../res/resource.h"

namespace port {
namespace {

struct Key {
    int vk;
    int modifiers;
    bool operator==(const Key &other) const { return vk == other.vk && modifiers == other.modifiers; }
};

void PrintTo(const Key &key, std::ostream *os)
{
    *os << "{vk " << key.vk << ", modifiers " << key.modifiers << "}";
}

class RecordingInput : public DialogInput {
public:
    std::vector<int> clicks;
    std::vector<Key> keys;
    int closes = 0;

    void ButtonClicked(int id) override { clicks.push_back(id); }
    void KeyPressed(int vk, int modifiers) override { keys.push_back(Key{vk, modifiers}); }
    void CloseClicked() override { closes++; }
    void FramePressed(unsigned) override {}
};

QRect ToQRect(const PixelRect &r)
{
    return QRect(r.x, r.y, r.width, r.height);
}

// A press and release at the widget's centre, delivered to its window.
void Click(QWidget *widget)
{
    QWidget *top = widget->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(top, widget->rect().center()));
}

class QtDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        tmpl_ = FindDialogTemplate("Record");
        ASSERT_NE(tmpl_, nullptr);
        ASSERT_TRUE(backend_.CreateDialogWindow(*tmpl_, &input_));
        dialog_ = backend_.DialogWidget();
        ASSERT_NE(dialog_, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_));
        record_ = qobject_cast<QPushButton *>(backend_.ControlWidget(IDC_RECORD));
        stop_ = qobject_cast<QPushButton *>(backend_.ControlWidget(IDC_STOP));
        contact_ = qobject_cast<QLabel *>(backend_.ControlWidget(IDC_CONTACT));
        ASSERT_NE(record_, nullptr);
        ASSERT_NE(stop_, nullptr);
        ASSERT_NE(contact_, nullptr);
    }
    void TearDown() override { backend_.DestroyDialogWindow(); }

    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(dialog_->windowHandle(), key, modifiers);
    }

    QtWindowBackend backend_;
    RecordingInput input_;
    const DialogTemplate *tmpl_ = nullptr;
    QWidget *dialog_ = nullptr;
    QPushButton *record_ = nullptr;
    QPushButton *stop_ = nullptr;
    QLabel *contact_ = nullptr;
};

TEST_F(QtDialogTest, GeometryIsTheTemplateInDialogUnits)
{
    // MS Sans Serif 8 pt's base units on Windows at 96 dpi, from a stand-in.
    EXPECT_EQ(QFontInfo(dialog_->font()).family().toStdString(), "DejaVu Sans Condensed");
    EXPECT_EQ(dialog_->font().pointSize(), tmpl_->pointSize);
    EXPECT_EQ(record_->font(), dialog_->font());
    EXPECT_EQ(backend_.DialogBaseUnits().x, 6);
    EXPECT_EQ(backend_.DialogBaseUnits().y, 13);
    // 235 x 160 dialog units; 235 * 6 / 4 = 352.5 rounds up, as MulDiv does.
    EXPECT_EQ(dialog_->width(), 353);
    EXPECT_EQ(dialog_->height(), 260);

    const QFontMetrics metrics(dialog_->font());
    const BaseUnits units = backend_.DialogBaseUnits();
    EXPECT_EQ(units.x, BaseUnitsFromMetrics(
                           metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                           metrics.height())
                           .x);
    EXPECT_EQ(units.y, metrics.height());
    ASSERT_GT(units.x, 0);

    // The client area, in screen coordinates.
    const QRect client = ToQRect(DialogRectToPixels(tmpl_->x, tmpl_->y, tmpl_->cx, tmpl_->cy, units))
                             .translated(QGuiApplication::primaryScreen()->geometry().topLeft());
    EXPECT_EQ(dialog_->geometry(), client);

    for (const DialogItem &item : tmpl_->items) {
        SCOPED_TRACE(item.text);
        const QRect expected = ToQRect(DialogRectToPixels(item.x, item.y, item.cx, item.cy, units));
        EXPECT_EQ(backend_.ControlWidget(item.id)->geometry(), expected);
    }

    // Resizing the frame leaves the controls where they are.
    const QRect recordBefore = record_->geometry();
    const QRect contactBefore = contact_->geometry();
    dialog_->resize(client.width() + 120, client.height() + 80);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog_->size(), QSize(client.width() + 120, client.height() + 80));
    EXPECT_EQ(record_->geometry(), recordBefore);
    EXPECT_EQ(contact_->geometry(), contactBefore);
}

// Dark pixels of an image inside `area`.
int Ink(const QImage &image, const QRect &area)
{
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); y++) {
        for (int x = area.left(); x <= area.right(); x++) {
            ink += qGray(image.pixel(x, y)) < 128;
        }
    }
    return ink;
}

TEST_F(QtDialogTest, ContactLineFitsItsBox)
{
    const QRect inside = contact_->contentsRect();  // within the sunken frame
    const QImage inBox = contact_->grab().toImage();
    // The same label with room to spare below: all of its text, unclipped.
    const QSize box = contact_->size();
    contact_->resize(box.width(), box.height() * 3);
    const QImage roomy = contact_->grab().toImage();
    contact_->resize(box);

    const int text =
        Ink(roomy, QRect(inside.left(), inside.top(), inside.width(), roomy.height() - inside.top() - 1));
    EXPECT_GT(text, 100);
    EXPECT_EQ(Ink(inBox, inside), text) << "text cut off by the box";
    EXPECT_EQ(Ink(roomy, inside), text) << "text below the box";
}

TEST_F(QtDialogTest, WindowAndControlsFollowTheirStyles)
{
    EXPECT_EQ(dialog_->windowTitle(), QString::fromStdString(tmpl_->caption));
    EXPECT_EQ(record_->text(), "Record");
    EXPECT_EQ(stop_->text(), "Stop");
    EXPECT_EQ(contact_->text().toStdString(), tmpl_->items[2].text);
    // Qt's focus chain follows the template: Record, then Stop.
    EXPECT_EQ(record_->nextInFocusChain(), stop_);

    // Each style bit against a template without it (or with it, where the
    // program's has none): the frame's boxes, a fixed or sizable frame,
    // hidden and disabled controls, a sunken or flat static. "Record" has a
    // caption, a system menu and a thick frame, no minimize or maximize box,
    // an enabled Record, a disabled Stop and a sunken contact line.
    DialogTemplate other = *tmpl_;
    other.style = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    other.items[0].style = WS_CHILD | WS_DISABLED | WS_TABSTOP;  // hidden
    other.items[1].style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    other.items[2].style = WS_CHILD | WS_VISIBLE;
    QtWindowBackend otherBackend;
    RecordingInput otherInput;
    ASSERT_TRUE(otherBackend.CreateDialogWindow(other, &otherInput));
    QWidget *otherDialog = otherBackend.DialogWidget();
    auto *a = qobject_cast<QPushButton *>(otherBackend.ControlWidget(IDC_RECORD));
    auto *b = qobject_cast<QPushButton *>(otherBackend.ControlWidget(IDC_STOP));
    auto *c = qobject_cast<QLabel *>(otherBackend.ControlWidget(IDC_CONTACT));
    ASSERT_TRUE(a && b && c);

    const Qt::WindowFlags ours = dialog_->windowFlags(), theirs = otherDialog->windowFlags();
    EXPECT_TRUE(ours & Qt::WindowTitleHint);
    EXPECT_TRUE(ours & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(ours & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(theirs & Qt::WindowCloseButtonHint);

    // A thick frame lets the user size the window; without one it keeps its size.
    for (QWidget *w : {dialog_, otherDialog}) {
        const QSize before = w->size();
        w->resize(before + QSize(50, 40));
        QCoreApplication::processEvents();
        EXPECT_EQ(w->size(), w == dialog_ ? before + QSize(50, 40) : before);
    }

    EXPECT_TRUE(record_->isVisible() && record_->isEnabled());
    EXPECT_TRUE(stop_->isVisible());
    EXPECT_FALSE(stop_->isEnabled());
    EXPECT_FALSE(a->isVisible());
    EXPECT_FALSE(a->isEnabled());
    EXPECT_TRUE(b->isVisible() && b->isEnabled());
    for (QPushButton *button : {record_, stop_, a, b}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(contact_->frameShadow(), QFrame::Sunken);
    EXPECT_NE(contact_->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(c->frameShape(), QFrame::NoFrame);
    EXPECT_TRUE(contact_->alignment() & Qt::AlignLeft);
}

TEST_F(QtDialogTest, NavigationKeysGoToTheDialogManagerOnly)
{
    // Would take Escape if the key were not claimed before shortcuts run.
    int shortcutFired = 0;
    QShortcut escape(QKeySequence(Qt::Key_Escape), dialog_);
    QObject::connect(&escape, &QShortcut::activated, [&] { shortcutFired++; });

    backend_.SetFocusControl(IDC_RECORD);
    ASSERT_TRUE(record_->hasFocus());

    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers qtModifiers;
        Key expected;
    };
    const Case cases[] = {
        {Qt::Key_Tab, Qt::NoModifier, {VK_TAB, 0}},
        {Qt::Key_Backtab, Qt::ShiftModifier, {VK_TAB, kShift}},
        {Qt::Key_Tab, Qt::ShiftModifier, {VK_TAB, kShift}},
        {Qt::Key_Tab, Qt::ControlModifier, {VK_TAB, kControl}},
        {Qt::Key_Return, Qt::NoModifier, {VK_RETURN, 0}},
        {Qt::Key_Enter, Qt::KeypadModifier, {VK_RETURN, 0}},
        {Qt::Key_Space, Qt::NoModifier, {VK_SPACE, 0}},
        {Qt::Key_Escape, Qt::NoModifier, {VK_ESCAPE, 0}},
        {Qt::Key_F4, Qt::AltModifier, {VK_F4, kAlt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.qtModifiers).toString().toStdString());
        input_.keys.clear();
        Press(c.key, c.qtModifiers);
        EXPECT_EQ(input_.keys, std::vector<Key>{c.expected});
        // Qt neither moved the focus, nor clicked, nor closed anything.
        EXPECT_TRUE(record_->hasFocus());
        EXPECT_TRUE(input_.clicks.empty());
        EXPECT_EQ(input_.closes, 0);
        EXPECT_TRUE(dialog_->isVisible());
    }
    EXPECT_EQ(shortcutFired, 0);

    // Other keys are not the dialog manager's.
    input_.keys.clear();
    Press(Qt::Key_A);
    Press(Qt::Key_F4);
    EXPECT_TRUE(input_.keys.empty());
}

TEST_F(QtDialogTest, KeysArriveWithoutAFocusedControl)
{
    backend_.SetFocusControl(IDC_RECORD);
    backend_.SetControlEnabled(IDC_RECORD, false);  // drops the focus
    Press(Qt::Key_Tab);
    backend_.SetFocusControl(0);
    EXPECT_FALSE(record_->hasFocus());
    EXPECT_FALSE(stop_->hasFocus());
    Press(Qt::Key_Space);
    backend_.SetControlEnabled(IDC_STOP, true);
    backend_.SetFocusControl(IDC_STOP);
    EXPECT_TRUE(stop_->hasFocus());
    Press(Qt::Key_Escape);
    EXPECT_EQ(input_.keys, (std::vector<Key>{{VK_TAB, 0}, {VK_SPACE, 0}, {VK_ESCAPE, 0}}));
}

TEST_F(QtDialogTest, FocusCueShowsOnceTheKeyboardIsUsed)
{
    // Record as it looks without the focus, and with it before any key:
    // the same, as a mouse user sees it on Windows.
    backend_.SetFocusControl(0);
    const QImage unfocused = record_->grab().toImage();
    backend_.SetFocusControl(IDC_RECORD);
    ASSERT_TRUE(record_->hasFocus());
    EXPECT_EQ(record_->grab().toImage(), unfocused);

    // A key shows the cue on the focused button, and from then on the cue
    // follows the focus: gone with it, back with it.
    Press(Qt::Key_Tab);
    ASSERT_TRUE(record_->hasFocus());
    const QImage cued = record_->grab().toImage();
    EXPECT_NE(cued, unfocused);
    backend_.SetFocusControl(0);
    EXPECT_EQ(record_->grab().toImage(), unfocused);
    backend_.SetFocusControl(IDC_RECORD);
    EXPECT_EQ(record_->grab().toImage(), cued);
}

TEST_F(QtDialogTest, SystemCommandsWithoutACounterpartDoNothing)
{
    backend_.SystemCommand(SC_KEYMENU);
    EXPECT_EQ(dialog_->windowState(), Qt::WindowNoState);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(input_.closes, 0);
}

TEST_F(QtDialogTest, MouseClicksAndTheCloseBox)
{
    Click(record_);
    Click(stop_);  // disabled
    Click(contact_);
    EXPECT_EQ(input_.clicks, std::vector<int>{IDC_RECORD});

    backend_.SetControlEnabled(IDC_STOP, true);
    Click(stop_);
    EXPECT_EQ(input_.clicks, (std::vector<int>{IDC_RECORD, IDC_STOP}));

    // As the window manager closes a window; the dialog procedure decides.
    dialog_->windowHandle()->close();
    EXPECT_EQ(input_.closes, 1);
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(QtDialogTest, ScreenReadersSeeTheDialogAndItsButtons)
{
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(dialog_);
    QAccessibleInterface *record = QAccessible::queryAccessibleInterface(record_);
    QAccessibleInterface *stop = QAccessible::queryAccessibleInterface(stop_);
    QAccessibleInterface *contact = QAccessible::queryAccessibleInterface(contact_);
    ASSERT_TRUE(window && record && stop && contact);
    EXPECT_EQ(window->role(), QAccessible::Dialog);
    EXPECT_EQ(window->text(QAccessible::Name).toStdString(), tmpl_->caption);
    EXPECT_EQ(window->childCount(), 3);
    EXPECT_EQ(record->role(), QAccessible::Button);
    EXPECT_EQ(record->text(QAccessible::Name), "Record");
    EXPECT_EQ(stop->text(QAccessible::Name), "Stop");
    EXPECT_EQ(contact->role(), QAccessible::StaticText);
    EXPECT_EQ(contact->text(QAccessible::Name).toStdString(), tmpl_->items[2].text);
    EXPECT_FALSE(contact->state().focusable);

    // Both buttons are tab stops, whether enabled or not, and the one the
    // dialog manager focuses says so.
    backend_.SetFocusControl(IDC_RECORD);
    EXPECT_TRUE(record->state().focusable);
    EXPECT_TRUE(record->state().focused);
    EXPECT_FALSE(record->state().disabled);
    EXPECT_TRUE(stop->state().focusable);
    EXPECT_FALSE(stop->state().focused);
    EXPECT_TRUE(stop->state().disabled);

    // "Press" is offered while a button is enabled, and clicks it.
    QAccessibleActionInterface *recordActions = record->actionInterface();
    QAccessibleActionInterface *stopActions = stop->actionInterface();
    ASSERT_TRUE(recordActions && stopActions);
    EXPECT_EQ(recordActions->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    EXPECT_TRUE(stopActions->actionNames().isEmpty());
    stopActions->doAction(QAccessibleActionInterface::pressAction());
    recordActions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !input_.clicks.empty(); }));
    backend_.SetControlEnabled(IDC_RECORD, false);
    backend_.SetControlEnabled(IDC_STOP, true);
    EXPECT_TRUE(record->state().disabled);
    EXPECT_FALSE(stop->state().disabled);
    stopActions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return input_.clicks.size() == 2; }));
    EXPECT_EQ(input_.clicks, (std::vector<int>{IDC_RECORD, IDC_STOP}));
}

TEST_F(QtDialogTest, MessageBoxIsWindowModalAndSaysWhenClosed)
{
    int closed = 0;
    backend_.OpenMessageBox("The sound input cannot be opened.", "Larkspan", MB_OK | MB_ICONEXCLAMATION,
                            [&closed] { closed++; });
    QMessageBox *box = backend_.MessageBoxWidget();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->parentWidget(), dialog_);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    // A screen reader finds the icon as a picture named for what it shows.
    QAccessibleInterface *info = QAccessible::queryAccessibleInterface(box);
    QStringList pictures;
    for (int i = 0; i < info->childCount(); i++) {
        if (info->child(i)->role() == QAccessible::Graphic)
            pictures << info->child(i)->text(QAccessible::Name);
    }
    EXPECT_EQ(pictures, QStringList{"Warning"});
    EXPECT_EQ(box->windowTitle(), "Larkspan");
    EXPECT_EQ(box->text(), "The sound input cannot be opened.");
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->standardButton(box->buttons()[0]), QMessageBox::Ok);

    // Whether the dialog under it takes input is the dialog manager's to
    // decide; the box only says when it is closed.
    EXPECT_EQ(closed, 0);
    Click(box->buttons()[0]);
    EXPECT_EQ(closed, 1);
    Press(Qt::Key_Tab);
    Click(record_);
    EXPECT_EQ(input_.keys, (std::vector<Key>{{VK_TAB, 0}}));
    EXPECT_EQ(input_.clicks, std::vector<int>{IDC_RECORD});
}

// The program's own title bar: the window's caption to assistive
// technology, the close box a push button under its Windows name, closing
// the window as the frame's close box does.
TEST_F(QtDialogTest, OwnTitleBarAsScreenReadersSeeIt)
{
    auto *bar = new TitleBar(dialog_, true);
    QAccessibleInterface *info = QAccessible::queryAccessibleInterface(bar);
    EXPECT_EQ(info->role(), QAccessible::TitleBar);
    EXPECT_EQ(info->text(QAccessible::Name), dialog_->windowTitle());
    ASSERT_EQ(info->childCount(), 1);
    QAccessibleInterface *close = info->child(0);
    EXPECT_EQ(close->role(), QAccessible::Button);
    EXPECT_EQ(close->text(QAccessible::Name), "Close");
    close->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return input_.closes == 1; }));
}

// Desktops whose style puts icons on dialog buttons, as GNOME's and KDE's do.
class IconsOnButtons : public QProxyStyle {
public:
    IconsOnButtons() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returned) const override
    {
        return hint == SH_DialogButtonBox_ButtonsHaveIcons
                   ? 1
                   : QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

// Where the dialog has the program's title bar, a message box has one too,
// with a close box only, above its text; and no icons on its buttons.
TEST_F(QtDialogTest, MessageBoxHasTheDialogsTitleBarAndPlainButtons)
{
    QApplication::setStyle(new IconsOnButtons);
    QMessageBox *box = CreateMessageBox(dialog_, "text", "Vazozo1", MB_ICONEXCLAMATION, true);
    QApplication::setStyle(QStyleFactory::create(QApplication::style()->name()));
    EXPECT_TRUE(box->buttons().value(0)->icon().isNull());
    EXPECT_TRUE(box->windowFlags() & Qt::FramelessWindowHint);
    auto *bar = box->findChild<TitleBar *>();
    ASSERT_NE(bar, nullptr);
    bool finished = false;
    QObject::connect(box, &QDialog::finished, [&finished] { finished = true; });
    box->open();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, box->width(), bar->height()));
    EXPECT_GE(box->findChild<QLabel *>()->y(), bar->height());
    QAccessibleInterface *info = QAccessible::queryAccessibleInterface(bar);
    EXPECT_EQ(info->text(QAccessible::Name), "Vazozo1");
    ASSERT_EQ(info->childCount(), 1);
    info->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&finished] { return finished; }));
}

// Fills the whole client area with one colour, 0x00RRGGBB.
void Fill(const Surface &surface, uint32_t color)
{
    for (int y = 0; y < surface.height; y++) {
        for (int x = 0; x < surface.width; x++) {
            surface.pixels[y * surface.stride + x] = color | surface.fixedBits;
        }
    }
}

SurfaceRect Whole(const Surface &surface)
{
    return SurfaceRect{0, 0, surface.width, surface.height};
}

uint32_t Rgb(const QImage &image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

TEST_F(QtDialogTest, DrawingLiesBeneathTheControls)
{
    int width = 0, height = 0;
    backend_.ClientSize(&width, &height);
    EXPECT_EQ(QSize(width, height), dialog_->size());

    Surface surface;
    ASSERT_TRUE(backend_.BeginDrawing(&surface));
    ASSERT_EQ(surface.width, width);
    ASSERT_EQ(surface.height, height);
    ASSERT_GE(surface.stride, width);
    const uint32_t background = dialog_->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    EXPECT_EQ(surface.pixels[(height - 1) * surface.stride + width - 1] & 0xFFFFFF, background);
    const uint32_t band = 0x123456;  // no style draws this
    Fill(surface, band);
    surface.pixels[10 * surface.stride + 20] = 0x00FF00 | surface.fixedBits;
    backend_.EndDrawing(Whole(surface));

    const QImage shot = dialog_->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(width, height));
    EXPECT_EQ(Rgb(shot, 20, 10), 0x00FF00u);
    EXPECT_EQ(Rgb(shot, 0, 0), band);
    EXPECT_EQ(Rgb(shot, width - 1, height - 1), band);
    for (QWidget *control :
         {static_cast<QWidget *>(record_), static_cast<QWidget *>(stop_), static_cast<QWidget *>(contact_)}) {
        const QRect r = control->geometry();
        int showingThrough = 0;
        for (int y = r.top(); y <= r.bottom(); y++) {
            for (int x = r.left(); x <= r.right(); x++) {
                showingThrough += Rgb(shot, x, y) == band;
            }
        }
        EXPECT_EQ(showingThrough, 0) << control->metaObject()->className();
    }
}

TEST_F(QtDialogTest, ResizingKeepsTheDrawing)
{
    int width = 0, height = 0;
    backend_.ClientSize(&width, &height);
    Surface surface;
    ASSERT_TRUE(backend_.BeginDrawing(&surface));
    Fill(surface, 0x000000);
    // Resized while the pixels are lent: they must stay valid until the end.
    dialog_->resize(width + 40, height + 30);
    QCoreApplication::processEvents();
    Fill(surface, 0x00FF00);
    backend_.EndDrawing(Whole(surface));

    int newWidth = 0, newHeight = 0;
    backend_.ClientSize(&newWidth, &newHeight);
    EXPECT_EQ(newWidth, width + 40);
    EXPECT_EQ(newHeight, height + 30);
    ASSERT_TRUE(backend_.BeginDrawing(&surface));
    EXPECT_EQ(surface.width, newWidth);
    EXPECT_EQ(surface.height, newHeight);
    EXPECT_EQ(surface.pixels[(height - 1) * surface.stride + width - 1] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(surface.pixels[(newHeight - 1) * surface.stride + newWidth - 1] & 0xFFFFFF,
              dialog_->palette().color(QPalette::Window).rgb() & 0xFFFFFF);
    backend_.EndDrawing(SurfaceRect{});
}

// What reached the screen, not a fresh rendering as grab() would make.
QImage OnScreen(QWidget *window)
{
    return window->screen()->grabWindow(window->winId()).toImage();
}

TEST_F(QtDialogTest, OnlyWhatChangedIsRepaintedAndNothingIsLost)
{
    Surface surface;
    ASSERT_TRUE(backend_.BeginDrawing(&surface));
    Fill(surface, 0x000000);
    backend_.EndDrawing(Whole(surface));
    ASSERT_EQ(Rgb(OnScreen(dialog_), 20, 10), 0u);

    ASSERT_TRUE(backend_.BeginDrawing(&surface));
    surface.pixels[10 * surface.stride + 20] = 0x00FF00 | surface.fixedBits;
    surface.pixels[30 * surface.stride + 40] = 0x00FF00 | surface.fixedBits;
    // Written but not reported: not repainted, so still black on the screen.
    surface.pixels[50 * surface.stride + 60] = 0x00FF00 | surface.fixedBits;
    backend_.EndDrawing(SurfaceRect{20, 10, 21, 21});
    const QImage screen = OnScreen(dialog_);
    EXPECT_EQ(Rgb(screen, 20, 10), 0x00FF00u);
    EXPECT_EQ(Rgb(screen, 40, 30), 0x00FF00u);
    EXPECT_EQ(Rgb(screen, 60, 50), 0u);
}

// The program's own title bar only on Wayland, and there only where the
// compositor draws none: weston's and GNOME's globals, or no answer; KDE's
// draws one on request.
TEST(QtTitleBarTest, OwnBarOnlyWhereTheCompositorDrawsNone)
{
    const QStringList weston = {"wl_compositor", "wl_subcompositor", "wl_shm", "xdg_wm_base", "wl_seat"};
    const QStringList kwin = weston + QStringList{"org_kde_kwin_server_decoration_manager",
                                                  "zxdg_decoration_manager_v1", "wl_output"};
    EXPECT_TRUE(NeedsOwnTitleBar("wayland", weston));
    EXPECT_TRUE(NeedsOwnTitleBar("wayland-egl", weston));
    EXPECT_FALSE(NeedsOwnTitleBar("wayland", kwin));
    EXPECT_FALSE(NeedsOwnTitleBar("xcb", weston));

    const QByteArray display = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "larkspan-no-such-compositor");
    EXPECT_TRUE(NeedsOwnTitleBar("wayland", WaylandGlobals()));
    display.isNull() ? qunsetenv("WAYLAND_DISPLAY") : qputenv("WAYLAND_DISPLAY", display);
}

// The box's close comes from the window system while the dialog manager
// waits, and ends the wait.
TEST(QtWaitTest, ClosingTheMessageBoxEndsTheWait)
{
    const DialogTemplate *tmpl = FindDialogTemplate("Record");
    ASSERT_NE(tmpl, nullptr);
    QtWindowBackend backend;
    RecordingInput input;
    ASSERT_TRUE(backend.CreateDialogWindow(*tmpl, &input));
    bool closed = false;
    backend.OpenMessageBox("text", "caption", MB_ICONEXCLAMATION, [&closed] { closed = true; });
    QAbstractButton *ok = backend.MessageBoxWidget()->buttons().value(0);
    ASSERT_NE(ok, nullptr);
    // The user's click comes from the window system, on this thread, while
    // the dialog manager waits.
    QTimer::singleShot(20, ok, &QAbstractButton::click);
    while (!closed) {
        backend.WaitForEvents();
    }
    EXPECT_FALSE(backend.MessageBoxWidget()->isVisible());
}

}  // namespace
}  // namespace port
