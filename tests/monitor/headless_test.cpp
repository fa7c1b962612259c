// The headless mode's line format and the program's options.
#include "app/headless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "monitor/connection_table.h"
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

// Reads a line back as a script would: fields split at blanks, a value in
// double quotes with its escapes undone. Returns the fields in order.
std::vector<std::pair<std::string, std::string>> ParseLine(const std::string& line) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t i = line.find(' ');
    while (i != std::string::npos && i < line.size()) {
        ++i;  // the blank
        const std::size_t eq = line.find('=', i);
        if (eq == std::string::npos)
            break;
        std::string name = line.substr(i, eq - i), value;
        i = eq + 1;
        if (i < line.size() && line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] != '\\') {
                    value += line[i];
                    continue;
                }
                const char e = line[++i];
                if (e == 'x') {
                    value += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    value += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
                }
            }
            ++i;  // the closing quote
        } else {
            const std::size_t end = std::min(line.find(' ', i), line.size());
            value = line.substr(i, end - i);
            i = end;
        }
        fields.emplace_back(std::move(name), std::move(value));
        if (i < line.size() && line[i] != ' ')
            break;  // not one blank between fields: the check below fails
    }
    return fields;
}

struct LineValueCase {
    std::string value, shown;
};

class LineValueTest : public ::testing::TestWithParam<LineValueCase> {};

TEST_P(LineValueTest, ShowsValueSoThatItReadsBackAlone) {
    const LineValueCase& c = GetParam();
    EXPECT_EQ(LineValue(c.value), c.shown);
    const auto fields = ParseLine("T A=" + LineValue(c.value) + " B=" + LineValue(c.value));
    ASSERT_EQ(fields.size(), 2u) << LineValue(c.value);
    EXPECT_EQ(fields[0].second, c.value);
    EXPECT_EQ(fields[1].second, c.value);
}

INSTANTIATE_TEST_SUITE_P(Values, LineValueTest,
                         ::testing::Values(LineValueCase{"", ""}, LineValueCase{"srv1", "srv1"},
                                           LineValueCase{"share\\folder\\1", "share\\folder\\1"},
                                           LineValueCase{"Y:", "Y:"},
                                           LineValueCase{"caf\xC3\xA9", "caf\xC3\xA9"},
                                           LineValueCase{"x Maped=True", "\"x Maped=True\""},
                                           LineValueCase{"a=b", "\"a=b\""},
                                           LineValueCase{"\"q\"", "\"\\\"q\\\"\""},
                                           LineValueCase{"it's", "\"it's\""},
                                           LineValueCase{"a\\\"b c", "\"a\\\\\\\"b c\""},
                                           LineValueCase{"t\tn\nr\r", "\"t\\tn\\nr\\r\""},
                                           LineValueCase{std::string("e\x1B"
                                                                     "d\x7F"
                                                                     "z\0",
                                                                     6),
                                                         "\"e\\x1Bd\\x7Fz\\x00\""}));

TEST_F(MonitorLineTest, ValueThatLooksLikeAFieldCannotPassForOne) {
    Table.Append();
    Table.FieldByName("HostName").SetAsString("10.0.0.1");
    Table.FieldByName("Connected").SetAsBoolean(false);
    Table.FieldByName("FalseCount").SetAsInteger(1);
    Table.FieldByName("UNC").SetAsString("x Maped=True");
    Table.Post();
    const std::string line = MonitorLine(Table, kWhen);
    EXPECT_EQ(line,
              "2026-12-10T01:02:03 HostName=10.0.0.1 Connected=False FalseCount=1 Drive= "
              "UNC=\"x Maped=True\" Maped=");
    const auto fields = ParseLine(line);
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[4], std::make_pair(std::string("UNC"), std::string("x Maped=True")));
    EXPECT_EQ(fields[5], std::make_pair(std::string("Maped"), std::string()));
}

using quilvane_test::RunCommand;

TEST(ProgramOptions, HelpListsTheOptions) {
    const auto help = RunCommand({QUILVANE_BINARY, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--headless"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("--help"), std::string::npos) << help.output;
    // The line format, quoting included.
    EXPECT_NE(help.output.find("in double quotes"), std::string::npos) << help.output;
}

TEST(ProgramOptions, WindowsParametersAreAcceptedAndUnknownOptionsRefused) {
    EXPECT_EQ(
        RunCommand({QUILVANE_BINARY, "/MINIMIZED", "/autorun", "/AfterUpgrade", "--help"}).exitCode,
        0);
    const auto bad = RunCommand({QUILVANE_BINARY, "--bogus"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("unknown option '--bogus'"), std::string::npos) << bad.output;
}

}  // namespace
}  // namespace quilvane
