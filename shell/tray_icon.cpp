#include "shell/tray_icon.h"

#include <QCoreApplication>
#include <QStringList>
#include <QToolTip>
#include <cstring>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/form.h"
#include "framework/memory_data.h"
#include "platform/input.h"
#include "platform/sound.h"
#include "platform/window_pos.h"

using namespace win;

namespace {

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT_PTR kReAddTimer = 2;
constexpr UINT kReAddDelayMs = 5000;

// Set when MinimizeToTray hid the application's own window.
bool g_appWindowHidden = false;

UINT TaskbarCreated() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

template <std::size_t N>
void CopyField(char (&field)[N], const std::string& text) {
    std::strncpy(field, text.c_str(), N - 1);
    field[N - 1] = '\0';
}

}  // namespace

void TacWin2kInfoBalloon::SetText(const std::string& value) {
    text_ = fw::CutToCharacters(value, kNotifyInfoChars);
}

void TacWin2kInfoBalloon::SetTitle(const std::string& value) {
    title_ = fw::CutToCharacters(value, kNotifyInfoTitleChars);
}

bool TacTrayIcon::AppWindowHidden() {
    return g_appWindowHidden;
}
void TacTrayIcon::SetAppWindowHidden(bool value) {
    g_appWindowHidden = value;
}

TacTrayIcon::TacTrayIcon(fw::TComponent* AOwner)
    : TacCustomCaptionButton(AOwner),
      icon_(std::make_unique<fw::TIcon>()),
      icon16_(std::make_unique<fw::TIcon>()),
      currentIcon_(std::make_unique<fw::TIcon>()) {
    InstallAppHook();
    balloon_ = std::make_unique<TacWin2kInfoBalloon>();
    CaptionButton()->SetVisible(false);
    Glyph()->LoadFromResourceName("ACCB_MINIMIZETOTRAY");
    CaptionButton()->SetHint("Minimize to System Tray");
    TaskbarCreated();
}

TacTrayIcon::~TacTrayIcon() {
    Destroying();
    SetVisible(false);
    KillTimer(HiddenWindow(), kReAddTimer);
    KillTimer(HiddenWindow(), kAnimationTimer);
    for (BoundItem& b : items_)
        if (b.item)
            b.item->OnClick = std::move(b.saved);
}

void TacTrayIcon::Click() {
    TacCustomCaptionButton::Click();
    MinimizeToTray();
}

void TacTrayIcon::Loaded() {
    TacCustomCaptionButton::Loaded();
    UpdateTrayIcon();
    if (balloon_->Enabled)
        ShowBalloon();
    UpdateRestoreItems();
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i)
        if (args[i].compare("/minimized", Qt::CaseInsensitive) == 0)
            SetStartMinimized(true);
    // The tray may not have existed yet when the program was started at logon.
    SetTimer(HiddenWindow(), kReAddTimer, kReAddDelayMs, nullptr);
}

// ---------------------------------------------------------------- the record

void TacTrayIcon::BuildRecord(bool withBalloon) {
    // This system counts as a Windows of the NT family newer than 4: the
    // balloon fields are there whenever a balloon is asked for.
    const bool extended = withBalloon;
    nid_ = {};
    nid_.cbSize = extended ? NOTIFYICONDATAA_V2_SIZE : NOTIFYICONDATAA_V1_SIZE;
    nid_.hWnd = HiddenWindow();
    nid_.uID = 0;
    nid_.uFlags = NIF_MESSAGE | NIF_TIP | (visible_ ? NIF_ICON : 0) | (extended ? NIF_INFO : 0);
    if (extended) {
        CopyField(nid_.szInfo, balloon_->Text());
        CopyField(nid_.szInfoTitle, balloon_->Title());
        nid_.uTimeout = balloon_->Timeout;
        nid_.dwInfoFlags =
            static_cast<DWORD>(balloon_->Icon) | (balloon_->NoSound ? NIIF_NOSOUND : 0);
    }
    nid_.uCallbackMessage = WM_ACTRAYICON;
    nid_.hIcon = currentIcon_->Handle();
    if (showHint_) {
        const std::string& tip = !hint_.empty() ? hint_
                                 : Application  ? Application->Title()
                                                : hint_;
        CopyField(nid_.szTip, fw::CutToCharacters(tip, kNotifyTipChars));
    }
}

void TacTrayIcon::AddIcon() {
    BuildRecord(balloon_->Enabled);
    // A failed add (no tray yet) is repaired by timer 2 or "TaskbarCreated";
    // adding an icon that is there already changes nothing.
    if (NotifyIcon(NIM_ADD, &nid_))
        inTray_ = true;
}

void TacTrayIcon::ModifyIcon() {
    BuildRecord(false);
    NotifyIcon(NIM_MODIFY, &nid_);
}

void TacTrayIcon::DeleteIcon() {
    BuildRecord(false);
    NotifyIcon(NIM_DELETE, &nid_);
    inTray_ = false;
}

void TacTrayIcon::ShowBalloon() {
    BuildRecord(true);
    NotifyIcon(NIM_MODIFY, &nid_);
}

BOOL TacTrayIcon::NotifyIcon(DWORD Message, NOTIFYICONDATAA* Data) {
    return Shell_NotifyIconA(Message, Data);
}

bool TacTrayIcon::IsIconShown() const {
    return visible_ && (!Designing() || options_.Contains(oShowAtDesignTime));
}

// ---------------------------------------------------------------- the image

void TacTrayIcon::UpdateTrayIcon() {
    if (imageList_) {
        currentIcon_->SetHandle(nullptr);
        imageList_->GetIcon(imageIndex_, currentIcon_.get());
    } else if (icon_->Empty() && icon16_->Empty()) {
        // Forms carry no icon of their own here: the application's stands in.
        currentIcon_->Assign(Application ? Application->Icon() : nullptr);
    } else {
        // A version the component does not know: the normal size first.
        currentIcon_->Assign(!icon_->Empty() ? icon_.get() : icon16_.get());
    }
    ModifyIcon();
}

void TacTrayIcon::RestartAnimation() {
    KillTimer(HiddenWindow(), kAnimationTimer);
    if (IsDestroying() || !animate_ || animateInterval_ == 0 || !imageList_)
        return;
    SetImageIndex(0);
    if (!SetTimer(HiddenWindow(), kAnimationTimer, animateInterval_, nullptr))
        throw fw::EOutOfResources("Not enough timers available");
}

void TacTrayIcon::NextImage() {
    if (!imageList_)
        return;
    SetImageIndex(imageIndex_ >= imageList_->Count() - 1 ? 0 : imageIndex_ + 1);
}

// ---------------------------------------------------------------- minimise and restore

void TacTrayIcon::MinimizeToTray() {
    if (Designing() || g_appWindowHidden)
        return;
    SetVisible(true);
    if (Application && Application->Terminated())
        return;
    fw::TForm* form = OwnerForm();
    if (!IsLoading() && IsIconShown() && !inTray_) {
        AddIcon();  // a tray host may have come since
        if (!inTray_) {
            // No tray host took the icon: hiding the form would leave no way
            // back to it.
            if (form && !form->Visible())
                RestoreFromTray();
            return;
        }
    }
    if (Application && Application->Handle() && form && form == Application->MainForm()) {
        ShowWindow(Application->Handle(), SW_HIDE);
        g_appWindowHidden = true;
    } else if (form) {
        ShowWindow(form->Handle(), SW_HIDE);
    }
    if (form)
        form->SetVisible(false);
    if (options_.Contains(oPlaySysActionSounds))
        PlaySystemSound("Minimize");
    if (OnMinimize)
        OnMinimize(this);
    UpdateRestoreItems();
    minimizedToTray_ = true;
}

void TacTrayIcon::RestoreFromTray() {
    if (Designing() || (Application && Application->Terminated()))
        return;
    fw::TForm* form = OwnerForm();
    if (Application && Application->Handle() && form && form == Application->MainForm()) {
        ShowWindow(Application->Handle(), SW_SHOWNORMAL);
        SetForegroundWindow(Application->Handle());
        g_appWindowHidden = false;
    } else {
        RestoreOwnerForm();
    }
    if (form)
        form->SetVisible(true);
    if (options_.Contains(oHideIconOnRestore))
        SetVisible(false);
    if (options_.Contains(oPlaySysActionSounds))
        PlaySystemSound("RestoreUp");
    if (OnRestore)
        OnRestore(this);
    UpdateRestoreItems();
    minimizedToTray_ = false;
}

void TacTrayIcon::UpdateRestoreItems() {
    const bool shown = OwnerForm() && OwnerForm()->Visible();
    if (fw::TMenuItem* item = items_[kMinimizeItem].item) {
        item->SetDefault(shown);
        item->SetEnabled(shown);
    }
    if (fw::TMenuItem* item = items_[kRestoreItem].item) {
        item->SetDefault(!shown);
        item->SetEnabled(!shown);
    }
}

void TacTrayIcon::PlaySystemSound(const char* name) const {
    PlaySoundA(name, nullptr, SND_ASYNC | SND_NODEFAULT);
}

// ---------------------------------------------------------------- setters

void TacTrayIcon::SetVisible(bool value) {
    if ((options_.Contains(oHideIconOnRestore) && IsLoading()) || value == visible_)
        return;
    visible_ = value;
    if (IsIconShown()) {
        AddIcon();
        if (OnShow)
            OnShow(this);
        return;
    }
    DeleteIcon();
    if (IsDestroying())
        return;
    if (OnHide)
        OnHide(this);
    // The form is never left without its window and without the icon.
    if (OwnerForm() && !OwnerForm()->Visible())
        RestoreFromTray();
}

void TacTrayIcon::SetHint(const std::string& value) {
    if (value == hint_)
        return;
    hint_ = value;
    ModifyIcon();
}

void TacTrayIcon::SetShowHint(bool value) {
    if (value == showHint_)
        return;
    showHint_ = value;
    ModifyIcon();
}

void TacTrayIcon::SetIcon(const fw::TIcon* value) {
    icon_->Assign(value);
    UpdateTrayIcon();
}

void TacTrayIcon::SetIcon16(const fw::TIcon* value) {
    icon16_->Assign(value);
    UpdateTrayIcon();
}

void TacTrayIcon::SetImageIndex(int value) {
    if (value == imageIndex_)
        return;
    imageIndex_ = value;
    UpdateTrayIcon();
}

void TacTrayIcon::SetImageList(fw::TImageList* value) {
    if (imageList_ && imageList_ != value)
        imageList_->RemoveFreeNotification(this);
    imageList_ = value;
    if (imageList_)
        imageList_->FreeNotification(this);
    UpdateTrayIcon();
    if (!imageList_)
        animate_ = false;
    RestartAnimation();
}

void TacTrayIcon::SetAnimate(bool value) {
    if (value == animate_)
        return;
    animate_ = value;
    RestartAnimation();
}

void TacTrayIcon::SetAnimateInterval(std::uint16_t value) {
    if (value == animateInterval_)
        return;
    animateInterval_ = value;
    RestartAnimation();
}

void TacTrayIcon::SetOptions(TacTrayIconOptions value) {
    if (value == options_)
        return;
    options_ = value;
    if (Designing()) {
        if (IsIconShown())
            AddIcon();
        else
            DeleteIcon();
    }
}

void TacTrayIcon::SetStartMinimized(bool value) {
    if (value == startMinimized_)
        return;
    startMinimized_ = value;
    if (!value || Designing())
        return;
    if (Application) {
        Application->ShowMainForm = false;
        ShowWindow(Application->Handle(), SW_HIDE);
    }
    MinimizeToTray();
}

void TacTrayIcon::SetPopupMenu(fw::TPopupMenu* value) {
    if (popupMenu_ && popupMenu_ != value)
        popupMenu_->RemoveFreeNotification(this);
    popupMenu_ = value;
    if (popupMenu_)
        popupMenu_->FreeNotification(this);
}

void TacTrayIcon::BindItem(int which, fw::TMenuItem* value) {
    BoundItem& b = items_[which];
    if (b.item == value)
        return;
    if (b.item) {
        b.item->OnClick = std::move(b.saved);
        b.item->RemoveFreeNotification(this);
    }
    b.item = value;
    b.saved = nullptr;
    if (!value)
        return;
    value->FreeNotification(this);
    if (!Designing()) {
        b.saved = std::move(value->OnClick);
        value->OnClick = [this, which](fw::TObject* Sender) { ItemClicked(which, Sender); };
    }
}

void TacTrayIcon::ItemClicked(int which, fw::TObject* Sender) {
    if (items_[which].saved)
        items_[which].saved(Sender);
    switch (which) {
        case kRestoreItem:
            RestoreFromTray();
            break;
        case kMinimizeItem:
            MinimizeToTray();
            break;
        case kWhatsThisItem:
            ShowWhatsThis();
            break;
        case kCloseItem:
            if (fw::TForm* form = OwnerForm())
                form->Close();
            break;
        default:
            break;
    }
}

void TacTrayIcon::ShowWhatsThis() {
    fw::TForm* form = OwnerForm();
    if (!form || WhatsThisHint.empty())
        return;
    POINT p;
    GetCursorPos(&p);
    QToolTip::showText(QPoint(p.x, p.y), QString::fromStdString(WhatsThisHint));
}

void TacTrayIcon::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
    TacCustomCaptionButton::Notification(AComponent, Operation);
    if (Operation != fw::opRemove)
        return;
    if (AComponent == popupMenu_)
        popupMenu_ = nullptr;
    if (AComponent == imageList_) {
        // As SetImageList(nullptr) would: no pictures, no animation (its
        // timer would step through a list that is gone).
        imageList_ = nullptr;
        animate_ = false;
        RestartAnimation();
    }
    for (BoundItem& b : items_) {
        if (AComponent == b.item) {
            b.item = nullptr;
            b.saved = nullptr;
        }
    }
}

// ---------------------------------------------------------------- messages

void TacTrayIcon::HiddenWndProc(fw::TMessage& Message) {
    TacCustomCaptionButton::HiddenWndProc(Message);
    switch (Message.Msg) {
        case WM_QUERYENDSESSION:
            Message.Result = 1;
            return;
        case WM_TIMER:
            if (Message.WParam == kAnimationTimer) {
                NextImage();
            } else if (Message.WParam == kReAddTimer) {
                if (IsIconShown())
                    AddIcon();
                KillTimer(HiddenWindow(), kReAddTimer);
            }
            return;
        case WM_ACTRAYICON:
            if (!Designing() && !IsDestroying())
                TrayMessage(Message.LParam);
            return;
        default:
            if (Message.Msg == TaskbarCreated() && IsIconShown())
                AddIcon();
            return;
    }
}

fw::TShiftState TacTrayIcon::Shift() const {
    fw::TShiftState s;
    if (GetKeyState(VK_SHIFT) < 0)
        s.Include(fw::ssShift);
    if (GetKeyState(VK_MENU) < 0)
        s.Include(fw::ssAlt);
    if (GetKeyState(VK_CONTROL) < 0)
        s.Include(fw::ssCtrl);
    return s;
}

void TacTrayIcon::TrayMessage(LPARAM event) {
    POINT p;
    GetCursorPos(&p);
    const fw::TShiftState shift = Shift();
    auto down = [&](fw::TMouseButton b, fw::TShiftStateFlag f) {
        if (OnMouseDown)
            OnMouseDown(this, b, fw::TShiftState(shift).Include(f), p.x, p.y);
    };
    auto up = [&](fw::TMouseButton b, fw::TShiftStateFlag f) {
        if (Application)
            SetForegroundWindow(Application->Handle());
        if (OnMouseUp)
            OnMouseUp(this, b, fw::TShiftState(shift).Include(f), p.x, p.y);
    };
    switch (static_cast<UINT>(event)) {
        case WM_MOUSEMOVE:
            if (OnMouseMove)
                OnMouseMove(this, shift, p.x, p.y);
            return;
        case WM_LBUTTONDOWN:
            leftPressed_ = true;
            down(fw::mbLeft, fw::ssLeft);
            return;
        case WM_LBUTTONUP:
            up(fw::mbLeft, fw::ssLeft);
            if (leftPressed_) {
                if (OnClick)
                    OnClick(this);
                if (options_.Contains(oShowMenuOnLeftClick))
                    PopupTrayMenu();
                if (options_.Contains(oOneClickRestore) && OwnerForm() && !OwnerForm()->Visible())
                    RestoreFromTray();
            }
            leftPressed_ = false;
            return;
        case WM_LBUTTONDBLCLK:
            if (OnDblClick)
                OnDblClick(this);
            if (popupMenu_ && popupMenu_->AutoPopup() && !options_.Contains(oShowMenuOnLeftClick)) {
                fw::TMenuItem* root = popupMenu_->Items();
                for (int i = 0; i < root->Count(); ++i) {
                    if (root->Items(i)->Default()) {
                        root->Items(i)->Click();
                        return;
                    }
                }
            }
            if (options_.Contains(oDblClickRestore)) {
                if (OwnerForm() && OwnerForm()->Visible() && options_.Contains(oMinimizeToTray))
                    MinimizeToTray();
                else
                    RestoreFromTray();
            }
            return;
        case WM_RBUTTONDOWN:
            down(fw::mbRight, fw::ssRight);
            return;
        case WM_RBUTTONUP:
            up(fw::mbRight, fw::ssRight);
            PopupTrayMenu();
            return;
        case 0x0207:  // WM_MBUTTONDOWN
            down(fw::mbMiddle, fw::ssMiddle);
            return;
        case 0x0208:  // WM_MBUTTONUP
            up(fw::mbMiddle, fw::ssMiddle);
            return;
        case NIN_BALLOONSHOW:
            if (OnBalloonShow)
                OnBalloonShow(this);
            return;
        case NIN_BALLOONHIDE:
            if (OnBalloonHide)
                OnBalloonHide(this);
            return;
        case NIN_BALLOONTIMEOUT:
            if (OnBalloonTimeOut)
                OnBalloonTimeOut(this);
            return;
        case NIN_BALLOONUSERCLICK:
            if (OnBalloonUserClick)
                OnBalloonUserClick(this);
            return;
        case NIN_HOSTGONE:
            // The tray went away with the icon: a hidden form comes back.
            inTray_ = false;
            if (OwnerForm() && !OwnerForm()->Visible()) {
                const TacTrayIconOptions keep = options_;
                options_.Exclude(oHideIconOnRestore);  // the icon returns with the tray
                RestoreFromTray();
                options_ = keep;
            }
            return;
        default:
            return;
    }
}

void TacTrayIcon::PopupTrayMenu() {
    if (!popupMenu_ || !popupMenu_->AutoPopup())
        return;
    UpdateRestoreItems();
    POINT p;
    GetCursorPos(&p);
    if (Application)
        Application->ProcessMessages();
    fw::TForm* form = OwnerForm();
    if (form)
        SetForegroundWindow(form->Handle());
    popupMenu_->Popup(p.x, p.y);
    if (form)
        PostMessageA(form->Handle(), WM_NULL, 0, 0);
    if (OnPopupMenu)
        OnPopupMenu(this);
}

void TacTrayIcon::BeforeAppMessage(fw::TMessage& Message, bool& Handled) {
    TacCustomCaptionButton::BeforeAppMessage(Message, Handled);
    const bool deactivated =
        Message.Msg == fw::CM_DEACTIVATE && options_.Contains(oMinimizeToTrayOnDeactivate);
    const bool minimized = Message.Msg == WM_SIZE && Message.WParam == fw::SIZE_MINIMIZED &&
                           options_.Contains(oMinimizeToTray);
    if ((deactivated || minimized) && Application && Application->MainForm() &&
        OwnerForm() == Application->MainForm())
        MinimizeToTray();
}
