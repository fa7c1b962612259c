#pragma once
// Caption buttons: extra buttons drawn in the owner form's title bar, to the
// left of its system buttons, each with a tooltip, an optional item in the
// form's system menu, an optional popup menu and an optional toggle state.
//
//   TacHFormHookComponentWatchCaption
//   └ TacCustomCaptionButton          all behaviour
//     ├ TacCaptionButton              stand-alone button
//     └ TacCaptionButtonWithMenuItem  state mirrored by a bound component
//
// Order. The buttons of one window stand in a list; index 0 is next to the
// system buttons. A BtnOrder set while the owner loads (as a stored layout
// sets it) is remembered and applied when loading ends (ascending, stable;
// buttons without one come first); one set later moves the button to that
// index, clamped to the list.
//
// Geometry (in pixels, from the system metrics): each visible button takes a
// slot of SeparatorWidth + SM_CXSIZE - 2, counted leftwards from the system
// buttons; the button's rectangle is worked out at each paint (ButtonRect, in
// window coordinates of the title bar's right part) and its image, (w-2) x
// (h-4), is drawn over the title bar after the form painted it.
//
// Mouse. A press on the button draws it pressed and tracks the mouse: leaving
// the title bar downwards draws it released, and the release raises the click
// only when the button is still drawn pressed. A double click on the button is
// a second click; a double click elsewhere on the caption raises
// OnCaptionDblClick; right clicks on the button are swallowed (no system menu).
//
// Threads: main thread only; the button registry, the id counters and the
// tooltip window are process-wide and unlocked.

#include <map>
#include <string>
#include <vector>

#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/sets.h"
#include "platform/user.h"
#include "shell/form_hook.h"

enum TacCaptionButtonStyle { cbsAuto, cbsWin9x, cbsWinXP };
enum TacCaptionButtonXPStyleColor { xpcBlue, xpcGreen, xpcRed, xpcYellow, xpcBrown };
enum class TacMenuSeparator { seBefore, seAfter };
using enum TacMenuSeparator;
using TacMenuSeparators = fw::TSet<TacMenuSeparator>;
using TacBtnOrder = int;

// Removes and inserts a button's system-menu item again (sent to the hooked
// window).
constexpr win::UINT WM_ACRESETMENUITEM = 14944;
// The first button id; each button takes the next, never reused.
constexpr win::UINT kFirstCaptionButtonId = 5734;

class TacCustomCaptionButton;

// The button's item in the owner's system menu. Each setter removes the
// item, stores the value and inserts it again.
class TacSystemMenu : public fw::TObject {
public:
    explicit TacSystemMenu(TacCustomCaptionButton* button) : button_(button) {}

    bool ApplyToMenu() const { return applyToMenu_; }
    void SetApplyToMenu(bool v);
    // Empty: the button's Hint.
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v);
    // Index in the system menu; beyond the end + 1 means the end.
    win::WORD Position() const { return position_; }
    void SetPosition(win::WORD v);
    TacMenuSeparators Separators() const { return separators_; }
    void SetSeparators(TacMenuSeparators v);

    bool Inserted() const { return inserted_; }
    void Insert();
    void Remove();

private:
    TacCustomCaptionButton* button_;
    bool applyToMenu_ = false;
    std::string caption_;
    win::WORD position_ = 0;
    TacMenuSeparators separators_;
    bool inserted_ = false;
};

// The CaptionButton sub-object of components that carry a button: forwards
// to the button's setters.
class TacACaptionButton : public fw::TObject {
public:
    explicit TacACaptionButton(TacCustomCaptionButton* button) : button_(button) {}
    TacBtnOrder BtnOrder() const;
    void SetBtnOrder(TacBtnOrder v);
    short Cursor() const;
    void SetCursor(short v);
    short CursorDown() const;
    void SetCursorDown(short v);
    bool Enabled() const;
    void SetEnabled(bool v);
    const std::string& Hint() const;
    void SetHint(const std::string& v);
    win::BYTE SeparatorWidth() const;
    void SetSeparatorWidth(win::BYTE v);
    bool ShowHint() const;
    void SetShowHint(bool v);
    TacCaptionButtonStyle Style() const;
    void SetStyle(TacCaptionButtonStyle v);
    bool Visible() const;
    void SetVisible(bool v);
    TacCaptionButtonXPStyleColor XPStyleColor() const;
    void SetXPStyleColor(TacCaptionButtonXPStyleColor v);

private:
    TacCustomCaptionButton* button_;
};

class TacCustomCaptionButton : public TacHFormHookComponentWatchCaption {
public:
    explicit TacCustomCaptionButton(fw::TComponent* AOwner);
    ~TacCustomCaptionButton() override;

    void Loaded() override;

    bool AllowPress() const { return allowPress_; }
    void SetAllowPress(bool v);
    // While loading: remembered; later: moves the button (clamped). Reads
    // give the button's index among its window's buttons.
    TacBtnOrder BtnOrder() const;
    void SetBtnOrder(TacBtnOrder v);
    // Cursor ids (the framework's TCursor values, 0 = default).
    short Cursor() const { return cursor_; }
    void SetCursor(short v) { cursor_ = v; }
    short CursorDown() const { return cursorDown_; }
    void SetCursorDown(short v) { cursorDown_ = v; }
    bool Down() const { return down_; }
    void SetDown(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    fw::TBitmap* Glyph() { return &glyph_; }
    fw::TBitmap* GlyphDown() { return &glyphDown_; }
    bool GlyphTransparent() const { return glyphTransparent_; }
    void SetGlyphTransparent(bool v);
    bool GlyphUseBtnTextColor() const { return glyphUseBtnTextColor_; }
    void SetGlyphUseBtnTextColor(bool v);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& v);
    fw::TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(fw::TPopupMenu* v);
    win::BYTE SeparatorWidth() const { return separatorWidth_; }
    void SetSeparatorWidth(win::BYTE v);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool v);
    char Sign() const { return sign_; }
    void SetSign(char v);
    fw::TFont* SignFont() { return &signFont_; }
    void SetSignFont(const fw::TFont& v) { signFont_.Assign(v); }
    int SignLeft() const { return signLeft_; }
    void SetSignLeft(int v);
    int SignTop() const { return signTop_; }
    void SetSignTop(int v);
    TacCaptionButtonStyle Style() const { return style_; }
    void SetStyle(TacCaptionButtonStyle v);
    TacCaptionButtonXPStyleColor XPStyleColor() const { return xpStyleColor_; }
    void SetXPStyleColor(TacCaptionButtonXPStyleColor v);
    bool Visible() const { return visible_; }
    void SetVisible(bool v);

    TacSystemMenu* SystemMenu() const { return systemMenu_; }
    TacACaptionButton* CaptionButton() const { return captionButton_; }

    fw::TNotifyEvent OnButtonClick;
    fw::TNotifyEvent OnMenuClick;
    fw::TNotifyEvent OnClick;
    fw::TNotifyEvent OnPressed;
    fw::TNotifyEvent OnReleased;
    fw::TNotifyEvent OnCaptionDblClick;

    win::UINT ButtonId() const { return id_; }
    win::UINT_PTR ToolTipId() const { return toolId_; }
    // The button's rectangle as last painted (window coordinates of the
    // title bar's buttons; see the layout rules), and its slot offset.
    win::RECT ButtonRect() const { return rect_; }
    int SlotOffset() const { return slot_; }
    bool DrawnPressed() const { return drawnPressed_; }
    bool Tracking() const { return tracking_; }
    // The visual-styles test: XP look for cbsWinXP, or cbsAuto under an active
    // theme ("uxtheme.dll" IsThemeActive; no library means the classic look).
    bool XPLook() const;

    // The caption buttons of a window, in order (index 0 next to the system
    // buttons).
    static std::vector<TacCustomCaptionButton*> ButtonsOf(win::HWND wnd);
    // The process-wide tooltip window (0 before the first button).
    static win::HWND ToolTipWindow();

protected:
    virtual void BeforeButtonClick() {}
    virtual void ButtonClick();
    virtual void BeforeMenuClick() {}
    virtual void MenuClick();
    virtual void Click();
    virtual void Pressed();
    virtual void Released();

    void BeforeMessage(fw::TMessage& Message, bool& Handled) override;
    void AfterMessage(fw::TMessage& Message) override;
    void ReHooked() override;
    void CaptionChanged() override { Redraw(); }
    void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

    // Draws the button now when the title bar is being painted, else asks for
    // a repaint of the frame.
    void Redraw();
    // Sets the check mark of the system-menu item, when the item is there.
    void CheckSystemMenuItem(bool checked);
    // The check mark the system-menu item gets when it is inserted: Down.
    virtual bool MenuItemChecked() const { return down_; }

private:
    friend class TacSystemMenu;
    void Paint(bool pressed);
    void DrawPressed(bool pressed);
    void ComputeRect();
    bool HitTest(win::POINT screen) const;
    void ToggleDown(bool fromMenu);
    void ReleaseTracking();
    void Layout();
    void SortByPendingOrder();
    std::vector<TacCustomCaptionButton*>* List() const;
    void RegisterToolTip();
    void RemoveToolTip();
    void UpdateToolTip();
    int CaptionHeight() const;
    void ApplyCursor(short cursor);

    bool allowPress_ = false;
    short cursor_ = 0;
    short cursorDown_ = 0;
    bool down_ = false;
    bool enabled_ = true;
    fw::TBitmap glyph_;
    fw::TBitmap glyphDown_;
    bool glyphTransparent_ = true;
    bool glyphUseBtnTextColor_ = true;
    std::string hint_;
    fw::TPopupMenu* popupMenu_ = nullptr;
    win::BYTE separatorWidth_ = 0;
    bool showHint_ = true;
    char sign_ = 'A';
    fw::TFont signFont_;
    int signLeft_ = 0;
    int signTop_ = 0;
    TacCaptionButtonStyle style_ = cbsAuto;
    TacCaptionButtonXPStyleColor xpStyleColor_ = xpcBlue;
    bool visible_ = true;
    TacSystemMenu* systemMenu_;
    TacACaptionButton* captionButton_;

    win::UINT id_;
    win::UINT_PTR toolId_;
    win::RECT rect_;
    int slot_ = 0;
    bool drawnPressed_ = false;
    bool tracking_ = false;
    bool menuShown_ = false;
    TacBtnOrder pendingOrder_ = -1;
    bool toolRegistered_ = false;
    win::HWND listWindow_ = 0;  // the key of the list this button is in
    win::HWND toolWindow_ = 0;  // the window of the registered tool
};

// A stand-alone caption button.
class TacCaptionButton : public TacCustomCaptionButton {
public:
    explicit TacCaptionButton(fw::TComponent* AOwner) : TacCustomCaptionButton(AOwner) {}
};

// A button whose state is mirrored by a bound component (a caption button's
// Down or a menu item's Checked). Binding one outside design time sets its
// state from AutoRun and takes over its OnClick: a click makes the caption
// button's Down, or the menu item's inverted Checked, the new state. Its own
// handler comes back when it is unbound or this component dies.
class TacCaptionButtonWithMenuItem : public TacCustomCaptionButton {
public:
    explicit TacCaptionButtonWithMenuItem(fw::TComponent* AOwner)
        : TacCustomCaptionButton(AOwner) {}
    ~TacCaptionButtonWithMenuItem() override;

    fw::TComponent* MenuItem() const { return menuItem_; }
    void SetMenuItem(fw::TComponent* v);

    virtual bool AutoRun() const = 0;
    // Sets the bound component's Down, or else its Checked.
    virtual void SetAutoRun(bool Value);

protected:
    void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
    fw::TNotifyEvent* BoundOnClick() const;
    void BoundClicked();

    fw::TComponent* menuItem_ = nullptr;
    fw::TNotifyEvent savedOnClick_;  // the bound component's own handler
};
