// Named mutexes as flock'ed files of the user's private runtime folder.
//
// Each handle is its own open of the object's file holding a shared lock, so
// the system drops it with the process, however the process ends. Whether an
// object exists is whether an exclusive lock on its file would be refused.
// Creating, opening and closing run under one exclusive lock of the folder's
// guard file, so a test for holders and the shared lock taken after it are one
// step for every other process, and a closer may remove a file nobody holds.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/product.h"
#include "platform/text.h"

namespace win {
namespace {

// The open handles: a number of ours for each lock descriptor (-1 for an
// unnamed object), and the file to remove when the last holder has gone.
struct MutexHandle {
    int Fd = -1;
    std::string Path;
};

std::mutex g_handlesLock;  // guards g_handles and g_nextHandle
std::map<std::uintptr_t, MutexHandle> g_handles;
std::uintptr_t g_nextHandle = 0x10000;

std::string MutexFileName(const std::string& name) {
    return "mutex-" + FileNameOf(name);
}

int FlockRetrying(int fd, int operation) {
    int r;
    do
        r = ::flock(fd, operation);
    while (r != 0 && errno == EINTR);
    return r;
}

// Whether some open of the file at path holds a lock on it (under the guard).
bool HeldByAnyone(const std::string& path) {
    const int probe = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (probe < 0)
        return false;
    const bool held = FlockRetrying(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(probe);
    return held;
}

HANDLE AddHandle(MutexHandle handle) {
    const std::lock_guard lock(g_handlesLock);
    const std::uintptr_t number = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(number, std::move(handle));
    return reinterpret_cast<HANDLE>(number);
}

// Creates (create) or opens the object lpName; see kernel.h.
HANDLE MakeMutexHandle(LPCSTR lpName, bool create) {
    const std::string folder = PrivateRuntimeFolder();
    if (folder.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::string file = MutexFileName(lpName);
    if (file.size() > 255) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::string path = folder + "/" + file;
    const FileLock guard(folder + "/mutex.guard", 0600);
    if (!guard.Held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const bool exists = HeldByAnyone(path);
    if (!exists && !create) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        FlockRetrying(fd, LOCK_SH) != 0) {
        if (fd >= 0)
            ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const HANDLE handle = AddHandle({fd, path});
    SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

HANDLE CreateMutexA(LPVOID /*lpMutexAttributes*/, BOOL bInitialOwner, LPCSTR lpName) {
    if (bInitialOwner) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!lpName) {
        const HANDLE handle = AddHandle({});
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    return MakeMutexHandle(lpName, true);
}

HANDLE OpenMutexA(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, LPCSTR lpName) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return MakeMutexHandle(lpName, false);
}

BOOL CloseHandle(HANDLE hObject) {
    MutexHandle closed;
    {
        const std::lock_guard lock(g_handlesLock);
        const auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(hObject));
        if (it == g_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        closed = std::move(it->second);
        g_handles.erase(it);
    }
    if (closed.Fd >= 0) {
        const std::string folder = closed.Path.substr(0, closed.Path.rfind('/'));
        const FileLock guard(folder + "/mutex.guard", 0600);
        ::close(closed.Fd);
        // The last holder takes the file with it; without the guard it stays,
        // which costs nothing but an empty file.
        if (guard.Held() && !HeldByAnyone(closed.Path))
            ::unlink(closed.Path.c_str());
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace win
