// The monitor on the real main window: Timer1 and Ping1 set as the window
// keeps them, a pass through the real Ping1 to loopback reaching the drive
// operations the window holds, and each post shown in the grid at once.
// Needs ICMP sockets (root, or unprivileged ICMP allowed).
#include <gtest/gtest.h>

#include "app/main_form.h"
#include "app/monitor_cycle.h"
#include "framework/application.h"
#include "tests/app/settings_file_guard.h"
#include "tests/support/test_host.h"

namespace quilvane {
namespace {

// Every letter is free and every mapping succeeds.
class RecordingDrives : public TDriveOperations {
public:
    std::vector<std::string> Calls;
    bool NetUse(const std::string& Drive, const std::string& RemoteName, const std::string&,
                const std::string&) override {
        Calls.push_back("NetUse " + Drive + " " + RemoteName);
        return true;
    }
    bool NetDel(const std::string& Drive) override {
        Calls.push_back("NetDel " + Drive);
        return true;
    }
    std::string PathForDrive(const std::string&) override { return {}; }
    bool FolderExists(const std::string&) override { return false; }
};

class MainFormMonitor : public ::testing::Test {
protected:
    SettingsFileGuard Settings;
    fw::TApplication App;
    TForm1* Form = nullptr;
    RecordingDrives Drives;
    TDriveOperations* DefaultDrives = nullptr;
    std::vector<std::string> Errors;

    void SetUp() override {
        App.SetErrorBox([this](const std::string&, const std::string& t) { Errors.push_back(t); });
        try {
            App.CreateForm(&Form);
        } catch (const std::exception& e) {
            QUILVANE_SKIP_OR_FAIL(std::string("the main window needs ICMP: ") + e.what());
        }
        DefaultDrives = Form->Drives;
        Form->Drives = &Drives;
    }

    void Add(const std::string& host, const std::string& drive, int maxPing) {
        fw::TRxMemoryData& t = *Form->RxMemoryData1;
        t.Append();
        t.FieldByName("HostName").SetAsString(host);
        t.FieldByName("Drive").SetAsString(drive);
        t.FieldByName("UNC").SetAsString("data");
        t.FieldByName("MaxPing").SetAsInteger(maxPing);
        t.Post();
    }

    // What the grid shows for record recNo (1-based) in a column (0-based).
    std::string Cell(int recNo, int column) {
        return Form->suiDBGrid1->View()->CellText(recNo - 1, column);
    }
};

TEST_F(MainFormMonitor, TimerAndPingKeepTheWindowsSettings) {
    EXPECT_TRUE(Form->Timer1->Enabled());
    EXPECT_EQ(Form->Timer1->Interval(), 10000u);
    EXPECT_EQ(Form->Ping1->Size(), 1);
    EXPECT_EQ(Form->Ping1->Timeout(), 1000);
    EXPECT_EQ(Form->Ping1->TTL(), 64);
    EXPECT_EQ(Form->Ping1->Flags(), 0);
    EXPECT_TRUE(static_cast<bool>(Form->Ping1->OnEchoReply));
    EXPECT_EQ(DefaultDrives, &RealDriveOperations()) << "the program uses the real operations";
}

TEST_F(MainFormMonitor, PassPingsLoopbackAndTheGridShowsEachPostAtOnce) {
    Add("127.0.0.1", "Y:", 5);
    Add("127.0.0.1", "Z:", 5);
    std::vector<std::string> shown;
    Form->OnMonitorPost = [&](fw::TRxMemoryData& table) {
        const int row = table.RecNo();
        // Grid columns: Host Name, On, ".", Drive, UNC, Maped (0 to 5).
        shown.push_back(Cell(row, 1) + "/" + Cell(row, 2) + "/" + Cell(row, 5) + " " +
                        Cell(row, 3));
    };
    Form->Timer1Timer(Form->Timer1);
    EXPECT_EQ(Drives.Calls, (std::vector<std::string>{"NetUse Y: \\\\127.0.0.1\\data",
                                                      "NetUse Z: \\\\127.0.0.1\\data"}));
    EXPECT_EQ(shown, (std::vector<std::string>{"True/0/True Y:", "True/0/True Z:"}));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainFormMonitor, SilentReplyCountsAndOtherStatusesChangeNothing) {
    Add("127.0.0.1", "Y:", 0);
    int posts = 0;
    Form->OnMonitorPost = [&](fw::TRxMemoryData&) { ++posts; };
    Form->Ping1EchoReply(Form->Ping1, Form->Ping1->Icmp(), 7);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(Cell(1, 1), "") << "unset until the first handled request";
    Form->Ping1EchoReply(Form->Ping1, Form->Ping1->Icmp(), 0);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(Cell(1, 1) + "/" + Cell(1, 2) + "/" + Cell(1, 5), "False/1/");
    EXPECT_TRUE(Drives.Calls.empty()) << "nothing was mapped, so nothing to drop";
}

}  // namespace
}  // namespace quilvane
