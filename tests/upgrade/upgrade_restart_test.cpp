// End to end: a relocatable install in a folder whose path holds a blank and
// a "+", a newer version published on lighttpd with a replacement program
// file and a second file, in an information file signed with minisign by a
// key the administrator trusts. The program downloads both as ".uTMP", ends, the helper puts
// them in place and starts the new program with "/afterupgrade"; nothing of
// the upgrade is left behind. A file whose published checksum does not match
// is a lost file and the old program stays.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <filesystem>

#include "platform/module.h"
#include "tests/support/http_servers.h"
#include "tests/support/minisign_keys.h"

namespace {

using quilvane_test::ChildProcess;
using quilvane_test::ReadFile;
using quilvane_test::TempFolder;
using quilvane_test::WebServer;
using quilvane_test::WriteFile;

std::string Sha256(const std::string& data) {
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

class UpgradeRestart : public ::testing::Test {
protected:
    void SetUp() override {
        if (!web_.Ok())
            QUILVANE_SKIP_OR_FAIL(web_.Error());
        if (!key_.Ok())
            QUILVANE_SKIP_OR_FAIL(key_.Error());
        key_.TrustIn(folder_.Path() + "/xdg");
        ::setenv("XDG_CONFIG_DIRS", (folder_.Path() + "/xdg").c_str(), 1);
        install_ = folder_.Path() + "/Quilvane +1 install/";
        std::filesystem::create_directories(install_);
        std::filesystem::create_directories(folder_.Path() + "/runtime");
        ::chmod((folder_.Path() + "/runtime").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (folder_.Path() + "/runtime").c_str(), 1);
        program_ = install_ + "upgrade_probe";
        std::filesystem::copy_file(UPGRADE_PROBE, program_);
        // Its internet library where a relocatable install keeps it.
        const std::string inet = win::OwnLibraryPath(program_, "wininet.dll");
        std::filesystem::create_directories(std::filesystem::path(inet).parent_path());
        std::filesystem::copy_file(win::OwnLibraryPath(UPGRADE_PROBE, "wininet.dll"), inet);
        WriteFile(install_ + "data.txt", "old data");
        // The new version: the same program with a mark appended (an ELF file
        // runs with trailing bytes), and new data.
        newProgram_ = ReadFile(UPGRADE_PROBE) + "QUILVANE-VERSION-2";
        WriteFile(web_.Root() + "/upgrade_probe", newProgram_);
        WriteFile(web_.Root() + "/data.txt", "new data");
    }
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install_))
            if (e.path().extension() == ".uTMP")
                names.push_back(e.path().filename().string());
        for (const auto& e :
             std::filesystem::recursive_directory_iterator(folder_.Path() + "/runtime"))
            if (e.path().filename() == "Upgrader3")
                names.push_back("helper");
        return names;
    }

    void TearDown() override {
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    // Publishes an information file signed for its version.
    void Publish(const std::string& name, const std::string& info) {
        WriteFile(web_.Root() + name, info);
        ASSERT_TRUE(key_.Sign(web_.Root() + name, "Quilvane 1.1"));
    }

    TempFolder folder_;
    WebServer web_;
    quilvane_test::SigningKey key_;
    std::string install_, program_, newProgram_;
};

TEST_F(UpgradeRestart, HelperReplacesBothFilesAndStartsTheNewProgram) {
    Publish("/new.inf", "#version=1.1\n#url1=" + web_.Url("/upgrade_probe") + "\n#sha2561=" +
                            Sha256(newProgram_) + "\n#url2=" + web_.Url("/data.txt") +
                            "\n#sha2562=" + Sha256("new data") + "\n");
    ChildProcess probe({program_, web_.Url("/new.inf")});
    ASSERT_TRUE(probe.Started());
    EXPECT_EQ(probe.Wait(nullptr), 0);
    EXPECT_EQ(ReadFile(install_ + "status.txt"),
              "done upgrade_probe.uTMP\ndone data.txt.uTMP\nrestarting\n");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(install_ + "restarted.txt"); }, 30000))
        << ReadFile(install_ + "status.txt");
    EXPECT_EQ(ReadFile(install_ + "restarted.txt"), "/afterupgrade\n");
    EXPECT_TRUE(ReadFile(program_) == newProgram_);
    EXPECT_EQ(ReadFile(install_ + "data.txt"), "new data");
    struct stat st {};
    ASSERT_EQ(::stat(program_.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_TRUE(WaitFor([&] { return Leftovers().empty(); }, 10000));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(UpgradeRestart, ChecksumMismatchKeepsTheOldProgram) {
    const std::string old = ReadFile(program_);
    Publish("/bad.inf", "#version=1.1\n#url=" + web_.Url("/upgrade_probe") +
                            "\n#sha256=" + Sha256("something else") + "\n");
    ChildProcess probe({program_, web_.Url("/bad.inf")});
    ASSERT_TRUE(probe.Started());
    EXPECT_EQ(probe.Wait(nullptr), 0);
    EXPECT_EQ(ReadFile(install_ + "status.txt"),
              "lost " + web_.Url("/upgrade_probe") + " 0\naborted\n");
    EXPECT_TRUE(ReadFile(program_) == old);
    EXPECT_FALSE(std::filesystem::exists(install_ + "restarted.txt"));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(UpgradeRestart, UnsignedInformationChangesNothing) {
    const std::string old = ReadFile(program_);
    Publish("/unsigned.inf", "#version=1.1\n#url=" + web_.Url("/upgrade_probe") +
                                 "\n#sha256=" + Sha256(newProgram_) + "\n");
    std::filesystem::remove(web_.Root() + "/unsigned.inf.minisig");
    ChildProcess probe({program_, web_.Url("/unsigned.inf")});
    ASSERT_TRUE(probe.Started());
    EXPECT_EQ(probe.Wait(nullptr), 0);
    EXPECT_EQ(ReadFile(install_ + "status.txt"), "refused no signature (HTTP 404)\n");
    EXPECT_TRUE(ReadFile(program_) == old);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// The HTTP stack is a private library loaded at the first internet call: a
// program that never makes one (the headless mode) never maps libcurl.
TEST_F(UpgradeRestart, LibcurlIsMappedOnlyFromTheFirstInternetCall) {
    ChildProcess probe({program_, "--maps"});
    ASSERT_TRUE(probe.Started());
    EXPECT_EQ(probe.Wait(nullptr), 0);
    EXPECT_EQ(ReadFile(install_ + "maps.txt"), "before not mapped, after mapped (example.org)\n");
}

}  // namespace
