#include "platform/menu.h"

#include <map>
#include <memory>
#include <vector>

#include "platform/kernel.h"

namespace win {
namespace {

struct MenuItem {
    UINT type = MFT_STRING;
    UINT state = 0;
    UINT id = 0;
    HMENU subMenu = nullptr;
    ULONG_PTR data = 0;
    std::string text;
};

struct Menu {
    std::vector<MenuItem> items;
};

// Menus belong to the main thread, like the windows that show them.
std::map<HMENU, std::unique_ptr<Menu>> g_menus;
std::map<HWND, HMENU> g_systemMenus;
std::uintptr_t g_nextMenu = 0x10000;
MenuPresenter* g_presenter = nullptr;
int g_tracking = 0;

constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_MENU_ITEM_NOT_FOUND = 1456;

Menu* Find(HMENU menu) {
    auto it = g_menus.find(menu);
    if (it == g_menus.end()) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

// The item at a position, or the item with a command id in the menu or its
// submenus; `owner` receives the menu that holds it.
MenuItem* Locate(HMENU menu, UINT item, bool byPosition, Menu** owner = nullptr) {
    Menu* m = Find(menu);
    if (!m)
        return nullptr;
    if (byPosition) {
        if (item >= m->items.size()) {
            SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
            return nullptr;
        }
        if (owner)
            *owner = m;
        return &m->items[item];
    }
    for (auto& it : m->items) {
        if (!it.subMenu && it.id == item) {
            if (owner)
                *owner = m;
            return &it;
        }
        if (it.subMenu)
            if (MenuItem* found = Locate(it.subMenu, item, false, owner))
                return found;
    }
    for (auto& it : m->items)
        if (it.subMenu && it.id == item) {
            if (owner)
                *owner = m;
            return &it;
        }
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return nullptr;
}

HMENU NewMenu() {
    HMENU h = reinterpret_cast<HMENU>(g_nextMenu++);
    g_menus[h] = std::make_unique<Menu>();
    return h;
}

void Apply(MenuItem& item, const MENUITEMINFOA& info) {
    if (info.fMask & (MIIM_TYPE | MIIM_FTYPE))
        item.type = info.fType;
    if (info.fMask & MIIM_STATE)
        item.state = info.fState;
    if (info.fMask & MIIM_ID)
        item.id = info.wID;
    if (info.fMask & MIIM_SUBMENU)
        item.subMenu = info.hSubMenu;
    if (info.fMask & MIIM_DATA)
        item.data = info.dwItemData;
    if (((info.fMask & MIIM_TYPE) && !(info.fType & MFT_SEPARATOR)) || (info.fMask & MIIM_STRING))
        item.text = info.dwTypeData ? info.dwTypeData : "";
}

void DropStaleSystemMenus() {
    for (auto it = g_systemMenus.begin(); it != g_systemMenus.end();) {
        if (IsWindow(it->first)) {
            ++it;
            continue;
        }
        DestroyMenu(it->second);
        it = g_systemMenus.erase(it);
    }
}

BOOL RemoveItem(HMENU menu, UINT position, UINT flags, bool destroySub) {
    Menu* owner = nullptr;
    MenuItem* item = Locate(menu, position, (flags & MF_BYPOSITION) != 0, &owner);
    if (!item)
        return FALSE;
    HMENU sub = item->subMenu;
    owner->items.erase(owner->items.begin() + (item - owner->items.data()));
    if (destroySub && sub)
        DestroyMenu(sub);
    return TRUE;
}

}  // namespace

HMENU CreateMenu() {
    return NewMenu();
}
HMENU CreatePopupMenu() {
    return NewMenu();
}

BOOL DestroyMenu(HMENU menu) {
    auto it = g_menus.find(menu);
    if (it == g_menus.end()) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    std::unique_ptr<Menu> m = std::move(it->second);
    g_menus.erase(it);
    for (auto& item : m->items)
        if (item.subMenu)
            DestroyMenu(item.subMenu);
    return TRUE;
}

BOOL IsMenu(HMENU menu) {
    return g_menus.count(menu) ? TRUE : FALSE;
}

BOOL InsertMenuItemA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info) {
    Menu* m = Find(menu);
    if (!m || !info)
        return FALSE;
    MenuItem created;
    Apply(created, *info);
    Menu* target = m;
    size_t at = m->items.size();
    if (byPosition) {
        at = std::min<size_t>(item, m->items.size());
    } else if (MenuItem* before = Locate(menu, item, false, &target)) {
        at = static_cast<size_t>(before - target->items.data());
    } else {
        target = m;
    }
    target->items.insert(target->items.begin() + static_cast<std::ptrdiff_t>(at), created);
    return TRUE;
}

BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOA* info) {
    MenuItem* it = Locate(menu, item, byPosition != FALSE);
    if (!it || !info)
        return FALSE;
    if (info->fMask & (MIIM_TYPE | MIIM_FTYPE))
        info->fType = it->type;
    if (info->fMask & MIIM_STATE)
        info->fState = it->state;
    if (info->fMask & MIIM_ID)
        info->wID = it->id;
    if (info->fMask & MIIM_SUBMENU)
        info->hSubMenu = it->subMenu;
    if (info->fMask & MIIM_DATA)
        info->dwItemData = it->data;
    if (info->fMask & (MIIM_TYPE | MIIM_STRING)) {
        if (info->dwTypeData && info->cch > 0) {
            const size_t n = std::min<size_t>(it->text.size(), info->cch - 1);
            it->text.copy(info->dwTypeData, n);
            info->dwTypeData[n] = '\0';
        }
        info->cch = static_cast<UINT>(it->text.size());
    }
    return TRUE;
}

BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info) {
    MenuItem* it = Locate(menu, item, byPosition != FALSE);
    if (!it || !info)
        return FALSE;
    Apply(*it, *info);
    return TRUE;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR text) {
    MENUITEMINFOA info;
    info.fMask = MIIM_TYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU;
    info.fType = flags & MF_SEPARATOR;
    info.fState = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_DEFAULT);
    if (flags & MF_POPUP)
        info.hSubMenu = reinterpret_cast<HMENU>(idNewItem);
    else
        info.wID = static_cast<UINT>(idNewItem);
    info.dwTypeData = const_cast<LPSTR>(text);
    return InsertMenuItemA(menu, static_cast<UINT>(-1), TRUE, &info);
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
    return RemoveItem(menu, position, flags, true);
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) {
    return RemoveItem(menu, position, flags, false);
}

BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable) {
    MenuItem* it = Locate(menu, id, (enable & MF_BYPOSITION) != 0);
    if (!it)
        return -1;
    const BOOL previous = static_cast<BOOL>(it->state & (MF_GRAYED | MF_DISABLED));
    it->state = (it->state & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return previous;
}

DWORD CheckMenuItem(HMENU menu, UINT id, UINT check) {
    MenuItem* it = Locate(menu, id, (check & MF_BYPOSITION) != 0);
    if (!it)
        return static_cast<DWORD>(-1);
    const DWORD previous = it->state & MF_CHECKED;
    it->state = (it->state & ~MF_CHECKED) | (check & MF_CHECKED);
    return previous;
}

BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition) {
    Menu* m = Find(menu);
    if (!m)
        return FALSE;
    for (auto& it : m->items)
        it.state &= ~MFS_DEFAULT;
    if (item == static_cast<UINT>(-1))
        return TRUE;
    MenuItem* it = Locate(menu, item, byPosition != 0);
    if (!it)
        return FALSE;
    it->state |= MFS_DEFAULT;
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    Menu* m = Find(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    Menu* m = Find(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size())
        return static_cast<UINT>(-1);
    const MenuItem& it = m->items[static_cast<size_t>(position)];
    return it.subMenu ? static_cast<UINT>(-1) : it.id;
}

UINT GetMenuState(HMENU menu, UINT id, UINT flags) {
    MenuItem* it = Locate(menu, id, (flags & MF_BYPOSITION) != 0);
    if (!it)
        return static_cast<UINT>(-1);
    UINT state = it->state | (it->type & MFT_SEPARATOR);
    if (it->subMenu)
        state |= MF_POPUP | (static_cast<UINT>(GetMenuItemCount(it->subMenu)) << 8);
    return state;
}

HMENU GetSubMenu(HMENU menu, int position) {
    Menu* m = Find(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size())
        return nullptr;
    return m->items[static_cast<size_t>(position)].subMenu;
}

std::string GetMenuString(HMENU menu, UINT item, UINT flags) {
    MenuItem* it = Locate(menu, item, (flags & MF_BYPOSITION) != 0);
    return it ? it->text : std::string();
}

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
    DropStaleSystemMenus();
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto it = g_systemMenus.find(hwnd);
    if (revert) {
        if (it != g_systemMenus.end()) {
            DestroyMenu(it->second);
            g_systemMenus.erase(it);
        }
        return nullptr;
    }
    if (it != g_systemMenus.end())
        return it->second;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, SC_RESTORE, "&Restore");
    AppendMenuA(menu, MF_STRING, SC_MOVE, "&Move");
    AppendMenuA(menu, MF_STRING, SC_SIZE, "&Size");
    AppendMenuA(menu, MF_STRING, SC_MINIMIZE, "Mi&nimize");
    AppendMenuA(menu, MF_STRING, SC_MAXIMIZE, "Ma&ximize");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | MF_DEFAULT, SC_CLOSE, "&Close\tAlt+F4");
    g_systemMenus[hwnd] = menu;
    return menu;
}

HMENU GetMenu(HWND) {
    return nullptr;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    if (!IsMenu(menu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    if (!g_presenter || g_tracking)
        return FALSE;
    if (owner && !(flags & TPM_NONOTIFY))
        SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    ++g_tracking;
    UINT cmd = 0;
    try {
        cmd = g_presenter->Track(menu, flags, x, y, owner);
    } catch (...) {
        --g_tracking;
        throw;
    }
    --g_tracking;
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(cmd);
    if (cmd && owner)
        PostMessageA(owner, WM_COMMAND, cmd, 0);
    return cmd ? TRUE : FALSE;
}

BOOL EndMenu() {
    if (!g_tracking || !g_presenter)
        return FALSE;
    g_presenter->Close();
    return TRUE;
}

void SetMenuPresenter(MenuPresenter* presenter) {
    g_presenter = presenter;
}

BOOL IsMenuTracking() {
    return g_tracking ? TRUE : FALSE;
}

}  // namespace win
