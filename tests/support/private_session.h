#pragma once
// PrivateSession: a folder of a test's or benchmark's own with home/, runtime/
// (owner-only, as XDG_RUNTIME_DIR must be) and drives/, so that the drive
// layer's private session bus, gvfs and drive links never touch the real
// user's. Enter() points this process at it; a program started from it can be
// given the same folders. The destructor ends the private bus that the drive
// layer recorded there (gvfsd, its backends and gvfsd-fuse go with it), lets go
// of gvfs' FUSE folder and removes everything.
//
// Threads: the test thread.

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace quilvane_test {

class PrivateSession {
public:
    // `prefix` names the folder under /tmp; `extraDirs` are made beside the
    // standard three.
    explicit PrivateSession(const std::string& prefix,
                            std::initializer_list<const char*> extraDirs = {}) {
        std::string templ = "/tmp/" + prefix + "-XXXXXX";
        if (!::mkdtemp(templ.data()))
            return;
        root_ = templ;
        namespace fs = std::filesystem;
        for (const char* dir : {"home", "runtime", "drives"})
            fs::create_directory(root_ + "/" + dir);
        for (const char* dir : extraDirs)
            fs::create_directory(root_ + "/" + dir);
        fs::permissions(Runtime(), fs::perms::owner_all);
    }

    ~PrivateSession() {
        if (root_.empty())
            return;
        // The runtime folder, and the stand-in that the program takes in the
        // home's cache folder where the runtime folder is not fit for it.
        std::vector<std::string> runtimes = {Runtime()};
        std::error_code ignored;
        const std::string cache = Home() + "/.cache/quilvane";
        for (const auto& e : std::filesystem::directory_iterator(cache, ignored))
            runtimes.push_back(e.path().string());
        for (const std::string& runtime : runtimes) {
            std::ifstream session(runtime + "/quilvane-session-bus");
            std::string address, pid;
            if (std::getline(session, address) && std::getline(session, pid) && !pid.empty() &&
                pid.find_first_not_of("0123456789") == std::string::npos)
                ::kill(static_cast<pid_t>(std::stol(pid)), SIGTERM);
            ::umount2((runtime + "/gvfs").c_str(), MNT_DETACH);
        }
        std::filesystem::remove_all(root_, ignored);
    }

    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    bool Ok() const { return !root_.empty(); }
    std::string Root() const { return root_; }
    std::string Home() const { return root_ + "/home"; }
    std::string Runtime() const { return root_ + "/runtime"; }
    std::string Drives() const { return root_ + "/drives"; }

    // HOME, XDG_RUNTIME_DIR and QUILVANE_DRIVES of this process become the
    // session's, and no inherited session bus is used.
    void Enter() const {
        ::setenv("HOME", Home().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", Runtime().c_str(), 1);
        ::setenv("QUILVANE_DRIVES", Drives().c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    std::string root_;
};

}  // namespace quilvane_test
