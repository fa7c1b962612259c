#pragma once
// User area, mouse capture and cursor: the window that captures the mouse,
// and the cursor shown.
//
// The framework delivers the mouse to the window that was pressed on for as
// long as the button is held, so capture here is the record that components
// test (GetCapture) and the WM_CAPTURECHANGED notice to the window that loses
// it. The cursor set with SetCursor is shown by a CursorSink that the
// framework attaches (over the window under the mouse).
//
// Threads: main thread only.

#include "platform/user.h"

namespace win {

constexpr UINT WM_CAPTURECHANGED = 0x0215;

// Standard cursors (LoadCursorA with no instance).
inline const LPCSTR IDC_ARROW = reinterpret_cast<LPCSTR>(32512);
inline const LPCSTR IDC_IBEAM = reinterpret_cast<LPCSTR>(32513);
inline const LPCSTR IDC_WAIT = reinterpret_cast<LPCSTR>(32514);
inline const LPCSTR IDC_CROSS = reinterpret_cast<LPCSTR>(32515);
inline const LPCSTR IDC_SIZEALL = reinterpret_cast<LPCSTR>(32646);
inline const LPCSTR IDC_NO = reinterpret_cast<LPCSTR>(32648);
inline const LPCSTR IDC_HAND = reinterpret_cast<LPCSTR>(32649);

// Returns the window that had the capture before.
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();

// A standard cursor's handle (its IDC_ number); nullptr for others.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// Returns the cursor set before.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

class CursorSink {
public:
    virtual ~CursorSink() = default;
    virtual void Show(HCURSOR cursor) = 0;
};
void SetCursorSink(CursorSink* sink);

}  // namespace win
