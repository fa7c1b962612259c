// The real program without a display: it says what is missing on stderr and
// ends with a non-zero status instead of letting the toolkit abort.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdint>

#include "app/version.h"

namespace {

struct NoDisplayCase {
    const char* name;
    QString display;       // empty: unset
    QString platform;      // empty: unset
    const char* mentions;  // what the message must name
    QString wayland = {};  // WAYLAND_DISPLAY; empty: unset
};

void PrintTo(const NoDisplayCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramWithoutDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(ProgramWithoutDisplay, ExplainsAndFails) {
    const NoDisplayCase& c = GetParam();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    if (!c.display.isEmpty())
        env.insert("DISPLAY", c.display);
    if (!c.platform.isEmpty())
        env.insert("QT_QPA_PLATFORM", c.platform);
    QTemporaryDir runtime;  // no compositor listens in it
    ASSERT_TRUE(runtime.isValid());
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    if (!c.wayland.isEmpty())
        env.insert("WAYLAND_DISPLAY", c.wayland);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QUILVANE_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    ASSERT_TRUE(program.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "crashed: " << err.toStdString();
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(err.contains(c.mentions)) << err.toStdString();
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

// A display number nobody serves: the first one without a socket.
QString UnservedDisplay() {
    for (int n = 4000; n < 4100; ++n) {
        if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
            return QString(":%1").arg(n);
    }
    return ":4099";
}

// A TCP display on this machine that nobody serves, as a forwarded display
// whose tunnel is gone: "localhost:N" with nothing on port 6000 + N.
QString UnservedTcpDisplay() {
    for (int n = 90; n < 190; ++n) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(6000 + n));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool served =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (!served)
            return QString("localhost:%1").arg(n);
    }
    return "localhost:189";
}

// --version needs no display and touches nothing: it names the build's one
// version (the package's, the About box's) and ends with status 0; --help
// lists it.
TEST(Program, VersionOptionPrintsTheBuildsVersion) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    const auto run = [&](const QStringList& args) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QUILVANE_BINARY, args);
        program.waitForFinished(20000);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_TRUE(program.readAllStandardError().isEmpty());
        return QString::fromLocal8Bit(program.readAllStandardOutput());
    };
    EXPECT_EQ(run({"--version"}).toStdString(),
              std::string("Quilvane ") + quilvane::ProgramVersion + "\n");
    EXPECT_EQ(std::string(quilvane::ProgramVersion), "2.0.6");
    EXPECT_TRUE(run({"--help"}).contains("\n  --version "));
}

INSTANTIATE_TEST_SUITE_P(
    Program, ProgramWithoutDisplay,
    ::testing::Values(
        NoDisplayCase{"NothingSet", {}, {}, "DISPLAY"},
        NoDisplayCase{"ServerNotRunning", UnservedDisplay(), {}, "no X server"},
        NoDisplayCase{"XcbWithoutDisplay", {}, "xcb", "DISPLAY is not set"},
        NoDisplayCase{"WaylandWithoutDisplay", {}, "wayland", "WAYLAND_DISPLAY is not set"},
        NoDisplayCase{"ForwardedDisplayGone", UnservedTcpDisplay(), {}, "no X server"},
        NoDisplayCase{"DisplayNameNotANumber", ":abc", {}, "not a display name"},
        NoDisplayCase{"WaylandCompositorNotRunning", {}, {}, "no Wayland compositor", "wayland-9"},
        NoDisplayCase{"WaylandPlatformWithoutCompositor",
                      {},
                      "wayland",
                      "no Wayland compositor",
                      "wayland-9"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
