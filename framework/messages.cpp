#include "framework/messages.h"

#include <memory>
#include <string>
#include <unordered_map>

#include "framework/application.h"
#include "platform/kernel.h"
#include "platform/product.h"

namespace fw {
namespace {

const char* UtilClass() {
    static const std::string name = "T" + win::ProductName() + "UtilWindow";
    return name.c_str();
}

// The procedure instance of each utility window, freed with the window.
std::unordered_map<win::HWND, win::WNDPROC>& Procs() {
    static std::unordered_map<win::HWND, win::WNDPROC> procs;
    return procs;
}

}  // namespace

win::HWND AllocateHWnd(TWndMethod method) {
    win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
    win::WNDCLASSA existing;
    if (!win::GetClassInfoA(instance, UtilClass(), &existing)) {
        win::WNDCLASSA wc;
        wc.lpfnWndProc = &win::DefWindowProcA;
        wc.hInstance = instance;
        wc.lpszClassName = UtilClass();
        win::RegisterClassA(&wc);
    }
    win::HWND wnd = win::CreateWindowExA(win::WS_EX_TOOLWINDOW, UtilClass(), "", win::WS_POPUP, 0,
                                         0, 0, 0, 0, nullptr, instance, nullptr);
    if (!wnd)
        return 0;
    auto shared = std::make_shared<TWndMethod>(std::move(method));
    win::WNDPROC proc = win::MakeWindowProcInstance(
        [shared](win::HWND, win::UINT msg, win::WPARAM w, win::LPARAM l) {
            // The method may free its own window (and with it this closure).
            const std::shared_ptr<TWndMethod> keep = shared;
            TMessage m{msg, w, l, 0};
            CallGuarded(nullptr, [&] { (*keep)(m); });
            return m.Result;
        });
    if (!proc) {
        win::DestroyWindow(wnd);
        return 0;
    }
    win::SetWindowLongPtrA(wnd, win::GWLP_WNDPROC, reinterpret_cast<win::LONG_PTR>(proc));
    Procs()[wnd] = proc;
    return wnd;
}

void DeallocateHWnd(win::HWND wnd) {
    if (!wnd)
        return;
    win::DestroyWindow(wnd);
    auto it = Procs().find(wnd);
    if (it != Procs().end()) {
        win::FreeWindowProcInstance(it->second);
        Procs().erase(it);
    }
}

}  // namespace fw
