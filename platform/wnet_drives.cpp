#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/product.h"
#include "platform/wnet_internal.h"

namespace win {
namespace wnet {
namespace {

// The process's side of the drive lock; the drives folder's lock file is the
// user's side.
std::mutex g_netLock;

std::string HomeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string MetaFolder(const std::string& drives) {
    return drives + "/." + ProductLowerName();
}

std::string EntryPath(const std::string& drives, char letter) {
    return drives + "/" + std::string(1, letter);
}

std::string RecordPath(const std::string& drives, char letter) {
    return MetaFolder(drives) + "/" + std::string(1, letter);
}

// The letter's record when its entry is still the link the layer made. A
// record of four lines, without a session, is one of an earlier version: it
// reads with an empty session, which is never the current one.
std::optional<DriveRecord> ReadRecord(const std::string& drives, char letter) {
    char buf[4096];
    const ssize_t n = ::readlink(EntryPath(drives, letter).c_str(), buf, sizeof buf);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buf))
        return std::nullopt;
    std::string text;
    if (ReadFileContents(RecordPath(drives, letter), text) != 0)
        return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size() || (lines.size() != 4 && lines.size() != 5))
        return std::nullopt;
    lines.resize(5);
    DriveRecord r{lines[0], lines[1], lines[2], lines[3], lines[4]};
    if (r.target != std::string(buf, static_cast<size_t>(n)))
        return std::nullopt;
    return r;
}

}  // namespace

DriveTransaction::DriveTransaction() : process_(g_netLock) {
    drives_ = NetDrivesFolder();
    if (drives_.empty() || !EnsurePrivateFolder(MetaFolder(drives_)))
        return;
    user_.emplace(MetaFolder(drives_) + "/lock", 0600);
    ok_ = user_->Held();
}

const std::string& DriveTransaction::Session() {
    if (!session_)
        session_ = GvfsSessionId();
    return *session_;
}

std::optional<DriveRecord> DriveTransaction::Find(char letter) {
    if (!ok_)
        return std::nullopt;
    auto record = ReadRecord(drives_, letter);
    if (record && record->session != Session()) {
        Remove(letter);
        return std::nullopt;
    }
    return record;
}

bool DriveTransaction::EntryExists(char letter) const {
    struct stat st {};
    return ::lstat(EntryPath(drives_, letter).c_str(), &st) == 0;
}

bool DriveTransaction::OtherLetterUses(const std::string& root, char except) {
    for (char l = 'A'; l <= 'Z'; ++l) {
        if (l == except)
            continue;
        if (auto r = Find(l); r && r->root == root)
            return true;
    }
    return false;
}

DWORD DriveTransaction::Link(char letter, DriveRecord r) {
    const std::string entry = EntryPath(drives_, letter);
    if (::symlink(r.target.c_str(), entry.c_str()) != 0)
        return errno == EEXIST ? ERROR_ALREADY_ASSIGNED : ERROR_BAD_DEVICE;
    // Asked afresh: the mount may have just started the session it lives in.
    session_ = GvfsSessionId();
    r.session = *session_;
    const std::string text =
        r.remote + "\n" + r.uri + "\n" + r.root + "\n" + r.target + "\n" + r.session + "\n";
    if (ReplaceFileContents(RecordPath(drives_, letter), text) != 0) {
        ::unlink(entry.c_str());
        return ERROR_BAD_DEVICE;
    }
    return NO_ERROR;
}

void DriveTransaction::Remove(char letter) {
    ::unlink(EntryPath(drives_, letter).c_str());
    ::unlink(RecordPath(drives_, letter).c_str());
}

}  // namespace wnet

std::string NetDrivesFolder() {
    std::string folder;
    if (const char* d = std::getenv(ProductVariable("DRIVES").c_str()); d && *d) {
        folder = d;
    } else {
        const std::string home = wnet::HomeFolder();
        if (home.empty())
            return {};
        folder = home + "/Drives";
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return {};
    return folder;
}

}  // namespace win
