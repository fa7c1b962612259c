#pragma once
// Common controls, tooltips: the window class "tooltips_class32" and its
// tool messages.
//
// A tooltip window keeps tools: rectangles of a window (client coordinates,
// which may lie in the title bar above the client area) with a text. Tools
// with TTF_SUBCLASS are shown by the framework: when the mouse rests over a
// window, it asks ToolTipAt for the tool under the mouse and shows its text
// as a Qt tooltip. An empty rectangle or text shows nothing.
//
// Threads: main thread only.

#include <string>

#include "platform/user.h"

namespace win {

inline constexpr const char* TOOLTIPS_CLASSA = "tooltips_class32";

constexpr DWORD TTS_ALWAYSTIP = 0x01;
constexpr DWORD TTS_NOPREFIX = 0x02;
constexpr UINT TTF_IDISHWND = 0x0001;
constexpr UINT TTF_SUBCLASS = 0x0010;
constexpr UINT TTM_ACTIVATE = WM_USER + 1;
constexpr UINT TTM_ADDTOOLA = WM_USER + 4;
constexpr UINT TTM_DELTOOLA = WM_USER + 5;
constexpr UINT TTM_NEWTOOLRECTA = WM_USER + 6;
constexpr UINT TTM_GETTOOLINFOA = WM_USER + 8;
constexpr UINT TTM_SETTOOLINFOA = WM_USER + 9;
constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;

struct TOOLINFOA {
    UINT cbSize = sizeof(TOOLINFOA);
    UINT uFlags = 0;
    HWND hwnd = 0;
    UINT_PTR uId = 0;
    RECT rect;
    HINSTANCE hinst = nullptr;
    LPSTR lpszText = nullptr;
    LPARAM lParam = 0;
};

// Registers the common control classes used here ("tooltips_class32").
void InitCommonControls();

// The text and rectangle of the first subclassing tool of `hwnd` whose
// rectangle holds the client point, among all tooltip windows; false when
// there is none or the tooltip window is deactivated.
bool ToolTipAt(HWND hwnd, POINT client, std::string* text, RECT* rect);

}  // namespace win
