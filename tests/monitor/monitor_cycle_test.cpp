// The monitor cycle's state table with a fake pinger and fake drive
// operations: one row a transition, then whole passes over several records.
#include "monitor/monitor_cycle.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "monitor/connection_table.h"

namespace quilvane {
namespace {

// Drive operations over an in-memory list of connections. Every call is
// logged with its arguments as they arrived, between brackets.
class FakeDrives : public TDriveOperations {
public:
    std::map<std::string, std::string> Connections;  // drive -> remote name
    std::set<std::string> LocalDrives;               // NetUse on them fails
    bool UseFails = false;
    bool DelFails = false;
    bool FolderGone = false;  // the mapped share does not answer
    std::vector<std::string> Calls;

    bool NetUse(const std::string& Drive, const std::string& RemoteName,
                const std::string& Password, const std::string& UserName) override {
        Calls.push_back("NetUse[" + Drive + "|" + RemoteName + "|" + Password + "|" + UserName +
                        "]");
        if (UseFails || LocalDrives.count(Drive) || Connections.count(Drive))
            return false;
        if (!Drive.empty())
            Connections[Drive] = RemoteName;
        return true;
    }
    bool NetDel(const std::string& Drive) override {
        Calls.push_back("NetDel[" + Drive + "]");
        if (DelFails)
            return false;
        return Connections.erase(Drive) == 1;
    }
    std::string PathForDrive(const std::string& Drive) override {
        Calls.push_back("PathForDrive[" + Drive + "]");
        auto it = Connections.find(Drive);
        return it == Connections.end() ? "" : it->second;
    }
    bool FolderExists(const std::string& Path) override {
        Calls.push_back("FolderExists[" + Path + "]");
        return !FolderGone && Path.size() == 3 && Connections.count(Path.substr(0, 2));
    }
};

using Bool = std::optional<bool>;
using Int = std::optional<int>;

struct Record {
    std::string host = "srv1";
    std::string drive = "Y:";
    std::string unc = "data";
    std::string user = " user";  // blanks that the cycle trims
    std::string password = "pw\t";
    Int maxPing = 5;
    Bool connected;
    Int falseCount = 0;
    Bool maped;
};

class Table {
public:
    fw::TRxMemoryData Data{nullptr, ConnectionFields()};

    void Add(const Record& r) {
        Data.Append();
        Data.FieldByName("HostName").SetAsString(r.host);
        Data.FieldByName("Drive").SetAsString(r.drive);
        Data.FieldByName("UNC").SetAsString(r.unc);
        Data.FieldByName("UserName").SetAsString(r.user);
        Data.FieldByName("Password").SetAsString(r.password);
        if (r.maxPing)
            Data.FieldByName("MaxPing").SetAsInteger(*r.maxPing);
        if (r.connected)
            Data.FieldByName("Connected").SetAsBoolean(*r.connected);
        if (r.falseCount)
            Data.FieldByName("FalseCount").SetAsInteger(*r.falseCount);
        if (r.maped)
            Data.FieldByName("Maped").SetAsBoolean(*r.maped);
        Data.Post();
    }
    // "Connected/FalseCount/Maped" of record recNo, as the grid shows them.
    std::string State(int recNo) {
        Data.SetRecNo(recNo);
        return Data.FieldByName("Connected").DisplayText() + "/" +
               Data.FieldByName("FalseCount").DisplayText() + "/" +
               Data.FieldByName("Maped").DisplayText();
    }
};

struct Transition {
    const char* name;
    Record before;
    int status;
    // The platform before the request.
    const char* current;  // what Y: (or the record's drive) is connected to
    bool useFails = false;
    bool delFails = false;
    bool folderGone = false;
    std::vector<std::string> calls;
    const char* after;  // Connected/FalseCount/Maped
};

void PrintTo(const Transition& t, std::ostream* os) {
    *os << t.name;
}

class StateTable : public ::testing::TestWithParam<Transition> {};

TEST_P(StateTable, OneRequest) {
    const Transition& t = GetParam();
    Table table;
    table.Add(t.before);
    FakeDrives drives;
    if (*t.current)
        drives.Connections[t.before.drive] = t.current;
    drives.UseFails = t.useFails;
    drives.DelFails = t.delFails;
    drives.FolderGone = t.folderGone;
    const std::string before = table.State(1);

    const bool posted = HandleEchoReply(table.Data, drives, t.status);

    EXPECT_EQ(drives.Calls, t.calls);
    EXPECT_EQ(table.State(1), t.after);
    EXPECT_EQ(posted, table.State(1) != before || t.status == 0 || t.status == 1);
    EXPECT_EQ(table.Data.State(), fw::TDataSetState::dsBrowse) << "the record is posted";
}

const std::string kUse = "NetUse[Y:|\\\\srv1\\data|pw|user]";

Record Rec(Bool connected, Int falseCount, Bool maped, Int maxPing = 5) {
    Record r;
    r.connected = connected;
    r.falseCount = falseCount;
    r.maped = maped;
    r.maxPing = maxPing;
    return r;
}

Record With(Record r, std::string host, std::string drive, std::string unc) {
    r.host = std::move(host);
    r.drive = std::move(drive);
    r.unc = std::move(unc);
    return r;
}

// One row a transition reads better than one field a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    MonitorCycle, StateTable,
    ::testing::Values(
        // Answered requests.
        Transition{"ReplyDriveFreeMaps", Rec({}, 0, {}), 1, "", false, false, false,
                   {"PathForDrive[Y:]", kUse}, "True/0/True"},
        Transition{"ReplyMappingFailsLeavesMapedFalse", Rec(true, 0, false), 1, "", true, false,
                   false, {"PathForDrive[Y:]", kUse}, "True/0/False"},
        Transition{"ReplyTakesOverForeignShare", Rec(false, 2, {}), 1, "\\\\other\\x", false,
                   false, false, {"PathForDrive[Y:]", "NetDel[Y:]", kUse}, "True/0/True"},
        Transition{"ReplyForeignShareThatWillNotGoIgnoresNetDel", Rec(false, 2, {}), 1,
                   "\\\\other\\x", false, true, false, {"PathForDrive[Y:]", "NetDel[Y:]", kUse},
                   "True/0/False"},
        Transition{"ReplyAlreadyMappedOnlyChecksFolder", Rec({}, 0, {}), 1, "\\\\srv1\\data",
                   false, false, false, {"PathForDrive[Y:]", "FolderExists[Y:\\]"},
                   "True/0/True"},
        Transition{"ReplyStaleMappingIsDropped", Rec(true, 0, true), 1, "\\\\srv1\\data", false,
                   false, true, {"PathForDrive[Y:]", "FolderExists[Y:\\]", "NetDel[Y:]"},
                   "True/0/False"},
        Transition{"ReplyAfterSilenceResetsCount", Rec(false, 4, true), 1, "\\\\srv1\\data",
                   false, false, false, {"PathForDrive[Y:]", "FolderExists[Y:\\]"},
                   "True/0/True"},
        Transition{"ReplyTrailingBlankInUncRemapsEveryTime",
                   With(Rec(true, 0, true), "srv1", "Y:", "data "), 1, "\\\\srv1\\data", false,
                   false, false, {"PathForDrive[Y:]", "NetDel[Y:]", kUse}, "True/0/True"},
        Transition{"ReplyLetterCaseCountsAsAnotherPath",
                   With(Rec(true, 0, true), "server", "Y:", "Data"), 1, "\\\\SERVER\\Data", false,
                   false, false,
                   {"PathForDrive[Y:]", "NetDel[Y:]", "NetUse[Y:|\\\\server\\Data|pw|user]"},
                   "True/0/True"},
        Transition{"ReplyEmptyDriveConnectsWithoutLetter", With(Rec({}, 0, {}), "srv1", "", "data"),
                   1, "", false, false, false,
                   {"PathForDrive[]", "NetUse[|\\\\srv1\\data|pw|user]"}, "True/0/True"},
        // Unanswered requests.
        Transition{"SilentBelowMaxPingCounts", Rec(true, 2, true), 0, "\\\\srv1\\data", false,
                   false, false, {}, "False/3/True"},
        Transition{"SilentAtMaxPingDisconnects", Rec(false, 5, true), 0, "\\\\srv1\\data", false,
                   false, false, {"NetDel[Y:]"}, "False/1/False"},
        Transition{"SilentAtMaxPingFailedNetDelKeepsMaped", Rec(false, 5, true), 0,
                   "\\\\srv1\\data", false, true, false, {"NetDel[Y:]"}, "False/1/True"},
        Transition{"SilentPastMaxPingUnmappedRestartsCount", Rec(false, 7, false), 0, "", false,
                   false, false, {}, "False/1/False"},
        Transition{"SilentMaxPingZeroDisconnectsAtOnce", Rec(true, 0, true, 0), 0,
                   "\\\\srv1\\data", false, false, false, {"NetDel[Y:]"}, "False/1/False"},
        Transition{"SilentMaxPingNegativeDisconnectsAtOnce", Rec(true, 0, true, -3), 0,
                   "\\\\srv1\\data", false, false, false, {"NetDel[Y:]"}, "False/1/False"},
        Transition{"SilentMaxPingNegativeBelowCountIsSignedComparison", Rec(false, 1, false, -1),
                   0, "", false, false, false, {}, "False/1/False"},
        Transition{"SilentUnsetFieldsReadAsZero", Rec({}, {}, {}, {}), 0, "", false, false, false,
                   {}, "False/1/"},
        Transition{"SilentEmptyDriveCannotBeDisconnected", With(Rec(true, 5, true), "srv1", "", "data"),
                   0, "", false, false, false, {"NetDel[]"}, "False/1/True"},
        // Statuses that are neither: nothing happens.
        Transition{"StatusTwoIgnored", Rec(true, 3, true), 2, "\\\\srv1\\data", false, false,
                   false, {}, "True/3/True"},
        Transition{"StatusNegativeIgnored", Rec(false, 5, true), -1, "\\\\srv1\\data", false,
                   false, false, {}, "False/5/True"}),
    [](const auto& info) { return std::string(info.param.name); });

// A pinger over the fake network: hosts that answer, hosts that are silent,
// and names that do not resolve (no reply event at all).
struct FakeNetwork {
    std::set<std::string> answering;
    std::set<std::string> unresolvable;
    std::vector<std::string> pinged;

    std::function<void(const std::string&)> Pinger(fw::TRxMemoryData& table, FakeDrives& drives) {
        return [this, &table, &drives](const std::string& address) {
            pinged.push_back(address);
            if (unresolvable.count(address)) return;
            HandleEchoReply(table, drives, answering.count(address) ? 1 : 0);
        };
    }
};

TEST(MonitorPass, EmptyTablePingsNothing) {
    Table table;
    FakeDrives drives;
    FakeNetwork net;
    MonitorPass(table.Data, net.Pinger(table.Data, drives));
    EXPECT_TRUE(net.pinged.empty());
    EXPECT_TRUE(drives.Calls.empty());
}

TEST(MonitorPass, PingsEveryHostAsStoredInOrderAndEndsOnTheLast) {
    Table table;
    for (const char* host : {"srv1", " srv2 ", "srv3"}) {
        Record r;
        r.host = host;
        r.drive = std::string(1, static_cast<char>('W' + table.Data.RecordCount())) + ":";
        table.Add(r);
    }
    FakeDrives drives;
    FakeNetwork net;
    net.answering = {"srv1", "srv3"};
    MonitorPass(table.Data, net.Pinger(table.Data, drives));
    EXPECT_EQ(net.pinged, (std::vector<std::string>{"srv1", " srv2 ", "srv3"}));
    EXPECT_EQ(table.Data.RecNo(), 3);
    // Each reply went to the record that was pinged.
    EXPECT_EQ(table.State(1), "True/0/True");
    EXPECT_EQ(table.State(2), "False/1/");
    EXPECT_EQ(table.State(3), "True/0/True");
    EXPECT_EQ(drives.Connections["W:"], "\\\\srv1\\data");
    EXPECT_EQ(drives.Connections["Y:"], "\\\\srv3\\data");
}

TEST(MonitorPass, UnresolvableHostLeavesItsRecordAsItWas) {
    Table table;
    table.Add(With(Rec(true, 2, true), "no.such.host", "Y:", "data"));
    FakeDrives drives;
    drives.Connections["Y:"] = "\\\\no.such.host\\data";
    FakeNetwork net;
    net.unresolvable = {"no.such.host"};
    for (int pass = 0; pass < 10; ++pass) MonitorPass(table.Data, net.Pinger(table.Data, drives));
    EXPECT_EQ(net.pinged.size(), 10u);
    EXPECT_EQ(table.State(1), "True/2/True");
    EXPECT_TRUE(drives.Calls.empty());
    EXPECT_EQ(drives.Connections.size(), 1u) << "its drive stays mapped";
}

TEST(MonitorPass, TwoRecordsOnOneDriveTheLaterHoldsIt) {
    Table table;
    table.Add(With(Record{}, "srv1", "Y:", "one"));
    table.Add(With(Record{}, "srv2", "Y:", "two"));
    FakeDrives drives;
    FakeNetwork net;
    net.answering = {"srv1", "srv2"};
    for (int pass = 0; pass < 3; ++pass) {
        drives.Calls.clear();
        MonitorPass(table.Data, net.Pinger(table.Data, drives));
        EXPECT_EQ(drives.Connections["Y:"], "\\\\srv2\\two") << "pass " << pass;
        EXPECT_EQ(table.State(1), "True/0/True");
        EXPECT_EQ(table.State(2), "True/0/True");
    }
    // Every pass takes the letter over twice.
    EXPECT_EQ(drives.Calls,
              (std::vector<std::string>{"PathForDrive[Y:]", "NetDel[Y:]",
                                        "NetUse[Y:|\\\\srv1\\one|pw|user]", "PathForDrive[Y:]",
                                        "NetDel[Y:]", "NetUse[Y:|\\\\srv2\\two|pw|user]"}));
}

// A host that answers, goes silent for a while and answers again: the drive
// is dropped at the (MaxPing + 1)-th silent pass, only once, and mapped again
// at the first answer.
class SilentSpell : public ::testing::TestWithParam<int> {};

TEST_P(SilentSpell, DropsAtMaxPingPlusOneAndMapsAgainAtFirstAnswer) {
    const int maxPing = GetParam();
    Table table;
    Record r;
    r.maxPing = maxPing;
    table.Add(r);
    FakeDrives drives;
    FakeNetwork net;
    net.answering = {"srv1"};
    MonitorPass(table.Data, net.Pinger(table.Data, drives));
    ASSERT_EQ(table.State(1), "True/0/True");

    net.answering.clear();
    const int silentPasses = std::max(maxPing, 0) + 4;
    int droppedAt = 0;
    int disconnections = 0;
    for (int pass = 1; pass <= silentPasses; ++pass) {
        drives.Calls.clear();
        MonitorPass(table.Data, net.Pinger(table.Data, drives));
        if (!drives.Calls.empty()) {
            ++disconnections;
            if (!droppedAt) droppedAt = pass;
        }
        // 1, 2, ..., M, then 1 again at the drop and on round: 2, ..., M, 1, ...
        const int expectedCount = maxPing <= 0    ? 1
                                  : pass <= maxPing ? pass
                                                    : 1 + (pass - maxPing - 1) % maxPing;
        EXPECT_EQ(table.Data.FieldByName("FalseCount").AsInteger(), expectedCount)
            << "pass " << pass;
    }
    EXPECT_EQ(droppedAt, std::max(maxPing, 0) + 1);
    EXPECT_EQ(disconnections, 1);
    EXPECT_TRUE(drives.Connections.empty());
    EXPECT_EQ(table.State(1), "False/" + table.Data.FieldByName("FalseCount").DisplayText() +
                                  "/False");

    net.answering = {"srv1"};
    MonitorPass(table.Data, net.Pinger(table.Data, drives));
    EXPECT_EQ(table.State(1), "True/0/True");
    EXPECT_EQ(drives.Connections["Y:"], "\\\\srv1\\data");
}

INSTANTIATE_TEST_SUITE_P(MonitorCycle, SilentSpell, ::testing::Values(-2, 0, 1, 5));

TEST(MonitorCycleTrim, RemovesControlBytesAndBlanksAtBothEndsOnly) {
    EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
    EXPECT_EQ(Trim("\x7f" "a"), "\x7f" "a") << "only bytes up to 32 are trimmed";
    EXPECT_EQ(Trim("\xc3\xa9 "), "\xc3\xa9") << "bytes above 127 stay";
    EXPECT_EQ(Trim("   "), "");
}

}  // namespace
}  // namespace quilvane
