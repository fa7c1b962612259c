#pragma once
// SmbHost: an SMB server on a namespace test host (tools/smbhost.sh) for the
// life of the object: smbd serving one share to one user with a password.
//
//     SmbHost smb("smb1", 40, "qvtest", "s3cret pass");
//     if (!smb.Ok()) QUILVANE_SKIP_OR_FAIL(smb.Error());
//     smb.Unc()            // "\\10.231.40.2\data"
//     smb.SharePath()      // the folder the share serves, on this machine
//     smb.SetSilent(true)  // the host drops everything: a server gone silent
//
// The password reaches the script on its standard input only.
//
// Threads: one test thread.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/test_host.h"

namespace quilvane_test {

// Runs a program with `input` on its standard input; returns its exit code and
// standard output and error.
inline CommandResult RunCommandWithInput(const std::vector<std::string>& args,
                                         const std::string& input) {
    CommandResult result;
    int in[2], out[2];
    if (args.empty() || ::pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc == 0) {
        // The input is one short line: it fits the pipe, so this never blocks.
        [[maybe_unused]] ssize_t w = ::write(in[1], input.data(), input.size());
        ::close(in[1]);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out[0], buf, sizeof buf)) > 0)
            result.output.append(buf, static_cast<size_t>(n));
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    } else {
        ::close(in[1]);
        result.output = "cannot start " + args[0];
    }
    ::close(out[0]);
    return result;
}

class SmbHost {
public:
    SmbHost(std::string name, int index, std::string user, std::string password,
            std::string share = "data")
        : name_(std::move(name)),
          user_(std::move(user)),
          password_(std::move(password)),
          share_(std::move(share)) {
        if (std::string why = Unavailable(); !why.empty()) {
            error_ = why;
            return;
        }
        Script({"down", name_});
        CommandResult up = RunCommandWithInput(
            {SourceDir() + "/tools/smbhost.sh", "up", name_, std::to_string(index), user_, share_},
            password_ + "\n");
        if (up.exitCode != 0) {
            error_ = "tools/smbhost.sh up failed: " + up.output;
            return;
        }
        address_ = up.output.substr(0, up.output.find('\n'));
        CommandResult path = Script({"path", name_});
        sharePath_ = path.output.substr(0, path.output.find('\n'));
        up_ = path.exitCode == 0;
        if (!up_)
            error_ = "tools/smbhost.sh path failed: " + path.output;
    }
    ~SmbHost() {
        if (up_)
            Script({"down", name_});
    }
    SmbHost(const SmbHost&) = delete;
    SmbHost& operator=(const SmbHost&) = delete;

    bool Ok() const { return up_; }
    const std::string& Error() const { return error_; }
    const std::string& Address() const { return address_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::string& Share() const { return share_; }
    // "\\address\share", as a drive is mapped to it.
    std::string Unc() const { return "\\\\" + address_ + "\\" + share_; }
    const std::string& SharePath() const { return sharePath_; }

    // Silent: the host drops every packet (a server that no longer answers,
    // neither pings nor SMB); not silent: it answers again.
    bool SetSilent(bool silent) const {
        const std::string rules = silent ? "table inet qvsilent\n"
                                           "delete table inet qvsilent\n"
                                           "table inet qvsilent {\n"
                                           "  chain input {\n"
                                           "    type filter hook input priority -10; policy drop;\n"
                                           "  }\n"
                                           "}\n"
                                         : "table inet qvsilent\n"
                                           "delete table inet qvsilent\n";
        return RunCommandWithInput(
                   {SourceDir() + "/tools/testhost.sh", "exec", name_, "nft", "-f", "-"}, rules)
                   .exitCode == 0;
    }

    // Why an SMB host cannot be made here, or "" when it can.
    static std::string Unavailable() {
        if (std::string why = TestHost::Unavailable(); !why.empty())
            return why;
        if (RunCommand({"smbd", "--version"}).exitCode != 0)
            return "needs samba (smbd)";
        if (::access((SourceDir() + "/tools/smbhost.sh").c_str(), X_OK) != 0)
            return "tools/smbhost.sh not found (set QUILVANE_SOURCE_DIR)";
        return {};
    }

private:
    static CommandResult Script(std::vector<std::string> args) {
        args.insert(args.begin(), SourceDir() + "/tools/smbhost.sh");
        return RunCommand(args);
    }

    std::string name_;
    std::string user_;
    std::string password_;
    std::string share_;
    std::string address_;
    std::string sharePath_;
    std::string error_;
    bool up_ = false;
};

}  // namespace quilvane_test
