// The headless program's start: a settings file it cannot use ends it with a
// message that names the file, an end signal during the start is seen, and a
// monitor that runs already keeps it from starting.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/kernel.h"
#include "tests/ini/ini_fixture.h"
#include "tests/monitor/headless_program.h"

namespace quilvane_test {
namespace {

using namespace std::chrono_literals;

// Everything the program printed until its output ended (bounded).
std::string AllOutput(HeadlessProgram& program) {
    std::string all;
    for (int i = 0; i < 100; ++i) {
        const auto line = program.NextLine(20s);
        if (!line)
            break;
        all += *line + "\n";
    }
    return all;
}

struct BadFileCase {
    const char* name;
    std::function<int(const std::string& path)> make;  // 0 on success
    const char* mentions;
};

void PrintTo(const BadFileCase& c, std::ostream* os) {
    *os << c.name;
}

class HeadlessBadSettings : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(HeadlessBadSettings, EndsWithStatusOneNamingTheFile) {
    const BadFileCase& c = GetParam();
    HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    const std::string path = program.SettingsFile();
    ASSERT_EQ(c.make(path), 0) << std::strerror(errno);
    ASSERT_TRUE(program.Start({}, true));
    const std::string output = AllOutput(program);
    const int status = program.Wait(20s);
    ASSERT_NE(status, -1) << "the program did not end: " << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "wait status " << status;
    EXPECT_NE(output.find("Quilvane cannot start: "), std::string::npos) << output;
    EXPECT_NE(output.find("\"" + path + "\""), std::string::npos) << output;
    EXPECT_NE(output.find(c.mentions), std::string::npos) << output;
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_FALSE(S_ISREG(st.st_mode)) << "the file was replaced";
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeadlessBadSettings,
    ::testing::Values(
        // A FIFO would block the start until someone wrote to it.
        BadFileCase{"Fifo", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600); },
                    "not a regular file"},
        BadFileCase{"Device",
                    [](const std::string& p) { return ::symlink("/dev/zero", p.c_str()); },
                    "not a regular file"},
        // Opens, but no byte of it can be read (not even by root).
        BadFileCase{"Unreadable",
                    [](const std::string& p) { return ::symlink("/proc/self/mem", p.c_str()); },
                    "I/O error"}),
    [](const auto& info) { return std::string(info.param.name); });

// The window's single-instance guard held (by a window, or another headless
// monitor) in the program's runtime folder: the start ends with status 1.
TEST(HeadlessStart, RefusesWhileAnotherMonitorHoldsTheGuard) {
    HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string old = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", program.Runtime().c_str(), 1);
    const win::HANDLE guard = win::CreateMutexA(nullptr, win::FALSE, "TacOnlyOneQuilvane");
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", old.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    ASSERT_NE(guard, nullptr);
    ASSERT_TRUE(program.Start({}, true));
    const std::string output = AllOutput(program);
    const int status = program.Wait(20s);
    win::CloseHandle(guard);
    ASSERT_NE(status, -1) << "the program did not end: " << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "wait status " << status;
    EXPECT_NE(output.find("another Quilvane monitor is running"), std::string::npos) << output;
}

// The count of a damaged file once kept the start busy for ever, deaf to
// SIGTERM; now the start is short, and the signal is seen in any state.
TEST(HeadlessStart, EndSignalDuringTheStartEndsTheProgram) {
    for (const int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signo);
        HeadlessProgram program;
        ASSERT_TRUE(program.Ready());
        TempFolder::Put(program.SettingsFile(),
                        "DriveCount=" + Enc("2000000000") + "\r\nHostName0=" + Enc("h0") + "\r\n");
        ASSERT_TRUE(program.Start());
        ASSERT_TRUE(program.CatchesSignal(signo, 20s));
        const int status = program.Stop(signo, 2s);
        ASSERT_NE(status, -1) << "the program did not end within 2 s";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
        EXPECT_EQ(program.ReadSettings(),
                  "DriveCount=" + Enc("2000000000") + "\r\nHostName0=" + Enc("h0") + "\r\n");
    }
}

}  // namespace
}  // namespace quilvane_test
