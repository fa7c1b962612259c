// A small program for the notification-area tests: it puts an icon into the
// tray of its display and prints what reaches the icon's window, one line per
// message ("callback CODE", "taskbarcreated", "add 1"). Commands on standard
// input, one per line: "add", "modify TIP", "basic TIP" (a basic-size record),
// "balloon TITLE|TEXT", "delete", "sound ALIAS", "quit".
// Arguments: the tip, or "--no-icon" to start without an icon (the idle
// program without the tray, for the benchmark).
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/icon.h"
#include "platform/kernel.h"
#include "platform/notify_icon.h"
#include "platform/sound.h"

using namespace win;

namespace {

constexpr UINT kCallback = 14948;
HWND g_window = 0;
HICON g_icon = nullptr;
std::string g_tip = "Tray probe";
bool g_basic = false;

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

BOOL Notify(DWORD command, const std::string& infoTitle = {}, const std::string& info = {}) {
    NOTIFYICONDATAA d{};
    d.cbSize = g_basic ? NOTIFYICONDATAA_V1_SIZE : NOTIFYICONDATAA_V2_SIZE;
    d.hWnd = g_window;
    d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | (info.empty() ? 0 : NIF_INFO);
    d.uCallbackMessage = kCallback;
    d.hIcon = g_icon;
    std::strncpy(d.szTip, g_tip.c_str(), sizeof d.szTip - 1);
    std::strncpy(d.szInfo, info.c_str(), sizeof d.szInfo - 1);
    std::strncpy(d.szInfoTitle, infoTitle.c_str(), sizeof d.szInfoTitle - 1);
    d.dwInfoFlags = NIIF_INFO;
    d.uTimeout = 10000;
    return Shell_NotifyIconA(command, &d);
}

LRESULT ProbeProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    static const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    if (m == kCallback) {
        Say("callback " + std::to_string(l));
        return 0;
    }
    if (m == taskbarCreated) {
        Say("taskbarcreated");
        Say("add " + std::to_string(Notify(NIM_ADD)));
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

void Command(const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "add") {
        Say("add " + std::to_string(Notify(NIM_ADD)));
    } else if (verb == "modify" || verb == "basic") {
        g_tip = arg;
        g_basic = verb == "basic";
        Say("modify " + std::to_string(Notify(NIM_MODIFY)));
    } else if (verb == "balloon") {
        const auto bar = arg.find('|');
        Say("balloon " +
            std::to_string(Notify(NIM_MODIFY, arg.substr(0, bar), arg.substr(bar + 1))));
    } else if (verb == "delete") {
        Say("delete " + std::to_string(Notify(NIM_DELETE)));
    } else if (verb == "sound") {
        Say("sound " + std::to_string(PlaySoundA(arg.c_str(), nullptr, SND_ASYNC | SND_NODEFAULT)));
    } else if (verb == "quit") {
        QCoreApplication::quit();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TrayProbe";
    RegisterClassA(&wc);
    g_window =
        CreateWindowExA(0, "TrayProbe", "", 0, 0, 0, 0, 0, 0, nullptr, wc.hInstance, nullptr);
    g_icon = LoadIconA(nullptr, IDI_APPLICATION);
    const bool icon = !(argc > 1 && std::strcmp(argv[1], "--no-icon") == 0);
    if (argc > 1 && icon)
        g_tip = argv[1];
    Say(icon ? "add " + std::to_string(Notify(NIM_ADD)) : std::string("no icon"));
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        Command(line);
    });
    const int rc = app.exec();
    Notify(NIM_DELETE);
    DestroyIcon(g_icon);
    DestroyWindow(g_window);
    return rc;
}
