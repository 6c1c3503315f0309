// The dialog's window and buttons as assistive technology sees them.
//
// The dialog manager, not Qt, moves the keyboard focus, so the controls
// have Qt::NoFocus: Qt never moves it by itself. Qt's own accessibility
// answers read that as "cannot take the focus", and a screen reader was
// told that a button which had the focus was not focusable. These answers
// take focusability from the template (WS_TABSTOP) instead; the focused
// state is still Qt's, which follows the dialog manager. The window is a
// dialog, not Qt's unnamed "client" area.
#include "qt/qt_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPushButton>

namespace port {

namespace {

const char kDialogWindow[] = "larkspanDialogWindow";
const char kTabStop[] = "larkspanTabStop";
const char kTitleBar[] = "larkspanTitleBar";

// "&Record" as a reader says it: the mnemonic marks gone, "&&" an ampersand.
QString WithoutMnemonics(const QString &text)
{
    QString plain;
    for (int i = 0; i < text.size(); i++) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            i++;
        }
        plain += text[i];
    }
    return plain;
}

class DialogButtonAccessible : public QAccessibleWidget {
public:
    explicit DialogButtonAccessible(QPushButton *button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty()) {
            return WithoutMnemonics(button()->text());
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focusable = button()->property(kTabStop).toBool();
        state.pressed = button()->isDown();
        return state;
    }

    // Pressing is the only action: focus moves through the dialog manager.
    QStringList actionNames() const override
    {
        return button()->isEnabled() ? QStringList{pressAction()} : QStringList{};
    }

    // As a click: it reaches the dialog manager through the button's
    // clicked signal, like the mouse's.
    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction() && button()->isEnabled()) {
            button()->animateClick();
        }
    }

private:
    QPushButton *button() const { return static_cast<QPushButton *>(widget()); }
};

// A title bar is its window's caption, as the frame's is on Windows; its
// buttons are its children, push buttons Qt describes itself.
class TitleBarAccessible : public QAccessibleWidget {
public:
    explicit TitleBarAccessible(QWidget *bar) : QAccessibleWidget(bar, QAccessible::TitleBar) {}

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? widget()->window()->windowTitle() : QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *DialogAccessible(const QString &, QObject *object)
{
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto *widget = static_cast<QWidget *>(object);
    if (widget->property(kDialogWindow).toBool()) {
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    }
    if (widget->property(kTitleBar).toBool()) {
        return new TitleBarAccessible(widget);
    }
    if (widget->property(kTabStop).isValid()) {
        if (auto *button = qobject_cast<QPushButton *>(widget)) {
            return new DialogButtonAccessible(button);
        }
    }
    return nullptr;
}

}  // namespace

void InstallDialogAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(DialogAccessible);
        installed = true;
    }
}

void MarkDialogWindow(QWidget *dialog)
{
    dialog->setProperty(kDialogWindow, true);
}

void MarkTitleBar(QWidget *bar)
{
    bar->setProperty(kTitleBar, true);
}

void MarkDialogButton(QWidget *button, bool tabStop)
{
    button->setProperty(kTabStop, tabStop);
}

}  // namespace port
