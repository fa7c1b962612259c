#pragma once
// Network drives area: connecting drive letters to SMB shares.
//
// A drive letter is an entry of the drives folder ($QUILVANE_DRIVES, default
// ~/Drives, created when missing): drive "Y:" is the entry "Y", a symbolic link
// into the share's mount. Shares are mounted through GIO (gvfs) as
// smb://host/share, once per share however many letters link into it; the
// password is handed to gvfs' one question in memory and is never saved, and a
// second question (the credentials were refused) aborts the mount, so no call
// ever prompts. The remote name is kept beside the link exactly as it was
// given. An entry that is not one of these links is a local drive.
//
// Where no session bus or gvfs daemon can be reached, the first call starts a
// private session bus with gvfsd and gvfsd-fuse and leaves them running, so
// drives stay mapped after the program ends. They run, and the bus address is
// recorded for later runs, only in the user's private runtime area
// (UserRuntimeFolder in platform/product.h), and only a record of the user's
// own, not reached through a link, is believed.
//
// Threads: any thread may call these functions. Calls are serialised within
// the process and across processes of the user (a lock file in the drives
// folder); each one blocks its caller until gvfs has answered or a bounded time
// has passed, and never runs the caller's event loop.

#include <string>

#include "platform/kernel.h"
#include "platform/types.h"

namespace win {

constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_BAD_DEV_TYPE = 66;
constexpr DWORD ERROR_BAD_NET_NAME = 67;
constexpr DWORD ERROR_ALREADY_ASSIGNED = 85;
constexpr DWORD ERROR_INVALID_PASSWORD = 86;
constexpr DWORD ERROR_BAD_DEVICE = 1200;
constexpr DWORD ERROR_BAD_PROVIDER = 1204;
constexpr DWORD ERROR_NO_NETWORK = 1222;
constexpr DWORD ERROR_NOT_CONNECTED = 2250;
constexpr DWORD ERROR_OPEN_FILES = 2401;

constexpr DWORD RESOURCETYPE_ANY = 0;
constexpr DWORD RESOURCETYPE_DISK = 1;

// Connections are never restored at the next logon, so this flag only means
// "also forget the remembered connection", of which there are none.
constexpr DWORD CONNECT_UPDATE_PROFILE = 0x1;
// Never honoured: no call prompts.
constexpr DWORD CONNECT_INTERACTIVE = 0x8;

struct NETRESOURCEA {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPSTR lpLocalName;
    LPSTR lpRemoteName;
    LPSTR lpComment;
    LPSTR lpProvider;
};
using LPNETRESOURCEA = NETRESOURCEA*;

// Mounts lpRemoteName ("\\host\share" or "\\host\share\folders") and, when
// lpLocalName is a drive ("Y:"), links the letter to it. A null or empty local
// name connects without a letter. lpUserName may be "DOMAIN\user". Null
// password or user name: none given. Only the null provider is known. A share
// that is mounted already (for another letter) is used as it is, without its
// credentials being checked again. Names with "." or ".." parts, control bytes
// or "/" are refused, so a letter never leads outside its share. On success the
// share's folder answers through its local path already.
// Returns NO_ERROR, ERROR_ALREADY_ASSIGNED (the letter's entry exists),
// ERROR_BAD_DEVICE (not a drive name), ERROR_BAD_NET_NAME (malformed name, no
// such share or folder), ERROR_INVALID_PASSWORD (credentials refused),
// ERROR_BAD_NETPATH (server unreachable or too slow), ERROR_NO_NETWORK (gvfs
// cannot be reached or started), ERROR_BAD_DEV_TYPE, ERROR_BAD_PROVIDER,
// ERROR_INVALID_PARAMETER.
DWORD WNetAddConnection2A(const NETRESOURCEA* lpNetResource, LPCSTR lpPassword, LPCSTR lpUserName,
                          DWORD dwFlags);

// Removes the letter's link (lpName "Y:") or a connection without a letter
// (lpName "\\host\share"), and unmounts the share when no other letter still
// links into it. With fForce the share is unmounted even with files open and
// even when its server no longer answers: a gvfs backend that cannot finish
// the unmount within seconds is ended, and the letter is freed whatever the
// unmount reports. Once unmounted, the share's gvfs backend process is given a
// moment to end and is ended otherwise, so that a new mount of the share is
// never answered through the old one. Without fForce open files keep the
// connection: ERROR_OPEN_FILES. A name that is not connected:
// ERROR_NOT_CONNECTED.
DWORD WNetCancelConnection2A(LPCSTR lpName, DWORD dwFlags, BOOL fForce);

// The remote name the drive lpLocalName ("Y:") was connected with, byte for
// byte as it was given, also while its server is unreachable. A local entry or
// a free letter: ERROR_NOT_CONNECTED; not a drive name: ERROR_BAD_DEVICE; a
// buffer of fewer than length + 1 bytes: ERROR_MORE_DATA with *lpnLength set to
// the size needed.
DWORD WNetGetConnectionA(LPCSTR lpLocalName, LPSTR lpRemoteName, DWORD* lpnLength);

// Our own additions.

// The drives folder, created (mode 0700) when missing; empty when it cannot be.
std::string NetDrivesFolder();

// The local path for a Windows-style path: "Y:\a\b" becomes the drives
// folder's "Y/a/b"; any other path is returned unchanged.
std::string LocalPathForWindowsPath(const std::string& path);

// False for a path on a drive ("Y:\...") that this layer connected and whose
// share is no longer mounted (a stale drive), whatever the kernel may still
// remember of the share's folder; true for every other path.
bool NetDriveMounted(const std::string& path);

}  // namespace win
