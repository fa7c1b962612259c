#pragma once
// TApplication: the application object. One exists while the program runs;
// the global `Application` points to it (the constructor sets it, the
// destructor clears it). Create it after the QApplication:
//
//     QApplication qt(argc, argv);
//     fw::TApplication app;                      // Application == &app
//     Application->SetTitle("Notes");
//     Application->CreateForm(&Form1);           // first form: the main form
//     Application->Run();                        // until the main form closes
//
// It owns the forms made by CreateForm (they die with it, newest first), has a
// hidden top-level platform window of its own (`Handle`), runs the event loop,
// and shows the standard error box for exceptions that reach a handler, after
// which the program goes on.
//
// Handlers. Every handler the framework calls (window procedures, button
// clicks, timer ticks, form events) runs inside a guard: an exception leaving
// it goes to HandleException and never into Qt.
//
// The application window's default handling: WM_SYSCOMMAND with SC_MINIMIZE or
// SC_RESTORE minimises or restores the main form and then sends WM_SIZE
// (SIZE_MINIMIZED or SIZE_RESTORED) to the application window; WM_CLOSE closes
// the main form; WM_QUERYENDSESSION answers 1; WM_ACTIVATEAPP (wParam: 1 or 0)
// arrives when the program gains or loses the active window, and is followed
// by CM_ACTIVATE or CM_DEACTIVATE, posted.
//
// Threads: main thread only.

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/graphics.h"
#include "framework/messages.h"

class QObject;

namespace fw {

class TForm;

constexpr win::WPARAM SIZE_RESTORED = 0;
constexpr win::WPARAM SIZE_MINIMIZED = 1;
constexpr win::UINT CM_ACTIVATE = 0xB000;
constexpr win::UINT CM_DEACTIVATE = 0xB001;

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;
// Shows the error box: an application-modal message box with an error icon,
// titled `title`, the text `message` and an OK button; returns when it closed.
using TErrorBoxFunction = std::function<void(const std::string& title, const std::string& message)>;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // The program's title: the error box's title and the tray icon's default
    // hint. Defaults to the executable's name.
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);

    // The program's icon: its window icon (QGuiApplication::windowIcon) when
    // it has one, else the system's plain application icon.
    TIcon* Icon();

    // The hidden top-level platform window of the application.
    win::HWND Handle() const { return handle_; }

    // The first form made by CreateForm; closing it ends the program.
    TForm* MainForm() const { return mainForm_; }
    // Whether Run() shows the main form (a tray program may start hidden).
    bool ShowMainForm = true;

    void Initialize() {}

    // Makes a form owned by the application (see TForm::Create). It is stored
    // in *ref, and becomes the main form when there is none yet, before its
    // components' Loaded() steps and its creation handler run.
    template <typename T>
    void CreateForm(T** ref);

    // Shows the main form (when ShowMainForm) and runs the event loop until
    // Terminate(); returns at once when Terminate() was called before.
    void Run();
    // Asks the event loop to end; Terminated() is true from now on.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Handles the events and window messages that are waiting, then returns.
    void ProcessMessages();

    // Minimises or restores the program (through the application window's
    // WM_SYSCOMMAND, so hooks on that window see it).
    void Minimize();
    void Restore();
    TNotifyEvent OnMinimize;
    TNotifyEvent OnRestore;

    // Call inside a catch block: shows the error box for the exception being
    // handled (none for EAbort), or passes it to OnException when that is set.
    void HandleException(TObject* Sender);
    // Shows the error box with the exception's message.
    void ShowException(const std::exception& E);
    TExceptionEvent OnException;
    // Replaces how the error box is shown (tests); empty means the real box.
    void SetErrorBox(TErrorBoxFunction fn) { errorBox_ = std::move(fn); }

    // The application window's procedure; hooks chain in front of it.
    virtual void WndProc(TMessage& Message);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TForm;
    void FormCreated(TForm* form);
    void ShowErrorBox(const std::string& message);
    void MinimizeMainForm(bool minimize);

    std::string title_;
    win::HWND handle_ = 0;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    bool running_ = false;
    TErrorBoxFunction errorBox_;
    QObject* stateWatch_ = nullptr;
    std::unique_ptr<TIcon> icon_;
};

extern TApplication* Application;

// Call inside a catch block: passes the exception to
// Application->HandleException, or to the log when there is no application
// object. Never throws.
void HandleCaughtException(TObject* Sender) noexcept;

// Runs `fn`; an exception it throws goes to HandleCaughtException, never to
// the caller.
template <typename F>
void CallGuarded(TObject* Sender, F&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        HandleCaughtException(Sender);
    }
}

}  // namespace fw

using fw::Application;

#include "framework/form.h"

template <typename T>
void fw::TApplication::CreateForm(T** ref) {
    TForm::Create<T>(this, ref);
}
