// The keys of dialog navigation (Tab, Enter, Space, Escape, Alt+F4), taken
// away from Qt and handed to the layer's dialog manager.
#pragma once

#include <functional>

#include <QObject>

namespace port {

// Installed on the dialog and on each control. Qt would otherwise move the
// focus, press buttons or close the window by itself.
class DialogKeyFilter : public QObject {
public:
    // `onKey` gets the VK_* code and KeyModifier bits of each such key press.
    DialogKeyFilter(std::function<void(int vk, int modifiers)> onKey, QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void(int vk, int modifiers)> onKey_;
};

}  // namespace port
