#include "platform/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/kernel.h"
#include "platform/wnet.h"

namespace win {

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!NetDriveMounted(lpFileName)) {
        SetLastError(ERROR_BAD_NETPATH);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string path = LocalPathForWindowsPath(lpFileName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        switch (errno) {
            case ENOENT:
                SetLastError(ERROR_FILE_NOT_FOUND);
                break;
            case EACCES:
            case EPERM:
                SetLastError(ERROR_ACCESS_DENIED);
                break;
            default:
                SetLastError(ERROR_PATH_NOT_FOUND);
                break;
        }
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (::access(path.c_str(), W_OK) != 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    std::string name = path;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    name =
        name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    if (name.size() > 1 && name[0] == '.' && name != "..")
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace win
