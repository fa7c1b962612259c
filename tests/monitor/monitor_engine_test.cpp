// The monitor engine against loopback with drive operations of the test's own
// (safe to call from the drive thread, and able to hold NetUse): the outcomes
// are those of the sequential cycle, posted in record order with the user's
// cursor left alone; a record deleted or changed while its drive work runs
// does not get the outcome and its share does not stay mapped; a busy record
// is left alone by the next pass; ticks during a pass start one pass after
// it; the end is bounded while a NetUse waits. Needs ICMP sockets (root, or
// unprivileged ICMP allowed).
#include "monitor/monitor_engine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "monitor/connection_table.h"
#include "ping/ping_component.h"
#include "tests/monitor/engine_fixture.h"
#include "tests/support/monitor_idle.h"
#include "tests/support/skip_or_fail.h"

namespace quilvane {
namespace {

const TEchoProbes::TRequest kEcho{"", 1, 1000, 64, 0};

class MonitorEngine : public ::testing::Test {
protected:
    fw::TRxMemoryData Table{nullptr, ConnectionFields()};
    GatedDrives Drives;
    std::unique_ptr<TMonitorEngine> Engine;
    std::vector<int> Posted;  // record numbers, in the order of the posts
    int Passes = 0;

    void SetUp() override {
        try {
            TICMP probe;
        } catch (const std::exception& e) {
            QUILVANE_SKIP_OR_FAIL(std::string("needs ICMP: ") + e.what());
        }
        Engine = std::make_unique<TMonitorEngine>(Table,
                                                  [this]() -> TDriveOperations& { return Drives; });
        Engine->OnPost = [this](fw::TRxMemoryData& t) { Posted.push_back(t.RecNo()); };
        Engine->OnPassEnd = [this] { ++Passes; };
    }
    void TearDown() override {
        Drives.SetHold(false);
        if (Engine)
            quilvane_test::WaitMonitorIdle(*Engine);
    }

    // Runs events until the pass's pings are back (bounded).
    bool PingsEnd() {
        const QDeadlineTimer deadline(20000);
        while (Engine->PassRunning() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return !Engine->PassRunning();
    }
};

TEST_F(MonitorEngine, OutcomesAreTheSequentialCyclesPostedInRecordOrderWithTheCursorKept) {
    const Rec recs[] = {
        {"127.0.0.1", "Y:"},           // free letter: mapped
        {"127.0.0.1", "Z:"},           // held by another share: taken over
        {"no such host", "W:"},        // does not resolve: untouched
        {"127.0.0.1", "V:", "data "},  // trailing blank: dropped and mapped again each pass
        {"127.0.0.1", "X:", "kept"},   // mapped as expected already: checked and kept
    };
    const std::map<std::string, std::string> start = {{"Z:", "\\\\other\\share"},
                                                      {"X:", "\\\\127.0.0.1\\kept"}};

    // The reference: the sequential pass with a ping component.
    fw::TRxMemoryData reference(nullptr, ConnectionFields());
    GatedDrives referenceDrives(start);
    GatedDrives engineDrives(start);
    TPing ping(nullptr);
    ping.SetSize(1);
    ping.SetTimeout(1000);
    ping.OnEchoReply = [&](fw::TObject*, TICMP*, int status) {
        HandleEchoReply(reference, referenceDrives, status);
    };
    TMonitorEngine engine(Table, [&]() -> TDriveOperations& { return engineDrives; });
    engine.OnPost = [this](fw::TRxMemoryData& t) { Posted.push_back(t.RecNo()); };
    for (const Rec& r : recs) {
        Append(Table, r);
        Append(reference, r);
    }
    for (int pass = 1; pass <= 3; ++pass) {
        SCOPED_TRACE("pass " + std::to_string(pass));
        MonitorPass(reference, [&](const std::string& host) {
            ping.SetAddress(host);
            ping.Ping();
        });
        Table.SetRecNo(2);  // where the user left the grid
        Posted.clear();
        ASSERT_TRUE(engine.StartPass(kEcho));
        ASSERT_TRUE(quilvane_test::WaitMonitorIdle(engine));
        EXPECT_EQ(States(Table), States(reference));
        EXPECT_EQ(Posted, (std::vector<int>{1, 2, 4, 5}));
        EXPECT_EQ(Table.RecNo(), 2) << "the cursor stays where the user left it";
        EXPECT_EQ(engineDrives.Log(), referenceDrives.Log());
        EXPECT_EQ(engineDrives.Mapped(), referenceDrives.Mapped());
    }
    EXPECT_EQ(States(Table)[2], "/0/") << "an unresolved host's record is never touched";
}

// What happens to a record while its NetUse waits.
struct WhileMapping {
    const char* name;
    std::function<void(fw::TRxMemoryData&, TMonitorEngine&)> change;
    bool stillMapped;        // Y: at the end
    const char* stateAfter;  // of the first record, "" when it is gone
};

class OutcomeWhileMapping : public MonitorEngine,
                            public ::testing::WithParamInterface<WhileMapping> {};

TEST_P(OutcomeWhileMapping, GoesOnlyToTheRecordAsItWasPinged) {
    const WhileMapping& c = GetParam();
    Append(Table, {"127.0.0.1", "Y:"});
    Drives.SetHold(true);
    ASSERT_TRUE(Engine->StartPass(kEcho));
    ASSERT_TRUE(Drives.WaitInNetUse());
    c.change(Table, *Engine);
    Drives.SetHold(false);
    ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Engine));
    EXPECT_TRUE(Posted.empty()) << "the outcome of the old values is dropped";
    EXPECT_EQ(Drives.Mapped().count("Y:") == 1, c.stillMapped);
    const std::vector<std::string> states = States(Table);
    EXPECT_EQ(states.empty() ? "" : states.front(), c.stateAfter);
    // No NetDel is left for the next pass to undo: it maps what the table holds.
    ASSERT_TRUE(Engine->StartPass(kEcho));
    ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Engine));
    EXPECT_EQ(Drives.Mapped().count("Y:") == 1, !Table.IsEmpty());
}

void EditAsTheEditor(fw::TRxMemoryData& t, TMonitorEngine& e, const std::string& unc) {
    t.SetRecNo(1);
    e.Disconnect("Y:");
    t.Edit();
    TConnectionRecord(t).UNC.Set(unc);
    t.Post();
}

INSTANTIATE_TEST_SUITE_P(
    Changes, OutcomeWhileMapping,
    ::testing::Values(WhileMapping{"EditedInTheEditor",
                                   [](fw::TRxMemoryData& t, TMonitorEngine& e) {
                                       EditAsTheEditor(t, e, "new");
                                   },
                                   false, "/0/"},
                      WhileMapping{"DeletedInTheEditor",
                                   [](fw::TRxMemoryData& t, TMonitorEngine& e) {
                                       t.SetRecNo(1);
                                       t.Delete();
                                       e.Disconnect("Y:");
                                   },
                                   false, ""},
                      // A reloaded list: the record goes without a word to the drives.
                      WhileMapping{"GoneFromAReloadedList",
                                   [](fw::TRxMemoryData& t, TMonitorEngine&) {
                                       t.SetRecNo(1);
                                       t.Delete();
                                   },
                                   false, ""},
                      // A reloaded list that holds the same record again (a new one to the
                      // table): the mapping is right for it and stays.
                      WhileMapping{"ReloadedUnchanged",
                                   [](fw::TRxMemoryData& t, TMonitorEngine&) {
                                       t.SetRecNo(1);
                                       t.Delete();
                                       Append(t, {"127.0.0.1", "Y:"});
                                   },
                                   true, "/0/"}),
    [](const ::testing::TestParamInfo<WhileMapping>& info) { return info.param.name; });

TEST_F(MonitorEngine, ABusyRecordIsLeftAloneAndTicksDuringAPassStartOneMore) {
    Append(Table, {"127.0.0.1", "Y:"});
    Append(Table, {"127.0.0.1", "Z:"});
    Drives.SetHold(true);
    ASSERT_TRUE(Engine->StartPass(kEcho));
    EXPECT_FALSE(Engine->StartPass(kEcho)) << "one pass at a time";
    EXPECT_FALSE(Engine->StartPass(kEcho));
    ASSERT_TRUE(Drives.WaitInNetUse());
    ASSERT_TRUE(PingsEnd());
    // Both records wait for the drive thread: the tick's pass probes neither.
    EXPECT_EQ(Passes, 2) << "the ticks during the pass made one more pass";
    ASSERT_TRUE(Engine->StartPass(kEcho));
    ASSERT_TRUE(PingsEnd());
    EXPECT_EQ(Passes, 3);
    Drives.SetHold(false);
    ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Engine));
    EXPECT_EQ(Drives.Log(),
              (std::vector<std::string>{"PathForDrive Y:", "NetUse Y: \\\\127.0.0.1\\data",
                                        "PathForDrive Z:", "NetUse Z: \\\\127.0.0.1\\data"}))
        << "each record was handled once";
    EXPECT_EQ(States(Table), (std::vector<std::string>{"True/0/True", "True/0/True"}));
    EXPECT_EQ(Posted, (std::vector<int>{1, 2}));
}

TEST_F(MonitorEngine, ALetterOfTwoRecordsStaysWithTheFirstAndTheOtherIsToldOnce) {
    Append(Table, {"127.0.0.1", "Q:", "s1"});
    Append(Table, {"127.0.0.1", "q:", "s2"});  // one letter in either case
    std::vector<std::string> notices;
    Engine->OnNotice = [&](const std::string& text) { notices.push_back(text); };
    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_TRUE(Engine->StartPass(kEcho));
        ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Engine));
        EXPECT_EQ(States(Table), (std::vector<std::string>{"True/0/True", "True/0/False"}));
        EXPECT_EQ(Drives.Mapped(),
                  (std::map<std::string, std::string>{{"Q:", "\\\\127.0.0.1\\s1"}}));
    }
    for (const std::string& call : Drives.Log())
        EXPECT_EQ(call.find("q:"), std::string::npos) << "the second record touched the letter";
    EXPECT_EQ(notices, std::vector<std::string>{
                           "record 2 (127.0.0.1, s2) is not mapped: its drive Q: belongs to record "
                           "1 (127.0.0.1, s1); give each record a letter of its own"});

    // A record that holds the letter keeps it, though an earlier one answers.
    Table.SetRecNo(1);
    PostState(Table, {true, 0, false});
    Table.SetRecNo(2);
    PostState(Table, {true, 0, true});
    ASSERT_TRUE(Engine->StartPass(kEcho));
    ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Engine));
    EXPECT_EQ(States(Table)[0], "True/0/False");
    EXPECT_EQ(notices.size(), 2u) << "told once for each pair";
}

TEST_F(MonitorEngine, EndsWithinItsBoundWhileANetUseWaits) {
    Append(Table, {"127.0.0.1", "Y:"});
    Drives.SetHold(true);
    ASSERT_TRUE(Engine->StartPass(kEcho));
    ASSERT_TRUE(Drives.WaitInNetUse());
    const auto begin = std::chrono::steady_clock::now();
    Engine.reset();
    const auto took = std::chrono::steady_clock::now() - begin;
    // Generous: the bound is one second; a wait for the NetUse would never end.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(MonitorThreadsRunning(), 0) << "the drive thread still waits";
    Drives.SetHold(false);
    ASSERT_TRUE(Drives.WaitNetUsesDone(1));
    // What it posts goes nowhere; nothing else reaches the table.
    QCoreApplication::processEvents();
    EXPECT_EQ(States(Table), std::vector<std::string>{"/0/"});
}

}  // namespace
}  // namespace quilvane
