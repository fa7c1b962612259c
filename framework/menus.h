#pragma once
// Popup menus: TMenuItem (a tree of items with captions, checks, default and
// click handlers) and TPopupMenu (a menu shown at a screen point).
//
// Every item has a command id, unique in the process while it lives, so a
// command from any platform menu that shows the items (a popup, or a submenu
// of a window's system menu) finds its item: TPopupMenu::DispatchCommand.
//
// Popup runs a nested event loop until the menu closes: window messages and
// timers go on meanwhile, and a click outside the menu closes it without a
// command. The chosen item's OnClick runs after the menu has closed.
//
// The framework's menu presenter, which shows any platform menu (HMENU) with
// Qt, is attached when the first TApplication is created.
//
// Threads: main thread only.

#include <string>
#include <vector>

#include "framework/component.h"
#include "platform/menu.h"

namespace fw {

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;

    // "-" makes a separator; `&` marks the accelerator.
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value) { caption_ = value; }
    bool IsLine() const { return caption_ == "-"; }

    bool Checked() const { return checked_; }
    void SetChecked(bool value) { checked_ = value; }
    bool Default() const { return default_; }
    void SetDefault(bool value) { default_ = value; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    bool Visible() const { return visible_; }
    void SetVisible(bool value) { visible_ = value; }

    win::UINT Command() const { return command_; }

    // Child items (a submenu when there are any).
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
    TMenuItem* Parent() const { return parent_; }
    void Add(TMenuItem* Item);
    void Insert(int Index, TMenuItem* Item);
    void Remove(TMenuItem* Item);
    // The item with this command id here or below, or nullptr.
    TMenuItem* Find(win::UINT command);

    // Raises OnClick (guarded).
    virtual void Click();
    TNotifyEvent OnClick;

    // The platform menu of the child items, refilled from them on every call.
    win::HMENU Handle();

private:
    void Fill(win::HMENU menu);

    std::string caption_;
    bool checked_ = false;
    bool default_ = false;
    bool enabled_ = true;
    bool visible_ = true;
    win::UINT command_;
    TMenuItem* parent_ = nullptr;
    std::vector<TMenuItem*> items_;
    win::HMENU handle_ = nullptr;
};

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* AOwner);
    ~TPopupMenu() override;

    // The root of the menu's items.
    TMenuItem* Items() const { return items_; }
    win::HMENU Handle() { return items_->Handle(); }

    // Whether the owner shows the menu by itself on a right click.
    bool AutoPopup() const { return autoPopup_; }
    void SetAutoPopup(bool value) { autoPopup_ = value; }

    // Raises OnPopup, shows the menu with its top-left corner at the screen
    // point and waits until it closes; then runs the chosen item's click.
    virtual void Popup(int X, int Y);
    // Runs the click of the item with this command id; false when the menu
    // has none.
    bool DispatchCommand(win::UINT command);

    TNotifyEvent OnPopup;

private:
    TMenuItem* items_;
    bool autoPopup_ = true;
};

// Attaches the Qt menu presenter to the platform layer (idempotent).
void InstallMenuPresenter();

}  // namespace fw
