#pragma once
// TacOnlyOne: keeps the program from running twice. When its owner has
// loaded, it creates the named mutex "TacOnlyOne" + the application's title
// (platform/kernel.h: an object of the user's session that vanishes with its
// last holder, also after a crash). The first instance holds it and
// publishes the handle of its message window as the REG_DWORD value <title>
// under HKEY_CLASSES_ROOT\TacOnlyOne; a later instance finds the mutex taken,
// raises OnAlreadyExist, sends the first instance "switch to first"
// (SwitchToFirst) and "close first" (CloseFirst), which travel between the
// processes, and with CloseSecond ends itself through the normal quit path
// (its main form's close and the application's terminate), unless
// OnForcedTermination says no; then it publishes its own handle.
//
// Switch to first restores a minimised program or raises it, and makes it the
// foreground window; a program hidden in the tray stays hidden. Close first
// ends the first instance the same way, asking its OnForcedTermination.
//
// Registry failures are silent: the messages then go to window 0 and do
// nothing, and the mutex alone still ends the later instance. A mutex that
// cannot be created counts as another instance.
//
// Threads: main thread only.

#include <functional>

#include "framework/messages.h"
#include "platform/user.h"
#include "shell/ac_component.h"

// Sent to the first instance's message window.
constexpr win::UINT WM_ACONLYONE_SWITCHTOFIRST = 14951;
constexpr win::UINT WM_ACONLYONE_CLOSEFIRST = 14952;
// Asks the first instance to bring its window up, also out of the tray
// (OnShowRequest); sent in place of "switch to first" when ShowFirst is set.
constexpr win::UINT WM_ACONLYONE_SHOWFIRST = 14953;

class TacOnlyOne;

// A hidden window of the class "TacSimpleMessageHook" (registered with the
// first such object, unregistered with the last), owned by the application's
// window, whose messages go to the single-instance component; a message it
// leaves at 0 goes on to the default window procedure.
class TacSimpleMessageHook {
public:
    explicit TacSimpleMessageHook(TacOnlyOne* owner);
    ~TacSimpleMessageHook();
    TacSimpleMessageHook(const TacSimpleMessageHook&) = delete;
    TacSimpleMessageHook& operator=(const TacSimpleMessageHook&) = delete;

    win::HWND Handle() const { return handle_; }

private:
    static win::LRESULT InitialWndProc(win::HWND, win::UINT, win::WPARAM, win::LPARAM);
    win::LRESULT WndProc(win::HWND, win::UINT, win::WPARAM, win::LPARAM);

    TacOnlyOne* owner_;
    win::HWND handle_ = 0;
    win::WNDPROC proc_ = nullptr;
};

using TacForcedTerminationEvent = std::function<void(fw::TObject* Sender, bool& Close)>;

class TacOnlyOne : public TacComponent {
public:
    explicit TacOnlyOne(fw::TComponent* AOwner);
    ~TacOnlyOne() override;

    bool CloseSecond = true;
    bool CloseFirst = false;
    bool SwitchToFirst = true;
    // A later instance asks the first to show its window (the launcher's
    // start) instead of only switching to it.
    bool ShowFirst = false;
    fw::TNotifyEvent OnAlreadyExist;
    TacForcedTerminationEvent OnForcedTermination;
    // The first instance was asked to show its window; unset, the request is
    // handled as "switch to first".
    fw::TNotifyEvent OnShowRequest;

    // Whether another instance holds the guard; asked once, then kept while
    // this instance holds it.
    bool AlreadyExists();
    // Send the message to the window published in the registry.
    void SendSwitchToFirst();
    void SendCloseFirst();
    void SendShowFirst();

    // The guard's name, and the registry key and value of the published window.
    static std::string MutexName();
    static constexpr const char* RegistryKey = "TacOnlyOne";
    static std::string ValueName();
    // The window published in the registry, 0 when there is none.
    static win::HWND PublishedWindow();

    win::HWND MessageWindow() const { return hook_->Handle(); }

    void Loaded() override;

    // The two private messages; anything else is left at 0.
    virtual void MessageHandler(fw::TMessage& Message);

private:
    bool Designing() const { return ComponentState().Contains(fw::csDesigning); }
    // Asks OnForcedTermination, then closes the main form and terminates.
    bool Terminate();
    void Publish();
    // Removes the published value when it still names this instance's window.
    void Withdraw();

    win::HANDLE guard_ = nullptr;
    bool exists_ = false;
    win::HWND registered_ = 0;
    TacSimpleMessageHook* hook_;
};
