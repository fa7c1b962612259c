// The list commands of the real program against a copied install: add, list,
// edit and remove; bad input refused with its message and the file untouched;
// passwords only on standard input or the terminal; and a running monitor:
// a headless one takes the change up, a window refuses it.
#include "app/list_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/kernel.h"
#include "tests/monitor/headless_program.h"
#include "tests/support/as_nobody.h"

namespace quilvane_test {
namespace {

using namespace std::chrono_literals;

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// An --add of a good record (on a letter that the bad-input fixture's record
// leaves free), with the given options changed or added.
std::vector<std::string> Add(std::vector<std::string> changed) {
    std::vector<std::string> args = {"--add", "--host", "srv",     "--user", "u",
                                     "--unc", "share",  "--drive", "Z:",     "--password-stdin"};
    for (std::size_t i = 0; i + 1 < changed.size(); i += 2) {
        const auto it = std::find(args.begin(), args.end(), changed[i]);
        if (it != args.end())
            *(it + 1) = changed[i + 1];
        else
            args.insert(args.end(), {changed[i], changed[i + 1]});
    }
    return args;
}

class ListCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(program_.Ready()); }
    HeadlessProgram program_;
};

TEST_F(ListCommands, AddListEditRemove) {
    auto r = program_.Run({"--add", "--host", "srv1", "--user", "bob", "--unc", "data", "--drive",
                           "y", "--password-stdin"},
                          "first pw\n");
    ASSERT_EQ(r.status, 0) << r.err;
    r = program_.Run({"--add", "--host=10.0.0.2", "--user=DOM\\al", "--unc=data\\reports x",
                      "--drive=Z:", "--max-ping=12", "--password-stdin"},
                     "second\r\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(program_.Records(),
              (std::vector<ConnectionRecord>{
                  {"srv1", "bob", "first pw", "data", "Y:", 5},
                  {"10.0.0.2", "DOM\\al", "second", "data\\reports x", "Z:", 12}}));

    r = program_.Run({"--list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "#  Host      User    UNC                Drive  MaxPing\n"
              "1  srv1      bob     data               Y:     5\n"
              "2  10.0.0.2  DOM\\al  \"data\\\\reports x\"  Z:     12\n");
    r = program_.Run({"--list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n"
              "  {\"Record\": 1, \"HostName\": \"srv1\", \"UserName\": \"bob\", \"UNC\": "
              "\"data\", \"Drive\": \"Y:\", \"MaxPing\": 5},\n"
              "  {\"Record\": 2, \"HostName\": \"10.0.0.2\", \"UserName\": \"DOM\\\\al\", "
              "\"UNC\": \"data\\\\reports x\", \"Drive\": \"Z:\", \"MaxPing\": 12}\n"
              "]\n");
    EXPECT_EQ(r.out.find("first pw"), std::string::npos);

    // Only the fields given change; the password stays unless asked for.
    r = program_.Run({"--edit", "1", "--host", "srv9", "--max-ping", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = program_.Run({"--edit", "2", "--password-stdin"}, "new\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(program_.Records(),
              (std::vector<ConnectionRecord>{
                  {"srv9", "bob", "first pw", "data", "Y:", 0},
                  {"10.0.0.2", "DOM\\al", "new", "data\\reports x", "Z:", 12}}));

    r = program_.Run({"--remove", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(program_.Records(), (std::vector<ConnectionRecord>{{"10.0.0.2", "DOM\\al", "new",
                                                                  "data\\reports x", "Z:", 12}}));
    r = program_.Run({"--remove", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(program_.Records().empty());
    r = program_.Run({"--list", "--json"});
    EXPECT_EQ(r.out, "[]\n");
    r = program_.Run({"--list"});
    EXPECT_NE(r.err.find(program_.SettingsFile()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(quilvane::AddCommandExample), std::string::npos) << r.err;
}

struct BadInputCase {
    const char* name;
    std::vector<std::string> args;
    std::string input;  // standard input
    int status;
    const char* message;
};

void PrintTo(const BadInputCase& c, std::ostream* os) {
    *os << c.name;
}

class ListCommandsBadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(ListCommandsBadInput, RefusedWithMessageAndFileUnchanged) {
    const BadInputCase& c = GetParam();
    HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    program.WriteSettings({{"srv1", "bob", "pw", "data", "Y:", 5}});
    const std::string before = Contents(program.SettingsFile());
    const auto r = program.Run(c.args, c.input);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Contents(program.SettingsFile()), before);
    // One line, whatever the value held.
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(std::count_if(r.err.begin(), r.err.end(),
                            [](char ch) { return static_cast<unsigned char>(ch) < 0x20; }),
              1)
        << r.err;
    EXPECT_EQ(r.err.back(), '\n');
}

// A value of `size` bytes, all of them printable but for `byte`, whose
// enciphered form holds a line break or NUL (values under two bytes are
// stored in clear).
std::string EnciphersToALineBreak(char byte) {
    for (char first = 'a'; first <= 'z'; ++first) {
        for (const std::string& value : {std::string{first, byte}, std::string{byte, first}}) {
            const std::string stored = TzIni::EncryptValue(value);
            if (stored.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                return value;
        }
    }
    return std::string(1, byte) + "\r";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListCommandsBadInput,
    ::testing::Values(
        BadInputCase{"DriveTwoLetters", Add({"--drive", "YZ"}), "pw\n", 2, "not a drive letter"},
        BadInputCase{"DriveDigit", Add({"--drive", "1:"}), "pw\n", 2, "not a drive letter"},
        BadInputCase{"DriveEmpty", Add({"--drive", ""}), "pw\n", 2, "not a drive letter"},
        BadInputCase{"MaxPingNegative", Add({"--max-ping", "-1"}), "pw\n", 2, "not a whole number"},
        BadInputCase{"MaxPingFraction", Add({"--max-ping", "5.5"}), "pw\n", 2,
                     "not a whole number"},
        BadInputCase{"MaxPingWord", Add({"--max-ping", "five"}), "pw\n", 2, "not a whole number"},
        BadInputCase{"MaxPingTooLarge", Add({"--max-ping", "2147483648"}), "pw\n", 2, "too large"},
        BadInputCase{"HostTooLong", Add({"--host", "h234567890123456X"}), "pw\n", 2,
                     "--host is too long: at most 16 characters"},
        BadInputCase{"UserTooLong", Add({"--user", std::string(21, 'u')}), "pw\n", 2,
                     "--user is too long: at most 20 characters"},
        BadInputCase{"UncTooLong", Add({"--unc", std::string(51, 's')}), "pw\n", 2,
                     "--unc is too long: at most 50 characters"},
        BadInputCase{"PasswordTooLong", Add({}), std::string(21, 'p') + "\n", 2,
                     "the password is too long: at most 20 characters"},
        BadInputCase{"PasswordTwoLines", Add({}), "one\ntwo\n", 2, "the password is one line"},
        BadInputCase{"PasswordInputEmpty", Add({}), "", 2, "standard input is empty"},
        BadInputCase{"PasswordOnCommandLine",
                     {"--edit", "1", "--password", "secret"},
                     "",
                     2,
                     "never taken from the command line"},
        BadInputCase{"PasswordAttached",
                     {"--edit", "1", "--password=secret"},
                     "",
                     2,
                     "never taken from the command line"},
        BadInputCase{"EmptyHost", Add({"--host", ""}), "pw\n", 2, "--host must not be empty"},
        BadInputCase{"UncWithServer", Add({"--unc", "\\\\srv\\share"}), "pw\n", 2,
                     "without the server"},
        BadInputCase{"AddWithoutDrive",
                     {"--add", "--host", "h", "--user", "u", "--unc", "s", "--password-stdin"},
                     "pw\n",
                     2,
                     "--add needs --drive"},
        BadInputCase{"EditNoSuchRecord",
                     {"--edit", "2", "--host", "h"},
                     "",
                     2,
                     "the list has records 1 to 1"},
        BadInputCase{"RemoveZero", {"--remove", "0"}, "", 2, "no such record"},
        BadInputCase{"RemoveNotANumber", {"--remove", "first"}, "", 2, "no such record"},
        BadInputCase{"RemoveWithoutNumber", {"--remove"}, "", 2, "--remove needs a value"},
        BadInputCase{"EditNothing", {"--edit", "1"}, "", 2, "at least one field"},
        BadInputCase{"TwoCommands", {"--remove", "1", "--list"}, "", 2, "not --remove and --list"},
        BadInputCase{"ListWithField", {"--list", "--host", "h"}, "", 2, "takes no record fields"},
        BadInputCase{
            "JsonWithoutList", {"--remove", "1", "--json"}, "", 2, "--json goes with --list"},
        BadInputCase{"UnknownOption", {"--list", "--colour"}, "", 2, "unknown option '--colour'"},
        BadInputCase{"UserLoneCarriageReturn", Add({"--user", "\r"}), "pw\n", 2,
                     "--user holds a character that the settings file cannot store"},
        BadInputCase{"UncLineFeed", Add({"--unc", "\n"}), "pw\n", 2,
                     "--unc holds a character that the settings file cannot store"},
        BadInputCase{"HostEnciphersToALineBreak", Add({"--host", EnciphersToALineBreak('\x13')}),
                     "pw\n", 2, "--host holds a character that the settings file cannot store"},
        BadInputCase{"EditHostEnciphersToALineBreak",
                     {"--edit", "1", "--host", EnciphersToALineBreak('\x19')},
                     "",
                     2,
                     "--host holds a character that the settings file cannot store"},
        BadInputCase{"PasswordEnciphersToALineBreak", Add({}), EnciphersToALineBreak('\x1E') + "\n",
                     2, "the password holds a character that the settings file cannot store"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListCommands, AFileThatCannotBeReadOrWrittenIsLeftAsItIs) {
    program_.WriteSettings({{"srv1", "bob", "pw", "data", "Y:", 5}});
    const std::string path = program_.SettingsFile();
    // Read-only: refused, not replaced behind its owner's back (also for root).
    ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
    const std::string before = Contents(path);
    auto r = program_.Run({"--remove", "1"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("the list was not changed"), std::string::npos) << r.err;
    EXPECT_EQ(Contents(path), before);
    r = program_.Run({"--list"});
    EXPECT_EQ(r.status, 0) << r.err;

    // Not a file at all: neither listed nor changed, and never blocked on.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    r = program_.Run({"--list"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    r = program_.Run(Add({}), "pw\n");
    EXPECT_EQ(r.status, 1) << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Every process's command line and environment, as the system shows them.
std::string AllCommandLinesAndEnvironments() {
    std::string all;
    DIR* proc = ::opendir("/proc");
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        for (const char* what : {"/cmdline", "/environ"})
            all += Contents(std::string("/proc/") + e->d_name + what);
    }
    if (proc)
        ::closedir(proc);
    return all;
}

TEST_F(ListCommands, PasswordOnStandardInputIsInNoCommandLineOrEnvironment) {
    const std::string password = "Pw-" + std::to_string(::getpid()) + "-x";
    bool looked = false;
    const auto r = program_.Run(
        {"--add", "--host", "srv", "--user", "u", "--unc", "s", "--drive",
         "Q:", "--password-stdin"},
        password + "\n", [&](pid_t pid) {
            // The command has the password in its pipe and waits for the end
            // of its input: it is running now.
            // (Its command line shows once the program runs; bounded.)
            std::string own;
            for (int i = 0; i < 200 && own.find("--password-stdin") == std::string::npos; ++i) {
                own = Contents("/proc/" + std::to_string(pid) + "/cmdline");
                if (own.find("--password-stdin") == std::string::npos) {
                    pollfd none{-1, 0, 0};
                    ::poll(&none, 1, 10);
                }
            }
            own += Contents("/proc/" + std::to_string(pid) + "/environ");
            EXPECT_NE(own.find("--password-stdin"), std::string::npos);
            EXPECT_EQ(own.find(password), std::string::npos);
            EXPECT_EQ(AllCommandLinesAndEnvironments().find(password), std::string::npos);
            looked = true;
        });
    ASSERT_TRUE(looked);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(program_.Records().size(), 1u);
    EXPECT_EQ(program_.Records()[0].password, password);
    EXPECT_EQ(r.out.find(password), std::string::npos);
}

TEST_F(ListCommands, PasswordFromTheTerminalIsNotEchoed) {
    std::vector<std::string> env = program_.Environment();
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {program_.Executable(),
                                     "--add",
                                     "--host",
                                     "srv",
                                     "--user",
                                     "u",
                                     "--unc",
                                     "s",
                                     "--drive",
                                     "Q:"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    // Everything the terminal shows until `until` appears or it closes.
    std::string screen;
    const auto readUntil = [&](const std::string& until) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (screen.find(until) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{terminal, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                continue;
            char chunk[256];
            const ssize_t n = ::read(terminal, chunk, sizeof chunk);
            if (n <= 0)
                break;
            screen.append(chunk, static_cast<std::size_t>(n));
        }
    };
    readUntil("Password for srv: ");
    ASSERT_NE(screen.find("Password for srv: "), std::string::npos) << screen;
    // A command waiting for a person holds no lock: a reader and another
    // change go through meanwhile, each within Run's bound.
    const auto listed = program_.Run({"--list"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    const auto other = program_.Run(Add({"--host", "other", "--drive", "Z:"}), "pw2\n");
    EXPECT_EQ(other.status, 0) << other.err;
    termios now{};
    ASSERT_EQ(::tcgetattr(terminal, &now), 0);
    EXPECT_EQ(now.c_lflag & ECHO, 0u) << "echo is on while the password is typed";
    const std::string typed = "Typed-Secret\n";
    ASSERT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    readUntil("Saved to");
    readUntil("\n\n");  // up to the end of the output
    // Bounded: a command still waiting for its password is ended.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{pidfd, POLLIN, 0};
    if (pidfd < 0 || ::poll(&ended, 1, 20000) <= 0)
        ::kill(pid, SIGKILL);
    if (pidfd >= 0)
        ::close(pidfd);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_EQ(screen.find("Typed-Secret"), std::string::npos) << screen;
    // Made on the file as it was when the password came: both are kept.
    ASSERT_EQ(program_.Records().size(), 2u);
    EXPECT_EQ(program_.Records()[0].host, "other");
    EXPECT_EQ(program_.Records()[1].password, "Typed-Secret");
}

// A window holds its running guard beside the settings file; the test holds
// it in the window's place, from another runtime folder than the commands'.
TEST_F(ListCommands, WhileAWindowRunsChangesAreRefusedAndListingWorks) {
    program_.WriteSettings({{"srv1", "bob", "pw", "data", "Y:", 5}});
    const std::string before = Contents(program_.SettingsFile());
    std::optional<win::FileLock> window(quilvane::WindowRunningGuard(program_.SettingsFile()));
    ASSERT_TRUE(window->Held()) << window->Error();
    for (const auto& args : std::vector<std::vector<std::string>>{
             Add({}), {"--edit", "1", "--max-ping", "3"}, {"--remove", "1"}}) {
        const auto r = program_.Run(args, "pw\n");
        EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("Make the change in the window, or quit it"), std::string::npos)
            << r.err;
        EXPECT_EQ(Contents(program_.SettingsFile()), before);
    }
    const auto list = program_.Run({"--list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("srv1"), std::string::npos);

    window.reset();
    const auto r = program_.Run({"--remove", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(program_.Records().empty());
}

// Two runtime folders of the same user, as two logins or a su shell give.
std::pair<std::string, std::string> TwoRuntimeFolders(const HeadlessProgram& program) {
    const std::string a = program.Runtime() + "/a", b = program.Runtime() + "/b";
    ::mkdir(a.c_str(), 0700);
    ::mkdir(b.c_str(), 0700);
    return {a, b};
}

TEST_F(ListCommands, ConcurrentAddsFromTwoRuntimeFoldersAreAllKept) {
    const auto [a, b] = TwoRuntimeFolders(program_);
    constexpr int kAdds = 10;
    std::vector<HeadlessProgram::Result> results(kAdds);
    std::vector<std::thread> adds;
    for (int i = 0; i < kAdds; ++i) {
        adds.emplace_back([&, i] {
            const std::string drive(1, static_cast<char>('D' + i));
            results[i] = program_.Run(Add({"--host", "srv" + std::to_string(i), "--drive", drive}),
                                      "pw\n", {}, {"XDG_RUNTIME_DIR=" + (i % 2 ? a : b)});
        });
    }
    for (std::thread& t : adds)
        t.join();
    for (int i = 0; i < kAdds; ++i)
        EXPECT_EQ(results[i].status, 0) << i << ": " << results[i].err;
    std::set<std::string> hosts;
    for (const ConnectionRecord& r : program_.Records())
        hosts.insert(r.host);
    EXPECT_EQ(hosts.size(), static_cast<std::size_t>(kAdds));
}

// The real window (on the offscreen platform) under one runtime folder, the
// commands under another: the window's rule holds, nothing is accepted that
// its Exit would write over.
TEST_F(ListCommands, AWindowUnderAnotherRuntimeFolderIsSeen) {
    program_.WriteSettings({{"srv1", "bob", "pw", "data", "Y:", 5}});
    const auto [a, b] = TwoRuntimeFolders(program_);
    ASSERT_TRUE(
        program_.Start({}, true, {}, {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + a}, {}));
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
        running = quilvane::WindowRunning(program_.SettingsFile());
        if (!running)
            std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(running) << "the window did not start";
    const std::string before = Contents(program_.SettingsFile());
    auto r = program_.Run(Add({}), "pw\n", {}, {"XDG_RUNTIME_DIR=" + b});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Make the change in the window"), std::string::npos) << r.err;
    EXPECT_EQ(Contents(program_.SettingsFile()), before);
    r = program_.Run({"--list"}, "", {}, {"XDG_RUNTIME_DIR=" + b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("srv1"), std::string::npos);

    program_.Stop(SIGKILL);
    r = program_.Run(Add({}), "pw\n", {}, {"XDG_RUNTIME_DIR=" + b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(program_.Records().size(), 2u);
}

// The next line that holds `text`, or nothing within `timeout`.
std::optional<std::string> LineWith(HeadlessProgram& program, const std::string& text,
                                    std::chrono::milliseconds timeout, std::string* seen) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        const auto line = program.NextLine(left);
        if (!line)
            return std::nullopt;
        *seen += *line + "\n";
        if (line->find(text) != std::string::npos)
            return line;
    }
}

TEST_F(ListCommands, EmptyHeadlessSaysSoOnceWithoutRuntimeFolderNoise) {
    // A machine without XDG_RUNTIME_DIR, as a server's plain login gives.
    ASSERT_TRUE(program_.Start({}, true, {"XDG_RUNTIME_DIR"}));
    std::string seen;
    ASSERT_TRUE(LineWith(program_, "This monitor takes it up at once.", 20s, &seen)) << seen;
    EXPECT_EQ(seen, "Quilvane: the list in " + program_.SettingsFile() +
                        " is empty, so there is nothing to watch.\n"
                        "Add a record with:\n  " +
                        quilvane::AddCommandExample + "\nThis monitor takes it up at once.\n");
    // Nothing more comes while the list stays empty.
    EXPECT_FALSE(LineWith(program_, "", 1500ms, &seen)) << seen;
    const int status = program_.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ListCommands, HeadlessMonitorTakesChangesUpAtOnce) {
    ASSERT_TRUE(program_.Start({}, true));
    std::string seen;
    ASSERT_TRUE(LineWith(program_, "This monitor takes it up at once.", 20s, &seen)) << seen;

    auto r = program_.Run({"--add", "--host", "127.0.0.1", "--user", "u", "--unc", "s", "--drive",
                           "Q:", "--password-stdin"},
                          "pw\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("The running headless monitor reloads the list."), std::string::npos)
        << r.out;
    ASSERT_TRUE(LineWith(program_,
                         "the list was reloaded from " + program_.SettingsFile() + ": 1 record",
                         10s, &seen))
        << seen;
    // The next pass (within 10 s) pings the new record's host.
    ASSERT_TRUE(LineWith(program_, "HostName=127.0.0.1 Connected=True", 20s, &seen)) << seen;

    r = program_.Run({"--remove", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(
        LineWith(program_, "reloaded from " + program_.SettingsFile() + ": 0 records", 10s, &seen))
        << seen;
    // A hand edit is a change too.
    program_.WriteSettings({{"127.0.0.2", "u", "pw", "s", "R:", 5}});
    ASSERT_TRUE(LineWith(program_, ": 1 record", 10s, &seen)) << seen;
    ASSERT_TRUE(LineWith(program_, "HostName=127.0.0.2", 20s, &seen)) << seen;
}

// --- the runtime folder against another user ------------------------------

// The names, owners and modes of a folder's entries.
std::string Listing(const std::string& folder) {
    std::set<std::string> entries;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(folder, error)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        entries.insert(e.path().filename().string() + ":" + std::to_string(st.st_uid) + ":" +
                       std::to_string(st.st_mode));
    }
    std::string all;
    for (const std::string& e : entries)
        all += e + " ";
    return all;
}

// A su shell keeps the runtime folder of the user who logged in: his folder,
// in which he has put links to what he would like root to write or read.
class ForeignRuntimeFolder : public ListCommands {
protected:
    void SetUp() override {
        ListCommands::SetUp();
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as another user";
        // His folders lie beside the program's, where he can reach them.
        const std::string base = std::filesystem::path(program_.Runtime()).parent_path();
        ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
        His = base + "/his-run";
        ASSERT_EQ(::mkdir(His.c_str(), 0700), 0);
        ASSERT_EQ(::chown(His.c_str(), kNobody, kNobody), 0);
        Bait = base + "/bait";
        std::ofstream(Bait) << "root's own";
        ASSERT_EQ(::chmod(Bait.c_str(), 0600), 0);
        ASSERT_TRUE(AsNobody([&] {
            return ::symlink(Bait.c_str(), (His + "/quilvane-session-bus").c_str()) == 0 &&
                   ::mkdir((His + "/his").c_str(), 0777) == 0 &&
                   ::symlink((His + "/his").c_str(), (His + "/quilvane").c_str()) == 0;
        }));
        Before = Listing(His) + Listing(His + "/his");
    }
    void TearDown() override {
        if (!His.empty()) {
            EXPECT_EQ(Listing(His) + Listing(His + "/his"), Before) << "his folder was changed";
            EXPECT_EQ(Contents(Bait), "root's own");
        }
    }

    std::string His, Bait, Before;
};

TEST_F(ForeignRuntimeFolder, HeadlessMonitorsFromAFolderOfItsOwn) {
    // A host that answers: the monitor maps its drive, which needs the gvfs
    // session and its record.
    program_.WriteSettings({{"127.0.0.1", "u", "pw", "s", "Q:", 5}});
    ASSERT_TRUE(program_.Start({}, true, {}, {"XDG_RUNTIME_DIR=" + His}));
    std::string seen;
    EXPECT_TRUE(LineWith(program_, "HostName=127.0.0.1 Connected=True", 30s, &seen)) << seen;
    EXPECT_EQ(seen.find("XDG_RUNTIME_DIR"), std::string::npos) << seen;
    const int status = program_.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // The private gvfs session went into the stand-in folder in root's home.
    std::string record;
    for (const auto& e : std::filesystem::directory_iterator(
             std::filesystem::path(program_.Runtime()).parent_path() / "home/.cache/quilvane")) {
        if (std::filesystem::exists(e.path() / "quilvane-session-bus"))
            record = Contents((e.path() / "quilvane-session-bus").string());
    }
    EXPECT_NE(record.find("unix:"), std::string::npos) << "no private session was recorded";
}

TEST_F(ForeignRuntimeFolder, WithoutAnySafeFolderEveryStartSaysSoAndEndsWithOne) {
    // His home too: nothing of root's can be kept safely.
    const std::string home = std::filesystem::path(His).parent_path().string() + "/his-home";
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    ASSERT_EQ(::chown(home.c_str(), kNobody, kNobody), 0);
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + His, "HOME=" + home,
                                          "QT_QPA_PLATFORM=offscreen"};
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--headless"}, {}, {"/autorun"}}) {
        const auto r = program_.Run(args, "", {}, env);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("no private runtime folder"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(home), std::string::npos) << r.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(home));
    // The list commands need no runtime folder: they still work.
    const auto r = program_.Run(Add({}), "pw\n", {}, env);
    EXPECT_EQ(r.status, 0) << r.err;
}

// An install in a folder the user may not write (root's, run by nobody): no
// change of the file can come from this user, so the window starts without
// the guard beside the file rather than refuse to run.
TEST_F(ListCommands, AWindowStartsWhereTheSettingsFolderIsNotWritable) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const std::string base = std::filesystem::path(program_.Runtime()).parent_path();
    ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
    const std::string his = base + "/nobody-home";
    ASSERT_EQ(::mkdir(his.c_str(), 0700), 0);
    ASSERT_EQ(::chown(his.c_str(), kNobody, kNobody), 0);
    // In a network namespace of its own, where nobody may open ICMP sockets.
    const std::vector<std::string> asNobody = {
        "unshare", "-n", "sh", "-c",
        "sysctl -qw net.ipv4.ping_group_range='0 2147483647' && exec setpriv --reuid=65534 "
        "--regid=65534 --clear-groups \"$0\" \"$@\""};
    ASSERT_TRUE(program_.Start(asNobody, true, {},
                               {"QT_QPA_PLATFORM=offscreen", "HOME=" + his,
                                "XDG_RUNTIME_DIR=" + his, "XDG_CONFIG_HOME=" + his + "/.config"},
                               {}));
    std::string seen;
    const auto said = LineWith(program_, "cannot start", 3s, &seen);
    EXPECT_FALSE(said) << seen;
    EXPECT_EQ(program_.Wait(0ms), -1) << "the window ended: " << seen;
    EXPECT_FALSE(std::filesystem::exists(program_.SettingsFile() + ".lock"));
}

}  // namespace
}  // namespace quilvane_test
