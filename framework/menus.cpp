#include "framework/menus.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <algorithm>
#include <set>

#include "framework/application.h"

namespace fw {
namespace {

// Command ids in use by live items; ids start above the system commands'
// range of small values and are reused only after their item is gone.
std::set<win::UINT>& UsedCommands() {
    static std::set<win::UINT> used;
    return used;
}

win::UINT NewCommand() {
    static win::UINT next = 100;
    auto& used = UsedCommands();
    while (used.count(next) || next == 0 || next >= 0xF000)
        next = next >= 0xEFFF ? 100 : next + 1;
    used.insert(next);
    return next++;
}

// Shows platform menus with QMenu.
class QtMenuPresenter : public win::MenuPresenter {
public:
    win::UINT Track(win::HMENU menu, win::UINT flags, int x, int y, win::HWND) override {
        QMenu popup;
        Fill(&popup, menu);
        QPoint at(x, y);
        const QSize size = popup.sizeHint();
        if (flags & win::TPM_RIGHTALIGN)
            at.rx() -= size.width();
        else if (flags & win::TPM_CENTERALIGN)
            at.rx() -= size.width() / 2;
        if (flags & win::TPM_BOTTOMALIGN)
            at.ry() -= size.height();
        open_ = &popup;
        QAction* chosen = popup.exec(at);
        open_ = nullptr;
        return chosen ? chosen->data().toUInt() : 0;
    }

    void Close() override {
        if (open_)
            open_->close();
    }

private:
    static void Fill(QMenu* target, win::HMENU menu) {
        const int n = win::GetMenuItemCount(menu);
        for (int i = 0; i < n; ++i) {
            win::MENUITEMINFOA info;
            char text[512];
            info.fMask = win::MIIM_TYPE | win::MIIM_STATE | win::MIIM_ID | win::MIIM_SUBMENU;
            info.dwTypeData = text;
            info.cch = sizeof text;
            if (!win::GetMenuItemInfoA(menu, static_cast<win::UINT>(i), win::TRUE, &info))
                continue;
            if (info.fType & win::MFT_SEPARATOR) {
                target->addSeparator();
                continue;
            }
            // "Text\tShortcut": Qt shows the part after the tab on the right.
            const QString caption = QString::fromUtf8(text);
            QAction* action;
            if (info.hSubMenu) {
                QMenu* sub = target->addMenu(caption);
                Fill(sub, info.hSubMenu);
                action = sub->menuAction();
            } else {
                action = target->addAction(caption);
                action->setData(info.wID);
            }
            action->setEnabled(!(info.fState & win::MFS_GRAYED));
            if (info.fState & win::MFS_CHECKED) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            if (info.fState & win::MFS_DEFAULT) {
                QFont bold = action->font();
                bold.setBold(true);
                action->setFont(bold);
            }
        }
    }

    QPointer<QMenu> open_;
};

}  // namespace

void InstallMenuPresenter() {
    static QtMenuPresenter presenter;
    win::SetMenuPresenter(&presenter);
}

// --- TMenuItem -----------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), command_(NewCommand()) {}

TMenuItem::~TMenuItem() {
    Destroying();
    if (parent_)
        parent_->Remove(this);
    // Children owned elsewhere just lose their parent.
    for (TMenuItem* child : items_)
        child->parent_ = nullptr;
    items_.clear();
    if (handle_)
        win::DestroyMenu(handle_);
    UsedCommands().erase(command_);
}

void TMenuItem::Add(TMenuItem* Item) {
    Insert(Count(), Item);
}

void TMenuItem::Insert(int Index, TMenuItem* Item) {
    if (!Item || Item == this)
        return;
    if (Item->parent_)
        Item->parent_->Remove(Item);
    Index = std::clamp(Index, 0, Count());
    items_.insert(items_.begin() + Index, Item);
    Item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* Item) {
    auto it = std::find(items_.begin(), items_.end(), Item);
    if (it == items_.end())
        return;
    items_.erase(it);
    Item->parent_ = nullptr;
}

TMenuItem* TMenuItem::Find(win::UINT command) {
    if (command == command_)
        return this;
    for (TMenuItem* child : items_)
        if (TMenuItem* found = child->Find(command))
            return found;
    return nullptr;
}

void TMenuItem::Click() {
    if (OnClick)
        CallGuarded(this, [this] { OnClick(this); });
}

win::HMENU TMenuItem::Handle() {
    if (!handle_ || !win::IsMenu(handle_))
        handle_ = win::CreatePopupMenu();
    while (win::GetMenuItemCount(handle_) > 0)
        win::DeleteMenu(handle_, 0, win::MF_BYPOSITION);
    Fill(handle_);
    return handle_;
}

void TMenuItem::Fill(win::HMENU menu) {
    for (TMenuItem* child : items_) {
        if (!child->Visible())
            continue;
        win::MENUITEMINFOA info;
        info.fMask = win::MIIM_TYPE | win::MIIM_STATE | win::MIIM_ID | win::MIIM_SUBMENU;
        if (child->IsLine()) {
            info.fType = win::MFT_SEPARATOR;
        } else {
            info.fType = win::MFT_STRING;
            info.fState = (child->Enabled() ? 0 : win::MFS_GRAYED) |
                          (child->Checked() ? win::MFS_CHECKED : 0) |
                          (child->Default() ? win::MFS_DEFAULT : 0);
            info.dwTypeData = const_cast<char*>(child->Caption().c_str());
        }
        info.wID = child->Command();
        if (child->Count() > 0) {
            // The parent's menu holds (and destroys) the child's, so the
            // child makes a new one next time.
            info.hSubMenu = win::CreatePopupMenu();
            child->Fill(info.hSubMenu);
        }
        win::InsertMenuItemA(menu, static_cast<win::UINT>(-1), win::TRUE, &info);
    }
}

// --- TPopupMenu ----------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner), items_(new TMenuItem(this)) {
    InstallMenuPresenter();
}

TPopupMenu::~TPopupMenu() {
    Destroying();
}

void TPopupMenu::Popup(int X, int Y) {
    if (OnPopup)
        OnPopup(this);
    const win::HWND owner = Application ? Application->Handle() : 0;
    const auto cmd = static_cast<win::UINT>(win::TrackPopupMenu(
        Handle(), win::TPM_LEFTALIGN | win::TPM_RIGHTBUTTON | win::TPM_RETURNCMD, X, Y, 0, owner,
        nullptr));
    if (cmd)
        DispatchCommand(cmd);
}

bool TPopupMenu::DispatchCommand(win::UINT command) {
    TMenuItem* item = items_->Find(command);
    if (!item || item == items_)
        return false;
    if (item->Enabled())
        item->Click();
    return true;
}

}  // namespace fw
