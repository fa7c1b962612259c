// The Debian package that `cpack -G DEB` makes (the package_build fixture).
// Unpacked, its files are in their standard places and pass the desktop's own
// checks (desktop-file-validate, systemd-analyze, man). Installed as root with
// dpkg, the program started by a normal user keeps its settings in that
// user's configuration folder, and the package goes again without a trace.
#include <gtest/gtest.h>
#include <pwd.h>
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
         {"/usr/bin/quilvane", "/usr/lib/libquilvane_icmp.so",
          "/usr/share/applications/quilvane.desktop", "/usr/lib/systemd/user/quilvane.service",
          "/usr/share/man/man1/quilvane.1.gz",
          "/usr/share/icons/hicolor/scalable/apps/quilvane.svg"})
        EXPECT_TRUE(QFileInfo(Path(path)).isFile()) << path;
    EXPECT_TRUE(QFileInfo(Path("/usr/bin/quilvane")).isExecutable());
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
    EXPECT_TRUE(text.contains("\nExec=quilvane\n")) << text.toStdString();
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
    for (const char* text : {"QUILVANE(1)", "SYNOPSIS", "OPTIONS", "HEADLESS OUTPUT", "FILES",
                             "ENVIRONMENT", "QUILVANE_DRIVES", "XDG_CONFIG_HOME", "SIGNALS",
                             "SIGTERM", "EXIT STATUS", "$XDG_CONFIG_HOME/Quilvane/Quilvane.ini"})
        EXPECT_TRUE(man.out.contains(text)) << text;
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

TEST(InstalledPackage, UserKeepsSettingsInOwnConfigFolderAndRemovalLeavesNoFile) {
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
         {"/usr/bin/quilvane", "/usr/lib/systemd/user/quilvane.service",
          "/usr/share/applications/quilvane.desktop", "/usr/share/man/man1/quilvane.1.gz"})
        EXPECT_TRUE(files.contains(path)) << path;

    // A normal user with a home of its own starts the installed program.
    const QString home = work.path() + "/home";
    const QString runtime = work.path() + "/runtime";
    for (const QString& dir : {home, runtime}) {
        ASSERT_EQ(::mkdir(dir.toLocal8Bit().constData(), 0700), 0);
        ASSERT_EQ(::chown(dir.toLocal8Bit().constData(), uid, gid), 0);
    }
    QProcess program;
    program.setProcessEnvironment(QProcessEnvironment());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // env and setpriv exec: the process that runs is the program itself.
    program.start(
        "env", {"-i", "HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "PATH=/usr/bin:/bin", "setpriv",
                "--reuid=" + QString::number(uid), "--regid=" + QString::number(gid),
                "--clear-groups", "quilvane", "--headless"});
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
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000)) << "SIGTERM did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    const Result remove = Dpkg({"--remove", "quilvane"});
    EXPECT_EQ(remove.exitCode, 0) << remove.err.toStdString();
    const Result purge = Dpkg({"--purge", "quilvane"});
    EXPECT_EQ(purge.exitCode, 0) << purge.err.toStdString();
    EXPECT_FALSE(Installed());
    for (const QString& path : files)
        EXPECT_FALSE(QFile::exists(path)) << path.toStdString() << " is left after removal";
    // The user's own settings are the user's.
    EXPECT_TRUE(QFile::exists(settings));
}

}  // namespace
