#include "platform/wnet.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/kernel.h"
#include "platform/wnet_internal.h"

namespace win {
namespace {

using wnet::CharPtr;
using wnet::Credentials;
using wnet::DriveTransaction;

std::optional<char> ParseDriveName(const char* name) {
    if (!name || !std::isalpha(static_cast<unsigned char>(name[0])) || name[1] != ':' || name[2])
        return std::nullopt;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
}

struct RemoteName {
    std::string host;
    std::string share;
    std::vector<std::string> folders;
};

std::optional<RemoteName> ParseRemoteName(const char* name) {
    if (!name || name[0] != '\\' || name[1] != '\\')
        return std::nullopt;
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = name + 2;; ++c) {
        const unsigned char ch = static_cast<unsigned char>(*c);
        if (ch == '\\' || ch == 0) {
            if (part.empty() && ch == '\\')
                return std::nullopt;  // "\\\\" inside the name
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (ch == 0)
                break;
            continue;
        }
        // Control bytes never belong to a share name; '/' would change the
        // meaning of the path on this side.
        if (ch < 32 || ch == '/')
            return std::nullopt;
        part += static_cast<char>(ch);
    }
    if (parts.size() < 2)
        return std::nullopt;
    for (const auto& p : parts) {
        if (p == "." || p == "..")
            return std::nullopt;
    }
    RemoteName r{parts[0], parts[1], {parts.begin() + 2, parts.end()}};
    return r;
}

// The share's location as gvfs names its mount: host and share names are
// case-blind in SMB, and gvfs finds the mount again only by the lowercase one.
std::string ShareUri(const RemoteName& r) {
    CharPtr lowerHost(g_ascii_strdown(r.host.c_str(), -1));
    CharPtr lowerShare(g_utf8_validate(r.share.c_str(), -1, nullptr)
                           ? g_utf8_strdown(r.share.c_str(), -1)
                           : g_ascii_strdown(r.share.c_str(), -1));
    CharPtr host(
        g_uri_escape_string(lowerHost.get(), G_URI_RESERVED_CHARS_SUBCOMPONENT_DELIMITERS, FALSE));
    CharPtr share(g_uri_escape_string(lowerShare.get(), nullptr, FALSE));
    return std::string("smb://") + host.get() + "/" + share.get();
}

Credentials SplitCredentials(LPCSTR user, LPCSTR password) {
    Credentials c;
    std::string u = user ? user : "";
    if (const auto slash = u.find('\\'); slash != std::string::npos) {
        c.domain = u.substr(0, slash);
        u = u.substr(slash + 1);
    }
    c.user = u;
    c.password = password ? password : "";
    return c;
}

DWORD Answer(DWORD code) {
    SetLastError(code);
    return code;
}

}  // namespace

std::string LocalPathForWindowsPath(const std::string& path) {
    if (path.size() < 2 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':')
        return path;
    std::string local =
        NetDrivesFolder() + "/" +
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    for (size_t i = 2; i < path.size(); ++i)
        local += path[i] == '\\' ? '/' : path[i];
    return local;
}

bool NetDriveMounted(const std::string& path) {
    if (path.size() < 2 || path[1] != ':')
        return true;
    const auto letter = ParseDriveName(path.substr(0, 2).c_str());
    if (!letter)
        return true;
    DriveTransaction drives;
    const auto record = drives.Find(*letter);
    return !record || wnet::FuseLists(record->root);
}

DWORD WNetAddConnection2A(const NETRESOURCEA* lpNetResource, LPCSTR lpPassword, LPCSTR lpUserName,
                          DWORD /*dwFlags*/) {
    if (!lpNetResource)
        return Answer(ERROR_INVALID_PARAMETER);
    if (lpNetResource->dwType != RESOURCETYPE_DISK && lpNetResource->dwType != RESOURCETYPE_ANY)
        return Answer(ERROR_BAD_DEV_TYPE);
    if (lpNetResource->lpProvider && *lpNetResource->lpProvider)
        return Answer(ERROR_BAD_PROVIDER);
    const auto remote = ParseRemoteName(lpNetResource->lpRemoteName);
    if (!remote)
        return Answer(ERROR_BAD_NET_NAME);
    std::optional<char> letter;
    if (lpNetResource->lpLocalName && *lpNetResource->lpLocalName) {
        letter = ParseDriveName(lpNetResource->lpLocalName);
        if (!letter)
            return Answer(ERROR_BAD_DEVICE);
    }

    DriveTransaction drives;
    if (!drives.Ok())
        return Answer(ERROR_BAD_DEVICE);
    // A letter of an earlier session goes here, so that it is mapped again now.
    if (letter && (drives.Find(*letter) || drives.EntryExists(*letter)))
        return Answer(ERROR_ALREADY_ASSIGNED);
    if (!wnet::EnsureGvfsSession())
        return Answer(ERROR_NO_NETWORK);

    const std::string uri = ShareUri(*remote);
    bool mountedNow = false;
    if (DWORD rc = wnet::MountShare(uri, SplitCredentials(lpUserName, lpPassword), &mountedNow))
        return Answer(rc);

    const std::string root = wnet::LocalPathOf(uri);
    // Undoes this call's mount when the letter cannot be made after all,
    // unless another letter has come to use it meanwhile.
    auto undo = [&](DWORD code) {
        if (mountedNow && (root.empty() || !drives.OtherLetterUses(root, letter.value_or(0))))
            wnet::UnmountShare(uri, true);
        return Answer(code);
    };
    if (root.empty())
        return undo(ERROR_NOT_SUPPORTED);
    std::string target = root;
    std::string folderUri = uri;
    for (const auto& f : remote->folders) {
        target += "/" + f;
        CharPtr escaped(g_uri_escape_string(f.c_str(), nullptr, FALSE));
        folderUri += std::string("/") + escaped.get();
    }
    if (!remote->folders.empty() && !wnet::IsRemoteFolder(folderUri))
        return undo(ERROR_BAD_NET_NAME);
    if (!wnet::WaitForLocalPath(root, true))
        return undo(ERROR_NOT_SUPPORTED);
    if (!letter)
        return Answer(NO_ERROR);
    if (const DWORD rc = drives.Link(*letter, {lpNetResource->lpRemoteName, uri, root, target, {}}))
        return undo(rc);
    return Answer(NO_ERROR);
}

DWORD WNetCancelConnection2A(LPCSTR lpName, DWORD /*dwFlags*/, BOOL fForce) {
    const auto letter = ParseDriveName(lpName);
    const auto remote = letter ? std::nullopt : ParseRemoteName(lpName);
    if (!letter && !remote)
        return Answer(ERROR_NOT_CONNECTED);

    DriveTransaction drives;
    if (!drives.Ok())
        return Answer(ERROR_NOT_CONNECTED);

    if (remote) {
        // A connection without a letter: the share's mount that no letter uses.
        if (!wnet::EnsureGvfsSession())
            return Answer(ERROR_NOT_CONNECTED);
        const std::string uri = ShareUri(*remote);
        const std::string root = wnet::LocalPathOf(uri);
        if (root.empty() || drives.OtherLetterUses(root, 0))
            return Answer(ERROR_NOT_CONNECTED);
        return Answer(wnet::UnmountShare(uri, fForce));
    }

    const auto record = drives.Find(*letter);
    if (!record)
        return Answer(ERROR_NOT_CONNECTED);
    if (!drives.OtherLetterUses(record->root, *letter) && wnet::EnsureGvfsSession()) {
        const DWORD rc = wnet::UnmountShare(record->uri, fForce);
        // Forced, the letter goes whatever the share's server says.
        if (rc != NO_ERROR && !fForce)
            return Answer(rc);
    }
    drives.Remove(*letter);
    return Answer(NO_ERROR);
}

DWORD WNetGetConnectionA(LPCSTR lpLocalName, LPSTR lpRemoteName, DWORD* lpnLength) {
    if (!lpnLength)
        return Answer(ERROR_INVALID_PARAMETER);
    const auto letter = ParseDriveName(lpLocalName);
    if (!letter)
        return Answer(ERROR_BAD_DEVICE);

    DriveTransaction drives;
    const auto record = drives.Find(*letter);
    if (!record)
        return Answer(ERROR_NOT_CONNECTED);
    const DWORD needed = static_cast<DWORD>(record->remote.size() + 1);
    if (!lpRemoteName || *lpnLength < needed) {
        *lpnLength = needed;
        return Answer(ERROR_MORE_DATA);
    }
    std::memcpy(lpRemoteName, record->remote.c_str(), needed);
    return Answer(NO_ERROR);
}

}  // namespace win
