// The whole program headless, as a user runs it on a machine without a
// display: settings written by the program's own writer, the monitor's lines on
// standard output, the drive mapped, dropped and mapped again against a real
// SMB server on a namespace test host, and the end by signal that writes
// nothing. Needs root (namespaces, ICMP), samba, gvfs and FUSE.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "tests/monitor/headless_program.h"
#include "tests/support/smb_host.h"

namespace quilvane_test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// One pass comes every 10 s; its line follows within a ping time-out and the
// drive operations' own bounded time.
constexpr auto kPassWait = 45s;

std::string Stamp(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The line without its time stamp, after checking that the stamp is the local
// time of some moment in [from, to].
std::string Fields(const std::optional<std::string>& line, std::time_t from, std::time_t to) {
    if (!line)
        return "(no line)";
    static const std::regex shape(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d) (.*)$)");
    std::smatch m;
    if (!std::regex_match(*line, m, shape))
        return "(malformed) " + *line;
    bool inRange = false;
    for (std::time_t t = from; t <= to && !inRange; ++t)
        inRange = m[1].str() == Stamp(t);
    if (!inRange)
        return "(stamp not the local time now) " + *line;
    return m[2].str();
}

bool IsEntry(const std::string& path) {
    std::error_code e;
    return fs::is_symlink(fs::symlink_status(path, e));
}

TEST(HeadlessProgram, MapsDropsAndMapsAgainAgainstRealSmbServer) {
    if (std::string why = SmbHost::Unavailable(); !why.empty())
        QUILVANE_SKIP_OR_FAIL(why);
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        QUILVANE_SKIP_OR_FAIL("needs FUSE (/dev/fuse) for the shares' local paths");
    SmbHost smb("monitor", 61, "qvmon", "mon itor");
    if (!smb.Ok())
        QUILVANE_SKIP_OR_FAIL(smb.Error());
    { std::ofstream(smb.SharePath() + "/hello.txt") << "hello"; }
    HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    program.WriteSettings({{smb.Address(), smb.User(), smb.Password(), "data", "Q:", 1}});
    const std::string settings = program.ReadSettings();
    const std::string entry = program.Drives() + "/Q";
    const std::string host = "HostName=" + smb.Address();

    std::time_t from = std::time(nullptr);
    ASSERT_TRUE(program.Start());
    auto line = program.NextLine(kPassWait);
    ASSERT_EQ(Fields(line, from, std::time(nullptr)),
              host + " Connected=True FalseCount=0 Drive=Q: UNC=data Maped=True");
    ASSERT_TRUE(IsEntry(entry));
    EXPECT_TRUE(fs::exists(entry + "/hello.txt")) << "the share is reachable through Q";

    ASSERT_TRUE(smb.SetSilent(true));
    from = std::time(nullptr);
    line = program.NextLine(kPassWait);
    EXPECT_EQ(Fields(line, from, std::time(nullptr)),
              host + " Connected=False FalseCount=1 Drive=Q: UNC=data Maped=True");
    EXPECT_TRUE(IsEntry(entry)) << "kept through MaxPing silent passes";

    from = std::time(nullptr);
    line = program.NextLine(kPassWait);
    EXPECT_EQ(Fields(line, from, std::time(nullptr)),
              host + " Connected=False FalseCount=1 Drive=Q: UNC=data Maped=False");
    EXPECT_FALSE(IsEntry(entry)) << "dropped at silent pass MaxPing + 1";

    ASSERT_TRUE(smb.SetSilent(false));
    from = std::time(nullptr);
    line = program.NextLine(kPassWait);
    EXPECT_EQ(Fields(line, from, std::time(nullptr)),
              host + " Connected=True FalseCount=0 Drive=Q: UNC=data Maped=True");
    EXPECT_TRUE(IsEntry(entry));
    EXPECT_TRUE(fs::exists(entry + "/hello.txt"));

    const int status = program.Stop(SIGTERM);
    ASSERT_NE(status, -1) << "SIGTERM did not end the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(program.ReadSettings(), settings) << "ending by signal writes nothing";
    EXPECT_TRUE(IsEntry(entry)) << "drives stay mapped when the program ends";
}

// Loopback answers; the drive's entry is a local folder, so mapping fails
// without any SMB server: the line says so, and SIGINT ends the program.
TEST(HeadlessProgram, LocalDriveOnAnsweringHostAndEndBySigint) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("needs root for ICMP sockets and FUSE");
    HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    fs::create_directory(program.Drives() + "/C");
    program.WriteSettings({{"127.0.0.1", "u", "p", "data", "C:", 5}});
    const std::string settings = program.ReadSettings();

    const std::time_t from = std::time(nullptr);
    ASSERT_TRUE(program.Start());
    const auto line = program.NextLine(kPassWait);
    EXPECT_EQ(Fields(line, from, std::time(nullptr)),
              "HostName=127.0.0.1 Connected=True FalseCount=0 Drive=C: UNC=data Maped=False");
    const int status = program.Stop(SIGINT);
    ASSERT_NE(status, -1) << "SIGINT did not end the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(program.ReadSettings(), settings);
    EXPECT_TRUE(fs::is_directory(program.Drives() + "/C")) << "a local drive is left alone";
    // Unlike the window, the headless monitor registers no start at log-in.
    for (const std::string& config : {program.UserConfig(), program.MachineConfig()})
        EXPECT_FALSE(fs::exists(config + "/autostart")) << config;
}

}  // namespace
}  // namespace quilvane_test
