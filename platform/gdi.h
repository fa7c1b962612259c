#pragma once
// GDI area: drawing on a window's title bar and frame, and the system colours
// of the classic look.
//
// Pixels exist only while the framework paints a window: GetWindowDC returns a
// device context only during the window's WM_NCPAINT (after its own painting,
// so a hook draws over it) and nullptr otherwise; a component that wants to
// draw at another time asks for a repaint of the frame instead
// (SetWindowPos with SWP_FRAMECHANGED) and draws when WM_NCPAINT comes.
// A device context stands for a QPainter in window coordinates (DCPainter).
//
// Threads: main thread only.

#include "platform/user.h"

class QPainter;

namespace win {

using HDC = void*;
using COLORREF = DWORD;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
           (static_cast<COLORREF>(b) << 16);
}

// System colours.
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;

// DrawFrameControl.
constexpr UINT DFC_BUTTON = 4;
constexpr UINT DFCS_BUTTONPUSH = 0x0010;
constexpr UINT DFCS_INACTIVE = 0x0100;
constexpr UINT DFCS_PUSHED = 0x0200;
constexpr UINT DFCS_ADJUSTRECT = 0x2000;

HDC GetWindowDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
// The painter behind a device context (window coordinates).
QPainter* DCPainter(HDC dc);

COLORREF GetSysColor(int index);

// Draws a classic push button (face, light and dark edges; sunken when
// DFCS_PUSHED) and, with DFCS_ADJUSTRECT, shrinks the rectangle to its face.
BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state);

// The surface side: the framework hands the painter of a non-client paint
// under way to the layer (nullptr when it ends).
void SetWindowPainter(HWND hwnd, QPainter* painter);

}  // namespace win
