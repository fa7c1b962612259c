#pragma once
// HeadlessProgram: the real program, copied with its ICMP library into a
// folder of its own (its settings file lives beside the executable), started
// as `quilvane --headless` with a HOME, XDG_RUNTIME_DIR and drives folder of
// its own and no display, its standard output read line by line with bounded
// waits. The folder, the program and the private session bus with gvfs that
// its drive layer starts all go when the object does.
//
// Threads: the test thread.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "platform/module.h"
#include "tests/support/private_session.h"
#include "tests/support/settings_records.h"

extern char** environ;

namespace quilvane_test {

class HeadlessProgram {
public:
    HeadlessProgram() {
        if (!session_.Ok())
            return;
        namespace fs = std::filesystem;
        std::error_code error;
        const std::string exe = root_ + "/bin/quilvane";
        const fs::path icmp = win::OwnLibraryPath(exe, "icmp.dll");
        fs::copy_file(QUILVANE_BINARY, exe, error);
        if (!error)
            fs::create_directories(icmp.parent_path(), error);
        if (!error)
            fs::copy_file(QUILVANE_ICMP_LIBRARY, icmp, error);
        ready_ = !error;
    }

    ~HeadlessProgram() { Stop(SIGKILL); }

    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }
    std::string Drives() const { return session_.Drives(); }
    std::string Runtime() const { return session_.Runtime(); }
    std::string SettingsFile() const { return quilvane::SettingsFilePath(root_ + "/bin"); }

    // Writes the settings file with the program's own writer.
    void WriteSettings(const std::vector<ConnectionRecord>& records) {
        AppendSettingsRecords(root_ + "/bin", records);
    }

    std::string ReadSettings() const {
        std::ifstream in(SettingsFile(), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    // Starts the program. `wrapper` is a command that ends by running the
    // program in its own place (exec), so the process is the program's
    // (e.g. unshare for a mount namespace of its own); with `withErrors` the
    // program's standard error comes through NextLine too.
    bool Start(const std::vector<std::string>& wrapper = {}, bool withErrors = false) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" ||
                name == "DBUS_SESSION_BUS_ADDRESS" || name == "HOME" || name == "XDG_RUNTIME_DIR" ||
                name == "QUILVANE_DRIVES" || name == "QUILVANE_ICMP_LIBRARY")
                continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + session_.Home());
        env.push_back("XDG_RUNTIME_DIR=" + session_.Runtime());
        env.push_back("QUILVANE_DRIVES=" + Drives());
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = wrapper;
        args.push_back(root_ + "/bin/quilvane");
        args.push_back("--headless");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (withErrors)
            posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        const int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            pid_ = -1;
            return false;
        }
        out_ = fds[0];
        return true;
    }

    // The next line of standard output, or nothing when none came within
    // `timeout` or the output ended.
    std::optional<std::string> NextLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (out_ < 0 || left.count() <= 0)
                return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char chunk[1024];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(out_);
                out_ = -1;
                continue;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Sends `signo` and waits (bounded) for the end; the wait status, or -1
    // when the program did not end in time (then it is killed).
    int Stop(int signo, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return End(signo, timeout);
    }

    // Whether the program catches `signo` by now, waiting for it up to
    // `timeout` (its handlers are set early in the start).
    bool CatchesSignal(int signo, std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        const unsigned long long bit = 1ull << (signo - 1);
        do {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("SigCgt:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) & bit) != 0)
                    return true;
            }
            pollfd none{-1, 0, 0};
            ::poll(&none, 1, 10);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    // Waits (bounded) for the program to end by itself; as Stop.
    int Wait(std::chrono::milliseconds timeout) { return End(0, timeout); }

private:
    int End(int signo, std::chrono::milliseconds timeout) {
        if (pid_ <= 0)
            return -1;
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (signo != 0)
            ::kill(pid_, signo);
        bool ended = true;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ended = ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
            ::close(pidfd);
        }
        if (!ended)
            ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        if (out_ >= 0) {
            ::close(out_);
            out_ = -1;
        }
        return ended ? status : -1;
    }

    // The program's folders; it goes after the program has been stopped.
    PrivateSession session_{"quilvane-monitor-test", {"bin"}};
    const std::string root_ = session_.Root();
    bool ready_ = false;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

}  // namespace quilvane_test
