#include "app/install_location.h"

#include <sys/stat.h>

#include <vector>

#include "platform/kernel.h"

namespace quilvane {

namespace {

std::string FolderOf(const std::string& exePath) {
    return exePath.substr(0, exePath.rfind('/') + 1);
}

// The user's configuration folder, without a trailing "/"; empty when unknown.
std::string UserConfigFolder() {
    const win::UINT size = win::GetWindowsDirectoryA(nullptr, 0);
    if (size == 0)
        return {};
    std::vector<char> folder(size);
    win::GetWindowsDirectoryA(folder.data(), size);
    return folder.data();
}

// Makes `path` and each missing folder above it owner-only; existing folders
// keep their mode. A failure shows when the settings file is written.
void MakeOwnerOnlyFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
}

}  // namespace

bool IsPackagedInstall(const std::string& exePath) {
    return exePath.starts_with("/usr/");
}

bool IsPackagedInstall() {
    return IsPackagedInstall(win::ExecutablePath());
}

std::string SettingsFolder(const std::string& exePath) {
    if (!IsPackagedInstall(exePath))
        return FolderOf(exePath);
    const std::string config = UserConfigFolder();
    if (config.empty())
        return FolderOf(exePath);
    const std::string folder = config + "/Quilvane";
    MakeOwnerOnlyFolders(folder);
    return folder + "/";
}

std::string SettingsFolder() {
    return SettingsFolder(win::ExecutablePath());
}

}  // namespace quilvane
