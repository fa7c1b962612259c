#pragma once
// Kernel area: error codes of the calling thread, thread and process ids, the
// module instance, the executable's path, and named mutexes.

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
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;

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

// Named mutexes: objects of the user's session (every process of this user on
// this machine that shares its runtime folder, PrivateRuntimeFolder in
// platform/product.h; a lock that must hold for every process using a file
// belongs beside that file instead, FileLock in platform/file.h). A named object exists while any
// process holds a handle to it and vanishes with its last holder, also when that holder is killed
// or crashes: a handle is a shared flock on a file named after the object, which the system drops
// with the process. Names are compared exactly (case counts, as on Windows for object names).
//
// The layer's mutexes are named objects only: nothing waits on them and no
// thread owns them, so bInitialOwner must be FALSE (TRUE fails with
// ERROR_INVALID_PARAMETER). Handles do not pass to child processes.
//
// Threads: any thread may call.

// Creates the mutex lpName, or opens it when it exists; then GetLastError is
// ERROR_ALREADY_EXISTS, else ERROR_SUCCESS. A null name makes an unnamed
// object of this process alone. Returns nullptr on failure (the runtime folder
// cannot be had: ERROR_ACCESS_DENIED; a name too long for a file name:
// ERROR_FILENAME_EXCED_RANGE). lpMutexAttributes is ignored.
HANDLE CreateMutexA(LPVOID lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);

// Opens the existing mutex lpName without creating it: nullptr with
// ERROR_FILE_NOT_FOUND when no process holds it. The handle keeps the object
// alive like any other. The access and inheritance arguments are ignored.
HANDLE OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

// Closes a handle made by CreateMutexA or OpenMutexA; the object vanishes with
// its last handle. FALSE with ERROR_INVALID_HANDLE for any other value.
BOOL CloseHandle(HANDLE hObject);

// The user's language as a Windows language id: the primary language in the
// low 10 bits, the sub-language above. Read from the locale variables
// (LC_ALL, LC_MESSAGES, LANG, first one set), "ll_CC"; a language we do not
// know, or "C"/"POSIX", is English (United States).
using LANGID = WORD;
LANGID GetSystemDefaultLangID();
inline WORD PRIMARYLANGID(LANGID id) {
    return static_cast<WORD>(id & 0x3FF);
}
inline WORD SUBLANGID(LANGID id) {
    return static_cast<WORD>(id >> 10);
}
inline LANGID MAKELANGID(WORD primary, WORD sub) {
    return static_cast<LANGID>((sub << 10) | primary);
}

}  // namespace win
