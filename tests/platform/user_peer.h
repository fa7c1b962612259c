#pragma once
// The messages that the cross-process tests and their peer program exchange.

#include "platform/user.h"

namespace peer {

constexpr win::UINT kAdd = win::WM_USER + 1;       // answers wParam + lParam
constexpr win::UINT kPosted = win::WM_USER + 2;    // adds wParam to the sum
constexpr win::UINT kSum = win::WM_USER + 3;       // answers the sum
constexpr win::UINT kSendBack = win::WM_USER + 4;  // sends kAdd(wParam, 1) to window lParam
constexpr win::UINT kDestroy = win::WM_USER + 5;
constexpr win::UINT kQuit = win::WM_USER + 6;
constexpr win::UINT kModal = win::WM_USER + 7;  // runs a nested loop until quit

}  // namespace peer
