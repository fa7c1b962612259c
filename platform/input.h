#pragma once
// Input area: where the pointer is and which keys and buttons are down, asked
// of the display server at the time of the call.
//
// Threads: main thread only (the thread that runs the Qt event loop).

#include "platform/user.h"

namespace win {

constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_MBUTTON = 0x04;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;

// The pointer's position in screen coordinates.
BOOL GetCursorPos(POINT* point);
// The high bit (the value is negative) when the key or button is down.
// Known are the keys and buttons above; others read as up.
SHORT GetKeyState(int virtualKey);

}  // namespace win
