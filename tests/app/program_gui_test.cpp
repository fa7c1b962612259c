// The real program on a private Xvfb display: its main window appears with the
// list view's geometry and the program's icon, and Alt+X ends the process with
// status 0. A screenshot of the display is kept beside this test's binary.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include "framework/form.h"
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

TEST(ProgramOnXvfb, MainWindowHasListViewGeometryAndAltXEndsWithStatusZero) {
    for (const char* tool : {"xdotool", "import", "xprop"}) {
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    }
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    QProcess program;
    QProcessEnvironment env = display.Environment();
    // A home of its own: the program must not touch the user's files.
    const QString home = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("gui_home");
    QDir(home).removeRecursively();
    QDir().mkpath(home);
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    QDir().mkpath(home + "/run");
    QFile::setPermissions(home + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    program.setProcessEnvironment(env);
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

}  // namespace
