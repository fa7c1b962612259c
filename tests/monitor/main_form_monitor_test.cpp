// The monitor on the real main window: Timer1 and Ping1 set as the window
// keeps them, a pass through the real Ping1 to loopback reaching the drive
// operations the window holds, each post shown in the grid at once, and the
// passes going on while the About box, the tray menu or the upgrade question
// is open. Needs ICMP sockets (root, or unprivileged ICMP allowed).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/main_form.h"
#include "dialogs/info_box_form.h"
#include "framework/application.h"
#include "monitor/monitor_cycle.h"
#include "tests/app/settings_file_guard.h"
#include "tests/support/http_servers.h"
#include "tests/support/minisign_keys.h"
#include "tests/support/monitor_idle.h"
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
    void TearDown() override {
        if (Form) {
            Form->Timer1->SetEnabled(false);
            EXPECT_TRUE(quilvane_test::WaitMonitorIdle(*Form->Monitor));
        }
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
    ASSERT_TRUE(quilvane_test::WaitMonitorIdle(*Form->Monitor));
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

// What the user can have open while the monitor must go on: `open` returns
// when it has been closed again; `close` closes it and says whether it was
// open.
struct OpenWhileMonitoring {
    const char* name;
    std::function<void(TForm1&)> open;
    std::function<bool()> close;
};

// The application's modal box, answered with No, Cancel or its close box.
bool CloseModalBox() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        QAbstractButton* no = box->button(QMessageBox::No);
        if (no)
            no->click();
        else
            box->close();
        return true;
    }
    if (TacInfoBoxForm* info = InfoBoxForm()) {
        info->SetModalResult(fw::mrCancel);
        return true;
    }
    return modal && modal->close();
}

TEST_F(MainFormMonitor, PassesGoOnWhileTheAboutBoxTheTrayMenuOrTheUpgradeQuestionIsOpen) {
    quilvane_test::WebServer web;
    // The information file is signed by a key of the test's own, trusted as
    // an administrator trusts one; the helper's folder is the test's.
    quilvane_test::SigningKey key;
    quilvane_test::TempFolder folders;
    struct Restore {
        ~Restore() {
            ::unsetenv("XDG_CONFIG_DIRS");
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    } restore;
    const OpenWhileMonitoring cases[] = {
        {"About box", [](TForm1& f) { f.About1Click(nullptr); }, CloseModalBox},
        {"tray menu", [](TForm1& f) { f.acTrayIcon1->PopupTrayMenu(); },
         [] {
             QWidget* menu = QApplication::activePopupWidget();
             return menu && menu->close();
         }},
        {"upgrade question",
         [&web](TForm1& f) {
             f.acAutoUpgrader1->InfoFileURL = web.Url("/Quilvane.inf");
             ASSERT_TRUE(f.acAutoUpgrader1->CheckForUpgrade());
             // The question comes from the event loop once the file is in.
             const QDeadlineTimer deadline(20000);
             while (f.acAutoUpgrader1->Running() && !deadline.hasExpired())
                 QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
         },
         CloseModalBox},
    };
    Add("127.0.0.1", "Y:", 5);
    int passes = 0;
    Form->OnMonitorPassEnd = [&] { ++passes; };
    Form->Timer1->SetInterval(50);
    for (const OpenWhileMonitoring& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "upgrade question") {
            if (!web.Ok())
                QUILVANE_SKIP_OR_FAIL("no local web server: " + web.Error());
            if (!key.Ok())
                QUILVANE_SKIP_OR_FAIL(key.Error());
            key.TrustIn(folders.Path() + "/xdg");
            ::setenv("XDG_CONFIG_DIRS", (folders.Path() + "/xdg").c_str(), 1);
            std::filesystem::create_directories(folders.Path() + "/run");
            ::chmod((folders.Path() + "/run").c_str(), 0700);
            ::setenv("XDG_RUNTIME_DIR", (folders.Path() + "/run").c_str(), 1);
            std::ofstream(web.Root() + "/Quilvane.inf")
                << "#version=2.0.7\r\n#url=" << web.Url("/Quilvane")
                << "\r\n#sha256=" << std::string(64, '0') << "\r\n";
            ASSERT_TRUE(key.Sign(web.Root() + "/Quilvane.inf", "Quilvane 2.0.7"));
        }
        int whileOpen = -1;
        const int before = passes;
        QTimer watch;
        const QDeadlineTimer deadline(20000);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (passes - before >= 3 || deadline.hasExpired()) {
                if (whileOpen < 0 && c.close())
                    whileOpen = passes - before;
            }
        });
        watch.start(20);
        c.open(*Form);
        watch.stop();
        EXPECT_GE(whileOpen, 3) << "passes while it was open (-1: it never opened)";
    }
    EXPECT_TRUE(Errors.empty()) << Errors.front();
}

}  // namespace
}  // namespace quilvane
