#include "platform/capture.h"

namespace win {
namespace {

HWND g_capture = 0;
HCURSOR g_cursor = nullptr;
CursorSink* g_sink = nullptr;

}  // namespace

HWND SetCapture(HWND hwnd) {
    const HWND previous = g_capture;
    g_capture = hwnd;
    if (previous && previous != hwnd && IsWindow(previous))
        SendMessageA(previous, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
    return previous;
}

BOOL ReleaseCapture() {
    const HWND previous = g_capture;
    g_capture = 0;
    if (previous && IsWindow(previous))
        SendMessageA(previous, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture() {
    if (g_capture && !IsWindow(g_capture))
        g_capture = 0;
    return g_capture;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    const auto id = reinterpret_cast<std::uintptr_t>(name);
    if (instance || id < 32512 || id > 32649)
        return nullptr;
    return reinterpret_cast<HCURSOR>(id);
}

HCURSOR SetCursor(HCURSOR cursor) {
    const HCURSOR previous = g_cursor;
    g_cursor = cursor;
    if (g_sink)
        g_sink->Show(cursor);
    return previous;
}

HCURSOR GetCursor() {
    return g_cursor;
}

void SetCursorSink(CursorSink* sink) {
    g_sink = sink;
}

}  // namespace win
