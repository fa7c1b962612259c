#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/kernel.h"
#include "platform/wnet.h"

namespace win {
namespace {

// An open file descriptor, closed on every path out.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports the result, which matters after writing.
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// A named temporary is "." + file name + kTempMark + six letters or digits.
constexpr const char* kTempMark = ".tmp~";
constexpr std::size_t kTempRandom = 6;
// A named temporary that has not changed for this long is an earlier crash's.
constexpr time_t kStaleSeconds = 60;
constexpr int kMaxLinkHops = 40;

// The file that a write to path reaches: symbolic links followed, also to a
// name that does not exist yet. 0 or the errno of the failure.
int ResolveTarget(const std::string& path, std::string& target, bool& exists, struct stat& st) {
    std::string p = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return errno;
            target = p;
            exists = false;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = p;
            exists = true;
            return 0;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n < 0)
            return errno;
        if (static_cast<std::size_t>(n) >= link.size())
            return ENAMETOOLONG;
        link.resize(static_cast<std::size_t>(n));
        if (link.empty())
            return ENOENT;
        if (link[0] != '/') {
            const std::size_t slash = p.rfind('/');
            if (slash != std::string::npos)
                link.insert(0, p.substr(0, slash + 1));
        }
        p = std::move(link);
    }
    return ELOOP;
}

std::string RandomLetters(std::size_t count) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[16] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy to be had: the pid and clock still make clashes unlikely,
        // and a clash only means one more try.
        const auto seed = static_cast<unsigned long>(::getpid()) ^
                          static_cast<unsigned long>(std::time(nullptr)) ^
                          reinterpret_cast<std::uintptr_t>(&bytes);
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(seed >> (i % 8 * 8));
    }
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += kAlphabet[bytes[i % sizeof bytes] % (sizeof kAlphabet - 1)];
    return out;
}

bool IsTempName(const std::string& entry, const std::string& prefix) {
    if (entry.size() != prefix.size() + kTempRandom || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < entry.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(entry[i]);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Removes our own named temporaries of this file that an earlier process left
// when it died between naming and renaming one. A live writer's temporary is
// seconds old at most, so it is never taken.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    const time_t now = std::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (!IsTempName(name, prefix))
            continue;
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            now - st.st_mtime > kStaleSeconds) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(d);
}

int WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Gives the unnamed temporary behind fd the name temp. 0 or the errno.
int NameTemporary(int fd, const std::string& temp) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int viaProc = errno;
    // Without /proc, a privileged writer can still name the file directly.
    if (::linkat(fd, "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    return viaProc == ENOENT ? errno : viaProc;
}

int Replace(const std::string& path, std::string_view data, unsigned newFileMode) {
    if (path.empty())
        return ENOENT;
    std::string target;
    bool exists = false;
    struct stat old {};
    if (const int err = ResolveTarget(path, target, exists, old))
        return err;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return EISDIR;
        if (!S_ISREG(old.st_mode))
            return EINVAL;
        // A file without any write bit is read-only for everyone, root too,
        // as the read-only attribute is on Windows.
        if ((old.st_mode & 0222) == 0)
            return EACCES;
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return errno;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                            : slash == 0               ? std::string("/")
                                                       : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string prefix = "." + base + kTempMark;
    RemoveStaleTemporaries(dir, prefix);

    // An unnamed temporary vanishes by itself when we fail or die before it
    // is named; file systems without them get a named one that we remove.
    std::string temp;
    Fd fd(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    const bool unnamed = fd.get() >= 0;
    if (!unnamed) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
        temp = dir + "/" + prefix + "XXXXXX";
        fd.reset(::mkostemp(temp.data(), O_CLOEXEC));
        if (fd.get() < 0)
            return errno;
    }
    int err = 0;
    auto failed = [&](int e) {
        if (!temp.empty())
            ::unlink(temp.c_str());
        return e;
    };
    if (::fchmod(fd.get(), exists ? old.st_mode & 07777 : newFileMode & 07777) != 0)
        return failed(errno);
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Only a privileged writer can hand the file back to its owner; for
        // anyone else the replacement is theirs, which a per-user file allows.
        (void)::fchown(fd.get(), old.st_uid, old.st_gid);
    }
    if ((err = WriteAll(fd.get(), data)) != 0)
        return failed(err);
    // The data must be on the disk before the rename makes it the file.
    if (::fdatasync(fd.get()) != 0)
        return failed(errno);
    if (unnamed) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = dir + "/" + prefix + RandomLetters(kTempRandom);
            err = NameTemporary(fd.get(), name);
            if (err == 0) {
                temp = name;
                break;
            }
            if (err != EEXIST)
                return failed(err);
        }
        if (temp.empty())
            return failed(EEXIST);
    }
    if (fd.Close() != 0)
        return failed(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return failed(errno);
    // The rename itself reaches the disk with the folder. A failure here
    // cannot be undone and the new content is in place for every reader, so
    // it is not reported.
    Fd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        (void)::fsync(folder.get());
    return 0;
}

}  // namespace

DWORD WindowsErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EINVAL:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        default:
            return ERROR_IO_DEVICE;
    }
}

namespace {

int ReadContents(const std::string& path, std::string& out, std::size_t maxSize, bool ownOnly) {
    out.clear();
    Fd fd(::open(path.c_str(),
                 O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (ownOnly ? O_NOFOLLOW : 0)));
    if (fd.get() < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (ownOnly && st.st_uid != ::geteuid())
        return EPERM;
    if (static_cast<std::uintmax_t>(st.st_size) > maxSize)
        return EFBIG;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        // The file may grow while it is read.
        if (static_cast<std::size_t>(n) > maxSize - out.size())
            return EFBIG;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace

int ReadFileContents(const std::string& path, std::string& out, std::size_t maxSize) {
    return ReadContents(path, out, maxSize, false);
}

int ReadPrivateFile(const std::string& path, std::string& out, std::size_t maxSize) {
    return ReadContents(path, out, maxSize, true);
}

std::string FileWriteTarget(const std::string& path) {
    std::string target;
    bool exists = false;
    struct stat st {};
    return ResolveTarget(path, target, exists, st) == 0 ? target : path;
}

int ReplaceFileContents(const std::string& path, std::string_view data, unsigned newFileMode) {
    const int err = Replace(path, data, newFileMode);
    SetLastError(WindowsErrorFromErrno(err));
    return err;
}

int MakeFolders(const std::string& path, unsigned mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int err = MakeFolders(path.substr(0, slash), mode))
            return err;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

namespace {

// Whether a folder above a private one keeps it private: a user who may write
// in it could move the private folder away and put one of his own in its
// place. Root's folders and the user's own are fine, and so is a shared
// folder with the sticky bit (/tmp), where only an entry's owner may move it;
// a folder writable by its group only when that group is the user's own.
bool SafeAncestor(const struct stat& st) {
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return false;
    if (st.st_mode & S_ISVTX)
        return true;
    if (st.st_mode & S_IWOTH)
        return false;
    return !(st.st_mode & S_IWGRP) || st.st_gid == ::getegid();
}

// The first folder of the path to `folder` (resolved, without links) that
// another user may change, or an empty text when there is none.
std::string UnsafeAncestor(const std::string& resolved) {
    struct stat top {};
    if (::stat("/", &top) != 0 || !SafeAncestor(top))
        return "/";
    std::string prefix;
    std::size_t at = 0;
    do {
        const std::size_t slash = resolved.find('/', at + 1);
        prefix = resolved.substr(0, slash == std::string::npos ? resolved.size() : slash);
        at = slash;
        struct stat st {};
        if (::stat(prefix.empty() ? "/" : prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            !SafeAncestor(st))
            return prefix.empty() ? "/" : prefix;
    } while (at != std::string::npos);
    return {};
}

}  // namespace

std::string PrivateFolderProblem(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return "is not an absolute path";
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // Nothing is made in folders that another user may change.
    std::string existing = folder;
    struct stat st {};
    while (::stat(existing.c_str(), &st) != 0 && existing.size() > 1)
        existing = existing.substr(0, std::max<std::size_t>(existing.rfind('/'), 1));
    char resolved[PATH_MAX];
    if (::realpath(existing.c_str(), resolved)) {
        if (const std::string unsafe = UnsafeAncestor(resolved);
            !unsafe.empty() && existing != folder)
            return "lies in " + unsafe + ", which another user may change";
    }
    // What is there is checked below, whatever made it.
    (void)MakeFolders(folder, 0700);
    const std::size_t slash = folder.rfind('/');
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    if (!::realpath(parent.c_str(), resolved))
        return "cannot be made (" + std::string(std::strerror(errno)) + ")";
    if (const std::string unsafe = UnsafeAncestor(resolved); !unsafe.empty())
        return "lies in " + unsafe + ", which another user may change";
    const std::string name = folder.substr(slash + 1);
    const std::string real = std::string(resolved) + (resolved[1] ? "/" : "") + name;
    Fd fd(::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ELOOP || (::lstat(real.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
            return "is a symbolic link";
        errno = err;
        if (errno == ENOTDIR)
            return "is not a folder";
        return "cannot be opened (" + std::string(std::strerror(errno)) + ")";
    }
    if (::fstat(fd.get(), &st) != 0)
        return "cannot be examined (" + std::string(std::strerror(errno)) + ")";
    if (st.st_uid != ::geteuid())
        return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    // Ours but open to others: closed, as it should have been made.
    if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0)
        return "is open to other users and cannot be closed to them";
    return {};
}

bool EnsurePrivateFolder(const std::string& path) {
    return PrivateFolderProblem(path).empty();
}

namespace {

// A lock file is trusted when it is a regular file of the user's own (or
// root's, who may make it beside a file of his) that no one else may write.
int CheckLockFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    if ((st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & 022) != 0)
        return EPERM;
    return 0;
}

// What a wait for a lock that is busy shares with the thread that waits: the
// thread takes the lock on its own descriptor and hands it over, or, when the
// waiter has given up, lets it go again.
struct LockWait {
    std::mutex Lock;  // guards the fields below
    std::condition_variable Done;
    bool Finished = false;
    bool Abandoned = false;
    int Fd = -1;
    int Error = 0;
};

}  // namespace

FileLock::FileLock(const std::string& path, unsigned mode, std::chrono::milliseconds timeout,
                   bool shared) {
    // Read-only is enough for flock, so a lock file that root made beside a
    // user's file can still be taken by that user.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    if (const int err = CheckLockFile(fd_)) {
        Fail(err);
        return;
    }
    const int operation = shared ? LOCK_SH : LOCK_EX;
    int r;
    do
        r = ::flock(fd_, operation | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0)
        return;
    if (errno != EWOULDBLOCK) {
        Fail(errno);
        return;
    }
    if (timeout.count() == 0) {
        Fail(EWOULDBLOCK);
        return;
    }
    if (timeout == std::chrono::milliseconds::max()) {
        do
            r = ::flock(fd_, operation);
        while (r != 0 && errno == EINTR);
        if (r != 0)
            Fail(errno);
        return;
    }
    // flock has no time limit of its own: a thread waits on a second open of
    // the file, and is left to let the lock go should it come after the
    // caller has given up.
    auto wait = std::make_shared<LockWait>();
    const int second =
        ::open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (second < 0) {
        Fail(errno);
        return;
    }
    std::thread([wait, second, operation] {
        int rc;
        do
            rc = ::flock(second, operation);
        while (rc != 0 && errno == EINTR);
        const int err = rc == 0 ? 0 : errno;
        std::lock_guard guard(wait->Lock);
        if (wait->Abandoned || err) {
            ::close(second);
        } else {
            wait->Fd = second;
        }
        wait->Error = err;
        wait->Finished = true;
        wait->Done.notify_all();
    }).detach();
    std::unique_lock guard(wait->Lock);
    if (!wait->Done.wait_for(guard, timeout, [&] { return wait->Finished; })) {
        wait->Abandoned = true;
        guard.unlock();
        Fail(ETIMEDOUT);
        return;
    }
    if (wait->Error) {
        guard.unlock();
        Fail(wait->Error);
        return;
    }
    ::close(fd_);
    fd_ = wait->Fd;
}

void FileLock::Fail(int err) {
    error_ = err;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), error_(other.error_) {
    other.fd_ = -1;
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_);  // releases the lock
}

bool FileLockBusy(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    const bool busy = r != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}

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
