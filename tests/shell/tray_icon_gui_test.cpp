// The tray icon on a real tray: tray_demo (a form with a tray icon set up as
// the program's main window) on a private Xvfb display with trayer (XEmbed)
// or gtk-sni-tray-standalone (StatusNotifierItem), driven with xdotool as a
// user would. Screenshots are kept beside this test's
// binary.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <memory>

#include "tests/support/skip_or_fail.h"
#include "tests/support/tray_host.h"
#include "tests/support/xvfb_display.h"

namespace {

using quilvane_test::TrayIconCentre;
using quilvane_test::WaitForLine;

constexpr char kClass[] = "tray_demo";
constexpr char kTitle[] = "^Tray Demo$";

class TrayIconOnTrayer : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "import", "trayer"})
            if (!XvfbDisplay::HaveProgram(tool))
                QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
        display_ = std::make_unique<XvfbDisplay>(800, 600);
        if (!display_->Ok())
            QUILVANE_SKIP_OR_FAIL(display_->Error().toStdString());
        trayer_ = std::make_unique<TrayerHost>(*display_);
    }
    void TearDown() override {
        if (demo_.state() != QProcess::NotRunning) {
            demo_.kill();
            demo_.waitForFinished(5000);
        }
        trayer_.reset();
        display_.reset();
    }

    void Start(const QStringList& args) {
        QProcessEnvironment env = hostEnv_.isEmpty() ? display_->Environment() : hostEnv_;
        const QString home = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("tray_home");
        QDir(home).removeRecursively();
        QDir().mkpath(home + "/run");
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_RUNTIME_DIR", home + "/run");
        QFile::setPermissions(home + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        demo_.setProcessEnvironment(env);
        demo_.setStandardErrorFile(QProcess::nullDevice());
        demo_.start(TRAY_DEMO, args);
        ASSERT_TRUE(demo_.waitForStarted(10000));
    }
    bool Expect(const QString& line, int timeoutMs = 10000) {
        return WaitForLine(demo_, line, &seen_, timeoutMs);
    }
    void Send(const QString& command) {
        demo_.write((command + "\n").toUtf8());
        demo_.waitForBytesWritten(5000);
        ASSERT_TRUE(Expect("done")) << Seen();
    }
    std::string Seen() const { return seen_.join(" | ").toStdString(); }
    bool FormShown(int timeoutMs = 5000) const {
        return !display_->FindWindow(kTitle, timeoutMs).isEmpty();
    }
    void Shot(const QString& name) const {
        display_->Run("import", {"-window", "root", QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name)});
    }
    void Click(QPoint at, const QString& how) const { quilvane_test::ClickAt(*display_, at, how); }

    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<TrayerHost> trayer_;
    // The environment of a tray host other than trayer (empty: the display's).
    QProcessEnvironment hostEnv_;
    QProcess demo_;
    QStringList seen_;
};

// The same with a StatusNotifierItem host on a session bus of its own, and no
// XEmbed tray.
class TrayIconOnStatusNotifierHost : public TrayIconOnTrayer {
protected:
    void SetUp() override {
        TrayIconOnTrayer::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        trayer_.reset();
        sni_ = std::make_unique<SniHost>(*display_);
        if (!sni_->Ok() || !sni_->StartHost(*display_))
            QUILVANE_SKIP_OR_FAIL(sni_->Error().toStdString());
        hostEnv_ = sni_->Environment(*display_);
    }
    void TearDown() override {
        TrayIconOnTrayer::TearDown();
        sni_.reset();
    }
    std::unique_ptr<SniHost> sni_;
};

// The geometry of the demo's visible windows wider than an icon, as
// "X Y WIDTH HEIGHT" lines.
QStringList WideWindows(const XvfbDisplay& display) {
    static const QRegularExpression re("X=(-?\\d+)\\s+Y=(-?\\d+)\\s+WIDTH=(\\d+)\\s+HEIGHT=(\\d+)");
    const auto r = display.Run("xdotool", {"search", "--onlyvisible", "--classname", kClass,
                                           "getwindowgeometry", "--shell", "%@"});
    QStringList out;
    for (auto it = re.globalMatch(r.output); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(3).toInt() > 64)
            out << QString("%1 %2 %3 %4")
                       .arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4));
    }
    return out;
}

TEST_F(TrayIconOnTrayer, StartMinimizedShowsNoWindowAndDocksTheIcon) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    EXPECT_GE(TrayIconCentre(*display_, kClass).x(), 0) << "the icon did not dock";
    EXPECT_FALSE(FormShown(1500)) << "the form showed";
    Shot("tray_icon_start_minimized.png");
}

TEST_F(TrayIconOnTrayer, MinimizedParameterInCapitalsStartsInTheTrayToo) {
    Start({"--no-stored-start-minimized", "/MINIMIZED"});
    ASSERT_TRUE(Expect("show")) << Seen();
    EXPECT_GE(TrayIconCentre(*display_, kClass).x(), 0) << "the icon did not dock";
    EXPECT_FALSE(FormShown(1500)) << "the form showed";
}

TEST_F(TrayIconOnTrayer, RightClickOpensTheMenuAtTheCursorAndAClickOutsideClosesIt) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    const QPoint icon = TrayIconCentre(*display_, kClass);
    ASSERT_GE(icon.x(), 0);
    Click(icon, "3");
    QStringList menus;
    for (int i = 0; i < 30 && menus.isEmpty(); ++i) {
        display_->Run("xdotool", {"sleep", "0.1"});
        menus = WideWindows(*display_);
    }
    ASSERT_EQ(menus.size(), 1) << "no popup menu";
    Shot("tray_icon_menu.png");
    const QStringList g = menus[0].split(' ');
    // The menu opens at the cursor, moved inside the screen where needed.
    EXPECT_NEAR(g[0].toInt(), icon.x(), 4);
    EXPECT_NEAR(g[1].toInt(), icon.y(), 4);

    Click(QPoint(600, 450), "1");
    EXPECT_TRUE(Expect("popup")) << "the menu did not close: " << Seen();
    EXPECT_TRUE(WideWindows(*display_).isEmpty());
}

TEST_F(TrayIconOnTrayer, DoubleClickRestoresAndRemovesTheIconAndMinimizeBringsItBack) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    const QPoint icon = TrayIconCentre(*display_, kClass);
    ASSERT_GE(icon.x(), 0);
    Click(icon, "double");
    // The icon goes first, then the form is back.
    EXPECT_TRUE(Expect("hide")) << Seen();
    EXPECT_TRUE(Expect("restore")) << Seen();
    EXPECT_TRUE(FormShown()) << "the form did not come back";
    Shot("tray_icon_restored.png");
    EXPECT_EQ(TrayIconCentre(*display_, kClass, false, 1000).x(), -1) << "the icon stayed";

    seen_.clear();
    Send("minimize");
    EXPECT_TRUE(seen_.contains("show")) << Seen();
    EXPECT_GE(TrayIconCentre(*display_, kClass).x(), 0) << "the icon did not come back";
}

TEST_F(TrayIconOnTrayer, TrayRestartBringsTheIconBackAndTheFormShowsMeanwhile) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    ASSERT_GE(TrayIconCentre(*display_, kClass).x(), 0);
    trayer_->Stop();
    // Without a tray the hidden form would be out of reach: it comes back.
    EXPECT_TRUE(Expect("restore")) << Seen();
    EXPECT_TRUE(FormShown()) << "the form stayed hidden without a tray";
    ASSERT_TRUE(trayer_->Start());
    EXPECT_GE(TrayIconCentre(*display_, kClass).x(), 0) << "the icon did not come back";
    Shot("tray_icon_tray_restarted.png");
}

TEST_F(TrayIconOnTrayer, HintLongerThan63CharactersShowsCut) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    const QPoint icon = TrayIconCentre(*display_, kClass);
    ASSERT_GE(icon.x(), 0);
    auto tooltipWidth = [&](int look) {
        display_->Run("xdotool", {"mousemove", "400", "400"});
        for (int i = 0; i < 30 && !WideWindows(*display_).isEmpty(); ++i)
            display_->Run("xdotool", {"sleep", "0.1"});
        display_->Run("xdotool", {"mousemove", QString::number(icon.x() + look),
                                  QString::number(icon.y() + look)});
        for (int i = 0; i < 30; ++i) {
            display_->Run("xdotool", {"sleep", "0.1"});
            const QStringList w = WideWindows(*display_);
            if (!w.isEmpty())
                return w[0].split(' ')[2].toInt();
        }
        return -1;
    };
    Send("hint " + QString(63, 'h'));
    const int w63 = tooltipWidth(-1);
    Send("hint " + QString(63, 'h') + QString(10, 'x'));
    const int w73 = tooltipWidth(1);
    Shot("tray_icon_long_hint.png");
    ASSERT_GT(w63, 0) << "no tooltip showed";
    EXPECT_EQ(w73, w63) << "the tip showed more than 63 characters";
}

// This host delivers left clicks only: the icon docks at the start and a
// double click brings the form back.
TEST_F(TrayIconOnStatusNotifierHost, StartMinimizedDocksTheIconAndADoubleClickRestores) {
    Start({});
    ASSERT_TRUE(Expect("show")) << Seen();
    const QPoint icon = TrayIconCentre(*display_, "gtk-sni-tray-standalone", true);
    ASSERT_GE(icon.x(), 0);
    EXPECT_FALSE(FormShown(1500)) << "the form showed";
    Shot("tray_icon_sni.png");
    // The host maps its bar before it has drawn the item (later under load),
    // and a click then reaches nobody: double click until one restores, at
    // most 10 times.
    bool restored = false;
    for (int attempt = 0; attempt < 10 && !restored; ++attempt) {
        Click(icon, "double");
        restored = Expect("restore", 2000);
    }
    EXPECT_TRUE(restored) << Seen();
    EXPECT_TRUE(FormShown()) << "the form did not come back";
}

}  // namespace
