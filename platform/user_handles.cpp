// Window handles: plain 32-bit numbers, (block << 8) | index. A process takes
// blocks of 256 handles from a counter that all processes of the user share (a
// file of the private windows folder, changed under a lock) and names itself
// the owner of each block by a link "b<block>" -> "p<pid>" (its socket, see
// user_remote.cpp) beside it. The counter goes round a ring of 2^24 - 1 blocks
// and skips a block whose owner still lives, so a handle is unique among the
// user's live windows and is handed out again only after millions of others;
// within a block each handle is used once.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "platform/kernel.h"
#include "platform/product.h"
#include "platform/user_internal.h"

namespace win::user {
namespace {

constexpr DWORD kBlockBits = 8;
constexpr DWORD kBlocks = 0xFFFFFF;  // blocks 1..kBlocks; handle 0 is never made
constexpr int kClaimTries = 4096;

std::string BlockLink(const std::string& folder, DWORD block) {
    char name[16];
    std::snprintf(name, sizeof name, "/b%06x", block);
    return folder + name;
}

// The process named by a block link, or 0.
pid_t LinkedProcess(const std::string& link) {
    char target[32];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 1 || target[0] != 'p')
        return 0;
    target[n] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(target + 1, &end, 10);
    return *end == '\0' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool ProcessLives(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

class Handles {
public:
    Handles() : folder_(WindowsFolder()) {
        // Without a shared folder the blocks come from a counter of our own,
        // started where other processes are unlikely to be.
        nextLocalBlock_ = (static_cast<DWORD>(::getpid()) * 97u) % kBlocks + 1;
    }
    ~Handles() {
        // A child forked from us must not take our blocks away.
        if (::getpid() != owner_)
            return;
        for (DWORD block : blocks_)
            ::unlink(BlockLink(folder_, block).c_str());
    }

    HWND Next() {
        std::lock_guard l(lock_);
        if (::getpid() != owner_) {
            // A forked child takes blocks of its own.
            owner_ = ::getpid();
            blocks_.clear();
            block_ = 0;
        }
        // HWND_BROADCAST means every top-level window: its block ends before it.
        if (((block_ << kBlockBits) | index_) == HWND_BROADCAST)
            index_ = 1u << kBlockBits;
        if (!block_ || index_ == (1u << kBlockBits)) {
            block_ = folder_.empty() ? LocalBlock() : SharedBlock();
            index_ = 0;
            if (!block_)
                return 0;
            blocks_.insert(block_);
        }
        return static_cast<HWND>((block_ << kBlockBits) | index_++);
    }

    bool IsOurs(HWND h) {
        std::lock_guard l(lock_);
        return blocks_.count(static_cast<DWORD>(h >> kBlockBits)) > 0;
    }

    const std::string& Folder() const { return folder_; }

private:
    DWORD LocalBlock() {
        const DWORD block = nextLocalBlock_;
        nextLocalBlock_ = nextLocalBlock_ % kBlocks + 1;
        return block;
    }

    DWORD SharedBlock() {
        UniqueFd fd(::open((folder_ + "/handles").c_str(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            return 0;
        while (::flock(fd.get(), LOCK_EX) != 0)
            if (errno != EINTR)
                return 0;
        std::uint32_t last = 0;
        if (::pread(fd.get(), &last, sizeof last, 0) != sizeof last)
            last = 0;
        const std::string self = "p" + std::to_string(::getpid());
        DWORD claimed = 0;
        for (int i = 0; i < kClaimTries && !claimed; ++i) {
            const DWORD block = last % kBlocks + 1;
            last = block;
            const std::string link = BlockLink(folder_, block);
            if (::symlink(self.c_str(), link.c_str()) == 0) {
                claimed = block;
            } else if (errno == EEXIST && !ProcessLives(LinkedProcess(link))) {
                // Left by a process that ended without tidying up.
                ::unlink(link.c_str());
                if (::symlink(self.c_str(), link.c_str()) == 0)
                    claimed = block;
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (::pwrite(fd.get(), &last, sizeof last, 0) != sizeof last)
            return 0;
        return claimed;
    }

    const std::string folder_;
    pid_t owner_ = ::getpid();
    std::mutex lock_;  // guards the fields below
    DWORD block_ = 0;
    DWORD index_ = 0;
    DWORD nextLocalBlock_ = 1;
    std::set<DWORD> blocks_;
};

Handles& TheHandles() {
    static Handles handles;
    return handles;
}

}  // namespace

const std::string& WindowsFolder() {
    static const std::string folder = PrivateRuntimeFolder();
    return folder;
}

HWND NewHandle() {
    return TheHandles().Next();
}

pid_t OwnerOfHandle(HWND h) {
    if (h == 0 || h > 0xFFFFFFFFu || TheHandles().IsOurs(h) || WindowsFolder().empty())
        return 0;
    const pid_t pid =
        LinkedProcess(BlockLink(WindowsFolder(), static_cast<DWORD>(h >> kBlockBits)));
    return pid == ::getpid() ? 0 : pid;
}

void ForgetOwnerOfHandle(HWND h) {
    const std::string link = BlockLink(WindowsFolder(), static_cast<DWORD>(h >> kBlockBits));
    if (!ProcessLives(LinkedProcess(link)))
        ::unlink(link.c_str());
}

}  // namespace win::user
