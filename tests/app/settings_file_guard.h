#pragma once
// The main window reads and writes Quilvane.ini beside the executable, which
// for a test program is its build folder. A guard, declared before the
// application object of a fixture, removes that file when the test starts and
// when it ends, so no test sees the records another one saved.

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/kernel.h"

class SettingsFileGuard {
public:
    SettingsFileGuard() { Remove(); }
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
