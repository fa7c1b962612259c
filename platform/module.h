#pragma once
// Kernel area, run-time loading: LoadLibraryA, GetProcAddress, FreeLibrary.
//
// A library is asked for by its Windows name. The program's own libraries are
// private to it: they are found in a folder named after the program in the
// lib/ folder beside the executable's bin/ folder (the build tree and an
// installed tree look alike), so an installed copy can be moved:
//   "icmp.dll"   the build's ICMP library in lib/<program>/, or the file named
//                by the program's variable ICMP_LIBRARY (see product.h) when set
//   "uxtheme.dll"  the build's visual-styles library in lib/<program>/, or the
//                file named by the program's variable UXTHEME_LIBRARY
//   "wininet.dll"  the build's internet library (libcurl) in lib/<program>/, or
//                the file named by the program's variable INET_LIBRARY
// Any other name fails with ERROR_MOD_NOT_FOUND unless it is a path (holds a
// "/"), which is loaded as it is.
//
// A library of ours may export "WinAttachModule"; it is called once
// after loading with the kernel's services, so the library reports errors
// through the same last error as the program.
//
// Threads: any thread.

#include <string>

#include "platform/types.h"

namespace win {

using HMODULE = void*;
using FARPROC = void (*)();

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// What a library of ours gets from the program when it is loaded.
struct KernelServices {
    void (*SetLastError)(DWORD code);
    DWORD (*GetLastError)();
};
using PWinAttachModule = void (*)(const KernelServices* services);

// nullptr with ERROR_MOD_NOT_FOUND when the library cannot be found or loaded.
HMODULE LoadLibraryA(LPCSTR fileName);
// nullptr with ERROR_PROC_NOT_FOUND when the library has no such entry.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// The file LoadLibraryA would load for `fileName`, or "" when there is none.
std::string LibraryPath(LPCSTR fileName);

// Where the tree of the executable at `exePath` keeps the library of ours
// named `fileName` ("icmp.dll"), whatever the environment says; "" for a name
// that is not one of ours.
std::string OwnLibraryPath(const std::string& exePath, LPCSTR fileName);

}  // namespace win
