#pragma once
// Controls: components with a widget at an exact place.
//
// TControl wraps one QWidget (which it owns) and places it at Left, Top,
// Width, Height in pixels within its parent's client area. Any QWidget can be
// placed this way: `auto* c = new TControl(form, new QTableView); c->SetParent(form);
// c->SetBounds(4, 4, 445, 189);`.
//
// TWinControl adds a platform window handle (`Handle`, made when first needed)
// whose window procedure is the control's WndProc. Other components may
// subclass that procedure with SetWindowLongPtrA(GWLP_WNDPROC) and pass
// messages on with CallWindowProcA; the framework always sends its messages to
// the handle, so they travel the whole chain. RecreateWnd destroys the window
// (WM_DESTROY travels the chain) and makes a new one.
//
// Threads: main thread only.

#include <QPointer>
#include <QWidget>
#include <string>

#include "framework/component.h"
#include "framework/messages.h"

namespace fw {

class TControl : public TComponent {
public:
    // Takes ownership of `widget` (nullptr: a plain QWidget).
    explicit TControl(TComponent* AOwner, QWidget* widget = nullptr);
    ~TControl() override;

    QWidget* Widget() const { return widget_; }

    // The control whose client area holds this one; none for a form.
    TControl* Parent() const { return parent_; }
    void SetParent(TControl* AParent);
    // Where child controls' widgets go.
    virtual QWidget* ContainerWidget() const { return widget_; }

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // The control's own Visible flag (a visible child of a hidden form is
    // Visible but not on screen).
    bool Visible() const { return visible_; }
    virtual void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }

    // Z-order among the parent's controls (a form: among the windows).
    virtual void BringToFront();
    void SendToBack();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);

    // The system's 8-bit text (UTF-8); `&` marks the accelerator, `&&` is a
    // literal ampersand.
    const std::string& Caption() const { return caption_; }
    virtual void SetCaption(const std::string& value);

    // "short|long": the short part is the tooltip, the long part (or the
    // whole hint without a bar) what What's This shows.
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);

    // Raised by Click(); the handler runs guarded.
    TNotifyEvent OnClick;
    virtual void Click();

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    virtual void ApplyBounds();
    // Called after SetParent changed the parent.
    virtual void ParentChanged() {}
    void SetCaptionField(const std::string& value) { caption_ = value; }

private:
    QPointer<QWidget> widget_;
    TControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    std::string caption_;
    std::string hint_;
};

// What CreateWnd makes: the window class, styles and caption of the handle.
struct TCreateParams {
    std::string WinClassName;
    std::string Caption;
    win::DWORD Style = 0;
    win::DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner, QWidget* widget = nullptr);
    ~TWinControl() override;

    // The platform window handle, made when first asked for.
    win::HWND Handle();
    bool HandleAllocated() const { return handle_ != 0; }
    void HandleNeeded() { (void)Handle(); }
    // Destroys the platform window and makes a new one in its place.
    void RecreateWnd();

    // Goes through WM_SETTEXT, so hooks on the window see caption changes.
    void SetCaption(const std::string& value) override;

    // Sends a message to the control's window (through its whole procedure
    // chain) and returns the answer.
    win::LRESULT Perform(win::UINT Msg, win::WPARAM WParam, win::LPARAM LParam);

    // The control of a handle made by TWinControl, or nullptr.
    static TWinControl* FindControl(win::HWND handle);

protected:
    // The control's own window procedure, at the end of the chain: it handles
    // what it knows and passes the rest to DefaultHandler.
    virtual void WndProc(TMessage& Message);
    // The platform's default processing (DefWindowProcA).
    void DefaultHandler(TMessage& Message);

    virtual void CreateParams(TCreateParams& Params);
    void DestroyHandle();
    // Called after WM_SETTEXT's default processing stored a new caption.
    virtual void TextChanged() {}

private:
    static win::LRESULT InitWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                    win::LPARAM lParam);
    win::LRESULT MainWndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

    win::HWND handle_ = 0;
    win::WNDPROC objectProc_ = nullptr;
};

}  // namespace fw
