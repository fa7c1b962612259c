// Menus of the platform layer: the system menu's items, inserting by position
// and by command, deleting with submenus, enabling, checking, and tracking
// through an attached presenter.
#include "platform/menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace win;

std::vector<std::string> Texts(HMENU menu) {
    std::vector<std::string> out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        out.push_back((state & MF_SEPARATOR)
                          ? "-"
                          : GetMenuString(menu, static_cast<UINT>(i), MF_BYPOSITION));
    }
    return out;
}

HWND MakeWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc;
        wc.lpfnWndProc = &DefWindowProcA;
        wc.lpszClassName = "MenuTestWindow";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowExA(0, "MenuTestWindow", "", WS_POPUP | WS_SYSMENU, 0, 0, 10, 10, 0, nullptr,
                           nullptr, nullptr);
}

TEST(MenuTest, SystemMenuHasTheUsualItemsOncePerWindowAndRevertDropsIt) {
    const HWND w = MakeWindow();
    HMENU menu = GetSystemMenu(w, FALSE);
    ASSERT_TRUE(IsMenu(menu));
    EXPECT_EQ(Texts(menu), (std::vector<std::string>{"&Restore", "&Move", "&Size", "Mi&nimize",
                                                     "Ma&ximize", "-", "&Close\tAlt+F4"}));
    EXPECT_EQ(GetMenuItemID(menu, 0), SC_RESTORE);
    EXPECT_EQ(GetMenuItemID(menu, 6), SC_CLOSE);
    EXPECT_TRUE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MFS_DEFAULT);
    EXPECT_EQ(GetSystemMenu(w, FALSE), menu);

    AppendMenuA(menu, MF_STRING, 5734, "Extra");
    EXPECT_EQ(GetSystemMenu(w, TRUE), nullptr);
    EXPECT_FALSE(IsMenu(menu));
    HMENU fresh = GetSystemMenu(w, FALSE);
    EXPECT_EQ(GetMenuItemCount(fresh), 7);

    DestroyWindow(w);
    EXPECT_EQ(GetSystemMenu(w, FALSE), nullptr);
    MakeWindow();  // a later call drops the dead window's menu
    GetSystemMenu(MakeWindow(), FALSE);
    EXPECT_FALSE(IsMenu(fresh));
}

TEST(MenuTest, InsertByPositionAndCommandDeleteAndStates) {
    HMENU menu = CreatePopupMenu();
    HMENU sub = CreatePopupMenu();
    AppendMenuA(sub, MF_STRING, 30, "Deep");
    AppendMenuA(menu, MF_STRING, 10, "One");
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub");
    MENUITEMINFOA info;
    info.fMask = MIIM_TYPE | MIIM_ID | MIIM_STATE;
    info.fType = MFT_STRING;
    info.wID = 20;
    info.dwTypeData = const_cast<LPSTR>("Two");
    InsertMenuItemA(menu, 1, TRUE, &info);  // by position
    info.wID = 40;
    info.dwTypeData = const_cast<LPSTR>("BeforeDeep");
    InsertMenuItemA(menu, 30, FALSE, &info);  // before the item with command 30
    info.wID = 50;
    info.dwTypeData = const_cast<LPSTR>("Last");
    InsertMenuItemA(menu, 99, TRUE, &info);  // past the end: appended
    EXPECT_EQ(Texts(menu), (std::vector<std::string>{"One", "Two", "Sub", "Last"}));
    EXPECT_EQ(Texts(sub), (std::vector<std::string>{"BeforeDeep", "Deep"}));

    EXPECT_EQ(EnableMenuItem(menu, 30, MF_BYCOMMAND | MF_GRAYED), MF_ENABLED);
    EXPECT_EQ(EnableMenuItem(menu, 30, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
    EXPECT_EQ(EnableMenuItem(menu, 77, MF_BYCOMMAND), -1);
    EXPECT_EQ(CheckMenuItem(menu, 20, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
    EXPECT_TRUE(GetMenuState(menu, 20, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(CheckMenuItem(menu, 77, MF_BYCOMMAND), static_cast<DWORD>(-1));

    EXPECT_TRUE(DeleteMenu(menu, 30, MF_BYCOMMAND));  // found in the submenu
    EXPECT_EQ(Texts(sub), std::vector<std::string>{"BeforeDeep"});
    EXPECT_FALSE(DeleteMenu(menu, 30, MF_BYCOMMAND));
    EXPECT_TRUE(DeleteMenu(menu, 2, MF_BYPOSITION));  // the submenu goes with its item
    EXPECT_FALSE(IsMenu(sub));
    EXPECT_EQ(GetMenuItemCount(menu), 3);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_EQ(GetMenuItemCount(menu), -1);
}

class ScriptedPresenter : public MenuPresenter {
public:
    UINT answer = 0;
    std::vector<std::string> seen;
    UINT Track(HMENU menu, UINT, int x, int y, HWND) override {
        seen = Texts(menu);
        seen.push_back(std::to_string(x) + "," + std::to_string(y));
        EXPECT_TRUE(IsMenuTracking());
        return answer;
    }
    void Close() override {}
};

TEST(MenuTest, TrackReturnsOrPostsTheChosenCommand) {
    ScriptedPresenter presenter;
    SetMenuPresenter(&presenter);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 11, "&Open");
    presenter.answer = 11;
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 5, 6, 0, 0, nullptr), 11);
    EXPECT_EQ(presenter.seen, (std::vector<std::string>{"&Open", "5,6"}));
    EXPECT_FALSE(IsMenuTracking());

    const HWND w = MakeWindow();
    EXPECT_TRUE(TrackPopupMenu(menu, 0, 0, 0, 0, w, nullptr));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, w, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(m.wParam, 11u);
    presenter.answer = 0;
    EXPECT_FALSE(TrackPopupMenu(menu, 0, 0, 0, 0, w, nullptr));
    EXPECT_FALSE(PeekMessageA(&m, w, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    SetMenuPresenter(nullptr);
    DestroyWindow(w);
    DestroyMenu(menu);
}

}  // namespace
