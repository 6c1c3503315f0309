// The dialog on a desktop, drawn with Qt Widgets. Construct it on the main
// thread once the QApplication exists, and call it on that thread.
#pragma once

#include <vector>

#include "user/user.h"
#include "window_backend.h"

class QMessageBox;
class QWidget;

namespace port {

class DialogSurface;

class QtWindowBackend : public WindowBackend {
public:
    QtWindowBackend();
    ~QtWindowBackend() override;
    QtWindowBackend(const QtWindowBackend &) = delete;
    QtWindowBackend &operator=(const QtWindowBackend &) = delete;

    bool CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input) override;
    void DestroyDialogWindow() override;
    void SetControlEnabled(int id, bool enabled) override;
    void SetFocusControl(int id) override;
    void SystemCommand(unsigned command) override;  // qt_system_command.cpp

    void OpenMessageBox(const char *text, const char *caption, unsigned type,
                        std::function<void()> closed) override;
    void Beep(unsigned type) override;

    void ClientSize(int *width, int *height) override;
    bool BeginDrawing(Surface *surface) override;
    void EndDrawing(const SurfaceRect &changed) override;

    void WaitForEvents() override;

    // For tests and diagnostics: the widgets as built, or null.
    QWidget *DialogWidget() const;
    QWidget *ControlWidget(int id) const;  // the first control with `id`
    QMessageBox *MessageBoxWidget() const;
    BaseUnits DialogBaseUnits() const { return units_; }

private:
    struct Control {
        int id;
        QWidget *widget;
    };

    QWidget *CreateControl(const DialogItem &item);
    bool Accepting() const;
    void ForwardKey(int vk, int modifiers);
    // SIGTERM, SIGINT and SIGHUP close the dialog (qt_session_end.cpp).
    void ListenForSessionEnd();
    void StopListeningForSessionEnd();
    void EndSession();

    DialogInput *input_ = nullptr;
    DialogSurface *dialog_ = nullptr;  // owns the controls, the key filter and the message box
    std::vector<Control> controls_;    // in template order
    QMessageBox *messageBox_ = nullptr;
    BaseUnits units_;
    std::vector<unsigned> sessionSources_;  // GLib's signal sources
};

}  // namespace port
