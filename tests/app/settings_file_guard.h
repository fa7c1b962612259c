#pragma once
// The main window reads and writes Quilvane.ini beside the executable, which
// for a test program is its build folder. A guard, declared before the
// application object of a fixture, removes that file when the test starts and
// when it ends, so no test sees the records another one saved.
//
// Such a window also checks for an upgrade as it starts, at its built-in
// address unless the file names another: the guard sends every HTTP request
// but those to loopback through a proxy on a loopback port that nobody
// serves, so no test ever reaches out of the machine.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/kernel.h"

class SettingsFileGuard {
public:
    SettingsFileGuard() {
        Remove();
        setenv("http_proxy", "http://127.0.0.1:9", 1);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
    }
    ~SettingsFileGuard() { Remove(); }
    SettingsFileGuard(const SettingsFileGuard&) = delete;
    SettingsFileGuard& operator=(const SettingsFileGuard&) = delete;

    static std::string Path() {
        const std::string exe = win::ExecutablePath();
        return exe.substr(0, exe.rfind('/') + 1) + "Quilvane.ini";
    }

private:
    static void Remove() {
        std::error_code ec;
        std::filesystem::remove(Path(), ec);
    }
};
