#pragma once
// Kernel area: error codes of the calling thread, thread and process ids, the
// module instance and the executable's path.

#include <string>

#include "platform/types.h"

namespace win {

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_ACCESS_DENIED_OTHER_THREAD = 5;
constexpr DWORD ERROR_TIMEOUT = 1460;

DWORD GetLastError();
void SetLastError(DWORD code);

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// The process's module instance; every window class of the program is
// registered for it.
HINSTANCE GetModuleHandleA(LPCSTR moduleName);

// Full path of the running executable (Linux: /proc/self/exe resolved).
std::string ExecutablePath();

// The Windows directory's counterpart, where programs keep their ini files: the
// user's configuration folder, $XDG_CONFIG_HOME or else $HOME/.config, without a
// trailing "/". Returns the length copied (without the NUL); when uSize is too
// small, the size needed (with the NUL) and nothing copied; 0 when neither
// variable is set.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);

}  // namespace win
