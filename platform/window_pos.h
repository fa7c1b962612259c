#pragma once
// Window placement and visibility: showing, minimising and restoring a window,
// its place on screen and in the z-order, and the foreground window.
//
// A platform window has no pixels of its own. A window that is shown on
// screen (a form) has a WindowSurface attached by the framework, which does
// the real thing; for any other window these calls only keep the WS_VISIBLE,
// WS_MINIMIZE and WS_EX_TOPMOST style bits, as the system would for a window
// that nobody sees.
//
// Threads: main thread only (the thread that owns the windows).

#include "platform/user.h"

namespace win {

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

// SetWindowPos: where in the z-order, and what to leave alone.
inline const HWND HWND_TOP = 0;
inline const HWND HWND_BOTTOM = 1;
inline const HWND HWND_TOPMOST = static_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = static_cast<HWND>(-2);
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// What a window shown on screen does for the calls of this area.
class WindowSurface {
public:
    virtual ~WindowSurface() = default;
    // The whole window and the client area's top-left corner, in screen
    // coordinates.
    virtual RECT WindowRect() const = 0;
    virtual POINT ClientOrigin() const = 0;
    // Moves and sizes the window (unless SWP_NOMOVE / SWP_NOSIZE); repaints
    // title bar and frame for SWP_FRAMECHANGED.
    virtual void SetPos(int x, int y, int cx, int cy, UINT flags) = 0;
    // Keeps the window above all others that are not topmost, or ends that.
    virtual void SetTopmost(bool topmost) = 0;
    // Carries out a ShowWindow command.
    virtual void Show(int cmd) = 0;
    virtual bool Visible() const = 0;
    virtual bool Iconic() const = 0;
    virtual bool Zoomed() const = 0;
    // Raises the window above its siblings; `activate` also gives it the focus.
    virtual void Raise(bool activate) = 0;
};

// Attaches (or, with nullptr, detaches) the surface of a window. The caller
// keeps the surface alive until it detaches it.
void SetWindowSurface(HWND hwnd, WindowSurface* surface);
WindowSurface* GetWindowSurface(HWND hwnd);

// Returns whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int cmd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
BOOL BringWindowToTop(HWND hwnd);
BOOL SetForegroundWindow(HWND hwnd);

// HWND_TOPMOST and HWND_NOTOPMOST set and clear WS_EX_TOPMOST.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// Without a surface the rectangle is empty and the point stays as it is.
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL ClientToScreen(HWND hwnd, POINT* point);

}  // namespace win
