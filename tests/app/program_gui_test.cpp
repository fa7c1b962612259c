// The real program on a private Xvfb display without a tray: where no tray
// takes the program's icon, its window shows at start instead of hiding into
// nowhere. It appears with the list view's geometry and the program's icon,
// and Alt+X ends the process with status 0; a second start ends at once while
// the first runs. A screenshot of the display is kept beside this test's
// binary. (The start in a real tray: program_tray_gui_test.cpp.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <functional>

#include "framework/form.h"
#include "tests/support/program_folder.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/xvfb_display.h"

namespace {

int ShellValue(const QString& shell, const char* name) {
    const QRegularExpression re(QString("^%1=(-?\\d+)$").arg(name),
                                QRegularExpression::MultilineOption);
    const auto match = re.match(shell);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The pictures of a _NET_WM_ICON value that xprop printed as "NAME=w, h,
// w*h pixels, w, h, ...". xprop cuts long values short: a picture whose
// pixels are cut off still counts.
QList<QSize> IconSizes(const QString& xprop) {
    const QStringList numbers = xprop.section('=', 1).split(',', Qt::SkipEmptyParts);
    QList<QSize> sizes;
    for (qsizetype at = 0; at + 1 < numbers.size();) {
        const int width = numbers[at].trimmed().toInt();
        const int height = numbers[at + 1].trimmed().toInt();
        if (width <= 0 || height <= 0)
            break;
        sizes << QSize(width, height);
        at += 2 + qsizetype(width) * height;
    }
    return sizes;
}

// The program's environment on the display, with a home, settings and runtime
// folder of its own: the program must not touch the user's files, nor the
// machine's autostart folder. Its upgrade check goes to a refused loopback
// port, never out of the machine.
QProcessEnvironment PrivateEnvironment(const XvfbDisplay& display, const QString& name) {
    QProcessEnvironment env = display.Environment();
    const QString home = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name);
    QDir(home).removeRecursively();
    QDir().mkpath(home);
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_CONFIG_DIRS", home + "/xdg");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    env.insert("http_proxy", "http://127.0.0.1:9");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    QDir().mkpath(home + "/run");
    QFile::setPermissions(home + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return env;
}

TEST(ProgramOnXvfb, MainWindowHasListViewGeometryAndAltXEndsWithStatusZero) {
    for (const char* tool : {"xdotool", "import", "xprop"}) {
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    }
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    QProcess program;
    program.setProcessEnvironment(PrivateEnvironment(display, "gui_home"));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QUILVANE_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    XvfbDisplay::KillOnExit stop{program};

    const QString window = display.FindWindow("^Quilvane$");
    ASSERT_FALSE(window.isEmpty()) << "no window titled Quilvane appeared";

    // The program's icon, for task bars and window switchers.
    const auto icon =
        display.Run("xprop", {"-id", window, "-f", "_NET_WM_ICON", "32c", "=$0+", "_NET_WM_ICON"});
    EXPECT_EQ(IconSizes(icon.output), (QList<QSize>{{16, 16}, {256, 256}}))
        << icon.output.left(200).toStdString();

    const auto geometry = display.Run("xdotool", {"getwindowgeometry", "--shell", window});
    ASSERT_EQ(geometry.exitCode, 0) << geometry.output.toStdString();
    const int x = ShellValue(geometry.output, "X");
    const int y = ShellValue(geometry.output, "Y");
    const int width = ShellValue(geometry.output, "WIDTH");
    const int height = ShellValue(geometry.output, "HEIGHT");
    EXPECT_EQ(height, 265);
    // The window is frameless to X: our frame around the client area is inside it.
    EXPECT_EQ(width, 455 + 2 * fw::NCFrameWidth);
    // Centred on the 1024x768 screen (within a pixel of rounding).
    EXPECT_NEAR(x, (1024 - width) / 2, 1);
    EXPECT_NEAR(y, (768 - height) / 2, 1);

    const QString shot = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("main_window.png");
    const auto screenshot = display.Run("import", {"-window", "root", shot});
    EXPECT_EQ(screenshot.exitCode, 0) << screenshot.output.toStdString();
    EXPECT_TRUE(QFile::exists(shot));

    const auto focus = display.Run("xdotool", {"windowfocus", "--sync", window});
    ASSERT_EQ(focus.exitCode, 0) << focus.output.toStdString();
    const auto key = display.Run("xdotool", {"key", "--clearmodifiers", "alt+x"});
    ASSERT_EQ(key.exitCode, 0) << key.output.toStdString();
    ASSERT_TRUE(program.waitForFinished(15000)) << "Alt+X did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(ProgramOnXvfb, SecondStartEndsWithStatusZeroAndAKilledFirstDoesNotBlockTheNext) {
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    const QProcessEnvironment env = PrivateEnvironment(display, "single_home");
    auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QUILVANE_BINARY, {});
        return p.waitForStarted(10000);
    };

    QProcess first;
    ASSERT_TRUE(start(first));
    XvfbDisplay::KillOnExit stopFirst{first};
    ASSERT_FALSE(display.FindWindow("^Quilvane$").isEmpty()) << "the first window did not appear";

    QProcess second;
    ASSERT_TRUE(start(second));
    XvfbDisplay::KillOnExit stopSecond{second};
    ASSERT_TRUE(second.waitForFinished(15000)) << "the second start did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    // A first instance killed outright leaves nothing behind that blocks.
    first.kill();
    first.waitForFinished(5000);
    QProcess third;
    ASSERT_TRUE(start(third));
    XvfbDisplay::KillOnExit stopThird{third};
    EXPECT_FALSE(display.FindWindow("^Quilvane$").isEmpty()) << "the next start shows no window";
    EXPECT_EQ(third.state(), QProcess::Running);
}

// Where the system gives this user no ICMP handle, the program cannot
// monitor anything: it says so in a box and on standard error, and ends with
// status 1 once the box is answered, instead of aborting.
TEST(ProgramOnXvfb, NoPingHandleIsShownAndEndsWithStatusOne) {
    if (!XvfbDisplay::HaveProgram("xdotool"))
        QUILVANE_SKIP_OR_FAIL("xdotool is not installed");
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    QProcess program;
    QProcessEnvironment env = PrivateEnvironment(display, "gui_home_no_icmp");
    env.insert("QUILVANE_ICMP_LIBRARY", FAKE_ICMP_NO_HANDLE_PATH);
    program.setProcessEnvironment(env);
    program.start(QUILVANE_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    XvfbDisplay::KillOnExit stop{program};

    const QString box = display.FindWindow("^Quilvane$");
    ASSERT_FALSE(box.isEmpty()) << "no error box appeared";
    EXPECT_EQ(program.state(), QProcess::Running);
    ASSERT_EQ(display.Run("xdotool", {"windowfocus", "--sync", box}).exitCode, 0);
    ASSERT_EQ(display.Run("xdotool", {"key", "Return"}).exitCode, 0);
    ASSERT_TRUE(program.waitForFinished(15000)) << "answering the box did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const std::string err = program.readAllStandardError().toStdString();
    EXPECT_NE(err.find("Quilvane cannot start: Unable to get ping handle\n"), std::string::npos)
        << err;
}

// While the program runs with its window, the list commands refuse to change
// the file that its next Ok would write over; once it has ended they work.
TEST(ProgramOnXvfb, ListCommandsRefuseChangesWhileTheWindowRuns) {
    if (!XvfbDisplay::HaveProgram("xdotool"))
        QUILVANE_SKIP_OR_FAIL("xdotool is not installed");
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    // A relocatable copy, so the settings file is its own.
    const QString root = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("gui_list_commands");
    ASSERT_TRUE(quilvane_test::MakeProgramFolder(root, QUILVANE_BINARY, QUILVANE_ICMP_LIBRARY));
    const QProcessEnvironment env = quilvane_test::ProgramEnvironment(display.Environment(), root);
    const auto command = [&](const QStringList& args) {
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(root + "/bin/quilvane", args);
        run.waitForStarted(10000);
        run.write("pw\n");
        run.closeWriteChannel();
        run.waitForFinished(20000);
        return std::make_pair(run.exitCode(), QString::fromLocal8Bit(run.readAllStandardError()));
    };
    const QStringList add = {"--add", "--host", "srv",     "--user", "u",
                             "--unc", "s",      "--drive", "Q:",     "--password-stdin"};
    ASSERT_EQ(command(add).first, 0);
    QFile settings(root + "/bin/Quilvane.ini");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray before = settings.readAll();
    settings.close();

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(root + "/bin/quilvane", {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    XvfbDisplay::KillOnExit stop{program};
    const QString window = display.FindWindow("^Quilvane$");
    ASSERT_FALSE(window.isEmpty()) << "no window titled Quilvane appeared";

    // A good record (Q: is the first record's now): refused only because the
    // window runs.
    QStringList another = add;
    another[another.indexOf("Q:")] = "R:";
    const auto [status, err] = command(another);
    EXPECT_EQ(status, 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Make the change in the window, or quit it")) << err.toStdString();
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), before);
    settings.close();

    ASSERT_EQ(display.Run("xdotool", {"windowfocus", "--sync", window}).exitCode, 0);
    ASSERT_EQ(display.Run("xdotool", {"key", "--clearmodifiers", "alt+x"}).exitCode, 0);
    ASSERT_TRUE(program.waitForFinished(15000)) << "Alt+X did not end the program";
    const auto after = command(another);
    EXPECT_EQ(after.first, 0) << after.second.toStdString();
}

// A settings file that cannot be read at start: the box names the file and
// why, and once it is answered the program ends with status 1 and leaves no
// guard behind, so the next start (with the file repaired) runs. (Mode 000
// is no case for root, who reads it anyway: a FIFO and a file over the size
// limit are.)
TEST(ProgramOnXvfb, UnreadableSettingsFileIsShownEndsWithStatusOneAndFreesTheGuard) {
    if (!XvfbDisplay::HaveProgram("xdotool"))
        QUILVANE_SKIP_OR_FAIL("xdotool is not installed");
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    const QString root = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("gui_unreadable_settings");
    ASSERT_TRUE(quilvane_test::MakeProgramFolder(root, QUILVANE_BINARY, QUILVANE_ICMP_LIBRARY));
    const QProcessEnvironment env = quilvane_test::ProgramEnvironment(display.Environment(), root);
    const QString path = root + "/bin/Quilvane.ini";

    struct Case {
        const char* name;
        std::function<bool()> make;
        const char* why;
    };
    const Case cases[] = {
        {"FIFO", [&] { return ::mkfifo(path.toLocal8Bit().constData(), 0600) == 0; },
         "not a regular file"},
        {"over 64 MiB",
         [&] {
             QFile f(path);
             return f.open(QIODevice::WriteOnly) && f.resize((qint64(64) << 20) + 1);
         },
         "larger than 64 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path);
        ASSERT_TRUE(c.make());
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(root + "/bin/quilvane", {});
        ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
        XvfbDisplay::KillOnExit stop{program};

        const QString box = display.FindWindow("^Quilvane$");
        ASSERT_FALSE(box.isEmpty()) << "no error box appeared";
        EXPECT_EQ(program.state(), QProcess::Running);
        ASSERT_EQ(display.Run("xdotool", {"windowfocus", "--sync", box}).exitCode, 0);
        ASSERT_EQ(display.Run("xdotool", {"key", "Return"}).exitCode, 0);
        ASSERT_TRUE(program.waitForFinished(15000)) << "answering the box did not end the program";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 1);
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_NE(err.find("Quilvane cannot start: Cannot read file \"" + path.toStdString()),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }

    // Repaired, the file lets the next start run with its window: no guard
    // of the ended one is left to end it as a second instance.
    QFile::remove(path);
    QProcess next;
    next.setProcessEnvironment(env);
    next.setProcessChannelMode(QProcess::ForwardedChannels);
    next.start(root + "/bin/quilvane", {});
    ASSERT_TRUE(next.waitForStarted(10000));
    XvfbDisplay::KillOnExit stopNext{next};
    const QString window = display.FindWindow("^Quilvane$");
    ASSERT_FALSE(window.isEmpty()) << "the next start shows no window";
    EXPECT_EQ(next.state(), QProcess::Running);
}

}  // namespace
