#pragma once
// Icon area: icon handles. An HICON stands for one image in one or more sizes;
// the tray and the windows show it at the size they need. Handles are made by
// LoadIconA, CopyIcon or CreateIconFromImage and freed by DestroyIcon.
//
// Threads: any thread may make and free handles; images are read on the
// main thread (where they are shown).

#include <QIcon>

#include "platform/resource.h"
#include "platform/types.h"

namespace win {

// The system's plain application icon.
inline const LPCSTR IDI_APPLICATION = reinterpret_cast<LPCSTR>(32512);

// Loads the icon resource `name` of the program (type ICON, see the resource
// area); IDI_APPLICATION is the system's plain application icon. Returns
// nullptr with ERROR_RESOURCE_NAME_NOT_FOUND when there is no such resource.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HICON CopyIcon(HICON icon);
BOOL DestroyIcon(HICON icon);

// Our own additions, for the framework's image objects: a handle for an image
// (nullptr for an empty one), and the image behind a handle (empty for nullptr
// or a freed handle).
HICON CreateIconFromImage(const QIcon& image);
QIcon IconImage(HICON icon);

}  // namespace win
