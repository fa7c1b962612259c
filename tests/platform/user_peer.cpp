// The other process of the cross-process tests: a Qt program with one window,
// whose handle it prints on the first line of its output.
//
//   user_peer serve     the main thread runs Qt's event loop
//   user_peer modal     the main thread sits in a modal loop nested in the
//                       window's handler of a message
//   user_peer blocked   the main thread is blocked (reading its input) and
//                       pumps nothing
//   user_peer send HWND sends kAdd(2, 3) to HWND and prints the answer and
//                       the last error, then ends
//
// The window answers kAdd with wParam + lParam, sums the wParam of kPosted,
// answers kSum with that sum, handles kSendBack by sending kAdd(wParam, 1) to
// the window lParam and answering that + 100, and destroys itself on
// kDestroy. The program ends when its input closes.
#include "tests/platform/user_peer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "platform/kernel.h"
#include "platform/user.h"

using namespace win;

namespace {

LRESULT g_sum = 0;

void PrintHandle(HWND h) {
    std::printf("%llu\n", static_cast<unsigned long long>(h));
    std::fflush(stdout);
}

LRESULT PeerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
        case peer::kAdd:
            return static_cast<LRESULT>(w) + l;
        case peer::kPosted:
            g_sum += static_cast<LRESULT>(w);
            return 0;
        case peer::kSum:
            return g_sum;
        case peer::kSendBack:
            return SendMessageA(static_cast<HWND>(l), peer::kAdd, w, 1) + 100;
        case peer::kDestroy:
            DestroyWindow(h);
            return 0;
        case peer::kQuit:
            QCoreApplication::quit();
            return 0;
        case peer::kModal: {
            // Told only now, so that whatever the test sends meets the nested loop.
            PrintHandle(h);
            QEventLoop modal;
            modal.exec();  // left when kQuit ends every loop
            return 0;
        }
        default:
            return DefWindowProcA(h, m, w, l);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "send" && argc == 3) {
        const HWND target = std::strtoull(argv[2], nullptr, 10);
        SetLastError(0);
        const LRESULT r = SendMessageA(target, peer::kAdd, 2, 3);
        std::printf("%lld %u\n", static_cast<long long>(r), GetLastError());
        return 0;
    }

    QCoreApplication app(argc, argv);
    WNDCLASSA wc{};
    wc.lpfnWndProc = PeerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UserPeer";
    RegisterClassA(&wc);
    const HWND h = CreateWindowExA(0, "UserPeer", "", WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    if (!h)
        return 1;
    if (mode != "modal")
        PrintHandle(h);

    if (mode == "blocked") {
        std::string line;
        std::getline(std::cin, line);  // no pumping until the input closes
        return 0;
    }
    // The input closing ends the program, through the window's own queue.
    std::thread watch([h] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        PostMessageA(h, peer::kQuit, 0, 0);
    });
    watch.detach();
    if (mode == "modal")
        PostMessageA(h, peer::kModal, 0, 0);
    return app.exec();
}
