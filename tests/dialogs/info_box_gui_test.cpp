// The info box on a private Xvfb display, driven by the keyboard as a user
// would: the caption is the Title or the application's title, and Enter,
// Escape and Tab with Space press the buttons they should. A screenshot of a
// box with markup, a picture and the check box is kept beside this test's
// binary (info_box.png).
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/support/skip_or_fail.h"
#include "tests/support/xvfb_display.h"

namespace {

struct Press {
    const char* name;
    QStringList args;
    QString title;  // regular expression of the expected caption
    QStringList keys;
    int result;
    QString screenshot;
};

class InfoBoxOnXvfb : public ::testing::TestWithParam<Press> {};

TEST_P(InfoBoxOnXvfb, ShowsItsCaptionAndAnswersTheKeyboard) {
    const Press& p = GetParam();
    for (const char* tool : {"xdotool", "import"}) {
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    }
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = display.Environment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QUILVANE_INFO_BOX_SHOW, p.args);
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    XvfbDisplay::KillOnExit stop{program};

    const QString window = display.FindWindow(p.title);
    ASSERT_FALSE(window.isEmpty()) << "no window titled " << p.title.toStdString();
    const auto name = display.Run("xdotool", {"getwindowname", window});
    EXPECT_TRUE(QRegularExpression(p.title).match(name.output.trimmed()).hasMatch())
        << name.output.toStdString();

    if (!p.screenshot.isEmpty()) {
        const QString shot = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(p.screenshot);
        QFile::remove(shot);
        const auto r = display.Run("import", {"-window", window, shot});
        EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
        EXPECT_TRUE(QFile::exists(shot));
    }

    const auto focus = display.Run("xdotool", {"windowfocus", "--sync", window});
    ASSERT_EQ(focus.exitCode, 0) << focus.output.toStdString();
    for (const QString& key : p.keys) {
        const auto r = display.Run("xdotool", {"key", "--clearmodifiers", key});
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    }
    ASSERT_TRUE(program.waitForFinished(15000)) << "the box did not close";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(program.readAllStandardOutput()).trimmed(),
              QString("result=%1").arg(p.result));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, InfoBoxOnXvfb,
    ::testing::Values(
        Press{"AboutEnter",
              {"--box-title", "About", "--checkbox", "--picture",
               "Quilvane\r\nVersion [b]1.0.0[DEF]\r\n[navy]Keeps [u]shares[] mapped[DEF] while "
               "their servers answer.\r\n[red]Red[] [green]green[] [i]italic[] [s]struck[]"},
              "^About$",
              {"Return"},
              1,
              "info_box.png"},
        Press{"ApplicationTitleEscapeIsCancel",
              {"--buttons", "4", "Save the changes?"},
              "^Quilvane$",
              {"Escape"},
              2,
              {}},
        Press{"YesNoTabSpaceIsNo",
              {"--buttons", "2", "Upgrade now?"},
              "^Quilvane$",
              {"Tab", "space"},
              7,
              {}},
        Press{"RetryAbortAltA", {"--buttons", "3", "Retry?"}, "^Quilvane$", {"alt+a"}, 3, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
