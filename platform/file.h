#pragma once
// File area: attributes of files and folders, for Windows-style paths ("Y:\",
// a drive of the drives folder) and plain local paths alike.
//
// Threads: any thread may call.

#include "platform/types.h"

namespace win {

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;

// The attributes of the file or folder at lpFileName, following symbolic links
// (so "Y:\" looks at what the drive's entry points to), or
// INVALID_FILE_ATTRIBUTES with the reason in GetLastError.
DWORD GetFileAttributesA(LPCSTR lpFileName);

}  // namespace win
