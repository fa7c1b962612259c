#pragma once
// File area: attributes of files and folders, for Windows-style paths ("Y:\",
// a drive of the drives folder) and plain local paths alike, and the one
// careful way this layer and the components replace a file's content.
//
// Threads: any thread may call.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace win {

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_IO_DEVICE = 1117;

// The attributes of the file or folder at lpFileName, following symbolic links
// (so "Y:\" looks at what the drive's entry points to), or
// INVALID_FILE_ATTRIBUTES with the reason in GetLastError.
DWORD GetFileAttributesA(LPCSTR lpFileName);

// Our own additions.

// The Windows error number for an errno value of a file operation.
DWORD WindowsErrorFromErrno(int err);

// Reads the whole regular file at path into out (cleared first). A FIFO, a
// device or a folder is refused (EINVAL, EISDIR) without blocking, and so is
// a file larger than maxSize (EFBIG), before it is read into memory. Returns
// 0 or the errno of the failure (ENOENT for a missing file).
int ReadFileContents(const std::string& path, std::string& out,
                     std::size_t maxSize = static_cast<std::size_t>(-1));

// The file that a write to path reaches: symbolic links followed, also when
// the last one dangles (then the name it points to). The path itself when it
// names no link or the links cannot be read.
std::string FileWriteTarget(const std::string& path);

// Replaces the whole content of the file at path with data, so that readers,
// a killed process, a power cut or a full disk see either the complete old
// content or the complete new one, never a mixture:
// - the new content is written to an unnamed temporary file in the target's
//   folder, flushed to the disk, and then renamed over the target, and the
//   folder is flushed too; nothing is left behind when any step fails or the
//   process dies (temporaries named after the target that an earlier crash
//   left, and that have not changed for a minute, are removed);
// - a symbolic link is followed to the file it names, also when that file does
//   not exist yet (it is created and the link is kept);
// - an existing file keeps its mode (and, for a privileged writer, its owner);
//   a new file gets newFileMode (by default readable and writable by its
//   owner only, whatever the umask);
// - a file that the caller may not write (a read-only file: no write bit, or
//   the file system refuses) is refused, not replaced behind its owner's back;
//   so is anything that is not a regular file (a folder, a FIFO, a device).
// Returns 0 or the errno of the failure (EACCES for a refused target, ENOSPC
// for a full disk, ...), and sets the thread's last error to the matching
// Windows code (ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ...).
int ReplaceFileContents(const std::string& path, std::string_view data,
                        unsigned newFileMode = 0600);

// Creates the folder, with mode, and any missing folders above it (each
// looked at only when the one below is missing); 0 or the errno (ENOTDIR when
// something other than a folder is in the way).
int MakeFolders(const std::string& path, unsigned mode);

// A folder of the caller's own at path, fit to hold private state (locks,
// sockets, records, programs to run): made 0700 (with any missing parents)
// when missing, closed to others when it is ours but open to them. It must be
// a real folder (not a link), the caller's, and every folder above it must be
// root's or the caller's and closed to other users' writes (or sticky, as
// /tmp): a shared folder must not hand our files to whoever made the name
// first, or let him swap the folder later. An empty text when it is so, else
// what is wrong with it, to follow the path in a message ("is a symbolic
// link", "belongs to another user (uid 65534)", ...).
std::string PrivateFolderProblem(const std::string& path);

// PrivateFolderProblem(path) is empty.
bool EnsurePrivateFolder(const std::string& path);

// Reads the file at path as ReadFileContents does, but only a regular file of
// the caller's own reached without a symbolic link: ELOOP for a link, EPERM
// for another user's file. For the files of a private folder.
int ReadPrivateFile(const std::string& path, std::string& out,
                    std::size_t maxSize = static_cast<std::size_t>(-1));

// A lock (flock) on the lock file at path, made with mode when missing, held
// for the object's life; exclusive unless `shared`. The file is opened
// without following a symbolic link and trusted only when it is a regular
// file of the caller's (or root's) that nobody else may write (else EPERM).
// Waits at most `timeout` while another process or another open of the file
// holds it (then ETIMEDOUT; a zero timeout tries once, EWOULDBLOCK). The
// default waits for good, for locks held only for a short step.
class FileLock {
public:
    FileLock(const std::string& path, unsigned mode,
             std::chrono::milliseconds timeout = std::chrono::milliseconds::max(),
             bool shared = false);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock& operator=(FileLock&&) = delete;
    bool Held() const { return fd_ >= 0; }
    // The errno of the failure when not held.
    int Error() const { return error_; }

private:
    void Fail(int err);

    int fd_ = -1;
    int error_ = 0;
};

// Whether some process holds a lock (shared or exclusive) on the lock file at
// path; false for a missing file or a symbolic link.
bool FileLockBusy(const std::string& path);

}  // namespace win
