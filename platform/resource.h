#pragma once
// Resource area: the program's own resources, found by type and name as
// FindResourceA finds them in a module: FindResourceA, SizeofResource,
// LoadResource, LockResource.
//
// A name or type is either a number (MAKEINTRESOURCEA, or the text "#123")
// or a text compared without regard to ASCII case. The resources are
// compiled into the program as Qt resources under ":/win32/<TYPE>/<NAME>":
// TYPE is "BITMAP", "ICON", "RCDATA" for those standard types and the
// capitalised text of any other, NAME the capitalised name or "#<number>".
// The CMake function quilvane_resources() puts files there. The data lives
// as long as the process (freeing a resource is not needed).
//
// String tables (RT_STRING) are text files under ":/win32/STRING/": one
// string a line, "<id> <text>", with \r, \n and \\ standing for CR, LF and
// a backslash; lines starting with "#" are comments. LoadStringA finds a
// string by its number in any of them.
//
// Only the program's own module has resources: `module` is ignored.
//
// Threads: any thread.

#include <string>

#include "platform/module.h"
#include "platform/types.h"

namespace win {

using HRSRC = const void*;
using HGLOBAL = const void*;

inline LPCSTR MAKEINTRESOURCEA(WORD id) {
    return reinterpret_cast<LPCSTR>(ULONG_PTR{id});
}
inline bool IS_INTRESOURCE(LPCSTR p) {
    return (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0;
}

inline LPCSTR RT_BITMAP() {
    return MAKEINTRESOURCEA(2);
}
inline LPCSTR RT_ICON() {
    return MAKEINTRESOURCEA(3);
}
inline LPCSTR RT_STRING() {
    return MAKEINTRESOURCEA(6);
}
inline LPCSTR RT_RCDATA() {
    return MAKEINTRESOURCEA(10);
}
inline LPCSTR RT_GROUP_ICON() {
    return MAKEINTRESOURCEA(14);
}

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// nullptr with ERROR_RESOURCE_NAME_NOT_FOUND when there is no such resource.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
// Bytes of the resource; 0 for nullptr.
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The first byte of the loaded resource's data.
LPCSTR LockResource(HGLOBAL data);

// Copies string `id` into `buffer` (at most `bufferMax` - 1 bytes, cut at a
// character boundary, then a NUL) and returns its length; 0 when there is no
// such string.
int LoadStringA(HMODULE module, UINT id, LPSTR buffer, int bufferMax);

// Where FindResourceA looks for a resource: ":/win32/<TYPE>/<NAME>".
std::string ResourcePath(LPCSTR name, LPCSTR type);

}  // namespace win
