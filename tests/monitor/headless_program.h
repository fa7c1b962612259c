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

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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
    // The user's and the machine's configuration folders of the program
    // (registry hives, autostart entries).
    std::string UserConfig() const { return session_.Home() + "/.config"; }
    std::string MachineConfig() const { return session_.Home() + "/xdg"; }
    std::string Executable() const { return root_ + "/bin/quilvane"; }
    std::string SettingsFile() const { return quilvane::SettingsFilePath(root_ + "/bin"); }

    // Writes the settings file with the program's own writer.
    void WriteSettings(const std::vector<ConnectionRecord>& records) {
        AppendSettingsRecords(root_ + "/bin", records);
    }

    // The records of the settings file, read by the program's own loader.
    std::vector<ConnectionRecord> Records() const {
        TzIni ini(nullptr);
        quilvane::SetUpSettingsStore(ini);
        fw::TRxMemoryData table(nullptr, quilvane::ConnectionFields());
        std::string url;
        quilvane::LoadSettings(ini, table, url, root_ + "/bin");
        std::vector<ConnectionRecord> records;
        const quilvane::TConnectionRecord r(table);
        for (table.First(); !table.Eof(); table.Next()) {
            records.push_back({r.HostName.Value(), r.UserName.Value(), r.Password.Value(),
                               r.UNC.Value(), r.Drive.Value(), r.MaxPing.Value()});
        }
        return records;
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
    // `without` names variables the program's environment lacks.
    bool Start(const std::vector<std::string>& wrapper = {}, bool withErrors = false,
               const std::vector<std::string>& without = {},
               const std::vector<std::string>& overrides = {},
               const std::vector<std::string>& extraArgs = {"--headless"}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        std::vector<std::string> args = wrapper;
        args.push_back(root_ + "/bin/quilvane");
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (withErrors)
            posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        pid_ = Spawn(args, actions, without, overrides);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            return false;
        }
        out_ = fds[0];
        return true;
    }

    // What a run of a command of the program gave.
    struct Result {
        int status = -1;  // the exit status; -1 when it did not end normally in time
        std::string out, err;
    };

    // Runs the program's copy with `args` in the program's environment, with
    // `input` on its standard input (then closed), to its end (bounded).
    // `whileRunning`, when given, is called with the process id once `input`
    // has been written, before standard input is closed. `overrides` ("NAME=value")
    // replace or add variables of the environment. Any thread may run commands.
    Result Run(const std::vector<std::string>& args, const std::string& input = {},
               const std::function<void(pid_t)>& whileRunning = {},
               const std::vector<std::string>& overrides = {}) {
        Result result;
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            return result;
        std::vector<std::string> command = {root_ + "/bin/quilvane"};
        command.insert(command.end(), args.begin(), args.end());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        const pid_t pid = Spawn(command, actions, {}, overrides);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        if (pid > 0) {
            // Small inputs: the pipe holds them whole.
            [[maybe_unused]] const ssize_t n = ::write(in[1], input.data(), input.size());
            if (whileRunning)
                whileRunning(pid);
        }
        ::close(in[1]);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (bool outOpen = true, errOpen = true; pid > 0 && (outOpen || errOpen);) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
            if (::poll(p, 2, static_cast<int>(left.count())) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (p[i].revents == 0)
                    continue;
                char chunk[1024];
                const ssize_t n = ::read(i == 0 ? out[0] : err[0], chunk, sizeof chunk);
                if (n > 0)
                    (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
                else
                    (i == 0 ? outOpen : errOpen) = false;
            }
        }
        ::close(out[0]);
        ::close(err[0]);
        if (pid > 0) {
            ::kill(pid, SIGKILL);  // nothing when it has ended
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (WIFEXITED(status))
                result.status = WEXITSTATUS(status);
        }
        return result;
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

    // The environment the program runs in: this one, less the display, the
    // session and the program's variables, with the folders of its own.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" ||
                name == "DBUS_SESSION_BUS_ADDRESS" || name == "HOME" || name == "XDG_RUNTIME_DIR" ||
                name == "XDG_CONFIG_HOME" || name == "XDG_CONFIG_DIRS" ||
                name == "XDG_CACHE_HOME" || name == "QUILVANE_DRIVES" ||
                name == "QUILVANE_ICMP_LIBRARY")
                continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + session_.Home());
        env.push_back("XDG_RUNTIME_DIR=" + session_.Runtime());
        env.push_back("XDG_CONFIG_HOME=" + UserConfig());
        env.push_back("XDG_CONFIG_DIRS=" + MachineConfig());
        env.push_back("QUILVANE_DRIVES=" + Drives());
        return env;
    }

private:
    pid_t Spawn(std::vector<std::string> args, const posix_spawn_file_actions_t& actions,
                const std::vector<std::string>& without = {},
                const std::vector<std::string>& overrides = {}) const {
        std::vector<std::string> env = Environment();
        const auto named = [](const std::vector<std::string>& list, const std::string& name) {
            return std::any_of(list.begin(), list.end(), [&](const std::string& e) {
                return e.substr(0, e.find('=')) == name;
            });
        };
        std::vector<char*> envp;
        for (auto& e : env) {
            const std::string name = e.substr(0, e.find('='));
            if (std::find(without.begin(), without.end(), name) == without.end() &&
                !named(overrides, name))
                envp.push_back(e.data());
        }
        std::vector<std::string> added = overrides;
        for (auto& e : added)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            return -1;
        return pid;
    }

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
