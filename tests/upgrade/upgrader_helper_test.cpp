// The helper program run as the upgrader starts it, in a folder whose path
// holds a blank: the external-setup mode runs the downloaded setup program
// with the restart parameters, waits for it to end, removes it, and starts
// the program again; the other downloaded files are put in place as in a
// plain upgrade. The setup is a program of its own or a shell script (whose
// file is not busy while it runs, so only its process tells its end).
// Then the helper's own guards, as another user would attack them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Script(const std::string& path, const std::string& log, const std::string& name) {
    std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << log << "'\n";
    ::chmod(path.c_str(), 0755);
}

std::string Sha256(const std::string& path) {
    return QCryptographicHash::hash(QByteArray::fromStdString(Read(path)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// A setup script that behaves as the setup probe does.
void SetupScript(const std::string& path) {
    std::ofstream(path) << "#!/bin/sh\n"
                           "echo \"setup $*\" >> \"$QUILVANE_SETUP_LOG\"\n"
                           "sleep 0.5\n"
                           "echo 'setup done' >> \"$QUILVANE_SETUP_LOG\"\n";
}

class UpgraderHelperSetup : public ::testing::TestWithParam<bool> {};

TEST_P(UpgraderHelperSetup, ExternalSetupRunsTheSetupToItsEndThenTheProgram) {
    const bool script = GetParam();
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const std::string folder = home.filePath("install dir").toStdString() + "/";
    std::filesystem::create_directories(folder);
    const std::string log = home.filePath("log.txt").toStdString();
    Script(folder + "Quilvane", log, "program");
    if (script)
        SetupScript(folder + "setup.exe.uTMP");
    else
        std::filesystem::copy_file(SETUP_PROBE, folder + "setup.exe.uTMP");
    std::ofstream(folder + "readme.txt") << "old";
    std::ofstream(folder + "readme.txt.uTMP") << "new";

    // As the upgrader starts it: the path one argument, then the files.
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILVANE_SETUP_LOG", QString::fromStdString(log));
    helper.setProcessEnvironment(env);
    helper.start(UPGRADER_HELPER,
                 {QString::fromStdString(folder + "Quilvane"), "+/afterupgrade1", "setup.exe",
                  QString::fromStdString(Sha256(folder + "setup.exe.uTMP")), "readme.txt",
                  QString::fromStdString(Sha256(folder + "readme.txt.uTMP"))});
    ASSERT_TRUE(helper.waitForFinished(30000));
    EXPECT_EQ(helper.exitCode(), 0) << helper.readAll().toStdString();

    // The setup runs to its end before the program starts.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto lines = [&] {
        const std::string text = Read(log);
        return std::count(text.begin(), text.end(), '\n');
    };
    while (lines() < 3 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Read(log), "setup /afterupgrade\nsetup done\nprogram /afterupgrade\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "setup.exe"));
    EXPECT_FALSE(std::filesystem::exists(folder + "setup.exe.uTMP"));
    EXPECT_EQ(Read(folder + "readme.txt"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder + "readme.txt.uTMP"));
}

INSTANTIATE_TEST_SUITE_P(ProgramOrScript, UpgraderHelperSetup, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Script" : "Program"; });

// One helper run in a fresh program folder: the program is a script that
// logs how it was started.
class UpgraderHelperGuard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        Use("install dir");
    }
    void Use(const std::string& name) {
        folder_ = home_.filePath(QString::fromStdString(name)).toStdString() + "/";
        std::filesystem::create_directories(folder_);
        log_ = home_.filePath("log.txt").toStdString();
        Script(folder_ + "Quilvane", log_, "program");
    }
    // Runs the helper for these files (name and SHA-256) to its end and
    // waits for the program it starts.
    void Run(const std::vector<std::pair<std::string, std::string>>& files) {
        QStringList args{QString::fromStdString(folder_ + "Quilvane"), "+/afterupgrade0"};
        for (const auto& [name, sha] : files)
            args << QString::fromStdString(name) << QString::fromStdString(sha);
        QProcess helper;
        helper.start(UPGRADER_HELPER, args);
        ASSERT_TRUE(helper.waitForFinished(30000));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Read(log_).empty() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    QTemporaryDir home_;
    std::string folder_, log_;
};

TEST_F(UpgraderHelperGuard, AnyPathReachesTheHelperAndTheProgramRestarts) {
    for (const std::string name :
         {"p+x", "with blank +/afterupgrade1", "quote's \"double\"", "Ünïcødé ✓"}) {
        SCOPED_TRACE(name);
        Use(name);
        std::filesystem::remove(log_);
        std::ofstream(folder_ + "data.txt.uTMP") << "new data";
        Run({{"data.txt", Sha256(folder_ + "data.txt.uTMP")}});
        EXPECT_EQ(Read(log_), "program /afterupgrade\n");
        EXPECT_EQ(Read(folder_ + "data.txt"), "new data");
        EXPECT_EQ(Names(), (std::vector<std::string>{"Quilvane", "data.txt"}));
        // Nothing was touched in the folder above.
        EXPECT_FALSE(std::filesystem::exists(home_.filePath("data.txt").toStdString()));
    }
}

TEST_F(UpgraderHelperGuard, NothingIsReplacedUnlessEveryNamedFileMatches) {
    // Outside the program's folder: a private file a planted link points to.
    const std::string secret = home_.filePath("secret").toStdString();
    std::ofstream(secret) << "secret";
    ::chmod(secret.c_str(), 0600);
    const struct {
        const char* name;
        std::function<std::vector<std::pair<std::string, std::string>>()> plant;
    } cases[] = {
        {"a changed file",
         [&] {
             std::ofstream(folder_ + "a.txt.uTMP") << "new a";
             std::ofstream(folder_ + "b.txt.uTMP") << "swapped b";
             return std::vector<std::pair<std::string, std::string>>{
                 {"a.txt", Sha256(folder_ + "a.txt.uTMP")}, {"b.txt", std::string(64, '0')}};
         }},
        {"a planted link",
         [&] {
             std::ofstream(folder_ + "a.txt.uTMP") << "new a";
             std::filesystem::create_symlink(secret, folder_ + "b.txt.uTMP");
             return std::vector<std::pair<std::string, std::string>>{
                 {"a.txt", Sha256(folder_ + "a.txt.uTMP")}, {"b.txt", Sha256(secret)}};
         }},
        {"a name outside the folder",
         [&] {
             std::ofstream(folder_ + "a.txt.uTMP") << "new a";
             return std::vector<std::pair<std::string, std::string>>{
                 {"a.txt", Sha256(folder_ + "a.txt.uTMP")}, {"../secret", Sha256(secret)}};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder_);
        Use("install dir");
        std::filesystem::remove(log_);
        std::ofstream(folder_ + "a.txt") << "old a";
        Run(c.plant());
        // The old program again, not as an upgraded one.
        EXPECT_EQ(Read(log_), "program \n");
        EXPECT_EQ(Read(folder_ + "a.txt"), "old a");
        EXPECT_FALSE(std::filesystem::exists(folder_ + "b.txt"));
        EXPECT_FALSE(std::filesystem::exists(folder_ + "a.txt.uTMP"));
        struct stat st {};
        ASSERT_EQ(::stat(secret.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(Read(secret), "secret");
    }
}

TEST_F(UpgraderHelperGuard, OnlyNamedFilesAreInstalled) {
    std::ofstream(folder_ + "named.txt.uTMP") << "named";
    std::ofstream(folder_ + "stray.txt.uTMP") << "stray";
    Run({{"named.txt", Sha256(folder_ + "named.txt.uTMP")}});
    EXPECT_EQ(Names(), (std::vector<std::string>{"Quilvane", "named.txt", "stray.txt.uTMP"}));
}

// The replaced program keeps its owner, its permissions without setuid and
// setgid, and its file capabilities (what the headless mode's error message
// suggests for raw ICMP).
TEST_F(UpgraderHelperGuard, ReplacedFileKeepsOwnerModeAndCapabilitiesButNoSetuid) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::geteuid() != 0)
        GTEST_SKIP() << "needs root and the user nobody";
    const std::string tool = folder_ + "tool";
    std::ofstream(tool) << "old tool";
    ASSERT_EQ(::chown(tool.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    QProcess setcap;
    setcap.start("setcap", {"cap_net_raw+ep", QString::fromStdString(tool)});
    if (!setcap.waitForFinished(10000) || setcap.exitCode() != 0)
        GTEST_SKIP() << "setcap failed (libcap2-bin, a file system with capabilities)";
    ASSERT_EQ(::chmod(tool.c_str(), 06751), 0);
    char before[64];
    const ssize_t capsBefore =
        ::getxattr(tool.c_str(), "security.capability", before, sizeof before);
    ASSERT_GT(capsBefore, 0);

    std::ofstream(folder_ + "tool.uTMP") << "new tool";
    ::chmod((folder_ + "tool.uTMP").c_str(), 0600);
    Run({{"tool", Sha256(folder_ + "tool.uTMP")}});
    EXPECT_EQ(Read(tool), "new tool");
    struct stat st {};
    ASSERT_EQ(::lstat(tool.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, nobody->pw_gid);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    char after[64];
    const ssize_t capsAfter = ::getxattr(tool.c_str(), "security.capability", after, sizeof after);
    ASSERT_EQ(capsAfter, capsBefore);
    EXPECT_EQ(std::string(after, static_cast<size_t>(capsAfter)),
              std::string(before, static_cast<size_t>(capsBefore)));
}

}  // namespace
