#include "framework/controls.h"

#include <QString>
#include <unordered_map>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "platform/kernel.h"
#include "platform/product.h"

namespace fw {

// --- TControl ------------------------------------------------------------

TControl::TControl(TComponent* AOwner, QWidget* widget)
    : TComponent(AOwner), widget_(widget ? widget : new QWidget) {}

TControl::~TControl() {
    Destroying();
    DestroyComponents();
    delete widget_.data();
}

void TControl::SetParent(TControl* AParent) {
    if (AParent == parent_)
        return;
    if (AParent == this)
        throw EInvalidOperation("A control cannot be its own parent");
    if (parent_)
        RemoveFreeNotification(parent_);
    parent_ = AParent;
    if (!widget_)
        return;
    widget_->setParent(parent_ ? parent_->ContainerWidget() : nullptr);
    if (parent_)
        FreeNotification(parent_);
    ApplyBounds();
    widget_->setVisible(visible_ && parent_);
    ParentChanged();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    left_ = ALeft;
    top_ = ATop;
    width_ = AWidth < 0 ? 0 : AWidth;
    height_ = AHeight < 0 ? 0 : AHeight;
    ApplyBounds();
}

void TControl::ApplyBounds() {
    if (widget_)
        widget_->setGeometry(left_, top_, width_, height_);
}

void TControl::SetVisible(bool value) {
    visible_ = value;
    if (widget_ && parent_)
        widget_->setVisible(value);
}

void TControl::BringToFront() {
    if (widget_)
        widget_->raise();
}

void TControl::SendToBack() {
    if (widget_)
        widget_->lower();
}

void TControl::SetEnabled(bool value) {
    enabled_ = value;
    if (widget_)
        widget_->setEnabled(value);
}

void TControl::SetCaption(const std::string& value) {
    caption_ = value;
}

void TControl::SetHint(const std::string& value) {
    hint_ = value;
    if (!widget_)
        return;
    // "short|long": the tooltip shows the short part, What's This the long one.
    const size_t bar = value.find('|');
    widget_->setToolTip(QString::fromStdString(value.substr(0, bar)));
    widget_->setWhatsThis(
        QString::fromStdString(bar == std::string::npos ? value : value.substr(bar + 1)));
}

void TControl::Click() {
    if (OnClick)
        OnClick(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == parent_)
        parent_ = nullptr;
}

// --- TWinControl -----------------------------------------------------------

namespace {

std::unordered_map<win::HWND, TWinControl*>& Controls() {
    static std::unordered_map<win::HWND, TWinControl*> map;
    return map;
}

}  // namespace

TWinControl::TWinControl(TComponent* AOwner, QWidget* widget) : TControl(AOwner, widget) {
    objectProc_ =
        win::MakeWindowProcInstance([this](win::HWND, win::UINT msg, win::WPARAM w, win::LPARAM l) {
            return MainWndProc(msg, w, l);
        });
    if (!objectProc_)
        throw EInvalidOperation("Out of window procedure instances");
}

TWinControl::~TWinControl() {
    Destroying();
    DestroyComponents();
    DestroyHandle();
    win::FreeWindowProcInstance(objectProc_);
}

void TWinControl::CreateParams(TCreateParams& Params) {
    Params.WinClassName = "T" + win::ProductName() + "WinControl";
    Params.Caption = Caption();
    Params.Style = win::WS_CHILD;
    Params.X = Left();
    Params.Y = Top();
    Params.Width = Width();
    Params.Height = Height();
}

win::HWND TWinControl::Handle() {
    if (handle_)
        return handle_;
    TCreateParams params;
    CreateParams(params);
    win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
    win::WNDCLASSA existing;
    if (!win::GetClassInfoA(instance, params.WinClassName.c_str(), &existing)) {
        win::WNDCLASSA wc;
        wc.lpfnWndProc = &TWinControl::InitWndProc;
        wc.hInstance = instance;
        wc.lpszClassName = params.WinClassName.c_str();
        win::RegisterClassA(&wc);
    }
    win::HWND h = win::CreateWindowExA(params.ExStyle, params.WinClassName.c_str(),
                                       params.Caption.c_str(), params.Style, params.X, params.Y,
                                       params.Width, params.Height, 0, nullptr, instance, this);
    if (!h)
        throw EInvalidOperation("Error creating window (error " +
                                std::to_string(win::GetLastError()) + ")");
    return handle_;
}

// The class procedure only sees a window's first message: it binds the window
// to its control and hands over to the control's own procedure.
win::LRESULT TWinControl::InitWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                      win::LPARAM lParam) {
    if (msg != win::WM_NCCREATE)
        return win::DefWindowProcA(hwnd, msg, wParam, lParam);
    auto* cs = reinterpret_cast<win::CREATESTRUCTA*>(lParam);
    auto* control = static_cast<TWinControl*>(cs->lpCreateParams);
    control->handle_ = hwnd;
    Controls()[hwnd] = control;
    win::SetWindowLongPtrA(hwnd, win::GWLP_WNDPROC,
                           reinterpret_cast<win::LONG_PTR>(control->objectProc_));
    return win::CallWindowProcA(control->objectProc_, hwnd, msg, wParam, lParam);
}

win::LRESULT TWinControl::MainWndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    TMessage m{msg, wParam, lParam, 0};
    CallGuarded(this, [&] { WndProc(m); });
    if (msg == win::WM_NCDESTROY) {
        Controls().erase(handle_);
        handle_ = 0;
    }
    return m.Result;
}

void TWinControl::WndProc(TMessage& Message) {
    DefaultHandler(Message);
    if (Message.Msg == win::WM_SETTEXT && Message.Result) {
        SetCaptionField(win::GetWindowTextString(handle_));
        TextChanged();
    }
}

void TWinControl::SetCaption(const std::string& value) {
    Perform(win::WM_SETTEXT, 0, reinterpret_cast<win::LPARAM>(value.c_str()));
}

void TWinControl::DefaultHandler(TMessage& Message) {
    Message.Result = win::DefWindowProcA(handle_, Message.Msg, Message.WParam, Message.LParam);
}

win::LRESULT TWinControl::Perform(win::UINT Msg, win::WPARAM WParam, win::LPARAM LParam) {
    return win::SendMessageA(Handle(), Msg, WParam, LParam);
}

void TWinControl::DestroyHandle() {
    if (!handle_)
        return;
    win::HWND h = handle_;
    win::DestroyWindow(h);  // WM_NCDESTROY forgets the handle
    Controls().erase(h);
    handle_ = 0;
}

void TWinControl::RecreateWnd() {
    if (!handle_)
        return;
    SetCaptionField(win::GetWindowTextString(handle_));
    DestroyHandle();
    HandleNeeded();
}

TWinControl* TWinControl::FindControl(win::HWND handle) {
    auto it = Controls().find(handle);
    return it == Controls().end() ? nullptr : it->second;
}

}  // namespace fw
