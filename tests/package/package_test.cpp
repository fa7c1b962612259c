// The Debian package that `cpack -G DEB` makes (the package_build fixture).
// Unpacked, its files are in their standard places and pass the desktop's own
// checks (desktop-file-validate, systemd-analyze, man). Installed as root with
// dpkg on a system that grants no ICMP sockets to users (Debian's default),
// the program started by a normal user pings loopback and keeps its settings
// in that user's configuration folder, and the package goes again without a
// trace. Installed relocatably and moved, the program still finds its ICMP
// library and pings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <optional>

#include "app/version.h"
#include "tests/support/settings_records.h"
#include "tests/support/skip_or_fail.h"

namespace {

struct Result {
    int exitCode = -1;  // -1: did not start, crashed or did not end in time
    QString out;
    QString err;
};

Result RunTool(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               const QString& workingDir = {}, int timeoutMs = 120000) {
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    Result result;
    if (!process.waitForStarted(10000)) {
        result.err = program + ": " + process.errorString();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.err = program + " did not end within " + QString::number(timeoutMs) + " ms\n";
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err += QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

bool HaveProgram(const QString& name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// One pass of the monitor comes every 10 s; its line follows within a ping
// time-out and the drive operations' own bounded time.
constexpr int kPassWaitMs = 45000;

// A record that pings loopback and maps no drive.
const quilvane_test::ConnectionRecord kLoopback{"127.0.0.1", "", "", "", "", 5};

// The fields of the headless line for kLoopback once it has answered.
const QRegularExpression kLoopbackAnswered(
    "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d HostName=127\\.0\\.0\\.1 "
    "Connected=True FalseCount=0 Drive= UNC= Maped=False$");

// The program's next line on standard output about `host`, or "" when none
// came within `timeoutMs` or the output ended.
QString NextLineAbout(QProcess& program, const QString& host, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (program.canReadLine()) {
            const QString line = QString::fromLocal8Bit(program.readLine()).trimmed();
            if (line.contains(" HostName=" + host + " "))
                return line;
        }
        if (deadline.hasExpired() ||
            !program.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return {};
    }
}

// Ends the program as its user unit does: at once, with status 0.
void EndBySigterm(QProcess& program) {
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000)) << "SIGTERM did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// The one package the fixture built, or "" when there is not exactly one.
QString PackageFile() {
    const QDir dir(QUILVANE_PACKAGE_DIR);
    const QStringList debs = dir.entryList({"*.deb"}, QDir::Files);
    return debs.size() == 1 ? dir.filePath(debs.first()) : QString();
}

// The package names in a Depends field, without versions or alternatives.
QStringList DependedNames(const QString& depends) {
    QStringList names;
    for (const QString& entry : depends.split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
        names << entry.trimmed().section(' ', 0, 0).section(':', 0, 0);
    return names;
}

class UnpackedPackage : public ::testing::Test {
protected:
    void SetUp() override {
        deb_ = PackageFile();
        ASSERT_FALSE(deb_.isEmpty()) << "expected one .deb in " QUILVANE_PACKAGE_DIR;
        ASSERT_TRUE(root_.isValid());
        const Result unpack = RunTool("dpkg-deb", {"-x", deb_, root_.path()});
        ASSERT_EQ(unpack.exitCode, 0) << unpack.err.toStdString();
    }

    // A path of the package, e.g. "/usr/bin/quilvane", in the unpacked tree.
    QString Path(const QString& installed) const { return root_.path() + installed; }

    QString deb_;
    QTemporaryDir root_;
};

TEST_F(UnpackedPackage, FilesAreInTheirStandardPlaces) {
    for (const char* path :
         {"/usr/bin/quilvane", "/usr/lib/quilvane/libquilvane_icmp.so",
          "/usr/lib/quilvane/libquilvane_uxtheme.so", "/usr/lib/quilvane/libquilvane_inet.so",
          "/usr/lib/sysctl.d/50-quilvane.conf", "/usr/share/applications/quilvane.desktop",
          "/usr/lib/systemd/user/quilvane.service", "/usr/share/man/man1/quilvane.1.gz",
          "/usr/share/icons/hicolor/scalable/apps/quilvane.svg"})
        EXPECT_TRUE(QFileInfo(Path(path)).isFile()) << path;
    EXPECT_TRUE(QFileInfo(Path("/usr/bin/quilvane")).isExecutable());
    // The run-time libraries are the program's own, not ones for other programs to link.
    EXPECT_FALSE(QFileInfo::exists(Path("/usr/lib/libquilvane_icmp.so")));
    EXPECT_FALSE(QFileInfo::exists(Path("/usr/lib/libquilvane_uxtheme.so")));
    EXPECT_FALSE(QFileInfo::exists(Path("/usr/lib/libquilvane_inet.so")));
    const QString sysctl = ReadText(Path("/usr/lib/sysctl.d/50-quilvane.conf"));
    EXPECT_TRUE(sysctl.contains("\nnet.ipv4.ping_group_range = 0 2147483647\n"))
        << sysctl.toStdString();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString icon =
            Path(QString("/usr/share/icons/hicolor/%1x%1/apps/quilvane.png").arg(size));
        const QImage image(icon);
        EXPECT_EQ(image.size(), QSize(size, size)) << icon.toStdString();
    }
    // Nothing outside /usr, nothing that users would have to write to.
    const QStringList top = QDir(root_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(top, QStringList{"usr"});
}

TEST_F(UnpackedPackage, ControlNamesLibrariesAndRuntimeServices) {
    const Result fields =
        RunTool("dpkg-deb", {"--field", deb_, "Package", "Architecture", "Depends"});
    ASSERT_EQ(fields.exitCode, 0) << fields.err.toStdString();
    const Result arch = RunTool("dpkg", {"--print-architecture"});
    ASSERT_EQ(arch.exitCode, 0) << arch.err.toStdString();
    EXPECT_TRUE(fields.out.contains("Package: quilvane\n")) << fields.out.toStdString();
    // The version the program says of itself, in the control file and the
    // file's name.
    const QString version = quilvane::ProgramVersion;
    const Result versionField = RunTool("dpkg-deb", {"--field", deb_, "Version"});
    EXPECT_EQ(versionField.out.trimmed(), version);
    EXPECT_EQ(QFileInfo(deb_).fileName(),
              "quilvane_" + version + "_" + arch.out.trimmed() + ".deb");
    EXPECT_TRUE(fields.out.contains("Architecture: " + arch.out.trimmed() + "\n"))
        << fields.out.toStdString();
    const QString depends =
        QRegularExpression("^Depends: (.*)$", QRegularExpression::MultilineOption)
            .match(fields.out)
            .captured(1);
    const QStringList names = DependedNames(depends);
    // Found in the binaries by dpkg-shlibdeps, and the services used at run time.
    for (const char* name : {"libc6", "libqt6widgets6", "libqt6gui6", "libglib2.0-0",
                             "gvfs-backends", "gvfs-fuse", "gvfs-daemons", "dbus"})
        EXPECT_TRUE(names.contains(name)) << name << " missing from: " << depends.toStdString();
}

TEST_F(UnpackedPackage, DesktopEntryValidatesAndNamesProgramAndIcon) {
    if (!HaveProgram("desktop-file-validate"))
        QUILVANE_SKIP_OR_FAIL("desktop-file-validate is not installed (desktop-file-utils)");
    const QString entry = Path("/usr/share/applications/quilvane.desktop");
    const Result check = RunTool("desktop-file-validate", {entry});
    EXPECT_EQ(check.exitCode, 0);
    // Hints and warnings count too.
    EXPECT_EQ((check.out + check.err).toStdString(), "");
    const QString text = ReadText(entry);
    // The launcher brings a running copy's window up (--show).
    EXPECT_TRUE(text.contains("\nExec=quilvane --show\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nIcon=quilvane\n")) << text.toStdString();
}

TEST_F(UnpackedPackage, UserUnitVerifies) {
    if (!HaveProgram("systemd-analyze"))
        QUILVANE_SKIP_OR_FAIL("systemd-analyze is not installed (systemd)");
    const QString unit = ReadText(Path("/usr/lib/systemd/user/quilvane.service"));
    const QString execStart = "\nExecStart=/usr/bin/quilvane --headless\n";
    ASSERT_TRUE(unit.contains(execStart)) << unit.toStdString();
    EXPECT_TRUE(unit.contains("\nRestart=on-failure\n")) << unit.toStdString();

    // The program is not installed here: the copy that is checked starts the
    // unpacked one, and its manual page is the unpacked one.
    QDir(root_.path()).mkdir("check");
    QDir(root_.path()).mkdir("runtime");
    QFile::setPermissions(root_.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString copy = root_.path() + "/check/quilvane.service";
    QFile out(copy);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QString(unit)
                  .replace(execStart, "\nExecStart=" + Path("/usr/bin/quilvane") + " --headless\n")
                  .toUtf8());
    out.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", root_.path() + "/runtime");
    env.insert("MANPATH", Path("/usr/share/man"));
    const Result verify = RunTool("systemd-analyze", {"--user", "verify", copy}, env);
    EXPECT_EQ(verify.exitCode, 0);
    // systemd-analyze ends with 0 even when it ignores a line it cannot parse.
    EXPECT_EQ((verify.out + verify.err).toStdString(), "");
}

TEST_F(UnpackedPackage, ProgramShowsHelpAndManualPageNamesEachOption) {
    const Result help = RunTool(Path("/usr/bin/quilvane"), {"--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err.toStdString();
    ASSERT_TRUE(help.out.contains("--headless")) << help.out.toStdString();

    if (!HaveProgram("man"))
        QUILVANE_SKIP_OR_FAIL("man is not installed (man-db)");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "200");
    env.insert("LC_ALL", "C.UTF-8");
    const Result man =
        RunTool("man", {"--warnings", "-l", Path("/usr/share/man/man1/quilvane.1.gz")}, env);
    EXPECT_EQ(man.exitCode, 0);
    EXPECT_EQ(man.err.toStdString(), "");  // troff's warnings
    for (const char* text :
         {"QUILVANE(1)", "SYNOPSIS", "OPTIONS", "HEADLESS OUTPUT", "FILES", "ENVIRONMENT",
          "QUILVANE_DRIVES", "XDG_CONFIG_HOME", "SIGNALS", "SIGTERM", "EXIT STATUS",
          "$XDG_CONFIG_HOME/Quilvane/Quilvane.ini", "--version"})
        EXPECT_TRUE(man.out.contains(text)) << text;
    EXPECT_TRUE(man.out.contains(QString("Quilvane ") + quilvane::ProgramVersion));
    // Every option that --help lists has its entry in packaging/quilvane.1.
    auto options = QRegularExpression("(?<![\\w-])(--?[a-z][a-z-]*)").globalMatch(help.out);
    int seen = 0;
    while (options.hasNext()) {
        const QString option = options.next().captured(1);
        EXPECT_TRUE(man.out.contains(option)) << option.toStdString() << " is not in the manual";
        ++seen;
    }
    EXPECT_GE(seen, 2);
}

// --- installed with dpkg -------------------------------------------------

const char kPingGroupRange[] = "/proc/sys/net/ipv4/ping_group_range";

// The groups allowed ICMP echo sockets, e.g. "1 0" (none).
QString PingGroupRange() {
    return ReadText(kPingGroupRange).simplified();
}

bool SetPingGroupRange(const QString& range) {
    const QByteArray text = range.toUtf8() + "\n";
    const int fd = ::open(kPingGroupRange, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), text.size()) == text.size();
    return ::close(fd) == 0 && written;
}

// Leaves the machine's ICMP socket groups as the test found them.
struct RestorePingGroupRange {
    QString original;
    ~RestorePingGroupRange() {
        if (PingGroupRange() != original)
            SetPingGroupRange(original);
    }
};

// dpkg does not wait for another package tool's lock: try again, bounded.
Result Dpkg(const QStringList& arguments) {
    const QDeadlineTimer deadline(180000);
    for (;;) {
        Result result = RunTool("dpkg", arguments);
        if (result.exitCode == 0 || !result.err.contains("lock") || deadline.hasExpired())
            return result;
        QThread::sleep(2);
    }
}

bool Installed() {
    return RunTool("dpkg-query", {"--show", "--showformat=${db:Status-Status}", "quilvane"}).out ==
           "installed";
}

// Leaves the machine's packages as they were: removes what the test
// installed and puts back an earlier install of the package.
struct RestorePackages {
    QString earlier;  // that install repacked, or ""
    ~RestorePackages() {
        Dpkg({"--purge", "quilvane"});
        if (!earlier.isEmpty())
            Dpkg({"--install", earlier});
    }
};

// Starts the installed program headless as user `uid`, with only a home and a
// runtime folder of its own. env and setpriv exec: the process that runs is
// the program itself.
void StartAs(QProcess& program, uid_t uid, gid_t gid, const QString& home, const QString& runtime) {
    program.setProcessEnvironment(QProcessEnvironment());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(
        "env", {"-i", "HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "PATH=/usr/bin:/bin", "setpriv",
                "--reuid=" + QString::number(uid), "--regid=" + QString::number(gid),
                "--clear-groups", "quilvane", "--headless"});
}

TEST(InstalledPackage, UserPingsKeepsSettingsInOwnConfigFolderAndRemovalLeavesNoFile) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("installing the package needs root");
    for (const char* tool : {"dpkg", "dpkg-query", "setpriv", "env"}) {
        if (!HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        QUILVANE_SKIP_OR_FAIL("there is no user nobody");
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const QString deb = PackageFile();
    ASSERT_FALSE(deb.isEmpty()) << "expected one .deb in " QUILVANE_PACKAGE_DIR;

    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QFile::setPermissions(work.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    QString earlier;
    if (Installed()) {
        if (!HaveProgram("dpkg-repack"))
            QUILVANE_SKIP_OR_FAIL("quilvane is installed and dpkg-repack, to put it back, is not");
        const Result repack = RunTool("dpkg-repack", {"quilvane"},
                                      QProcessEnvironment::systemEnvironment(), work.path());
        const QStringList saved = QDir(work.path()).entryList({"quilvane_*.deb"}, QDir::Files);
        ASSERT_TRUE(repack.exitCode == 0 && saved.size() == 1) << repack.err.toStdString();
        earlier = work.path() + "/" + saved.first();
    }
    // Debian's default: no group may open ICMP echo sockets, and a normal user
    // may not open raw ones either. The package's postinst changes that.
    const RestorePingGroupRange restoreRange{PingGroupRange()};
    ASSERT_FALSE(restoreRange.original.isEmpty()) << "cannot read " << kPingGroupRange;
    if (!SetPingGroupRange("1 0"))
        QUILVANE_SKIP_OR_FAIL("cannot set net.ipv4.ping_group_range on this machine");
    const RestorePackages restore{earlier};

    const Result install = Dpkg({"--install", deb});
    ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    const Result listed = RunTool("dpkg-query", {"--listfiles", "quilvane"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    QStringList files;
    for (const QString& path : listed.out.split('\n', Qt::SkipEmptyParts)) {
        if (QFileInfo(path).isFile())
            files << path;
    }
    for (const char* path :
         {"/usr/bin/quilvane", "/usr/lib/quilvane/libquilvane_icmp.so",
          "/usr/lib/sysctl.d/50-quilvane.conf", "/usr/lib/systemd/user/quilvane.service",
          "/usr/share/applications/quilvane.desktop", "/usr/share/man/man1/quilvane.1.gz"})
        EXPECT_TRUE(files.contains(path)) << path;
    EXPECT_EQ(PingGroupRange(), "0 2147483647") << "the postinst did not apply its setting";

    // Where the setting cannot be applied (a container without write access
    // to /proc/sys), the postinst says so and the install goes on.
    if (HaveProgram("unshare") &&
        RunTool("unshare", {"--user", "--map-root-user", "true"}).exitCode == 0) {
        const Result confined =
            RunTool("unshare", {"--user", "--map-root-user", "sh",
                                "/var/lib/dpkg/info/quilvane.postinst", "configure"});
        EXPECT_EQ(confined.exitCode, 0) << confined.err.toStdString();
        EXPECT_TRUE(confined.err.contains("it applies at the next boot"))
            << confined.err.toStdString();
    }

    // A normal user with a home of its own starts the installed program.
    const QString home = work.path() + "/home";
    const QString runtime = work.path() + "/runtime";
    for (const QString& dir : {home, runtime}) {
        ASSERT_EQ(::mkdir(dir.toLocal8Bit().constData(), 0700), 0);
        ASSERT_EQ(::chown(dir.toLocal8Bit().constData(), uid, gid), 0);
    }
    QProcess program;
    StartAs(program, uid, gid, home, runtime);
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    const QString config = home + "/.config";
    const QString settings = config + "/Quilvane/Quilvane.ini";
    const QDeadlineTimer appeared(30000);
    while (!QFile::exists(settings) && !appeared.hasExpired() && !program.waitForFinished(100)) {
    }
    ASSERT_EQ(program.state(), QProcess::Running)
        << "ended early with status " << program.exitCode();
    struct stat st {};
    ASSERT_EQ(::stat(settings.toLocal8Bit().constData(), &st), 0) << "no settings file in 30 s";
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    for (const QString& dir : {config, config + "/Quilvane"}) {
        ASSERT_EQ(::stat(dir.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_uid, uid) << dir.toStdString();
        EXPECT_EQ(st.st_mode & 07777, 0700u) << dir.toStdString();
    }
    EXPECT_FALSE(QFile::exists("/usr/bin/Quilvane.ini"));
    EndBySigterm(program);
    if (HasFatalFailure())
        return;

    // With a server to ping in the user's list, the user's program gets its
    // echo reply.
    quilvane_test::AppendSettingsRecords((config + "/Quilvane").toStdString(), {kLoopback});
    ASSERT_EQ(::chown(settings.toLocal8Bit().constData(), uid, gid), 0);
    ASSERT_EQ(::chmod(settings.toLocal8Bit().constData(), 0600), 0);
    QProcess pinging;
    StartAs(pinging, uid, gid, home, runtime);
    ASSERT_TRUE(pinging.waitForStarted(10000)) << pinging.errorString().toStdString();
    const QString line = NextLineAbout(pinging, "127.0.0.1", kPassWaitMs);
    EXPECT_TRUE(kLoopbackAnswered.match(line).hasMatch()) << "line: " << line.toStdString();
    EndBySigterm(pinging);

    const Result remove = Dpkg({"--remove", "quilvane"});
    EXPECT_EQ(remove.exitCode, 0) << remove.err.toStdString();
    const Result purge = Dpkg({"--purge", "quilvane"});
    EXPECT_EQ(purge.exitCode, 0) << purge.err.toStdString();
    EXPECT_FALSE(Installed());
    for (const QString& path : files)
        EXPECT_FALSE(QFile::exists(path)) << path.toStdString() << " is left after removal";
    // The user's own settings are the user's.
    EXPECT_TRUE(QFile::exists(settings));
    // Other programs may rely on the running value by now: removal keeps it.
    EXPECT_EQ(PingGroupRange(), "0 2147483647");
}

// --- installed relocatably -----------------------------------------------

// Whether this process may open an ICMP socket of either kind.
bool MayPing() {
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

TEST(RelocatableInstall, MovedFolderFindsItsIcmpLibraryAndPings) {
    if (!MayPing())
        QUILVANE_SKIP_OR_FAIL("this user may open no ICMP socket (root, or ping_group_range)");
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    const QString installed = top.filePath("installed");
    const Result install =
        RunTool(QUILVANE_CMAKE, {"--install", QUILVANE_BUILD_DIR, "--prefix", installed});
    ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    for (const char* lib :
         {"libquilvane_icmp.so", "libquilvane_uxtheme.so", "libquilvane_inet.so"}) {
        EXPECT_TRUE(QFileInfo(installed + "/lib/quilvane/" + lib).isFile()) << lib;
        EXPECT_FALSE(QFileInfo::exists(installed + "/lib/" + lib)) << lib;
    }

    const QString moved = top.filePath("moved");
    ASSERT_TRUE(QDir().rename(installed, moved));
    quilvane_test::AppendSettingsRecords((moved + "/bin").toStdString(), {kLoopback});
    const QString home = top.filePath("home");
    const QString runtime = top.filePath("runtime");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(runtime));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env;
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("PATH", "/usr/bin:/bin");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(moved + "/bin/quilvane", {"--headless"});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    const QString line = NextLineAbout(program, "127.0.0.1", kPassWaitMs);
    EXPECT_TRUE(kLoopbackAnswered.match(line).hasMatch()) << "line: " << line.toStdString();
    EndBySigterm(program);
}

}  // namespace
