// The real program in a real tray (Xvfb, trayer) with a share on a real SMB
// server (a namespace test host): once the monitor has mapped the share,
// "E&xit" in the tray menu ends the program with status 0 and the drive stays
// mapped, its files reachable; it ends at once although a mapping of a second
// record waits on a host whose SMB ports drop every packet. Needs root (namespaces, ICMP), samba,
// gvfs and FUSE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <filesystem>
#include <fstream>

#include "tests/support/private_session.h"
#include "tests/support/program_folder.h"
#include "tests/support/settings_records.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/smb_host.h"
#include "tests/support/test_host.h"
#include "tests/support/tray_host.h"
#include "tests/support/xvfb_display.h"

namespace quilvane_test {
namespace {

namespace fs = std::filesystem;

bool IsLink(const std::string& path) {
    std::error_code e;
    return fs::is_symlink(fs::symlink_status(path, e));
}

TEST(ProgramInTrayWithShare, ExitFromTheTrayMenuLeavesTheMappedDriveInPlace) {
    for (const char* tool : {"xdotool", "trayer"})
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    if (std::string why = SmbHost::Unavailable(); !why.empty())
        QUILVANE_SKIP_OR_FAIL(why);
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        QUILVANE_SKIP_OR_FAIL("needs FUSE (/dev/fuse) for the shares' local paths");
    SmbHost smb("trayexit", 63, "qvtray", "tray pass");
    if (!smb.Ok())
        QUILVANE_SKIP_OR_FAIL(smb.Error());
    TestHost dropping("traydrop", 85);
    if (!dropping.Ok())
        QUILVANE_SKIP_OR_FAIL(dropping.Error());
    ASSERT_TRUE(dropping.DropSmb());
    { std::ofstream(smb.SharePath() + "/hello.txt") << "hello"; }
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    TrayerHost trayer(display);

    // The drive layer's session bus and gvfs go with the session.
    PrivateSession session("quilvane-tray-exit");
    ASSERT_TRUE(session.Ok());
    const QString root = QString::fromStdString(session.Root()) + "/program";
    ASSERT_TRUE(MakeProgramFolder(root, QUILVANE_BINARY, QUILVANE_ICMP_LIBRARY));
    QProcessEnvironment env = ProgramEnvironment(display.Environment(), root);
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(session.Runtime()));
    env.insert("QUILVANE_DRIVES", QString::fromStdString(session.Drives()));
    AppendSettingsRecords((root + "/bin").toStdString(),
                          {{smb.Address(), smb.User(), smb.Password(), "data", "Q:", 1},
                           {dropping.Address(), "u", "p", "data", "R:", 1}});
    const std::string drive = session.Drives() + "/Q";

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(root + "/bin/quilvane", {});
    ASSERT_TRUE(program.waitForStarted(10000));
    XvfbDisplay::KillOnExit stop{program};
    const QPoint icon = TrayIconCentre(display, "quilvane", false, 15000);
    ASSERT_GE(icon.x(), 0) << "the icon did not dock";

    // The first monitor pass comes 10 s after the start.
    const QDeadlineTimer deadline(45000);
    while (!IsLink(drive) && !deadline.hasExpired())
        display.Run("xdotool", {"sleep", "0.5"});
    ASSERT_TRUE(IsLink(drive)) << "the monitor did not map the share";

    // R:'s mapping comes next and waits for gvfs to give up on its host.
    ClickAt(display, icon, "3");
    display.Run("xdotool", {"sleep", "0.5"});
    QElapsedTimer ending;
    ending.start();
    display.Run("xdotool", {"key", "x"});
    ASSERT_TRUE(program.waitForFinished(15000)) << "Exit did not end the program";
    std::printf("Exit took %lld ms while R: was being mapped\n",
                static_cast<long long>(ending.elapsed()));
    // Generous: the program's bound is 2 s; waiting for gvfs takes far longer.
    EXPECT_LT(ending.elapsed(), 5000) << "Exit waited for the mapping";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(IsLink(drive)) << "Exit dropped the drive";
    std::ifstream hello(drive + "/hello.txt");
    std::string text;
    std::getline(hello, text);
    EXPECT_EQ(text, "hello") << "the share is not reachable through Q after the end";
}

}  // namespace
}  // namespace quilvane_test
