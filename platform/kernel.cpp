#include "platform/kernel.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace win {
namespace {
thread_local DWORD t_lastError = 0;
char g_moduleInstance;
}  // namespace

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}

DWORD GetCurrentThreadId() {
    thread_local const DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
    return id;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

HINSTANCE GetModuleHandleA(LPCSTR moduleName) {
    // Only the program's own module exists in this process.
    return moduleName ? nullptr : &g_moduleInstance;
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    std::string dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        dir = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = std::string(home) + "/.config";
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (!lpBuffer || dir.size() + 1 > uSize)
        return static_cast<UINT>(dir.size() + 1);
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

}  // namespace win
