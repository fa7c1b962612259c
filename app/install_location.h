#pragma once
// Where this copy of the program is installed, and what follows from it.
//
// A packaged install is one whose executable lives under /usr (the Debian
// package puts it in /usr/bin; a hand install into /usr/local counts too):
// users cannot write there, so each user keeps the settings file in the user's
// configuration folder, and the package manager, not the program, replaces the
// program's files. Any other place is a relocatable install
// (`cmake --install build --prefix DIR`), which keeps the settings file beside
// the executable and may replace its own files.
//
// Threads: any.

#include <string>

namespace quilvane {

// Whether the executable at `exePath` (an absolute path with links resolved)
// is a packaged install.
bool IsPackagedInstall(const std::string& exePath);

// The same for the running executable.
bool IsPackagedInstall();

// The folder that holds "Quilvane.ini", with a trailing "/": for a packaged
// install "$XDG_CONFIG_HOME/Quilvane/" (default "~/.config/Quilvane/"), made
// owner-only (0700) when missing, like any configuration folder it lacks; else
// the executable's folder. When neither XDG_CONFIG_HOME nor HOME is set, a
// packaged install also answers the executable's folder, where the first save
// then fails visibly.
std::string SettingsFolder(const std::string& exePath);

// The same for the running executable.
std::string SettingsFolder();

}  // namespace quilvane
