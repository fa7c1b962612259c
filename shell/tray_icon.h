#pragma once
// TacTrayIcon: the program's icon in the notification area. It hides the owner
// form into the tray (MinimizeToTray) and brings it back (RestoreFromTray),
// shows a popup menu on the icon, balloon tips, and an icon animated from an
// image list, and puts the icon back when the tray is re-created
// ("TaskbarCreated").
//
// It is also a caption button: its title-bar button (CaptionButton, hidden
// until made visible) and its system-menu item (SystemMenu) minimise to the
// tray. Hint, ShowHint, Visible, PopupMenu and OnClick here are the icon's;
// the button's own are reached through CaptionButton.
//
// The icon's messages and timers go to the component's hidden window; the
// application window's minimise and deactivation reach it through the
// application hook. The icon is never the only way back to a hidden form:
// where no tray host takes the icon, MinimizeToTray leaves the form shown,
// and when the host goes away while the form is hidden, the form comes back.
//
// Threads: main thread only.

#include <memory>
#include <string>

#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/mouse.h"
#include "platform/notify_icon.h"
#include "shell/caption_button.h"

// The tray callback message.
constexpr win::UINT WM_ACTRAYICON = 14948;

enum class TacTrayIconOption {
    oHideIconOnRestore,
    oMinimizeToTray,
    oMinimizeToTrayOnDeactivate,
    oOneClickRestore,
    oDblClickRestore,
    oPlaySysActionSounds,
    oShowAtDesignTime,
    oShowMenuOnLeftClick
};
using enum TacTrayIconOption;
using TacTrayIconOptions = fw::TSet<TacTrayIconOption>;

enum class TacWin2kInfoIcon { iiNone, iiInfo, iiWarning, iiError };
using enum TacWin2kInfoIcon;

// Balloon tip settings of a tray icon.
class TacWin2kInfoBalloon {
public:
    bool Enabled = false;
    TacWin2kInfoIcon Icon = iiNone;
    bool NoSound = false;
    std::uint16_t Timeout = 0;  // milliseconds

    const std::string& Text() const { return text_; }
    // Keeps the first 255 characters.
    void SetText(const std::string& value);
    const std::string& Title() const { return title_; }
    // Keeps the first 63 characters.
    void SetTitle(const std::string& value);

private:
    std::string text_;
    std::string title_;
};

class TacTrayIcon : public TacCustomCaptionButton {
public:
    explicit TacTrayIcon(fw::TComponent* AOwner);
    ~TacTrayIcon() override;

    void MinimizeToTray();
    void RestoreFromTray();
    // The restore and minimise items are default and enabled exactly when
    // they would do something.
    void UpdateRestoreItems();
    // Chooses the icon's image and gives it to the tray.
    void UpdateTrayIcon();
    // Shows the balloon of Win2kInfoBalloon (Text, Title, Icon, Timeout).
    void ShowBalloon();
    // Shows PopupMenu at the cursor and waits until it closed.
    void PopupTrayMenu();

    bool Animate() const { return animate_; }
    void SetAnimate(bool value);
    std::uint16_t AnimateInterval() const { return animateInterval_; }
    void SetAnimateInterval(std::uint16_t value);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    fw::TIcon* Icon() const { return icon_.get(); }
    void SetIcon(const fw::TIcon* value);
    fw::TIcon* Icon16() const { return icon16_.get(); }
    void SetIcon16(const fw::TIcon* value);
    fw::TImageList* ImageList() const { return imageList_; }
    void SetImageList(fw::TImageList* value);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int value);
    TacTrayIconOptions Options() const { return options_; }
    void SetOptions(TacTrayIconOptions value);
    fw::TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(fw::TPopupMenu* value);
    fw::TMenuItem* PopupMenuRestoreItem() const { return items_[kRestoreItem].item; }
    void SetPopupMenuRestoreItem(fw::TMenuItem* value) { BindItem(kRestoreItem, value); }
    fw::TMenuItem* PopupMenuTrayMinimizeItem() const { return items_[kMinimizeItem].item; }
    void SetPopupMenuTrayMinimizeItem(fw::TMenuItem* value) { BindItem(kMinimizeItem, value); }
    fw::TMenuItem* PopupMenuWhatsThisItem() const { return items_[kWhatsThisItem].item; }
    void SetPopupMenuWhatsThisItem(fw::TMenuItem* value) { BindItem(kWhatsThisItem, value); }
    fw::TMenuItem* PopupMenuCloseItem() const { return items_[kCloseItem].item; }
    void SetPopupMenuCloseItem(fw::TMenuItem* value) { BindItem(kCloseItem, value); }
    bool StartMinimized() const { return startMinimized_; }
    void SetStartMinimized(bool value);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool value);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    std::string WhatsThisHint;
    TacWin2kInfoBalloon* Win2kInfoBalloon() const { return balloon_.get(); }

    // Visible, and not at design time unless oShowAtDesignTime.
    bool IsIconShown() const;
    // True after MinimizeToTray, false after RestoreFromTray.
    bool MinimizedToTray() const { return minimizedToTray_; }
    // Whether a tray host took the icon when it was last added.
    bool IconInTray() const { return inTray_; }

    // The notification record of the last call to the tray (tests).
    const win::NOTIFYICONDATAA& NotifyIconData() const { return nid_; }

    fw::TNotifyEvent OnMinimize;
    fw::TNotifyEvent OnRestore;
    fw::TNotifyEvent OnShow;
    fw::TNotifyEvent OnHide;
    fw::TNotifyEvent OnClick;
    fw::TNotifyEvent OnDblClick;
    fw::TNotifyEvent OnPopupMenu;
    fw::TMouseMoveEvent OnMouseMove;
    fw::TMouseEvent OnMouseDown;
    fw::TMouseEvent OnMouseUp;
    fw::TNotifyEvent OnBalloonShow;
    fw::TNotifyEvent OnBalloonHide;
    fw::TNotifyEvent OnBalloonTimeOut;
    fw::TNotifyEvent OnBalloonUserClick;
    // Never raised.
    fw::TNotifyEvent OnAnimate;

    void Loaded() override;

    // The application window hidden flag, shared by all tray icons (tests).
    static bool AppWindowHidden();
    static void SetAppWindowHidden(bool value);

protected:
    // Every call to the tray goes through here.
    virtual win::BOOL NotifyIcon(win::DWORD Message, win::NOTIFYICONDATAA* Data);
    // The title-bar button and its system-menu item minimise to the tray.
    void Click() override;
    void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
    void HiddenWndProc(fw::TMessage& Message) override;
    void BeforeAppMessage(fw::TMessage& Message, bool& Handled) override;

private:
    enum { kRestoreItem, kMinimizeItem, kWhatsThisItem, kCloseItem, kItemCount };
    struct BoundItem {
        fw::TMenuItem* item = nullptr;
        fw::TNotifyEvent saved;  // the item's own click handler
    };

    bool Designing() const { return ComponentState().Contains(fw::csDesigning); }
    void BuildRecord(bool withBalloon);
    void AddIcon();
    void ModifyIcon();
    void DeleteIcon();
    void RestartAnimation();
    void NextImage();
    void TrayMessage(win::LPARAM event);
    fw::TShiftState Shift() const;
    void BindItem(int which, fw::TMenuItem* value);
    void ItemClicked(int which, fw::TObject* Sender);
    void ShowWhatsThis();
    void PlaySystemSound(const char* name) const;

    win::NOTIFYICONDATAA nid_{};
    bool animate_ = false;
    std::uint16_t animateInterval_ = 200;
    std::string hint_;
    std::unique_ptr<fw::TIcon> icon_;
    std::unique_ptr<fw::TIcon> icon16_;
    std::unique_ptr<fw::TIcon> currentIcon_;
    fw::TImageList* imageList_ = nullptr;
    int imageIndex_ = 0;
    TacTrayIconOptions options_{oDblClickRestore, oPlaySysActionSounds};
    fw::TPopupMenu* popupMenu_ = nullptr;
    BoundItem items_[kItemCount];
    bool startMinimized_ = false;
    bool showHint_ = true;
    bool visible_ = false;
    std::unique_ptr<TacWin2kInfoBalloon> balloon_;
    bool leftPressed_ = false;
    bool minimizedToTray_ = false;
    bool inTray_ = false;
};
