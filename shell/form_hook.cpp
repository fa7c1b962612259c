#include "shell/form_hook.h"

#include <algorithm>
#include <vector>

#include "framework/application.h"
#include "framework/controls.h"
#include "framework/exceptions.h"
#include "platform/menu.h"
#include "platform/window_pos.h"

using namespace win;

// The process-wide ordered list of hook components, with a hidden window that
// moves the hooks of a re-created window to its successor.
class TacHookList : public fw::TObject {
public:
    TacHookList() {
        window_ = fw::AllocateHWnd([this](fw::TMessage& m) { WndProc(m); });
    }
    ~TacHookList() override { fw::DeallocateHWnd(window_); }

    static TacHookList* Instance;

    std::vector<TacFormHookComponent*> Items;
    HWND Window() const { return window_; }

    bool Contains(const TacFormHookComponent* c) const {
        return std::find(Items.begin(), Items.end(), c) != Items.end();
    }

    // The procedure below all hooks of `wnd`: the earliest active hook's
    // previous procedure, or the window's own when nothing hooks it.
    WNDPROC UnderlyingProc(HWND wnd) const {
        for (TacFormHookComponent* c : Items)
            if (c->active_ && c->hookedWindow_ == wnd && c->prevProc_)
                return c->prevProc_;
        return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC));
    }

    // Links the hooks of `wnd` oldest to newest above `base` and makes the
    // newest the window's procedure.
    void Rechain(HWND wnd, WNDPROC base) {
        WNDPROC below = base;
        for (TacFormHookComponent* c : Items) {
            if (!c->active_ || c->hookedWindow_ != wnd)
                continue;
            c->prevProc_ = below;
            below = c->hookProc_;
        }
        SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(below));
    }

private:
    void WndProc(fw::TMessage& m) {
        switch (m.Msg) {
            case WM_QUERYENDSESSION:
                m.Result = 1;
                return;
            case WM_ACREHOOK:
                Rehook(static_cast<HWND>(m.LParam));
                return;
            default:
                m.Result = DefWindowProcA(window_, m.Msg, m.WParam, m.LParam);
                return;
        }
    }

    void Rehook(HWND old) {
        std::vector<TacFormHookComponent*> moved;
        for (auto it = Items.rbegin(); it != Items.rend(); ++it) {
            if ((*it)->hookedWindow_ != old)
                continue;
            (*it)->ReleaseHook();
            moved.insert(moved.begin(), *it);
        }
        for (TacFormHookComponent* c : moved) {
            // A handler of an earlier one may have freed it.
            if (!Contains(c))
                continue;
            c->HookWindow();
            c->ReHooked();
        }
    }

    HWND window_ = 0;
};

TacHookList* TacHookList::Instance = nullptr;

// --- TacFormHookComponent ----------------------------------------------------

TacFormHookComponent::TacFormHookComponent(fw::TComponent* AOwner) : TacComponent(AOwner) {
    if (!dynamic_cast<fw::TWinControl*>(AOwner))
        throw fw::EInvalidOperation("Owner must be TWinControl or its descendant!");
    if (!TacHookList::Instance)
        TacHookList::Instance = new TacHookList;
    TacHookList::Instance->Items.push_back(this);
    HookWindow();
    stayOnTop_ = StayOnTop();
}

TacFormHookComponent::~TacFormHookComponent() {
    Destroying();
    UnhookWindow();
    if (TacHookList::Instance && TacHookList::Instance->Items.empty()) {
        delete TacHookList::Instance;
        TacHookList::Instance = nullptr;
    }
}

void TacFormHookComponent::SetOwnerReference(fw::TComponent* Value) {
    if (Value && !dynamic_cast<fw::TWinControl*>(Value))
        throw fw::EInvalidOperation("Owner must be TWinControl or its descendant!");
    UnhookWindow();
    TacComponent::SetOwnerReference(Value);
    TacHookList::Instance->Items.push_back(this);
    HookWindow();
}

void TacFormHookComponent::HookWindow() {
    TacHookList* list = TacHookList::Instance;
    if (!hookProc_)
        hookProc_ = MakeWindowProcInstance(
            [this](HWND, UINT m, WPARAM w, LPARAM l) { return HookWndProc(m, w, l); });
    auto* control = dynamic_cast<fw::TWinControl*>(OwnerReference());
    hookedWindow_ = control ? control->Handle() : 0;
    if (!hookedWindow_ || hookedWindow_ == static_cast<HWND>(-1))
        return;
    WNDPROC base = list->UnderlyingProc(hookedWindow_);
    active_ = true;
    list->Rechain(hookedWindow_, base);
}

void TacFormHookComponent::UnhookWindow() {
    TacHookList* list = TacHookList::Instance;
    if (!list)
        return;
    const bool chained = hookedWindow_ && hookedWindow_ != static_cast<HWND>(-1);
    WNDPROC base = chained ? list->UnderlyingProc(hookedWindow_) : nullptr;
    std::erase(list->Items, this);
    active_ = false;
    if (chained && IsWindow(hookedWindow_))
        list->Rechain(hookedWindow_, base);
    ReleaseHook();
    hookedWindow_ = 0;
}

void TacFormHookComponent::ReleaseHook() {
    if (hookProc_)
        FreeWindowProcInstance(hookProc_);
    hookProc_ = nullptr;
    prevProc_ = nullptr;
    active_ = false;
}

LRESULT TacFormHookComponent::HookWndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    fw::TMessage m{msg, wParam, lParam, 0};
    const HWND wnd = hookedWindow_;
    const WNDPROC prev = prevProc_;
    fw::CallGuarded(this, [&] {
        TacHookList* list = TacHookList::Instance;
        if (msg == WM_DESTROY && !IsDestroying() && list && list->UnderlyingProc(wnd) == prev)
            PostMessageA(list->Window(), WM_ACREHOOK, 0, static_cast<LPARAM>(wnd));
        if (msg == WM_ACSTAYONTOPCHANGED)
            StayOnTopChanged(wParam != 0);
        bool handled = false;
        BeforeMessage(m, handled);
        if (!handled)
            m.Result = CallWindowProcA(prev, wnd, m.Msg, m.WParam, m.LParam);
        list = TacHookList::Instance;
        if (list && list->Contains(this))
            AfterMessage(m);
    });
    return m.Result;
}

void TacFormHookComponent::BeforeMessage(fw::TMessage&, bool&) {}
void TacFormHookComponent::AfterMessage(fw::TMessage&) {}

void TacFormHookComponent::ReHooked() {
    // The new window starts with its class's stay-on-top state.
    if (StayOnTop() != stayOnTop_) {
        const bool wanted = stayOnTop_;
        stayOnTop_ = !wanted;
        SetStayOnTop(wanted);
    }
}

void TacFormHookComponent::StayOnTopChanged(bool Value) {
    // Every hook on the window keeps the new state, so whichever is re-hooked
    // last after a re-creation applies the same.
    stayOnTop_ = Value;
    SetStayOnTop(Value);
}

HMENU TacFormHookComponent::SystemMenuHandle() {
    return GetSystemMenu(hookedWindow_, FALSE);
}

void TacFormHookComponent::RedrawFrame() {
    SetWindowPos(hookedWindow_, 0, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

DWORD TacFormHookComponent::WindowStyle() const {
    return static_cast<DWORD>(GetWindowLongA(hookedWindow_, GWL_STYLE));
}

DWORD TacFormHookComponent::WindowExStyle() const {
    return static_cast<DWORD>(GetWindowLongA(hookedWindow_, GWL_EXSTYLE));
}

bool TacFormHookComponent::StayOnTop() const {
    if (ComponentState().Contains(fw::csDesigning))
        return stayOnTop_;
    return (WindowExStyle() & WS_EX_TOPMOST) != 0;
}

void TacFormHookComponent::SetStayOnTop(bool Value) {
    if (Value == StayOnTop())
        return;
    stayOnTop_ = Value;
    if (!ComponentState().Contains(fw::csDesigning))
        SetWindowPos(hookedWindow_, Value ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    SendMessageA(hookedWindow_, WM_ACSTAYONTOPCHANGED, Value ? 1 : 0, 0);
}

bool TacFormHookComponent::HookListExists() {
    return TacHookList::Instance != nullptr;
}

// --- TacHFormHookComponent ---------------------------------------------------

TacHFormHookComponent::TacHFormHookComponent(fw::TComponent* AOwner)
    : TacFormHookComponent(AOwner) {
    hiddenWindow_ = fw::AllocateHWnd([this](fw::TMessage& m) { HiddenWndProc(m); });
}

TacHFormHookComponent::~TacHFormHookComponent() {
    Destroying();
    fw::DeallocateHWnd(hiddenWindow_);
    hiddenWindow_ = 0;
}

void TacHFormHookComponent::HiddenWndProc(fw::TMessage& Message) {
    if (Message.Msg == WM_QUERYENDSESSION) {
        Message.Result = 1;
        return;
    }
    DefWindowProcA(hiddenWindow_, Message.Msg, Message.WParam, Message.LParam);
    Message.Result = 0;
}

// --- TacCustomAppHookComponent -----------------------------------------------

TacCustomAppHookComponent::TacCustomAppHookComponent(fw::TComponent* AOwner)
    : TacHFormHookComponent(AOwner) {}

TacCustomAppHookComponent::~TacCustomAppHookComponent() {
    Destroying();
    RemoveAppHook();
}

void TacCustomAppHookComponent::InstallAppHook() {
    if (ComponentState().Contains(fw::csDesigning) || IsDestroying() || appHookProc_)
        return;
    if (!Application || !Application->Handle())
        return;
    appWindow_ = Application->Handle();
    appSavedProc_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(appWindow_, GWLP_WNDPROC));
    appHookProc_ = MakeWindowProcInstance(
        [this](HWND, UINT m, WPARAM w, LPARAM l) { return AppHookWndProc(m, w, l); });
    SetWindowLongPtrA(appWindow_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(appHookProc_));
}

void TacCustomAppHookComponent::RemoveAppHook() {
    if (!appHookProc_)
        return;
    SetWindowLongPtrA(appWindow_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(appSavedProc_));
    FreeWindowProcInstance(appHookProc_);
    appHookProc_ = nullptr;
    appSavedProc_ = nullptr;
    appWindow_ = 0;
}

LRESULT TacCustomAppHookComponent::AppHookWndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    fw::TMessage m{msg, wParam, lParam, 1};
    const HWND wnd = appWindow_;
    const WNDPROC saved = appSavedProc_;
    fw::CallGuarded(this, [&] {
        bool handled = false;
        BeforeAppMessage(m, handled);
        if (!handled)
            m.Result = CallWindowProcA(saved, wnd, m.Msg, m.WParam, m.LParam);
        if (!IsDestroying())
            AfterAppMessage(m);
    });
    return m.Result;
}

void TacCustomAppHookComponent::BeforeAppMessage(fw::TMessage&, bool&) {}
void TacCustomAppHookComponent::AfterAppMessage(fw::TMessage&) {}

// --- TacHFormHookComponentWatchCaption ---------------------------------------

TacHFormHookComponentWatchCaption::TacHFormHookComponentWatchCaption(fw::TComponent* AOwner)
    : TacCustomAppHookComponent(AOwner), lastCaption_(GetWindowTextString(HookedWindow())) {}

void TacHFormHookComponentWatchCaption::AfterMessage(fw::TMessage& Message) {
    TacCustomAppHookComponent::AfterMessage(Message);
    if (Message.Msg != WM_SETTEXT)
        return;
    const std::string text = GetWindowTextString(HookedWindow());
    if (text == lastCaption_)
        return;
    lastCaption_ = text;
    PostMessageA(HiddenWindow(), WM_ACCAPTIONCHANGED, 0, 0);
}

void TacHFormHookComponentWatchCaption::HiddenWndProc(fw::TMessage& Message) {
    TacCustomAppHookComponent::HiddenWndProc(Message);
    if (Message.Msg == WM_ACCAPTIONCHANGED)
        CaptionChanged();
}
