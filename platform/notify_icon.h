#pragma once
// Notification area: Shell_NotifyIconA and the "TaskbarCreated" message, on
// the freedesktop tray of the user's desktop (a StatusNotifierItem host where
// a watcher runs, an XEmbed system tray otherwise, through Qt's tray icon).
//
// What reaches the icon's window. Clicks on the icon arrive as the record's
// uCallbackMessage, posted to its hWnd with wParam = uID and lParam = the
// Windows mouse code. Tray hosts report clicks, not buttons going down and up,
// so each click gives the down and up pair at once (WM_LBUTTONDOWN,
// WM_LBUTTONUP; right: WM_RBUTTONDOWN, WM_RBUTTONUP; middle: WM_MBUTTONDOWN,
// WM_MBUTTONUP); a second left click within the desktop's double-click time
// gives WM_LBUTTONDBLCLK, WM_LBUTTONUP, so a double click arrives as down, up,
// double click, up. No host reports the pointer moving over an icon: there is
// no WM_MOUSEMOVE. Balloons are desktop notifications (a bubble by the icon
// where no notification server runs) and report NIN_BALLOONSHOW, then one of
// NIN_BALLOONUSERCLICK, NIN_BALLOONTIMEOUT or NIN_BALLOONHIDE.
//
// Tray hosts coming and going. Once the program has called Shell_NotifyIconA,
// it watches the desktop for a tray host through events (the XEmbed tray's
// selection owner, the StatusNotifierWatcher's bus name), never by polling.
// When a host appears, every top-level window of the program gets the
// registered message "TaskbarCreated" (posted), as after a restart of the
// taskbar. When the host that showed icons goes away, those icons are gone
// and each icon's window gets its callback message with NIN_HOSTGONE.
//
// Threads: main thread only (the thread that runs the Qt event loop).

#include <cstddef>

#include "platform/types.h"
#include "platform/user.h"

namespace win {

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;

constexpr UINT NIF_MESSAGE = 0x01;
constexpr UINT NIF_ICON = 0x02;
constexpr UINT NIF_TIP = 0x04;
constexpr UINT NIF_INFO = 0x10;

constexpr DWORD NIIF_NONE = 0;
constexpr DWORD NIIF_INFO = 1;
constexpr DWORD NIIF_WARNING = 2;
constexpr DWORD NIIF_ERROR = 3;
constexpr DWORD NIIF_NOSOUND = 0x10;

constexpr UINT NIN_BALLOONSHOW = WM_USER + 2;
constexpr UINT NIN_BALLOONHIDE = WM_USER + 3;
constexpr UINT NIN_BALLOONTIMEOUT = WM_USER + 4;
constexpr UINT NIN_BALLOONUSERCLICK = WM_USER + 5;
// Our own addition: the tray host that showed the icon went away.
constexpr UINT NIN_HOSTGONE = WM_USER + 0x80;

// The text fields hold the given number of characters and a terminator; a
// character of the system's text (UTF-8) takes up to 4 bytes, and the fields
// are sized for that, so a cut at the character count never splits one.
constexpr int kNotifyTipChars = 127;
constexpr int kNotifyBasicTipChars = 63;
constexpr int kNotifyInfoChars = 255;
constexpr int kNotifyInfoTitleChars = 63;

struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[(kNotifyTipChars + 1) * 4];
    DWORD dwState;
    DWORD dwStateMask;
    char szInfo[(kNotifyInfoChars + 1) * 4];
    UINT uTimeout;
    char szInfoTitle[(kNotifyInfoTitleChars + 1) * 4];
    DWORD dwInfoFlags;
};

// The basic record ends after a tip of 64 characters: with it the tip shows
// at most 63 characters and there is no balloon. The extended record is the
// whole structure.
constexpr DWORD NOTIFYICONDATAA_V1_SIZE = offsetof(NOTIFYICONDATAA, szTip) + 64 * 4;
constexpr DWORD NOTIFYICONDATAA_V2_SIZE = sizeof(NOTIFYICONDATAA);

// Adds, modifies or deletes the icon (hWnd, uID). NIM_ADD fails when no tray
// host runs, or when the icon exists; NIM_MODIFY and NIM_DELETE fail for an
// icon that does not exist. A record smaller than the basic size fails.
BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data);

}  // namespace win
