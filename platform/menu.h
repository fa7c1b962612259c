#pragma once
// User area, menus: popup menus and their items, the system menu of a window,
// and tracking a popup menu on screen.
//
// A menu is data of this layer (items with text, command id, state, type and
// an optional submenu). Showing it is done by a MenuPresenter that the
// framework attaches; it runs a nested event loop, so window messages and
// timers go on while a menu is open, and the menu closes when the user clicks
// elsewhere.
//
// The system menu of a window is made on the first GetSystemMenu call, with the
// usual items: "&Restore", "&Move", "&Size", "Mi&nimize", "Ma&ximize", a
// separator and "&Close\tAlt+F4" (the default item), commands SC_RESTORE ...
// SC_CLOSE. It lives until the window is destroyed or the menu is reverted.
//
// Threads: main thread only.

#include <string>

#include "platform/user.h"

namespace win {

using HBITMAP = void*;

// Menu item info masks, types and states.
constexpr UINT MIIM_STATE = 0x0001;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_SUBMENU = 0x0004;
constexpr UINT MIIM_CHECKMARKS = 0x0008;
constexpr UINT MIIM_TYPE = 0x0010;
constexpr UINT MIIM_DATA = 0x0020;
constexpr UINT MIIM_STRING = 0x0040;
constexpr UINT MIIM_FTYPE = 0x0100;
constexpr UINT MFT_STRING = 0x0000;
constexpr UINT MFT_RADIOCHECK = 0x0200;
constexpr UINT MFT_SEPARATOR = 0x0800;
constexpr UINT MFS_ENABLED = 0x0000;
constexpr UINT MFS_GRAYED = 0x0003;
constexpr UINT MFS_DISABLED = 0x0003;
constexpr UINT MFS_CHECKED = 0x0008;
constexpr UINT MFS_DEFAULT = 0x1000;

// Flags of EnableMenuItem, CheckMenuItem, DeleteMenu, AppendMenuA.
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_DEFAULT = 0x1000;

// TrackPopupMenu flags.
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

constexpr WPARAM SC_KEYMENU = 0xF100;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_MENUSELECT = 0x011F;

struct MENUITEMINFOA {
    UINT cbSize = sizeof(MENUITEMINFOA);
    UINT fMask = 0;
    UINT fType = 0;
    UINT fState = 0;
    UINT wID = 0;
    HMENU hSubMenu = nullptr;
    HBITMAP hbmpChecked = nullptr;
    HBITMAP hbmpUnchecked = nullptr;
    ULONG_PTR dwItemData = 0;
    LPSTR dwTypeData = nullptr;
    UINT cch = 0;
    HBITMAP hbmpItem = nullptr;
};

HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and, recursively, the submenus it holds.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);

// `item` is a position when `byPosition`, else a command id (searched in
// submenus too). A position past the end appends.
BOOL InsertMenuItemA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info);
BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOA* info);
BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR text);
// Removes the item; DeleteMenu also destroys its submenu, RemoveMenu keeps it.
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
// Return the previous state (MF_GRAYED / MF_CHECKED bits), -1 without such an item.
BOOL EnableMenuItem(HMENU menu, UINT idEnableItem, UINT enable);
DWORD CheckMenuItem(HMENU menu, UINT idCheckItem, UINT check);
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
UINT GetMenuState(HMENU menu, UINT id, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);
std::string GetMenuString(HMENU menu, UINT item, UINT flags);

// The window's system menu (made on first use); `revert` drops a changed copy
// and returns nullptr.
HMENU GetSystemMenu(HWND hwnd, BOOL revert);
// Windows here have no menu bar: always nullptr.
HMENU GetMenu(HWND hwnd);

// Shows the menu with its top-left corner at the screen point (as the
// alignment flags say) and waits until it closes. With TPM_RETURNCMD returns
// the chosen command (0: none); otherwise posts WM_COMMAND with the command to
// `owner` and returns whether one was chosen. WM_INITMENUPOPUP is sent to
// `owner` first unless TPM_NONOTIFY.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                    const RECT* rect);
// Closes the menu that is open, if any.
BOOL EndMenu();

// Shows menus on screen; attached by the framework.
class MenuPresenter {
public:
    virtual ~MenuPresenter() = default;
    // Runs until the menu closes; returns the chosen command, 0 for none.
    virtual UINT Track(HMENU menu, UINT flags, int x, int y, HWND owner) = 0;
    virtual void Close() = 0;
};
void SetMenuPresenter(MenuPresenter* presenter);
// True while a popup menu is open.
BOOL IsMenuTracking();

}  // namespace win
