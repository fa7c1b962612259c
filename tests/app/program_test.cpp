// The real program without a display: it says what is missing on stderr and
// ends with a non-zero status instead of letting the toolkit abort.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

namespace {

struct NoDisplayCase {
    const char* name;
    QString display;       // empty: unset
    QString platform;      // empty: unset
    const char* mentions;  // what the message must name
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
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QUILVANE_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    ASSERT_TRUE(program.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "crashed: " << err.toStdString();
    EXPECT_NE(program.exitCode(), 0);
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

INSTANTIATE_TEST_SUITE_P(
    Program, ProgramWithoutDisplay,
    ::testing::Values(NoDisplayCase{"NothingSet", {}, {}, "DISPLAY"},
                      NoDisplayCase{"ServerNotRunning", UnservedDisplay(), {}, "no X server"},
                      NoDisplayCase{"XcbWithoutDisplay", {}, "xcb", "DISPLAY is not set"},
                      NoDisplayCase{
                          "WaylandWithoutDisplay", {}, "wayland", "WAYLAND_DISPLAY is not set"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
