#include "platform/kernel.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

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

LANGID GetSystemDefaultLangID() {
    // ISO 639-1 codes and their Windows primary language ids.
    static constexpr struct {
        const char* code;
        WORD primary;
    } kLanguages[] = {
        {"ar", 1},  {"bg", 2},  {"ca", 3},  {"zh", 4},  {"cs", 5},  {"da", 6},  {"de", 7},
        {"el", 8},  {"en", 9},  {"es", 10}, {"fi", 11}, {"fr", 12}, {"he", 13}, {"hu", 14},
        {"is", 15}, {"it", 16}, {"ja", 17}, {"ko", 18}, {"nl", 19}, {"nb", 20}, {"nn", 20},
        {"no", 20}, {"pl", 21}, {"pt", 22}, {"ro", 24}, {"ru", 25}, {"hr", 26}, {"sk", 27},
        {"sq", 28}, {"sv", 29}, {"th", 30}, {"tr", 31}, {"ur", 32}, {"id", 33}, {"uk", 34},
        {"be", 35}, {"sl", 36}, {"et", 37}, {"lv", 38}, {"lt", 39}, {"fa", 41}, {"vi", 42},
        {"hy", 43}, {"az", 44}, {"eu", 45}, {"mk", 47}, {"af", 54}, {"ka", 55}, {"hi", 57},
        {"ms", 62}, {"kk", 63}, {"sw", 65},
    };
    constexpr LANGID kEnglishUs = 0x0409;
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value) {
            locale = value;
            break;
        }
    if (!locale)
        return kEnglishUs;
    const std::string text = locale;
    const std::string language = text.substr(0, text.find_first_of("_.@"));
    std::string country;
    if (const size_t at = text.find('_'); at != std::string::npos)
        country = text.substr(at + 1, text.find_first_of(".@", at) - at - 1);
    for (const auto& l : kLanguages) {
        if (language != l.code)
            continue;
        WORD sub = 1;         // the language's main country
        if (l.primary == 22)  // Brazil 1, Portugal 2
            sub = country == "BR" ? 1 : 2;
        else if (l.primary == 4)  // Taiwan 1, China 2, Hong Kong 3, Singapore 4, Macao 5
            sub = country == "CN"   ? 2
                  : country == "HK" ? 3
                  : country == "SG" ? 4
                  : country == "MO" ? 5
                                    : 1;
        return MAKELANGID(l.primary, sub);
    }
    return kEnglishUs;
}

}  // namespace win
