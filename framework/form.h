#pragma once
// TForm: a top-level window with our own title bar and fixed dialog frame.
//
// Construction happens in two phases, as a stored layout would build the form:
//   1. The subclass constructor creates the form's components (owner: the
//      form) and sets their stored properties. Meanwhile the form and every
//      component created below it are loading (csLoading).
//   2. TForm::Create<T> then runs Loaded() on the form and on each of those
//      components in creation order, and then the creation handler (OnCreate,
//      through DoCreate). An exception in the handler goes to the error box and
//      the form stays; an exception in a Loaded() step frees the form and
//      propagates.
// Always make forms with TForm::Create<T> (or Application->CreateForm); a form
// constructed any other way never finishes loading, and showing it throws
// EInvalidOperation.
//
//     class TForm1 : public fw::TForm {
//     public:
//         explicit TForm1(fw::TComponent* AOwner) : TForm(AOwner) {
//             SetCaption("Notes");
//             SetClientWidth(455);
//             SetPosition(fw::poScreenCenter);
//             BOk1 = new fw::TButton(this);
//             BOk1->SetName("BOk1");
//             BOk1->SetParent(this);
//             BOk1->SetBounds(280, 200, 80, 27);
//             BOk1->SetCaption("&Ok");
//             BOk1->SetDefault(true);
//             BOk1->OnClick = [this](fw::TObject* s) { BOk1Click(s); };
//             OnCreate = [this](fw::TObject* s) { FormCreate(s); };
//         }
//         void FormCreate(fw::TObject* Sender) { SetHeight(265); }
//         void BOk1Click(fw::TObject* Sender);
//         fw::TButton* BOk1;
//     };
//     TForm1* Form1 = nullptr;
//     Application->CreateForm(&Form1);   // or: fw::TForm::Create<TForm1>(owner)
//
// Geometry. Left, Top, Width and Height are the whole window, our frame and
// title bar included; ClientWidth and ClientHeight the area inside them, where
// controls are placed (child controls use client coordinates).
//
// Non-client messages. The title bar and frame are ours: mouse and paint
// events there become window messages sent to the form's Handle, so they travel
// the window procedure chain (hooks installed with SetWindowLongPtrA see them
// first). The form's own procedure gives the default handling:
//   WM_NCHITTEST       HTCAPTION on the title bar, HTCLOSE / HTMAXBUTTON /
//                      HTMINBUTTON on the system boxes, HTSYSMENU on the icon,
//                      HTBORDER on the frame, HTCLIENT inside, else HTNOWHERE
//                      (lParam: screen point)
//   WM_NCPAINT         paints frame and title bar with NonClientPainter(); a
//                      hook can draw over them after passing the message on
//                      (GetWindowDC gives it the same painter)
//   WM_NCACTIVATE      (wParam: active) remembers the state and repaints
//   WM_NCLBUTTONDOWN   on HTCAPTION: WM_SYSCOMMAND SC_MOVE + HTCAPTION; on
//                      HTSYSMENU: opens the system menu under the icon
//   WM_NCLBUTTONUP     on the box pressed before: WM_SYSCOMMAND SC_CLOSE,
//                      SC_MINIMIZE, SC_MAXIMIZE or SC_RESTORE
//   WM_NCLBUTTONDBLCLK on HTCAPTION with a maximise box: SC_MAXIMIZE / SC_RESTORE
//   WM_NCRBUTTONUP     on HTCAPTION or HTSYSMENU: opens the system menu there
//   WM_NCRBUTTONDOWN, WM_NCMOUSEMOVE: nothing
//   WM_SETCURSOR       the arrow cursor; answers TRUE
//   WM_SYSCOMMAND      SC_CLOSE: WM_CLOSE; SC_MOVE + HTCAPTION: drags the window
//                      with the mouse; SC_MINIMIZE / SC_RESTORE: minimises /
//                      restores (the main form through Application->Minimize/
//                      Restore); SC_MAXIMIZE: fills the screen's work area;
//                      SC_KEYMENU with ' ' (Alt+Space): opens the system menu
// Tooltips: tools of "tooltips_class32" windows (TTF_SUBCLASS) on the form's
// window, also those in the title bar, show their text when the mouse rests.
// The system menu (GetSystemMenu) opens only for a window with biSystemMenu;
// the chosen command arrives as a posted WM_SYSCOMMAND.
//   WM_CLOSE           Close()
//   WM_SETTEXT         stores the caption and repaints the title bar
//   WM_DESTROY         when the handle is destroyed (form freed, RecreateWnd)
// While the left button is held after a press on the non-client area, moves
// arrive as WM_MOUSEMOVE and the release as WM_LBUTTONUP in client coordinates
// when over the client area, else as WM_NCLBUTTONUP with the hit-test code.
//
// Threads: main thread only.

#include <QPoint>
#include <QRect>
#include <memory>
#include <string>

#include "framework/controls.h"
#include "framework/sets.h"
#include "platform/metrics.h"

class QEventLoop;
class QPainter;

namespace fw {

class TButton;

// The non-client geometry of a form, in pixels: the system metrics
// SM_CXDLGFRAME/SM_CYDLGFRAME, SM_CYCAPTION, SM_CXSIZE/SM_CYSIZE.
constexpr int NCFrameWidth = win::metrics::kDlgFrame;
constexpr int NCFrameHeight = win::metrics::kDlgFrame;
// The title bar including the line under it.
constexpr int NCCaptionHeight = win::metrics::kCaption;
// The title bar's buttons (the close box, and the size later caption buttons
// use to find their places).
constexpr int NCCaptionButtonWidth = win::metrics::kCaptionButton;
constexpr int NCCaptionButtonHeight = win::metrics::kCaptionButton;

enum class TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using enum TBorderIcon;
using TBorderIcons = TSet<TBorderIcon>;

enum class TFormStyle { fsNormal, fsStayOnTop };
using enum TFormStyle;

enum class TPosition { poDesigned, poScreenCenter };
using enum TPosition;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using enum TCloseAction;

// What a modal form answers (ShowModal); 0 while it is still open.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TForm : public TWinControl {
public:
    // Makes a form of class T (constructor T(TComponent* owner, args...)) and
    // finishes its loading: see the file comment. `ref`, when given, receives
    // the form before its Loaded() steps and creation handler run.
    template <typename T, typename... Args>
    static T* Create(TComponent* AOwner, T** ref = nullptr, Args&&... args) {
        T* form = new T(AOwner, std::forward<Args>(args)...);
        if (ref)
            *ref = form;
        FinishCreate(form, reinterpret_cast<void**>(ref));
        return form;
    }

    ~TForm() override;

    // The area inside frame and title bar.
    int ClientWidth() const;
    int ClientHeight() const;
    void SetClientWidth(int value);
    void SetClientHeight(int value);
    // Screen position of the client area's top-left pixel.
    QPoint ClientOrigin() const;
    QWidget* ContainerWidget() const override;

    TPosition Position() const { return position_; }
    void SetPosition(TPosition value) { position_ = value; }
    // Moves the window to the middle of the screen.
    void CenterOnScreen();

    // Empty for the main window: no system buttons on the title bar.
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons value);

    // fsStayOnTop keeps the window above others and sets WS_EX_TOPMOST in
    // the handle's extended style.
    TFormStyle FormStyle() const { return formStyle_; }
    void SetFormStyle(TFormStyle value);

    // True while the form's window is the active one.
    bool Active() const { return active_; }

    void SetVisible(bool value) override;
    // Brings the form to the front and activates it.
    void BringToFront() override;

    // OnCloseQuery may refuse; then OnClose chooses what happens (caHide by
    // default). Closing the main form terminates the application; closing a
    // modal form ends ShowModal with mrCancel.
    void Close();

    // Shows the form application-modal and runs a nested event loop (window
    // messages and timers go on) until ModalResult becomes non-zero, the form
    // closes or the application terminates; then hides the form and returns
    // ModalResult. A button with a ModalResult sets it when clicked.
    TModalResult ShowModal();
    TModalResult ModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult value);

    // Repaints the whole window now (Invalidate: later, from the event loop).
    void Repaint();
    void Invalidate();
    // Repaints only the title bar and frame (sends WM_NCPAINT from a paint).
    void InvalidateNonClient() { Invalidate(); }

    // The painter of the whole window (window coordinates) while WM_NCPAINT
    // is delivered from a paint of the window; nullptr otherwise.
    QPainter* NonClientPainter() const { return ncPainter_; }

    // The button that Enter presses unless another button has the focus.
    TButton* DefaultButton() const { return defaultButton_; }
    // The button that Escape presses.
    TButton* CancelButton() const { return cancelButton_; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

protected:
    explicit TForm(TComponent* AOwner);

    // Raises OnCreate (guarded: an exception goes to the error box).
    virtual void DoCreate();
    void WndProc(TMessage& Message) override;
    void CreateParams(TCreateParams& Params) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void ApplyBounds() override;
    void TextChanged() override;
    // Paints frame and title bar (WM_NCPAINT's default handling).
    virtual void PaintNonClient(QPainter& painter);

private:
    friend class TButton;
    friend class FormWidget;
    friend class FormSurface;
    static void FinishCreate(TForm* form, void** ref);
    void SetDefaultButton(TButton* button, bool isDefault);
    void SetCancelButton(TButton* button, bool isCancel);
    win::LRESULT HitTest(QPoint screenPoint) const;
    void BeginMove(QPoint screenPoint);
    void SysCommand(TMessage& Message);
    // Fills the screen's work area (keeping the normal bounds) or goes back.
    void Zoom(bool zoom);
    // Opens the window's system menu at a screen point (biSystemMenu only).
    void ShowSystemMenu(QPoint at);

    class FormWidget* frame_;
    QWidget* client_;
    TPosition position_ = poDesigned;
    TFormStyle formStyle_ = fsNormal;
    TBorderIcons borderIcons_;
    bool active_ = false;
    bool shownOnce_ = false;
    bool closePressed_ = false;
    win::LRESULT pressedBox_ = 0;
    bool zoomed_ = false;
    QRect normalBounds_;
    TButton* defaultButton_ = nullptr;
    TButton* cancelButton_ = nullptr;
    QPainter* ncPainter_ = nullptr;
    TModalResult modalResult_ = mrNone;
    QEventLoop* modalLoop_ = nullptr;
    std::unique_ptr<class FormSurface> surface_;
};

}  // namespace fw
