// The real program as a user meets it: on a private Xvfb display with a real
// tray (trayer), driven with xdotool. It starts hidden behind its tray icon,
// comes up with a double click or "&Setting", goes back with Ok or its tray
// button in the title bar, shows About once, ends from the tray menu, keeps
// itself registered to run at start-up, refuses a second copy, and asks about
// a newer version published on a local web server.
//
// Each test runs a copy of the program in a folder of its own (its settings
// file is the test's), with private configuration folders (the machine's
// autostart folder is one of them) and every HTTP request but those to
// loopback sent to a refused loopback port. Screenshots for the README are
// kept beside this test's binary.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <fstream>
#include <memory>

#include "tests/support/http_servers.h"
#include "tests/support/minisign_keys.h"
#include "tests/support/program_folder.h"
#include "tests/support/settings_records.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/tray_host.h"
#include "tests/support/xvfb_display.h"
#include "upgrade/upgrader_texts.h"

namespace quilvane {
namespace {

using quilvane_test::TrayIconCentre;

constexpr char kClass[] = "quilvane";
constexpr char kTitle[] = "^Quilvane$";

// The title-bar buttons, counted from the right end of the title bar: the
// tray button (0), the auto-run button (1), the upgrade button (2). Each is a
// slot of 16 pixels after a 2-pixel margin, inside the 3-pixel frame.
QPoint CaptionButtonCentre(int windowX, int windowY, int windowWidth, int index) {
    const int left = windowWidth - (2 + 16 * (index + 1)) - 2 * 3;
    return {windowX + left + 8, windowY + 3 + 2 + 6};
}

class ProgramInTray : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "import", "trayer"})
            if (!XvfbDisplay::HaveProgram(tool))
                QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
        display_ = std::make_unique<XvfbDisplay>();
        if (!display_->Ok())
            QUILVANE_SKIP_OR_FAIL(display_->Error().toStdString());
        trayer_ = std::make_unique<TrayerHost>(*display_);

        const QString name =
            QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
        root_ = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("tray_" + name);
        ASSERT_TRUE(
            quilvane_test::MakeProgramFolder(root_, QUILVANE_BINARY, QUILVANE_ICMP_LIBRARY));
        env_ = quilvane_test::ProgramEnvironment(display_->Environment(), root_);
    }
    void TearDown() override {
        for (QProcess* p : {&program_, &second_})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        trayer_.reset();
        display_.reset();
    }

    QString Exe() const { return root_ + "/bin/quilvane"; }
    QString Settings() const { return root_ + "/bin/Quilvane.ini"; }
    QString AutostartEntry() const { return root_ + "/xdg/autostart/Quilvane.desktop"; }

    bool Start(QProcess& p, const QStringList& args = {}) {
        p.setProcessEnvironment(env_);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(Exe(), args);
        return p.waitForStarted(10000);
    }
    // Starts the program and waits for its icon.
    QPoint StartInTray() {
        if (!Start(program_))
            return {-1, -1};
        return TrayIconCentre(*display_, kClass, false, 15000);
    }
    QString Window(int timeoutMs = 10000) const { return display_->FindWindow(kTitle, timeoutMs); }
    // Waits (bounded) until no window titled `title` is visible.
    bool WaitGone(const QString& title, int timeoutMs = 10000) const {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (display_->Run("xdotool", {"search", "--onlyvisible", "--name", title}).exitCode !=
                0)
                return true;
            display_->Run("xdotool", {"sleep", "0.1"});
        }
        return false;
    }
    // The program's visible windows wider than a tray icon (boxes, menus).
    int WideWindows() const {
        static const QRegularExpression re("WIDTH=(\\d+)");
        const auto r = display_->Run("xdotool", {"search", "--onlyvisible", "--classname", kClass,
                                                 "getwindowgeometry", "--shell", "%@"});
        int n = 0;
        for (auto it = re.globalMatch(r.output); it.hasNext();)
            n += it.next().captured(1).toInt() > 64;
        return n;
    }
    int VisibleCount(const QString& title) const {
        const auto r = display_->Run("xdotool", {"search", "--onlyvisible", "--name", title});
        return r.exitCode == 0 ? int(r.output.split('\n', Qt::SkipEmptyParts).size()) : 0;
    }
    void Click(QPoint at, const QString& how) const { quilvane_test::ClickAt(*display_, at, how); }
    void Key(const QString& keys) const {
        display_->Run("xdotool", {"key", "--clearmodifiers", keys});
    }
    // Opens the tray menu with a right click on the icon and picks an item
    // with the keyboard.
    void TrayMenu(QPoint icon, const QStringList& keys) const {
        Click(icon, "3");
        display_->Run("xdotool", {"sleep", "0.5"});
        for (const QString& k : keys)
            Key(k);
    }
    // Clicks title-bar button `index` of the shown window.
    void CaptionButton(const QString& window, int index) const {
        static const QRegularExpression re("X=(-?\\d+)\\s+Y=(-?\\d+)\\s+WIDTH=(\\d+)");
        const auto g = display_->Run("xdotool", {"getwindowgeometry", "--shell", window});
        const auto m = re.match(g.output);
        ASSERT_TRUE(m.hasMatch()) << g.output.toStdString();
        Click(CaptionButtonCentre(m.captured(1).toInt(), m.captured(2).toInt(),
                                  m.captured(3).toInt(), index),
              "1");
    }
    // The top left corner of the screen, where trayer sits.
    void Shot(const QString& name, const QString& size = "160x90") const {
        display_->Run("import", {"-window", "root", "-crop", size + "+0+0",
                                 QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name)});
    }
    void ShotOf(const QString& window, const QString& name) const {
        display_->Run("import", {"-window", window, QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name)});
    }
    QByteArray FileBytes(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void ExpectEndsWithZero(QProcess& p) {
        ASSERT_TRUE(p.waitForFinished(15000)) << "the program did not end";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }

    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<TrayerHost> trayer_;
    QString root_;
    QProcessEnvironment env_;
    QProcess program_;
    QProcess second_;
};

TEST_F(ProgramInTray, FirstStartDocksTheIconShowsNoWindowAndRegistersAutoRun) {
    const QPoint icon = StartInTray();
    ASSERT_GE(icon.x(), 0) << "the icon did not dock";
    EXPECT_TRUE(Window(1500).isEmpty()) << "the window showed at start";
    EXPECT_EQ(FileBytes(Settings()), QByteArray()) << "no empty settings file";
    const QByteArray entry = FileBytes(AutostartEntry());
    EXPECT_TRUE(entry.contains(("\nExec=" + Exe() + " /autorun\n").toUtf8())) << entry.data();
    Shot("tray_start.png", "160x28");

    // The tip: two lines, over the icon.
    display_->Run("xdotool", {"mousemove", QString::number(icon.x()), QString::number(icon.y())});
    display_->Run("xdotool", {"sleep", "1.5"});
    Shot("tray_tip.png");
    EXPECT_EQ(program_.state(), QProcess::Running);
}

TEST_F(ProgramInTray, DoubleClickShowsOkHidesSettingShowsAndTheTrayButtonHides) {
    const QPoint icon = StartInTray();
    ASSERT_GE(icon.x(), 0) << "the icon did not dock";
    Click(icon, "double");
    QString window = Window();
    ASSERT_FALSE(window.isEmpty()) << "a double click did not show the window";
    EXPECT_EQ(TrayIconCentre(*display_, kClass, false, 1000).x(), -1) << "the icon stayed";
    display_->Run("xdotool", {"sleep", "0.5"});
    ShotOf(window, "main_window_title_bar.png");

    ASSERT_TRUE(QFile::remove(Settings()));
    display_->Run("xdotool", {"windowfocus", "--sync", window});
    Key("alt+o");
    EXPECT_TRUE(WaitGone(kTitle)) << "Ok did not hide the window";
    EXPECT_TRUE(FileBytes(Settings()).startsWith("UpGradeURL="))
        << "Ok did not write the settings file";
    const QPoint back = TrayIconCentre(*display_, kClass);
    ASSERT_GE(back.x(), 0) << "the icon did not come back";

    TrayMenu(back, {});
    Shot("tray_menu.png");
    Key("s");
    window = Window();
    ASSERT_FALSE(window.isEmpty()) << "\"&Setting\" did not show the window";
    const auto geometry = display_->Run("xdotool", {"getwindowgeometry", "--shell", window});
    EXPECT_TRUE(geometry.output.contains("HEIGHT=265")) << geometry.output.toStdString();

    CaptionButton(window, 0);
    EXPECT_TRUE(WaitGone(kTitle)) << "the title bar's tray button did not hide the window";
    EXPECT_GE(TrayIconCentre(*display_, kClass).x(), 0) << "the icon did not come back";
    EXPECT_EQ(program_.state(), QProcess::Running);
}

TEST_F(ProgramInTray, AboutShowsTheVersionOnceAndExitFromTheMenuEndsWithZero) {
    const QPoint icon = StartInTray();
    ASSERT_GE(icon.x(), 0) << "the icon did not dock";
    TrayMenu(icon, {"Down", "Return"});
    const QString about = display_->FindWindow("^About$");
    ASSERT_FALSE(about.isEmpty()) << "About showed no box";
    display_->Run("xdotool", {"sleep", "0.5"});
    ShotOf(about, "about_box.png");

    // A second About while the box is open shows nothing more. (While a
    // modal box is open the toolkit may keep clicks from the icon: then no
    // menu opens at all.)
    Click(icon, "3");
    display_->Run("xdotool", {"sleep", "0.5"});
    if (WideWindows() == 2) {
        Key("Down");
        Key("Return");
        display_->Run("xdotool", {"sleep", "1"});
    }
    EXPECT_EQ(WideWindows(), 1) << "a menu stayed open or another box showed";
    EXPECT_EQ(VisibleCount("^About$"), 1);
    display_->Run("xdotool", {"windowfocus", "--sync", about});
    Key("Return");
    EXPECT_TRUE(WaitGone("^About$")) << "OK did not close the box";
    EXPECT_TRUE(Window(1000).isEmpty()) << "the window showed";

    ASSERT_TRUE(QFile::remove(Settings()));
    TrayMenu(icon, {"x"});
    ExpectEndsWithZero(program_);
    EXPECT_TRUE(FileBytes(Settings()).startsWith("UpGradeURL="))
        << "Exit did not write the settings file";
}

TEST_F(ProgramInTray, AutoRunSwitchedOffWithItsButtonComesBackAtTheNextStart) {
    const QPoint icon = StartInTray();
    ASSERT_GE(icon.x(), 0) << "the icon did not dock";
    ASSERT_TRUE(QFile::exists(AutostartEntry()));
    Click(icon, "double");
    const QString window = Window();
    ASSERT_FALSE(window.isEmpty());
    CaptionButton(window, 1);
    const QDeadlineTimer deadline(5000);
    while (QFile::exists(AutostartEntry()) && !deadline.hasExpired())
        display_->Run("xdotool", {"sleep", "0.1"});
    EXPECT_FALSE(QFile::exists(AutostartEntry())) << "the button did not switch auto-run off";
    display_->Run("xdotool", {"windowfocus", "--sync", window});
    Key("alt+x");
    ExpectEndsWithZero(program_);
    EXPECT_FALSE(QFile::exists(AutostartEntry())) << "it came back before the next start";

    ASSERT_GE(StartInTray().x(), 0);
    EXPECT_TRUE(QFile::exists(AutostartEntry())) << "the next start did not switch it on";
}

TEST_F(ProgramInTray, SecondStartWhileTheFirstIsInTheTrayEndsWithZeroAndShowsNothing) {
    ASSERT_GE(StartInTray().x(), 0) << "the icon did not dock";
    ASSERT_TRUE(Start(second_));
    ExpectEndsWithZero(second_);
    EXPECT_TRUE(Window(1500).isEmpty()) << "a window showed";
    EXPECT_EQ(program_.state(), QProcess::Running);
}

// The launcher's start (--show): while a copy runs in the tray it brings that
// copy's window up and ends with 0; with none running, the program starts
// with its window shown.
TEST_F(ProgramInTray, ShowStartBringsTheRunningWindowUpOrStartsShown) {
    ASSERT_GE(StartInTray().x(), 0) << "the icon did not dock";
    ASSERT_TRUE(Window(1000).isEmpty()) << "the window showed at a plain start";
    ASSERT_TRUE(Start(second_, {"--show"}));
    ExpectEndsWithZero(second_);
    const QString window = Window();
    EXPECT_FALSE(window.isEmpty()) << "the running copy's window did not come up";
    EXPECT_EQ(program_.state(), QProcess::Running);
    ShotOf(window, "show_running.png");

    program_.kill();
    program_.waitForFinished(5000);
    ASSERT_TRUE(WaitGone(kTitle));
    ASSERT_TRUE(Start(program_, {"--show"}));
    EXPECT_FALSE(Window().isEmpty()) << "--show started without its window";
    EXPECT_EQ(program_.state(), QProcess::Running);
}

// The settings file names the local server's info file, which publishes
// 2.0.7: the start-up check asks; No leaves everything as it was; the
// title bar's "Auto upgrade" button asks again.
TEST_F(ProgramInTray, NewerVersionIsAskedAboutAtStartAndAgainByTheUpgradeButton) {
    quilvane_test::WebServer web;
    if (!web.Ok())
        QUILVANE_SKIP_OR_FAIL("no local web server: " + web.Error());
    quilvane_test::SigningKey key;
    if (!key.Ok())
        QUILVANE_SKIP_OR_FAIL(key.Error());
    // Signed by a key the program's machine trusts (its $XDG_CONFIG_DIRS).
    key.TrustIn((root_ + "/xdg").toStdString());
    std::ofstream(web.Root() + "/Quilvane.inf") << "#version=2.0.7\r\n#url=" << web.Url("/Quilvane")
                                                << "\r\n#sha256=" << std::string(64, '0') << "\r\n";
    ASSERT_TRUE(key.Sign(web.Root() + "/Quilvane.inf", "Quilvane 2.0.7"));
    quilvane_test::AppendSettingsRecords((root_ + "/bin").toStdString(), {},
                                         web.Url("/Quilvane.inf"));
    const QByteArray settings = FileBytes(Settings());
    upgrader_texts::SetLanguage(TacAutoUpgraderLanguage::wlIndonesian);
    const QString question =
        "^" + QRegularExpression::escape(QString::fromStdString(upgrader_texts::Text(0))) + "$";

    ASSERT_TRUE(Start(program_));
    QString box = display_->FindWindow(question, 15000);
    ASSERT_FALSE(box.isEmpty()) << "the start-up check did not ask";
    ShotOf(box, "upgrade_question.png");
    display_->Run("xdotool", {"windowfocus", "--sync", box});
    Key("alt+n");
    EXPECT_TRUE(WaitGone(question)) << "No did not close the question";
    EXPECT_EQ(program_.state(), QProcess::Running);
    EXPECT_TRUE(Window(1000).isEmpty()) << "the window showed";
    EXPECT_EQ(FileBytes(Settings()), settings);
    EXPECT_TRUE(QDir(root_ + "/bin").entryList({"*.uTMP"}, QDir::Files).isEmpty());

    const QPoint icon = TrayIconCentre(*display_, kClass);
    ASSERT_GE(icon.x(), 0);
    Click(icon, "double");
    const QString window = Window();
    ASSERT_FALSE(window.isEmpty());
    CaptionButton(window, 2);
    box = display_->FindWindow(question, 15000);
    ASSERT_FALSE(box.isEmpty()) << "the upgrade button did not ask";
    display_->Run("xdotool", {"windowfocus", "--sync", box});
    Key("alt+n");
    EXPECT_TRUE(WaitGone(question));
    EXPECT_EQ(program_.state(), QProcess::Running);
}

}  // namespace
}  // namespace quilvane
