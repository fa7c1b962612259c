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

// A folder of the user's runtime area that only the user can enter:
// $XDG_RUNTIME_DIR/quilvane, or /tmp/quilvane-UID where no runtime folder is
// set; made 0700 when missing. Empty when no such folder can be had (another
// user owns it or may write to it).
std::string PrivateRuntimeFolder();

// The user's runtime area itself: $XDG_RUNTIME_DIR (made when missing), or
// the private /tmp/quilvane-UID where it is not set. Empty when it cannot be
// had.
std::string UserRuntimeFolder();

}  // namespace win
