// The real program on a private Xvfb display, driven by the keyboard alone:
// Alt+A opens the editor, the record is typed with Tab between the boxes,
// Alt+S saves it and Alt+O stores the table in the settings file beside the
// executable, where the test then finds the record.
//
// The program runs as a copy in a folder of the test's own (so its settings
// file is the test's), and in a network namespace of its own with nothing but
// a loopback that is down: a monitor pass that comes during the test sends
// nothing anywhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "app/settings_file.h"
#include "framework/memory_data.h"
#include "ini/ini_store.h"
#include "monitor/connection_table.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/x_window_watch.h"
#include "tests/support/xvfb_display.h"

namespace quilvane {
namespace {

struct Stored {
    int count = 0;
    std::string host, user, password, unc, drive;
    int maxPing = 0;
};

// What the settings file in `dir` holds, read as the program reads it.
Stored ReadSettings(const QString& dir) {
    TzIni ini(nullptr);
    ini.SetEncryptValues(true);
    fw::TRxMemoryData table(nullptr, ConnectionFields());
    std::string url;
    LoadSettings(ini, table, url, dir.toStdString());
    Stored s;
    s.count = table.RecordCount();
    if (s.count > 0) {
        table.First();
        s.host = table.FieldByName("HostName").AsString();
        s.user = table.FieldByName("UserName").AsString();
        s.password = table.FieldByName("Password").AsString();
        s.unc = table.FieldByName("UNC").AsString();
        s.drive = table.FieldByName("Drive").AsString();
        s.maxPing = table.FieldByName("MaxPing").AsInteger();
    }
    return s;
}

TEST(RecordEditorOnXvfb, KeyboardAloneAddsARecordThatOkStoresInTheSettingsFile) {
    for (const char* tool : {"xdotool", "unshare"}) {
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    }
    // Root makes the namespace directly; others map themselves to root in a
    // user namespace of their own first.
    const QStringList isolate = geteuid() == 0
                                    ? QStringList{"--net", "--"}
                                    : QStringList{"--user", "--map-root-user", "--net", "--"};
    {
        QProcess probe;
        probe.start("unshare", isolate + QStringList{"true"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QUILVANE_SKIP_OR_FAIL("cannot make a network namespace with unshare");
    }
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());

    // The program's folder: a copy of the executable, and the libraries it
    // loads at run time where the build tree keeps them.
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    const QString bin = top.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString exe = bin + "/quilvane";
    ASSERT_TRUE(QFile::copy(QUILVANE_BINARY, exe));
    ASSERT_TRUE(QFile::setPermissions(
        exe, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString libs = QFileInfo(QUILVANE_BINARY).absoluteDir().filePath("../lib");
    ASSERT_TRUE(QFile::link(QDir(libs).absolutePath(), top.filePath("lib")));

    QProcessEnvironment env = display.Environment();
    const QString home = top.filePath("home");
    for (const char* sub : {"", "/run", "/drives"})
        QDir().mkpath(home + sub);
    QFile::setPermissions(home + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_CONFIG_DIRS", home + "/xdg");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    env.insert("QUILVANE_DRIVES", home + "/drives");
    env.remove("DBUS_SESSION_BUS_ADDRESS");

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start("unshare", isolate + QStringList{exe});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    XvfbDisplay::KillOnExit stop{program};

    const QString window = display.FindWindow("^Quilvane$");
    ASSERT_FALSE(window.isEmpty()) << "no window titled Quilvane appeared";
    XWindowWatch watch(display.Display().toStdString(), window.toStdString());
    ASSERT_TRUE(watch.Ok());
    ASSERT_TRUE(watch.WaitForHeight(265, 10000)) << "height " << watch.Height();
    // The settings file exists (empty) once the window has loaded it.
    ASSERT_EQ(ReadSettings(bin).count, 0);

    const auto focus = display.Run("xdotool", {"windowfocus", "--sync", window});
    ASSERT_EQ(focus.exitCode, 0) << focus.output.toStdString();
    auto key = [&](const QString& keys) {
        const auto r = display.Run("xdotool", {"key", "--clearmodifiers", keys});
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    };
    auto type = [&](const QString& text) {
        const auto r = display.Run("xdotool", {"type", "--clearmodifiers", text});
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    };

    key("alt+a");
    ASSERT_TRUE(watch.WaitForHeight(440, 10000)) << "Alt+A did not open the editor";
    type("127.0.0.1");
    key("Tab");
    type("3");  // replaces the proposed 5, which entering the box selected
    key("Tab");
    type("alice");
    key("Tab");
    type("secret");
    key("Tab");
    type("public");
    key("alt+s");
    ASSERT_TRUE(watch.WaitForHeight(265, 10000)) << "Alt+S did not save and close the editor";

    // Nothing is stored before Ok.
    EXPECT_EQ(ReadSettings(bin).count, 0);

    QFileSystemWatcher files({bin});
    QSignalSpy changed(&files, &QFileSystemWatcher::directoryChanged);
    key("alt+o");
    // Ok writes key by key, each a whole rewrite of the file; the record's
    // MaxPing comes last.
    auto complete = [](const Stored& s) { return s.count == 1 && s.maxPing == 3; };
    const QDeadlineTimer deadline(20000);
    Stored stored = ReadSettings(bin);
    while (!complete(stored) && !deadline.hasExpired()) {
        changed.wait(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        stored = ReadSettings(bin);
    }
    ASSERT_EQ(stored.count, 1) << "Alt+O did not store the record";
    EXPECT_EQ(stored.host, "127.0.0.1");
    EXPECT_EQ(stored.maxPing, 3);
    EXPECT_EQ(stored.user, "alice");
    EXPECT_EQ(stored.password, "secret");
    EXPECT_EQ(stored.unc, "public");
    EXPECT_EQ(stored.drive, "Y:");
    EXPECT_EQ(program.state(), QProcess::Running);
}

}  // namespace
}  // namespace quilvane
