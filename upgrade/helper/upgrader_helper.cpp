// The upgrade helper: started by the upgrader as
//     <helper> <program path> +<restart parameters><method digit> [<name> <sha256>]...
// with the program's path as one argument of its own, whatever it holds
// (blanks, "+", quotes, any bytes), it waits until the program has ended,
// checks every named "<name>.uTMP" of the program's folder against its
// SHA-256 and, only when all match, puts each in place of <name>; then it
// starts the program again (or, in the external-setup mode, runs the
// downloaded setup program first). Files not named are never touched.
//
// It writes only inside the program's folder, never follows a link there,
// gives a replaced file the old one's owner, permissions (without setuid and
// setgid) and file capabilities, waits with short pauses rather than
// spinning, and removes its own file when it was written out by the upgrader.
// It has no window; without arguments it names itself on the standard error.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/shell_execute.h"

extern char** environ;

namespace {

constexpr char kTemporarySuffix[] = ".uTMP";
constexpr char kCapabilities[] = "security.capability";

// Until the file can be opened for writing: a running executable refuses
// that with ETXTBSY. Any other answer ends the wait (the file is free, or
// waiting will not change it); bounded at ten minutes.
void WaitUntilFree(const std::string& path) {
    ::setpriority(PRIO_PROCESS, 0, 19);
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (std::chrono::steady_clock::now() < end) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        if (errno != ETXTBSY)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::setpriority(PRIO_PROCESS, 0, 0);
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void Start(const std::string& program, const std::string& params) {
    win::ShellExecuteA(0, "open", program.c_str(), params.c_str(), nullptr, win::SW_SHOWNORMAL);
}

// Runs the setup program as our own child, its arguments cut from `params` as
// the program's own start cuts them, and waits for its end. A busy file is no
// sign of a running setup on Linux (a script's file is free while its
// interpreter runs it), so the helper waits for the process itself. Returns
// at once when it cannot be started.
void RunToEnd(const std::string& setup, const std::string& params) {
    std::vector<std::string> args = win::CommandLineToArgvA(params);
    args.insert(args.begin(), setup);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, setup.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string Sha256(int fd) {
    crypto_hash_sha256_state state;
    ::crypto_hash_sha256_init(&state);
    unsigned char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        ::crypto_hash_sha256_update(&state, buffer, static_cast<unsigned long long>(n));
    }
    unsigned char digest[crypto_hash_sha256_BYTES];
    ::crypto_hash_sha256_final(&state, digest);
    char hex[2 * sizeof digest + 1];
    ::sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A plain name inside the folder.
bool IsFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

struct Download {
    std::string target;  // name in the program's folder
    std::string sha256;
    int fd = -1;  // the checked ".uTMP", never a link
    struct stat st {};
};

// Gives the new file what the replaced one had: owner, permissions (never
// setuid or setgid) and file capabilities, in that order (a change of owner
// drops capabilities).
void KeepAttributes(int dir, const Download& d, mode_t mode, bool isProgram) {
    struct stat old {};
    const int oldFd =
        ::openat(dir, d.target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const bool hadFile = oldFd >= 0 && ::fstat(oldFd, &old) == 0 && S_ISREG(old.st_mode);
    if (hadFile) {
        // Only root may give a file away; anyone else keeps the new one.
        if (::geteuid() == 0 && ::fchown(d.fd, old.st_uid, old.st_gid) != 0) {
        }
        mode = old.st_mode & 01777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    } else if (isProgram) {
        mode = 0755;
    }
    ::fchmod(d.fd, mode);
    if (hadFile) {
        std::vector<char> caps(256);
        const ssize_t n = ::fgetxattr(oldFd, kCapabilities, caps.data(), caps.size());
        if (n > 0)
            ::fsetxattr(d.fd, kCapabilities, caps.data(), static_cast<size_t>(n), 0);
    }
    if (oldFd >= 0)
        ::close(oldFd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Upgrader v3.4.1: the Quilvane upgrade helper\n");
        return 0;
    }
    if (argc < 3 || argv[2][0] != '+' || argv[2][1] == '\0' || (argc - 3) % 2 != 0 ||
        ::sodium_init() < 0) {
        std::fprintf(stderr,
                     "Upgrader: usage: <program path> +<parameters><method digit> "
                     "[<file name> <sha256>]...\n");
        return 1;
    }
    const std::string program = argv[1];
    const std::string plus = argv[2];
    const bool externalSetup = plus.back() == '1';
    const std::string params = plus.substr(1, plus.size() - 2);
    const size_t slash = program.rfind('/');
    if (slash == std::string::npos || !IsFileName(program.substr(slash + 1)))
        return 1;
    const std::string folder = program.substr(0, slash + 1);
    const std::string programName = program.substr(slash + 1);

    struct stat st {};
    if (::lstat(program.c_str(), &st) == 0)
        WaitUntilFree(program);

    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<Download> downloads;
    bool verified = dir >= 0;
    for (int i = 3; verified && i + 1 < argc; i += 2) {
        Download d{argv[i], Lower(argv[i + 1])};
        const std::string temporary = d.target + kTemporarySuffix;
        verified = IsFileName(d.target);
        if (verified)
            d.fd = ::openat(dir, temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        verified = d.fd >= 0 && ::fstat(d.fd, &d.st) == 0 && S_ISREG(d.st.st_mode) &&
                   Sha256(d.fd) == d.sha256;
        downloads.push_back(d);
    }
    if (!verified) {
        // All or nothing: a file changed since the upgrader checked it puts
        // none in place, and the old program comes back as it was.
        for (const Download& d : downloads) {
            if (dir >= 0 && IsFileName(d.target))
                ::unlinkat(dir, (d.target + kTemporarySuffix).c_str(), 0);
            if (d.fd >= 0)
                ::close(d.fd);
        }
        std::fprintf(stderr,
                     "Upgrader: a downloaded file does not match its SHA-256; "
                     "nothing was replaced\n");
        Start(program, "");
        return 1;
    }

    std::string setup;
    for (const Download& d : downloads) {
        const bool isSetup = externalSetup && setup.empty() && EndsWith(d.target, "exe");
        KeepAttributes(dir, d, isSetup ? 0700 : 0644, d.target == programName);
        if (isSetup)
            ::fchmod(d.fd, 0700);
        // Still the file that was checked, then in place.
        const std::string temporary = d.target + kTemporarySuffix;
        struct stat now {};
        if (::fstatat(dir, temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == d.st.st_dev && now.st_ino == d.st.st_ino &&
            ::renameat(dir, temporary.c_str(), dir, d.target.c_str()) == 0 && isSetup)
            setup = folder + d.target;
        ::close(d.fd);
    }
    ::close(dir);

    if (externalSetup && !setup.empty()) {
        // A setup that cannot be started has ended as far as we can tell.
        RunToEnd(setup, params);
        ::unlink(setup.c_str());
    }
    Start(program, params);

    // The copy the upgrader wrote out goes with us.
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        if (EndsWith(self, "/Upgrader3"))
            ::unlink(self);
    }
    return 0;
}
