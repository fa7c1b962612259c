// The headless mode's line format and the program's options.
#include "app/headless.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "app/connection_table.h"
#include "tests/support/test_host.h"

namespace quilvane {
namespace {

class MonitorLineTest : public ::testing::Test {
protected:
    fw::TRxMemoryData Table{nullptr, ConnectionFields()};
    static constexpr std::time_t kWhen = 1796864523;  // 2026-12-10 01:02:03 UTC

    void SetUp() override {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
    }
};

TEST_F(MonitorLineTest, GridFieldsInGridOrderAfterLocalTime) {
    Table.Append();
    Table.FieldByName("HostName").SetAsString("srv1");
    Table.FieldByName("Connected").SetAsBoolean(true);
    Table.FieldByName("FalseCount").SetAsInteger(0);
    Table.FieldByName("UserName").SetAsString("not shown");
    Table.FieldByName("Password").SetAsString("never shown");
    Table.FieldByName("Drive").SetAsString("Y:");
    Table.FieldByName("UNC").SetAsString("data");
    Table.FieldByName("Maped").SetAsBoolean(true);
    Table.FieldByName("MaxPing").SetAsInteger(5);
    Table.Post();
    EXPECT_EQ(MonitorLine(Table, kWhen),
              "2026-12-10T01:02:03 HostName=srv1 Connected=True FalseCount=0 Drive=Y: UNC=data "
              "Maped=True");
    ::setenv("TZ", "XYZ-2", 1);  // two hours east of UTC
    ::tzset();
    EXPECT_EQ(MonitorLine(Table, kWhen).substr(0, 20), "2026-12-10T03:02:03 ");
}

TEST_F(MonitorLineTest, UnsetValuesPrintNothingAfterTheEqualsSign) {
    Table.Append();
    Table.FieldByName("Connected").SetAsBoolean(false);
    Table.FieldByName("FalseCount").SetAsInteger(12);
    Table.Post();
    EXPECT_EQ(MonitorLine(Table, kWhen),
              "2026-12-10T01:02:03 HostName= Connected=False FalseCount=12 Drive= UNC= Maped=");
}

using quilvane_test::RunCommand;

TEST(ProgramOptions, HelpListsTheOptions) {
    const auto help = RunCommand({QUILVANE_BINARY, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--headless"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("--help"), std::string::npos) << help.output;
}

TEST(ProgramOptions, WindowsParametersAreAcceptedAndUnknownOptionsRefused) {
    EXPECT_EQ(
        RunCommand({QUILVANE_BINARY, "/minimized", "/autorun", "/afterupgrade", "--help"}).exitCode,
        0);
    const auto bad = RunCommand({QUILVANE_BINARY, "--bogus"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("unknown option '--bogus'"), std::string::npos) << bad.output;
}

}  // namespace
}  // namespace quilvane
