#include "platform/window_pos.h"

#include <mutex>
#include <unordered_map>

#include "platform/kernel.h"

namespace win {
namespace {

std::mutex g_surfaceLock;  // guards g_surfaces
std::unordered_map<HWND, WindowSurface*> g_surfaces;

void SetStyleBits(HWND hwnd, int index, DWORD set, DWORD clear) {
    const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, index));
    SetWindowLongA(hwnd, index, static_cast<LONG>((style & ~clear) | set));
}

}  // namespace

void SetWindowSurface(HWND hwnd, WindowSurface* surface) {
    std::lock_guard l(g_surfaceLock);
    if (surface)
        g_surfaces[hwnd] = surface;
    else
        g_surfaces.erase(hwnd);
}

WindowSurface* GetWindowSurface(HWND hwnd) {
    std::lock_guard l(g_surfaceLock);
    auto it = g_surfaces.find(hwnd);
    return it == g_surfaces.end() ? nullptr : it->second;
}

BOOL ShowWindow(HWND hwnd, int cmd) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const BOOL wasVisible = IsWindowVisible(hwnd);
    if (WindowSurface* s = GetWindowSurface(hwnd)) {
        s->Show(cmd);
    } else {
        switch (cmd) {
            case SW_HIDE:
                SetStyleBits(hwnd, GWL_STYLE, 0, WS_VISIBLE);
                break;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
            case SW_SHOWMINNOACTIVE:
                SetStyleBits(hwnd, GWL_STYLE, WS_VISIBLE | WS_MINIMIZE, WS_MAXIMIZE);
                break;
            case SW_MAXIMIZE:
                SetStyleBits(hwnd, GWL_STYLE, WS_VISIBLE | WS_MAXIMIZE, WS_MINIMIZE);
                break;
            case SW_SHOWNORMAL:
            case SW_RESTORE:
                SetStyleBits(hwnd, GWL_STYLE, WS_VISIBLE, WS_MINIMIZE | WS_MAXIMIZE);
                break;
            default:
                SetStyleBits(hwnd, GWL_STYLE, WS_VISIBLE, 0);
                break;
        }
    }
    return wasVisible;
}

namespace {

// A window's show state: its surface's when it has one, else its style bit.
BOOL ShowState(HWND hwnd, bool (WindowSurface::*state)() const, DWORD styleBit) {
    if (!IsWindow(hwnd))
        return FALSE;
    if (WindowSurface* s = GetWindowSurface(hwnd))
        return (s->*state)() ? TRUE : FALSE;
    return (static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & styleBit) ? TRUE : FALSE;
}

}  // namespace

BOOL IsWindowVisible(HWND hwnd) {
    return ShowState(hwnd, &WindowSurface::Visible, WS_VISIBLE);
}

BOOL IsIconic(HWND hwnd) {
    return ShowState(hwnd, &WindowSurface::Iconic, WS_MINIMIZE);
}

BOOL IsZoomed(HWND hwnd) {
    return ShowState(hwnd, &WindowSurface::Zoomed, WS_MAXIMIZE);
}

BOOL BringWindowToTop(HWND hwnd) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (WindowSurface* s = GetWindowSurface(hwnd))
        s->Raise(false);
    return TRUE;
}

BOOL SetForegroundWindow(HWND hwnd) {
    if (!IsWindow(hwnd))
        return FALSE;
    if (WindowSurface* s = GetWindowSurface(hwnd))
        s->Raise(true);
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    WindowSurface* s = GetWindowSurface(hwnd);
    if (!(flags & SWP_NOZORDER) && (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST)) {
        const bool topmost = insertAfter == HWND_TOPMOST;
        SetStyleBits(hwnd, GWL_EXSTYLE, topmost ? WS_EX_TOPMOST : 0, topmost ? 0 : WS_EX_TOPMOST);
        if (s)
            s->SetTopmost(topmost);
    }
    if (s) {
        s->SetPos(x, y, cx, cy, flags);
        if (!(flags & SWP_NOZORDER) && insertAfter == HWND_TOP)
            s->Raise(!(flags & SWP_NOACTIVATE));
    }
    if (flags & SWP_SHOWWINDOW)
        ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
    if (flags & SWP_HIDEWINDOW)
        ShowWindow(hwnd, SW_HIDE);
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    if (!rect || !IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    WindowSurface* s = GetWindowSurface(hwnd);
    *rect = s ? s->WindowRect() : RECT{};
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
    if (!point || !IsWindow(hwnd))
        return FALSE;
    if (WindowSurface* s = GetWindowSurface(hwnd)) {
        const POINT o = s->ClientOrigin();
        point->x -= o.x;
        point->y -= o.y;
    }
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
    if (!point || !IsWindow(hwnd))
        return FALSE;
    if (WindowSurface* s = GetWindowSurface(hwnd)) {
        const POINT o = s->ClientOrigin();
        point->x += o.x;
        point->y += o.y;
    }
    return TRUE;
}

}  // namespace win
