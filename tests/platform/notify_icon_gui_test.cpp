// The notification area on a real tray host: tray_probe puts an icon into
// trayer (XEmbed) or gtk-sni-tray-standalone (StatusNotifierItem) on a private
// Xvfb display, xdotool clicks it as a user would, and the probe's output says
// which callback codes reached the icon's window. Screenshots are kept beside
// this test's binary.
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

constexpr char kProbeClass[] = "tray_probe";

bool HaveTools(std::string* missing) {
    for (const char* tool : {"xdotool", "import", "trayer"}) {
        if (!XvfbDisplay::HaveProgram(tool)) {
            *missing = std::string(tool) + " is not installed";
            return false;
        }
    }
    return true;
}

class Probe {
public:
    Probe(const QProcessEnvironment& env, const QString& tip) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(TRAY_PROBE, {tip});
    }
    ~Probe() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    void Send(const QString& command) {
        process_.write((command + "\n").toUtf8());
        process_.waitForBytesWritten(5000);
    }
    bool Expect(const QString& line, int timeoutMs = 10000) {
        return WaitForLine(process_, line, &seen_, timeoutMs);
    }
    // The callback codes reported from now until `count` arrived (or
    // `timeoutMs` passed), separated by spaces.
    std::string Codes(int count, int timeoutMs = 5000) {
        QStringList codes;
        QDeadlineTimer deadline(timeoutMs);
        while (codes.size() < count && !deadline.hasExpired()) {
            if (!process_.canReadLine() && !process_.waitForReadyRead(100))
                continue;
            while (process_.canReadLine()) {
                const QString l = QString::fromUtf8(process_.readLine()).trimmed();
                seen_.append(l);
                if (l.startsWith("callback "))
                    codes.append(l.mid(9));
            }
        }
        return codes.join(' ').toStdString();
    }
    std::string Seen() const { return seen_.join(" | ").toStdString(); }

private:
    QProcess process_;
    QStringList seen_;
};

QString Shot(const XvfbDisplay& display, const QString& name) {
    const QString file = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name);
    display.Run("import", {"-window", "root", file});
    return file;
}

void Click(const XvfbDisplay& display, QPoint at, const QString& how) {
    quilvane_test::ClickAt(display, at, how);
}

// A StatusNotifierItem host maps its bar before it has fetched the item and
// drawn it (sooner or later under load), and a click on the bar then reaches
// nobody. Clicks the host's item until a click brings the codes of a left
// click (at most 10 tries, 2 s each), and returns those codes; "" when none
// came.
std::string FirstLeftClickOnSniHost(const XvfbDisplay& display, Probe& probe) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QPoint icon = TrayIconCentre(display, "gtk-sni-tray-standalone", true);
        if (icon.x() < 0)
            continue;
        Click(display, icon, "1");
        const std::string codes = probe.Codes(2, 2000);
        if (!codes.empty())
            return codes;
    }
    return {};
}

// The width of the probe's widest visible window that is wider than an icon
// (its tooltip), or -1, after `tries` looks 0.1 s apart.
int WideWindowWidth(const XvfbDisplay& display, int tries) {
    static const QRegularExpression re("WIDTH=(\\d+)");
    for (int i = 0; i < tries; ++i) {
        const auto r =
            display.Run("xdotool", {"sleep", "0.1", "search", "--onlyvisible", "--classname",
                                    kProbeClass, "getwindowgeometry", "--shell", "%@"});
        int widest = -1;
        for (auto it = re.globalMatch(r.output); it.hasNext();)
            widest = std::max(widest, it.next().captured(1).toInt());
        if (widest > 64)
            return widest;
    }
    return -1;
}

// The width of the tooltip that shows when the pointer comes to rest on the
// icon; -1 when none showed.
int TooltipWidth(const XvfbDisplay& display, QPoint icon) {
    display.Run("xdotool", {"mousemove", "400", "400"});
    for (int i = 0; i < 30 && WideWindowWidth(display, 1) > 0; ++i) {
    }
    // A point of the icon not used by the look before: the pointer must move
    // over the icon for a tooltip to show.
    static int look = 0;
    const int dx = (++look % 5) - 2;
    display.Run("xdotool",
                {"mousemove", QString::number(icon.x() + dx), QString::number(icon.y() + dx)});
    return WideWindowWidth(display, 30);
}

// A display with trayer, and the probe's icon docked in it.
class NotifyIconOnTrayer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        if (!HaveTools(&missing))
            QUILVANE_SKIP_OR_FAIL(missing);
        display_ = std::make_unique<XvfbDisplay>(800, 600);
        if (!display_->Ok())
            QUILVANE_SKIP_OR_FAIL(display_->Error().toStdString());
        trayer_ = std::make_unique<TrayerHost>(*display_);
        probe_ = std::make_unique<Probe>(display_->Environment(), "Quilvane probe");
        ASSERT_TRUE(probe_->Expect("add 1")) << probe_->Seen();
        icon_ = TrayIconCentre(*display_, kProbeClass);
        ASSERT_GE(icon_.x(), 0) << "the icon did not dock";
    }
    void TearDown() override {
        probe_.reset();
        trayer_.reset();
        display_.reset();
    }

    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<TrayerHost> trayer_;
    std::unique_ptr<Probe> probe_;
    QPoint icon_;
};

TEST_F(NotifyIconOnTrayer, ClicksArriveAsWindowsMouseCodesAndADoubleClickAsDownUpDoubleUp) {
    XvfbDisplay& display = *display_;
    Probe& probe = *probe_;
    const QPoint icon = icon_;
    Shot(display, "notify_icon_trayer.png");

    const struct {
        const char* how;
        int count;
        const char* codes;
    } cases[] = {
        {"1", 2, "513 514"},
        {"3", 2, "516 517"},
        {"2", 2, "519 520"},
        {"double", 4, "513 514 515 514"},
    };
    for (const auto& c : cases) {
        Click(display, icon, c.how);
        EXPECT_EQ(probe.Codes(c.count), c.codes) << "click " << c.how;
        // Past the double-click time, so the next case starts afresh.
        display.Run("xdotool", {"sleep", "0.6"});
    }
}

TEST_F(NotifyIconOnTrayer, RestartedTrayerTakesTheIconBackAfterTaskbarCreated) {
    XvfbDisplay& display = *display_;
    TrayerHost& trayer = *trayer_;
    Probe& probe = *probe_;

    trayer.Stop();
    EXPECT_TRUE(probe.Expect("callback 1152")) << "no host-gone notice: " << probe.Seen();
    ASSERT_TRUE(trayer.Start());
    // The probe answers "TaskbarCreated" with NIM_ADD, as the tray icon does.
    EXPECT_TRUE(probe.Expect("taskbarcreated")) << probe.Seen();
    EXPECT_TRUE(probe.Expect("add 1")) << probe.Seen();
    EXPECT_GE(TrayIconCentre(display, kProbeClass).x(), 0) << "the icon did not dock again";
    Shot(display, "notify_icon_trayer_restarted.png");
}

TEST_F(NotifyIconOnTrayer, BasicRecordShowsTheTipCutAt63CharactersAndBalloonsReportShowAndHide) {
    XvfbDisplay& display = *display_;
    Probe& probe = *probe_;
    const QPoint icon = icon_;

    const QString x63(63, 'x'), x70(70, 'x');
    probe.Send("basic " + x63);
    ASSERT_TRUE(probe.Expect("modify 1"));
    const int basic63 = TooltipWidth(display, icon);
    probe.Send("basic " + x70);
    ASSERT_TRUE(probe.Expect("modify 1"));
    const int basic70 = TooltipWidth(display, icon);
    Shot(display, "notify_icon_basic_tip.png");
    probe.Send("modify " + x70);
    ASSERT_TRUE(probe.Expect("modify 1"));
    const int extended70 = TooltipWidth(display, icon);
    ASSERT_GT(basic63, 0) << "no tooltip showed";
    EXPECT_EQ(basic70, basic63) << "a basic record shows 63 characters at most";
    EXPECT_GT(extended70, basic70) << "an extended record shows the whole tip";

    probe.Send("balloon Quilvane|A balloon from the probe");
    EXPECT_TRUE(probe.Expect("callback 1026")) << probe.Seen();
    Shot(display, "notify_icon_balloon.png");
    probe.Send("delete");
    EXPECT_TRUE(probe.Expect("callback 1027")) << probe.Seen();
}

TEST(NotifyIconOnStatusNotifierHost, LeftClicksArriveAndARestartedHostTakesTheIconBack) {
    std::string missing;
    if (!HaveTools(&missing))
        QUILVANE_SKIP_OR_FAIL(missing);
    XvfbDisplay display(800, 600);
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    SniHost sni(display);
    if (!sni.Ok() || !sni.StartHost(display))
        QUILVANE_SKIP_OR_FAIL(sni.Error().toStdString());
    Probe probe(sni.Environment(display), "Quilvane probe");
    ASSERT_TRUE(probe.Expect("add 1")) << probe.Seen();
    const QPoint icon = TrayIconCentre(display, "gtk-sni-tray-standalone", true);
    ASSERT_GE(icon.x(), 0);

    // This host reports left clicks only (a right or middle click reaches the
    // item's menu, which Qt's item has not), each press as one activation.
    EXPECT_EQ(FirstLeftClickOnSniHost(display, probe), "513 514");
    Shot(display, "notify_icon_sni.png");
    // Past the double-click time; a late answer to an earlier try is dropped.
    probe.Codes(100, 600);
    Click(display, icon, "double");
    EXPECT_EQ(probe.Codes(4), "513 514 515 514");

    sni.StopHost();
    EXPECT_TRUE(probe.Expect("callback 1152")) << probe.Seen();
    ASSERT_TRUE(sni.StartHost(display)) << sni.Error().toStdString();
    EXPECT_TRUE(probe.Expect("taskbarcreated")) << probe.Seen();
    EXPECT_TRUE(probe.Expect("add 1")) << probe.Seen();
    display.Run("xdotool", {"sleep", "0.6"});
    EXPECT_EQ(FirstLeftClickOnSniHost(display, probe), "513 514") << "the icon came back";
}

// A tip written with CR LF line ends, as the taskbar takes them: the
// StatusNotifierItem's ToolTip that the host reads over the bus holds line
// feeds only (a raw CR shows as a glyph or a blank there).
TEST(NotifyIconOnStatusNotifierHost, TheToolTipHasLineFeedsOnly) {
    std::string missing;
    if (!HaveTools(&missing))
        QUILVANE_SKIP_OR_FAIL(missing);
    if (!XvfbDisplay::HaveProgram("gdbus"))
        QUILVANE_SKIP_OR_FAIL("gdbus is not installed");
    XvfbDisplay display(800, 600);
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    SniHost sni(display);
    if (!sni.Ok() || !sni.StartHost(display))
        QUILVANE_SKIP_OR_FAIL(sni.Error().toStdString());
    const QProcessEnvironment env = sni.Environment(display);
    Probe probe(env, "Quilvane\r\nVersion 2.0.6");
    ASSERT_TRUE(probe.Expect("add 1")) << probe.Seen();

    const auto gdbus = [&](const QString& dest, const QString& path, const QString& iface,
                           const QString& property) {
        QProcess run;
        run.setProcessEnvironment(env);
        run.start("gdbus", {"call", "--session", "--dest", dest, "--object-path", path, "--method",
                            "org.freedesktop.DBus.Properties.Get", iface, property});
        run.waitForFinished(10000);
        return QString::fromUtf8(run.readAllStandardOutput());
    };
    // The item as the watcher lists it: "service/path" or the service alone.
    const QString items = gdbus("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems");
    const auto match = QRegularExpression("'([^'/]+)(/[^']*)?'").match(items);
    ASSERT_TRUE(match.hasMatch()) << items.toStdString();
    const QString path = match.captured(2).isEmpty() ? "/StatusNotifierItem" : match.captured(2);
    const QString tip = gdbus(match.captured(1), path, "org.kde.StatusNotifierItem", "ToolTip");
    EXPECT_TRUE(tip.contains("Quilvane\\nVersion 2.0.6")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("\\r")) << tip.toStdString();
}

}  // namespace
