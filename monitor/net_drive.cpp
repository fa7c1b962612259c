#include "monitor/net_drive.h"

#include <algorithm>
#include <cstring>

#include "platform/wnet.h"

namespace quilvane {

bool NetUse(const std::string& Drive, const std::string& RemoteName, const std::string& Password,
            const std::string& UserName) {
    // The platform takes writable pointers; it only reads through them.
    std::string local = Drive;
    std::string remote = RemoteName;
    win::NETRESOURCEA resource{};
    resource.dwType = win::RESOURCETYPE_DISK;
    resource.lpLocalName = Drive.empty() ? nullptr : local.data();
    resource.lpRemoteName = remote.data();
    resource.lpProvider = nullptr;
    return win::WNetAddConnection2A(&resource, Password.c_str(), UserName.c_str(), 0) ==
           win::NO_ERROR;
}

bool NetDel(const std::string& Drive) {
    return win::WNetCancelConnection2A(Drive.c_str(), win::CONNECT_UPDATE_PROFILE, win::TRUE) ==
           win::NO_ERROR;
}

std::string PathForDrive(const std::string& Drive) {
    char localName[256] = {};
    // At most 255 characters of the name, always zero-terminated.
    std::memcpy(localName, Drive.data(), std::min<size_t>(Drive.size(), 255));
    char remoteName[256] = {};
    win::DWORD length = sizeof remoteName;
    if (win::WNetGetConnectionA(localName, remoteName, &length) != win::NO_ERROR)
        return {};
    return std::string(remoteName);
}

}  // namespace quilvane
