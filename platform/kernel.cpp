#include "platform/kernel.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

namespace win {
namespace {
thread_local DWORD t_lastError = 0;
char g_moduleInstance;
}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

DWORD GetCurrentThreadId() {
    thread_local const DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
    return id;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

HINSTANCE GetModuleHandleA(LPCSTR moduleName) {
    // Only the program's own module exists in this process.
    return moduleName ? nullptr : &g_moduleInstance;
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace win
