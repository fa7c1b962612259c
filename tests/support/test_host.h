#pragma once
// TestHost: a host in a network namespace (tools/testhost.sh) for the life of
// the object: "up" in the constructor (after clearing what an earlier, killed
// run may have left under the same name), "down" in the destructor, so the
// host goes away when the test ends, also when it fails.
//
//     TestHost host("echo", 10);          // namespace qv-echo, 10.231.10.2
//     if (!host.Ok()) QUILVANE_SKIP_OR_FAIL(host.Error());
//     host.SetMode("drop");
//
// Tests that need root and namespaces call QUILVANE_SKIP_OR_FAIL with the
// reason when they cannot run: skipped on a developer's machine, failed in CI
// (CI=true).
//
// Threads: one test thread; RunInside runs a function on a thread of its own
// inside the namespace.

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/skip_or_fail.h"

extern char** environ;

namespace quilvane_test {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and error together
};

// Runs a program (looked up on PATH) and waits for it.
inline CommandResult RunCommand(const std::vector<std::string>& args) {
    CommandResult result;
    int fds[2];
    if (args.empty() || ::pipe2(fds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            result.output.append(buf, static_cast<size_t>(n));
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    } else {
        result.output = std::string("cannot start ") + args[0];
    }
    ::close(fds[0]);
    return result;
}

inline std::string SourceDir() {
    if (const char* dir = std::getenv("QUILVANE_SOURCE_DIR"); dir && *dir)
        return dir;
#ifdef QUILVANE_SOURCE_DIR_DEFAULT
    return QUILVANE_SOURCE_DIR_DEFAULT;
#else
    return ".";
#endif
}

// Runs `fn` on a new thread that has joined the network namespace `ns`
// (/run/netns/<ns>) and waits for it. Sockets the function opens stay in that
// namespace when used from other threads later. False if it could not join.
inline bool RunInNamespace(const std::string& ns, const std::function<void()>& fn) {
    bool joined = false;
    std::thread worker([&] {
        int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        joined = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (joined)
            fn();
    });
    worker.join();
    return joined;
}

class TestHost {
public:
    TestHost(std::string name, int index) : name_(std::move(name)), index_(index) {
        if (std::string why = Unavailable(); !why.empty()) {
            error_ = why;
            return;
        }
        Script({"down", name_});
        CommandResult up = Script({"up", name_, std::to_string(index_)});
        if (up.exitCode != 0) {
            error_ = "tools/testhost.sh up failed: " + up.output;
            return;
        }
        address_ = "10.231." + std::to_string(index_) + ".2";
        up_ = true;
    }
    ~TestHost() {
        if (up_)
            Script({"down", name_});
    }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool Ok() const { return up_; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }
    // The namespace, "qv-" + name.
    std::string Namespace() const { return "qv-" + name_; }
    // The host's address and ours on its link.
    const std::string& Address() const { return address_; }
    std::string OurAddress() const { return "10.231." + std::to_string(index_) + ".1"; }

    // "answer", "drop" or "reject".
    bool SetMode(const std::string& mode) { return Script({"mode", name_, mode}).exitCode == 0; }
    // The host's SMB ports (139, 445) drop every packet while pings are still
    // answered: a mount waits until gvfs gives up.
    bool DropSmb() const {
        return Exec({"nft",
                     "add table inet qvdropsmb; add chain inet qvdropsmb in { type filter "
                     "hook input priority 0; policy accept; }; add rule inet qvdropsmb in "
                     "tcp dport { 139, 445 } drop"})
                   .exitCode == 0;
    }
    CommandResult Exec(std::vector<std::string> command) const {
        command.insert(command.begin(), {"exec", name_});
        return Script(command);
    }
    // A direct link from this host (10.231.index.1) to `other` (10.231.index.2).
    bool LinkTo(const TestHost& other, int index) const {
        return Script({"link", name_, other.name_, std::to_string(index)}).exitCode == 0;
    }
    bool RunInside(const std::function<void()>& fn) const {
        return RunInNamespace(Namespace(), fn);
    }

    static CommandResult Script(std::vector<std::string> args) {
        args.insert(args.begin(), SourceDir() + "/tools/testhost.sh");
        return RunCommand(args);
    }

    // Why namespace hosts cannot be made here, or "" when they can.
    static std::string Unavailable() {
        if (::geteuid() != 0)
            return "needs root for network namespaces";
        if (RunCommand({"ip", "-V"}).exitCode != 0)
            return "needs iproute2 (ip)";
        if (RunCommand({"nft", "--version"}).exitCode != 0)
            return "needs nftables (nft)";
        if (::access((SourceDir() + "/tools/testhost.sh").c_str(), X_OK) != 0)
            return "tools/testhost.sh not found (set QUILVANE_SOURCE_DIR)";
        return {};
    }

private:
    std::string name_;
    int index_;
    std::string address_;
    std::string error_;
    bool up_ = false;
};

}  // namespace quilvane_test
