#include "framework/form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QWindow>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/menus.h"
#include "framework/skin.h"
#include "framework/std_controls.h"
#include "platform/gdi.h"
#include "platform/product.h"
#include "platform/tooltip.h"
#include "platform/window_pos.h"

namespace fw {

using namespace win;

// The top-level widget of a form: everything outside the client area is
// non-client, and what happens there becomes window messages to the form.
class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm* form)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), form_(form) {
        setMouseTracking(true);
        // The title bar's tools belong to always-tip tooltip controls, which
        // show over inactive windows too.
        setAttribute(Qt::WA_AlwaysShowToolTips);
    }

    TForm* form_;
    bool moving_ = false;
    QPoint moveAnchor_;
    bool tracking_ = false;

    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) {
        LRESULT r = 0;
        if (form_)
            CallGuarded(form_, [&] { r = form_->Perform(msg, wParam, lParam); });
        return r;
    }
    static LPARAM Pt(QPoint p) { return MakeLParamPoint(p.x(), p.y()); }
    LPARAM ClientPt(QPoint global) { return Pt(global - form_->ClientOrigin()); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!form_)
            return;
        QPainter painter(this);
        form_->ncPainter_ = &painter;
        // Hooks draw over the title bar through the window's device context.
        const HWND wnd = form_->Handle();
        SetWindowPainter(wnd, &painter);
        Send(WM_NCPAINT, 1, 0);
        SetWindowPainter(wnd, nullptr);
        if (form_)
            form_->ncPainter_ = nullptr;
    }

    bool event(QEvent* e) override {
        if (e->type() != QEvent::ToolTip || !form_)
            return QWidget::event(e);
        // Tools of the tooltip control that lie on the title bar or frame.
        auto* help = static_cast<QHelpEvent*>(e);
        const QPoint client = help->globalPos() - form_->ClientOrigin();
        std::string text;
        RECT r;
        if (ToolTipAt(form_->Handle(), POINT{client.x(), client.y()}, &text, &r)) {
            const QPoint o = form_->ClientOrigin() - QPoint(form_->Left(), form_->Top());
            QToolTip::showText(
                help->globalPos(), QString::fromStdString(text), this,
                QRect(r.left + o.x(), r.top + o.y(), r.right - r.left, r.bottom - r.top));
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }

    void mousePressEvent(QMouseEvent* e) override {
        const bool left = e->button() == Qt::LeftButton;
        if (!form_ || (!left && e->button() != Qt::RightButton))
            return e->ignore();
        const QPoint g = e->globalPosition().toPoint();
        const LRESULT ht = Send(WM_NCHITTEST, 0, Pt(g));
        if (ht == HTCLIENT || ht == HTNOWHERE)
            return e->ignore();
        Send(WM_SETCURSOR, form_->Handle(),
             MAKELONG(static_cast<WORD>(ht), left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN));
        if (left) {
            tracking_ = true;
            Send(WM_NCLBUTTONDOWN, static_cast<WPARAM>(ht), Pt(g));
        } else {
            Send(WM_NCRBUTTONDOWN, static_cast<WPARAM>(ht), Pt(g));
        }
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        const bool left = e->button() == Qt::LeftButton;
        if (!form_ || (!left && e->button() != Qt::RightButton))
            return e->ignore();
        const QPoint g = e->globalPosition().toPoint();
        const LRESULT ht = Send(WM_NCHITTEST, 0, Pt(g));
        if (ht == HTCLIENT || ht == HTNOWHERE)
            return e->ignore();
        if (left)
            tracking_ = true;
        Send(left ? WM_NCLBUTTONDBLCLK : WM_NCRBUTTONDBLCLK, static_cast<WPARAM>(ht), Pt(g));
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (!form_)
            return;
        const QPoint g = e->globalPosition().toPoint();
        if (moving_) {
            if (e->buttons() & Qt::LeftButton) {
                const QPoint to = g - moveAnchor_;
                form_->SetBounds(to.x(), to.y(), form_->Width(), form_->Height());
                return;
            }
            moving_ = false;
        }
        if (tracking_ && (e->buttons() & Qt::LeftButton)) {
            Send(WM_MOUSEMOVE, 1 /* MK_LBUTTON */, ClientPt(g));
            return;
        }
        tracking_ = false;
        const LRESULT ht = Send(WM_NCHITTEST, 0, Pt(g));
        Send(WM_SETCURSOR, form_->Handle(), MAKELONG(static_cast<WORD>(ht), WM_MOUSEMOVE));
        if (ht != HTCLIENT)
            Send(WM_NCMOUSEMOVE, static_cast<WPARAM>(ht), Pt(g));
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!form_)
            return;
        const QPoint g = e->globalPosition().toPoint();
        if (e->button() == Qt::LeftButton) {
            tracking_ = false;
            if (moving_) {
                moving_ = false;
                return;
            }
            const LRESULT ht = Send(WM_NCHITTEST, 0, Pt(g));
            if (ht == HTCLIENT)
                Send(WM_LBUTTONUP, 0, ClientPt(g));
            else
                Send(WM_NCLBUTTONUP, static_cast<WPARAM>(ht), Pt(g));
        } else if (e->button() == Qt::RightButton) {
            const LRESULT ht = Send(WM_NCHITTEST, 0, Pt(g));
            if (ht != HTCLIENT)
                Send(WM_NCRBUTTONUP, static_cast<WPARAM>(ht), Pt(g));
        }
    }

    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (form_ && e->type() == QEvent::ActivationChange)
            Send(WM_NCACTIVATE, isActiveWindow() ? TRUE : FALSE, 0);
    }

    void moveEvent(QMoveEvent* e) override {
        QWidget::moveEvent(e);
        // The window manager may move us too; keep Left and Top true.
        if (form_ && (form_->Left() != x() || form_->Top() != y()))
            form_->SetBounds(x(), y(), form_->Width(), form_->Height());
    }

    void closeEvent(QCloseEvent* e) override {
        // A close asked for from outside goes the way of the close box.
        e->ignore();
        Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    }

    void keyPressEvent(QKeyEvent* e) override {
        if (form_ && e->key() == Qt::Key_Space && e->modifiers() == Qt::AltModifier) {
            Send(WM_SYSCOMMAND, SC_KEYMENU, ' ');
            return;
        }
        TButton* b = nullptr;
        if (form_ && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter))
            b = form_->defaultButton_;
        if (form_ && e->key() == Qt::Key_Escape)
            b = form_->cancelButton_;
        if (b && b->Enabled() && b->Visible()) {
            CallGuarded(b, [b] { b->Click(); });
            return;
        }
        QWidget::keyPressEvent(e);
    }
};

// What ShowWindow and its kin do to a form's window.
class FormSurface : public WindowSurface {
public:
    explicit FormSurface(TForm* form) : form_(form) {}

    void Show(int cmd) override {
        QWidget* w = form_->frame_;
        switch (cmd) {
            case SW_HIDE:
                form_->Hide();
                return;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
            case SW_SHOWMINNOACTIVE:
                form_->Show();
                w->showMinimized();
                return;
            case SW_MAXIMIZE:
                form_->Show();
                form_->Zoom(true);
                return;
            case SW_SHOWNORMAL:
            case SW_RESTORE:
                form_->Show();
                if (w->isMinimized())
                    w->showNormal();
                else
                    form_->Zoom(false);
                return;
            default:
                form_->Show();
                return;
        }
    }
    bool Visible() const override { return form_->frame_->isVisible(); }
    bool Iconic() const override { return form_->frame_->isMinimized(); }
    bool Zoomed() const override { return form_->zoomed_; }
    void Raise(bool activate) override {
        form_->frame_->raise();
        if (activate)
            form_->frame_->activateWindow();
    }
    RECT WindowRect() const override {
        return RECT{form_->Left(), form_->Top(), form_->Left() + form_->Width(),
                    form_->Top() + form_->Height()};
    }
    POINT ClientOrigin() const override {
        const QPoint o = form_->ClientOrigin();
        return POINT{o.x(), o.y()};
    }
    void SetPos(int x, int y, int cx, int cy, UINT flags) override {
        const bool move = !(flags & SWP_NOMOVE);
        const bool size = !(flags & SWP_NOSIZE);
        if (move || size)
            form_->SetBounds(move ? x : form_->Left(), move ? y : form_->Top(),
                             size ? cx : form_->Width(), size ? cy : form_->Height());
        if (flags & SWP_FRAMECHANGED)
            form_->InvalidateNonClient();
    }
    void SetTopmost(bool topmost) override {
        QWidget* w = form_->frame_;
        if (w->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost)
            return;
        // Qt hides a window whose flags change; show it again where it was.
        const bool shown = w->isVisible();
        w->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
        if (shown)
            w->show();
    }

private:
    TForm* form_;
};

TForm::TForm(TComponent* AOwner)
    : TWinControl(AOwner, new FormWidget(this)), surface_(std::make_unique<FormSurface>(this)) {
    frame_ = static_cast<FormWidget*>(Widget());
    client_ = new QWidget(frame_);
    client_->setAttribute(Qt::WA_NoMousePropagation);
    client_->setAutoFillBackground(true);
    skin::ApplyToForm(frame_, client_);
    TControl::SetVisible(false);
    BeginLoadingComponents();
    SetBounds(0, 0, 2 * NCFrameWidth + 320, 2 * NCFrameHeight + NCCaptionHeight + 240);
}

TForm::~TForm() {
    Destroying();
    DestroyComponents();
    DestroyHandle();
    // Whatever the widget still says while it dies is no longer ours to hear.
    frame_->form_ = nullptr;
}

void TForm::FinishCreate(TForm* form, void** ref) {
    if (auto* app = dynamic_cast<TApplication*>(form->Owner()))
        app->FormCreated(form);
    try {
        form->EndLoadingComponents();
    } catch (...) {
        if (ref)
            *ref = nullptr;
        delete form;
        throw;
    }
    form->DoCreate();
}

void TForm::DoCreate() {
    if (OnCreate)
        CallGuarded(this, [this] { OnCreate(this); });
}

void TForm::CreateParams(TCreateParams& Params) {
    TWinControl::CreateParams(Params);
    Params.WinClassName = "T" + win::ProductName() + "Form";
    Params.Style = WS_POPUP | WS_CAPTION;
    if (borderIcons_.Contains(biSystemMenu))
        Params.Style |= WS_SYSMENU;
    if (borderIcons_.Contains(biMinimize))
        Params.Style |= WS_MINIMIZEBOX;
    if (borderIcons_.Contains(biMaximize))
        Params.Style |= WS_MAXIMIZEBOX;
    Params.ExStyle = WS_EX_DLGMODALFRAME;
    if (formStyle_ == fsStayOnTop)
        Params.ExStyle |= WS_EX_TOPMOST;
}

void TForm::SetFormStyle(TFormStyle value) {
    if (value == formStyle_)
        return;
    formStyle_ = value;
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        SetWindowLongA(Handle(), GWL_EXSTYLE, static_cast<LONG>(params.ExStyle));
    }
    surface_->SetTopmost(value == fsStayOnTop);
}

void TForm::SetBorderIcons(TBorderIcons value) {
    borderIcons_ = value;
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        SetWindowLongA(Handle(), GWL_STYLE, static_cast<LONG>(params.Style));
    }
    Invalidate();
}

int TForm::ClientWidth() const {
    return std::max(0, Width() - 2 * NCFrameWidth);
}
int TForm::ClientHeight() const {
    return std::max(0, Height() - 2 * NCFrameHeight - NCCaptionHeight);
}
void TForm::SetClientWidth(int value) {
    SetWidth(value + 2 * NCFrameWidth);
}
void TForm::SetClientHeight(int value) {
    SetHeight(value + 2 * NCFrameHeight + NCCaptionHeight);
}

QPoint TForm::ClientOrigin() const {
    return QPoint(Left() + NCFrameWidth, Top() + NCFrameHeight + NCCaptionHeight);
}

QWidget* TForm::ContainerWidget() const {
    return client_;
}

void TForm::ApplyBounds() {
    frame_->setFixedSize(Width(), Height());
    if (frame_->pos() != QPoint(Left(), Top()))
        frame_->move(Left(), Top());
    client_->setGeometry(NCFrameWidth, NCFrameHeight + NCCaptionHeight, ClientWidth(),
                         ClientHeight());
}

void TForm::CenterOnScreen() {
    QScreen* screen = frame_->screen() ? frame_->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect s = screen->geometry();
    SetBounds(s.x() + (s.width() - Width()) / 2, s.y() + (s.height() - Height()) / 2, Width(),
              Height());
}

void TForm::SetVisible(bool value) {
    if (value && IsLoading())
        throw EInvalidOperation("Cannot show a form before it has finished loading");
    if (value == Visible() && frame_->isVisible() == value)
        return;
    TControl::SetVisible(value);
    if (value) {
        HandleNeeded();
        if (!shownOnce_ && position_ == poScreenCenter)
            CenterOnScreen();
        shownOnce_ = true;
        frame_->show();
        if (OnShow)
            OnShow(this);
    } else {
        frame_->hide();
        if (modalLoop_)
            modalLoop_->quit();
        if (OnHide)
            OnHide(this);
    }
}

void TForm::BringToFront() {
    frame_->raise();
    frame_->activateWindow();
}

void TForm::Close() {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    TCloseAction action = caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return;
    if (modalLoop_) {
        if (modalResult_ == mrNone)
            SetModalResult(mrCancel);
        return;
    }
    if (Application && Application->MainForm() == this) {
        Application->Terminate();
        return;
    }
    switch (action) {
        case caHide:
            Hide();
            break;
        case caMinimize:
            Perform(WM_SYSCOMMAND, SC_MINIMIZE, 0);
            break;
        case caFree: {
            // Freed from the event loop: the close may come from the form's own
            // window procedure, which must not return into a freed form.
            Hide();
            QPointer<QWidget> alive = frame_;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [alive, this] {
                    if (alive)
                        delete this;
                },
                Qt::QueuedConnection);
            break;
        }
        case caNone:
            break;
    }
}

TModalResult TForm::ShowModal() {
    if (Visible() || modalLoop_)
        throw EInvalidOperation("Cannot make a visible window modal");
    modalResult_ = mrNone;
    frame_->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    modalLoop_ = &loop;
    try {
        Show();
        BringToFront();
        while (modalResult_ == mrNone && Visible() && !(Application && Application->Terminated()))
            loop.exec();
    } catch (...) {
        modalLoop_ = nullptr;
        frame_->setWindowModality(Qt::NonModal);
        throw;
    }
    modalLoop_ = nullptr;
    Hide();
    frame_->setWindowModality(Qt::NonModal);
    return modalResult_;
}

void TForm::SetModalResult(TModalResult value) {
    modalResult_ = value;
    if (modalLoop_ && value != mrNone)
        modalLoop_->quit();
}

void TForm::Repaint() {
    frame_->repaint();
}
void TForm::Invalidate() {
    frame_->update();
}

void TForm::TextChanged() {
    frame_->setWindowTitle(QString::fromStdString(Caption()));
    frame_->update();
}

void TForm::Notification(TComponent* AComponent, TOperation Operation) {
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == defaultButton_)
        defaultButton_ = nullptr;
    if (Operation == opRemove && AComponent == cancelButton_)
        cancelButton_ = nullptr;
}

void TForm::SetDefaultButton(TButton* button, bool isDefault) {
    if (isDefault) {
        if (defaultButton_ && defaultButton_ != button)
            defaultButton_->SetDefault(false);
        defaultButton_ = button;
        FreeNotification(button);
    } else if (defaultButton_ == button) {
        defaultButton_ = nullptr;
    }
}

void TForm::SetCancelButton(TButton* button, bool isCancel) {
    if (isCancel) {
        if (cancelButton_ && cancelButton_ != button)
            cancelButton_->SetCancel(false);
        cancelButton_ = button;
        FreeNotification(button);
    } else if (cancelButton_ == button) {
        cancelButton_ = nullptr;
    }
}

LRESULT TForm::HitTest(QPoint screenPoint) const {
    const QPoint p = screenPoint - QPoint(Left(), Top());
    if (p.x() < 0 || p.y() < 0 || p.x() >= Width() || p.y() >= Height())
        return HTNOWHERE;
    const QRect client(NCFrameWidth, NCFrameHeight + NCCaptionHeight, ClientWidth(),
                       ClientHeight());
    if (client.contains(p))
        return HTCLIENT;
    if (borderIcons_.Contains(biSystemMenu)) {
        if (skin::CloseBoxRect(Width()).contains(p))
            return HTCLOSE;
        if (skin::IconRect().contains(p))
            return HTSYSMENU;
    }
    if (borderIcons_.Contains(biMinimize) || borderIcons_.Contains(biMaximize)) {
        if (skin::MaximizeBoxRect(Width()).contains(p))
            return HTMAXBUTTON;
        if (skin::MinimizeBoxRect(Width()).contains(p))
            return HTMINBUTTON;
    }
    if (p.y() >= NCFrameHeight && p.y() < NCFrameHeight + NCCaptionHeight &&
        p.x() >= NCFrameWidth && p.x() < Width() - NCFrameWidth)
        return HTCAPTION;
    return HTBORDER;
}

void TForm::BeginMove(QPoint screenPoint) {
    QWindow* window = frame_->windowHandle();
    if (window && window->startSystemMove())
        return;
    // Without a window manager to ask, the form follows the mouse itself.
    frame_->moving_ = true;
    frame_->moveAnchor_ = screenPoint - QPoint(Left(), Top());
}

void TForm::SysCommand(TMessage& Message) {
    const QPoint point(GetXLParam(Message.LParam), GetYLParam(Message.LParam));
    switch (Message.WParam & 0xFFF0) {
        case SC_CLOSE:
            Perform(WM_CLOSE, 0, 0);
            break;
        case SC_MOVE:
            // A move by the mouse names the caption in the low bits; one chosen
            // from the system menu has nothing to follow here.
            if ((Message.WParam & 0xF) == static_cast<WPARAM>(HTCAPTION))
                BeginMove(point);
            break;
        case SC_MAXIMIZE:
            if (borderIcons_.Contains(biMaximize))
                Zoom(true);
            break;
        case SC_KEYMENU:
            if (Message.LParam == ' ')
                ShowSystemMenu(
                    QPoint(Left() + NCFrameWidth, Top() + NCFrameHeight + NCCaptionHeight));
            break;
        case SC_MINIMIZE:
            if (Application && Application->MainForm() == this)
                Application->Minimize();
            else
                frame_->showMinimized();
            break;
        case SC_RESTORE:
            if (zoomed_ && !frame_->isMinimized())
                Zoom(false);
            else if (Application && Application->MainForm() == this)
                Application->Restore();
            else
                frame_->showNormal();
            break;
        default:
            break;
    }
    Message.Result = 0;
}

void TForm::WndProc(TMessage& Message) {
    switch (Message.Msg) {
        case WM_CREATE:
            SetWindowSurface(Handle(), surface_.get());
            TWinControl::WndProc(Message);
            return;
        case WM_NCDESTROY:
            SetWindowSurface(Handle(), nullptr);
            TWinControl::WndProc(Message);
            return;
        case WM_NCHITTEST:
            Message.Result =
                HitTest(QPoint(GetXLParam(Message.LParam), GetYLParam(Message.LParam)));
            return;
        case WM_NCPAINT:
            if (ncPainter_)
                PaintNonClient(*ncPainter_);
            else
                Invalidate();
            Message.Result = 0;
            return;
        case WM_NCACTIVATE:
            active_ = Message.WParam != 0;
            Invalidate();
            Message.Result = TRUE;
            return;
        case WM_NCLBUTTONDOWN:
            closePressed_ = Message.WParam == static_cast<WPARAM>(HTCLOSE);
            pressedBox_ = static_cast<LRESULT>(Message.WParam);
            if (Message.WParam == static_cast<WPARAM>(HTCAPTION))
                Perform(WM_SYSCOMMAND, SC_MOVE | static_cast<WPARAM>(HTCAPTION), Message.LParam);
            if (Message.WParam == static_cast<WPARAM>(HTSYSMENU))
                ShowSystemMenu(
                    QPoint(Left() + NCFrameWidth, Top() + NCFrameHeight + NCCaptionHeight));
            if (closePressed_)
                Invalidate();
            Message.Result = 0;
            return;
        case WM_NCLBUTTONUP: {
            const bool close = closePressed_ && Message.WParam == static_cast<WPARAM>(HTCLOSE);
            const LRESULT box =
                pressedBox_ == static_cast<LRESULT>(Message.WParam) ? pressedBox_ : 0;
            if (closePressed_)
                Invalidate();
            closePressed_ = false;
            pressedBox_ = 0;
            if (close)
                Perform(WM_SYSCOMMAND, SC_CLOSE, Message.LParam);
            if (box == HTMINBUTTON && borderIcons_.Contains(biMinimize))
                Perform(WM_SYSCOMMAND, SC_MINIMIZE, Message.LParam);
            if (box == HTMAXBUTTON && borderIcons_.Contains(biMaximize))
                Perform(WM_SYSCOMMAND, zoomed_ ? SC_RESTORE : SC_MAXIMIZE, Message.LParam);
            Message.Result = 0;
            return;
        }
        case WM_NCLBUTTONDBLCLK:
            // The caption of a window that can be maximised toggles it.
            if (Message.WParam == static_cast<WPARAM>(HTCAPTION) &&
                borderIcons_.Contains(biMaximize))
                Perform(WM_SYSCOMMAND, zoomed_ ? SC_RESTORE : SC_MAXIMIZE, Message.LParam);
            Message.Result = 0;
            return;
        case WM_NCRBUTTONUP:
            if (Message.WParam == static_cast<WPARAM>(HTCAPTION) ||
                Message.WParam == static_cast<WPARAM>(HTSYSMENU))
                ShowSystemMenu(QPoint(GetXLParam(Message.LParam), GetYLParam(Message.LParam)));
            Message.Result = 0;
            return;
        case WM_LBUTTONUP:
            if (closePressed_)
                Invalidate();
            closePressed_ = false;
            Message.Result = 0;
            return;
        case WM_NCRBUTTONDOWN:
        case WM_NCRBUTTONDBLCLK:
        case WM_NCMOUSEMOVE:
            Message.Result = 0;
            return;
        case WM_SETCURSOR:
            frame_->unsetCursor();
            Message.Result = TRUE;
            return;
        case WM_SYSCOMMAND:
            SysCommand(Message);
            return;
        case WM_CLOSE:
            Close();
            Message.Result = 0;
            return;
        default:
            TWinControl::WndProc(Message);
            return;
    }
}

void TForm::PaintNonClient(QPainter& painter) {
    skin::TitleBar bar;
    bar.icon = bar.closeBox = borderIcons_.Contains(biSystemMenu);
    bar.minimizeBox = borderIcons_.Contains(biMinimize);
    bar.maximizeBox = borderIcons_.Contains(biMaximize);
    bar.zoomed = zoomed_;
    bar.closePressed = closePressed_;
    skin::PaintFormFrame(painter, Width(), Height(), QString::fromStdString(Caption()), active_,
                         bar);
}

void TForm::Zoom(bool zoom) {
    if (zoom == zoomed_)
        return;
    if (zoom) {
        QScreen* screen = frame_->screen() ? frame_->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        normalBounds_ = QRect(Left(), Top(), Width(), Height());
        zoomed_ = true;
        const QRect a = screen->availableGeometry();
        SetBounds(a.x(), a.y(), a.width(), a.height());
    } else {
        zoomed_ = false;
        SetBounds(normalBounds_.x(), normalBounds_.y(), normalBounds_.width(),
                  normalBounds_.height());
    }
    if (HandleAllocated()) {
        const DWORD style = static_cast<DWORD>(GetWindowLongA(Handle(), GWL_STYLE));
        SetWindowLongA(Handle(), GWL_STYLE,
                       static_cast<LONG>(zoom ? style | WS_MAXIMIZE : style & ~WS_MAXIMIZE));
    }
    Invalidate();
}

void TForm::ShowSystemMenu(QPoint at) {
    if (!borderIcons_.Contains(biSystemMenu))
        return;
    InstallMenuPresenter();
    const HWND wnd = Handle();
    HMENU menu = GetSystemMenu(wnd, FALSE);
    const bool iconic = frame_->isMinimized();
    auto enable = [menu](WPARAM cmd, bool on) {
        EnableMenuItem(menu, static_cast<UINT>(cmd), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    };
    enable(SC_RESTORE, zoomed_ || iconic);
    enable(SC_MOVE, false);
    enable(SC_SIZE, false);
    enable(SC_MINIMIZE, borderIcons_.Contains(biMinimize) && !iconic);
    enable(SC_MAXIMIZE, borderIcons_.Contains(biMaximize) && !zoomed_);
    const auto cmd = static_cast<WPARAM>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x(), at.y(), 0, wnd, nullptr));
    // Carried out once the menu is gone, as a command chosen from it.
    if (cmd)
        PostMessageA(wnd, WM_SYSCOMMAND, cmd, MakeLParamPoint(at.x(), at.y()));
}

}  // namespace fw
