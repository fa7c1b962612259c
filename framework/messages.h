#pragma once
// A window message as the framework's window procedures see it, and the
// utility window: a hidden platform window whose messages go to a method.
//
// Threads: AllocateHWnd and DeallocateHWnd act on the calling thread's
// windows; the method runs on that thread.

#include <functional>

#include "platform/user.h"

namespace fw {

struct TMessage {
    win::UINT Msg = 0;
    win::WPARAM WParam = 0;
    win::LPARAM LParam = 0;
    win::LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage& Message)>;

// Signed coordinates packed into a message parameter, as the mouse and
// hit-test messages carry them.
constexpr win::LPARAM MakeLParamPoint(int x, int y) {
    return static_cast<win::LPARAM>(
        win::MAKELONG(static_cast<win::WORD>(x & 0xFFFF), static_cast<win::WORD>(y & 0xFFFF)));
}
constexpr int GetXLParam(win::LPARAM lp) {
    return static_cast<short>(win::LOWORD(static_cast<win::DWORD_PTR>(lp)));
}
constexpr int GetYLParam(win::LPARAM lp) {
    return static_cast<short>(win::HIWORD(static_cast<win::DWORD_PTR>(lp)));
}

// Creates a hidden window whose messages go to `method`; an exception thrown
// by the method reaches Application->HandleException and the message is
// answered with the Result as it stood. Returns 0 on failure.
win::HWND AllocateHWnd(TWndMethod method);
// Destroys a window made by AllocateHWnd (the method sees its WM_DESTROY).
void DeallocateHWnd(win::HWND wnd);

}  // namespace fw
