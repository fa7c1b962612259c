#pragma once
// The program that the layer serves, as the build names it (the project's
// name). The layer's folders, environment variables and window class names are
// made from it, so no file of platform/ or framework/ names the program.

#include <string>

namespace win {

// As the program spells it, e.g. "Quilvane": folders such as
// <config>/Quilvane/registry, window classes such as "TQuilvaneForm".
const std::string& ProductName();

// In lower case, for file and folder names: "quilvane".
std::string ProductLowerName();

// The name of the program's environment variable `what`: "DRIVES" gives
// "QUILVANE_DRIVES".
std::string ProductVariable(const std::string& what);

// The user's runtime area: $XDG_RUNTIME_DIR where it is a private folder of
// the user's (platform/file.h, EnsurePrivateFolder: a real folder, the
// user's, closed to others, in folders no other user may change; made when
// missing). Where it is not set or fails that rule (a su shell keeps another
// user's), a folder that no other user can make or change stands in:
// "runtime-HOST" in the program's folder of the user's cache folder
// ($XDG_CACHE_HOME, else $HOME/.cache; the home folder of the password
// database where HOME is not set; HOST is this machine's name, as a home may be shared), e.g.
// ~/.cache/quilvane/runtime-pc1, made 0700. Empty when no such folder can be
// had; then `why`, when given, gets the reason for a message.
std::string UserRuntimeFolder(std::string* why = nullptr);

// The layer's own folder in the runtime area, UserRuntimeFolder()/quilvane,
// private as that one is: the home of named mutexes, window handles and
// message sockets. Empty (with the reason in `why`) when it cannot be had.
std::string PrivateRuntimeFolder(std::string* why = nullptr);

}  // namespace win
