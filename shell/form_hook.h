#pragma once
// The form-hook base of the shell components: components that see the window
// messages of the form that owns them without the form's cooperation.
//
//   TacComponent
//   └ TacFormHookComponent               subclasses the owner's window procedure
//     └ TacHFormHookComponent            + a hidden message window of its own
//       └ TacCustomAppHookComponent      + optional hook of the application window
//         └ TacHFormHookComponentWatchCaption   + notice of caption changes
//
// Chain. Every hook component sits in one process-wide ordered list (the hook
// list). The components hooked to one window form a chain: messages reach the
// most recently hooked component first and flow down to the earliest one and
// then to the window's own procedure. BeforeMessage runs on the way down
// (newest first) and can mark a message handled, which hides it from all older
// hooks and from the window; AfterMessage runs on the way back (oldest first)
// and may change the result.
//
// Re-creation. When the owner's window is destroyed while its components live
// on (a property change that re-creates the window), the earliest hook posts
// the rehook message to the hook list's window; the list then moves every hook
// of the old window to the new one, in the same order, and calls ReHooked once
// on each.
//
// Errors raised inside any hook procedure go to the application's error box;
// the message result stays as it was.
//
// Threads: main thread only; the hook list is process-wide and unlocked.

#include <string>

#include "framework/messages.h"
#include "shell/ac_component.h"

class TacHookList;

// Private messages of the hook base.
constexpr win::UINT WM_ACREHOOK = 1325;             // to the hook list; lParam: the dying window
constexpr win::UINT WM_ACSTAYONTOPCHANGED = 14946;  // to the hooked window; wParam: 0 or 1
constexpr win::UINT WM_ACCAPTIONCHANGED = 14937;    // to the component's hidden window

class TacFormHookComponent : public TacComponent {
public:
    // The owner must be a windowed control, else EInvalidOperation
    // "Owner must be TWinControl or its descendant!".
    explicit TacFormHookComponent(fw::TComponent* AOwner);
    ~TacFormHookComponent() override;

    // Moves the hook from the old owner's window to the new owner's.
    void SetOwnerReference(fw::TComponent* Value) override;

    // The hooked window's system menu.
    virtual win::HMENU SystemMenuHandle();

    win::HWND HookedWindow() const { return hookedWindow_; }
    // This component's own window procedure while the hook is installed.
    win::WNDPROC HookProcedure() const { return hookProc_; }
    bool HookActive() const { return active_; }

    // Makes the window recompute and repaint its title bar and frame.
    void RedrawFrame();
    win::DWORD WindowStyle() const;
    win::DWORD WindowExStyle() const;
    // The WS_EX_TOPMOST bit of the hooked window.
    bool StayOnTop() const;
    // Moves the window into or out of the topmost band and tells every hook
    // on it (WM_ACSTAYONTOPCHANGED); nothing when the state already matches.
    void SetStayOnTop(bool Value);

    // Whether the hook list exists (tests).
    static bool HookListExists();

protected:
    virtual void BeforeMessage(fw::TMessage& Message, bool& Handled);
    virtual void AfterMessage(fw::TMessage& Message);
    // Runs after the hook moved to a re-created window; re-applies the
    // stay-on-top state last asked for.
    virtual void ReHooked();
    // Runs for WM_ACSTAYONTOPCHANGED on the hooked window.
    virtual void StayOnTopChanged(bool Value);

private:
    friend class TacHookList;
    win::LRESULT HookWndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
    void HookWindow();
    void UnhookWindow();
    void ReleaseHook();

    // The hook record.
    win::HWND hookedWindow_ = 0;
    win::WNDPROC prevProc_ = nullptr;
    win::WNDPROC hookProc_ = nullptr;
    bool active_ = false;
    bool stayOnTop_ = false;  // the last asked-for stay-on-top state
};

class TacHFormHookComponent : public TacFormHookComponent {
public:
    explicit TacHFormHookComponent(fw::TComponent* AOwner);
    ~TacHFormHookComponent() override;

    win::HWND HiddenWindow() const { return hiddenWindow_; }

protected:
    // The hidden window's messages: WM_QUERYENDSESSION answers 1, anything
    // else goes to the default procedure and is answered with 0.
    virtual void HiddenWndProc(fw::TMessage& Message);

private:
    win::HWND hiddenWindow_ = 0;
};

class TacCustomAppHookComponent : public TacHFormHookComponent {
public:
    explicit TacCustomAppHookComponent(fw::TComponent* AOwner);
    ~TacCustomAppHookComponent() override;

    bool AppHookInstalled() const { return appHookProc_ != nullptr; }

protected:
    // Subclasses the application's window; descendants that want its
    // messages call it from their constructor.
    void InstallAppHook();
    void RemoveAppHook();
    virtual void BeforeAppMessage(fw::TMessage& Message, bool& Handled);
    virtual void AfterAppMessage(fw::TMessage& Message);

private:
    win::LRESULT AppHookWndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
    win::HWND appWindow_ = 0;
    win::WNDPROC appSavedProc_ = nullptr;
    win::WNDPROC appHookProc_ = nullptr;
};

class TacHFormHookComponentWatchCaption : public TacCustomAppHookComponent {
public:
    explicit TacHFormHookComponentWatchCaption(fw::TComponent* AOwner);

protected:
    void AfterMessage(fw::TMessage& Message) override;
    void HiddenWndProc(fw::TMessage& Message) override;
    // Called after the owner's caption text changed (posted, so the new
    // caption is in place).
    virtual void CaptionChanged() = 0;

private:
    std::string lastCaption_;
};
