// The network drives area against a real SMB server on a namespace test host,
// mounted through a real gvfs and FUSE.

#include "platform/wnet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/file.h"
#include "tests/support/drives_environment.h"
#include "tests/support/smb_host.h"

namespace fs = std::filesystem;
using namespace win;
using quilvane_test::DrivesEnvironment;
using quilvane_test::SmbHost;

namespace {

// Every test of this program runs in the drive tests' own surroundings.
[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new DrivesEnvironment);

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

DWORD Add(const char* local, const std::string& remote, const char* password, const char* user) {
    std::string remoteCopy = remote;
    std::string localCopy = local ? local : "";
    NETRESOURCEA r{};
    r.dwType = RESOURCETYPE_DISK;
    r.lpLocalName = local ? localCopy.data() : nullptr;
    r.lpRemoteName = remoteCopy.data();
    return WNetAddConnection2A(&r, password, user, 0);
}

// Whether gvfsd-fuse still shows the share's mount folder, read from its
// listing: looking the folder up would leave a miss in the kernel's cache.
bool Mounted(const std::string& mountRoot) {
    const fs::path root(mountRoot);
    for (const auto& e : fs::directory_iterator(root.parent_path()))
        if (e.path().filename() == root.filename())
            return true;
    return false;
}

std::string Connection(const char* local, DWORD* rc = nullptr) {
    char buf[1024] = {};
    DWORD length = sizeof buf;
    const DWORD code = WNetGetConnectionA(local, buf, &length);
    if (rc)
        *rc = code;
    return code == NO_ERROR ? std::string(buf) : std::string();
}

class WNetTest : public quilvane_test::SmbDriveTest {
protected:
    DWORD MapY(const std::string& remote) {
        return Add("Y:", remote, smb_->Password().c_str(), smb_->User().c_str());
    }
};

TEST_F(WNetTest, MapsLetterToShareAndKeepsRemoteNameAsGiven) {
    // gvfs lowercases the share in its path; the name comes back as given.
    const std::string remote = "\\\\" + smb_->Address() + "\\DATA";
    ASSERT_EQ(MapY(remote), NO_ERROR);

    EXPECT_EQ(Connection("Y:"), remote);
    EXPECT_EQ(Connection("y:"), remote);
    EXPECT_TRUE(fs::is_symlink(Entry('Y')));
    EXPECT_EQ(ReadAll(Entry('Y') + "/top.txt"), "top");
    const DWORD attributes = GetFileAttributesA("Y:\\");
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("Y:\\Projects\\2026\\plan.txt") & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // Written through the letter, arrives on the server.
    std::ofstream(Entry('Y') + "/from-client.txt") << "hello";
    EXPECT_EQ(ReadAll(smb_->SharePath() + "/from-client.txt"), "hello");

    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('Y'))));
    DWORD rc = 0;
    EXPECT_EQ(Connection("Y:", &rc), "");
    EXPECT_EQ(rc, ERROR_NOT_CONNECTED);
    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), ERROR_NOT_CONNECTED);
}

// A letter belongs to the gvfs session and boot it was mapped in. A letter
// left from an earlier login reads as not connected and is mapped at the first
// answered pass; a silent host's dangling link from then does not linger.
TEST_F(WNetTest, LetterFromAnEarlierSessionIsNotConnectedAndMapsAtOnce) {
    const std::string remote = smb_->Unc();
    const std::string record = drives_ + "/.quilvane/Y";
    // The record's last line names the session; another one is an earlier login's.
    auto fromEarlierSession = [&] {
        std::string text = ReadAll(record);
        ASSERT_EQ(text.back(), '\n');
        text.pop_back();
        text = text.substr(0, text.rfind('\n') + 1) + "an-earlier-boot none\n";
        std::ofstream(record, std::ios::trunc) << text;
    };
    ASSERT_EQ(MapY(remote), NO_ERROR);
    ASSERT_EQ(Connection("Y:"), remote);
    fromEarlierSession();
    DWORD rc = 0;
    EXPECT_EQ(Connection("Y:", &rc), "");
    EXPECT_EQ(rc, ERROR_NOT_CONNECTED);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('Y'))));
    EXPECT_EQ(MapY(remote), NO_ERROR);
    EXPECT_EQ(Connection("Y:"), remote);

    // Mapping over an earlier session's letter needs no cancel first.
    fromEarlierSession();
    EXPECT_EQ(MapY(remote), NO_ERROR);
    EXPECT_EQ(Connection("Y:"), remote);
    EXPECT_EQ(ReadAll(Entry('Y') + "/top.txt"), "top");

    // A record as an earlier version wrote it (no session), its host silent
    // and its mount long gone.
    const std::string gone = "/run/user/0/gvfs/smb-share:server=silent,share=x";
    fs::create_symlink(gone, Entry('X'));
    std::ofstream(drives_ + "/.quilvane/X") << "\\\\silent\\x\nsmb://silent/x\n"
                                            << gone << "\n"
                                            << gone << "\n";
    EXPECT_EQ(GetFileAttributesA("X:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Connection("X:", &rc), "");
    EXPECT_EQ(rc, ERROR_NOT_CONNECTED);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('X'))));
    EXPECT_FALSE(fs::exists(drives_ + "/.quilvane/X"));
    EXPECT_EQ(WNetCancelConnection2A("Y:", 0, TRUE), NO_ERROR);
}

TEST_F(WNetTest, PasswordAppearsInNoCommandLineOrEnvironment) {
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    // Every process of the session (dbus-daemon, gvfsd, its SMB backend,
    // gvfsd-fuse) is running now.
    for (const auto& proc : fs::directory_iterator("/proc")) {
        const std::string pid = proc.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        for (const char* part : {"/cmdline", "/environ"}) {
            const std::string text = ReadAll(proc.path().string() + part);
            EXPECT_EQ(text.find(smb_->Password()), std::string::npos)
                << "process " << pid << ": " << part;
        }
    }
}

TEST_F(WNetTest, LettersShareOneMountUntilTheLastIsCancelled) {
    const std::string share = smb_->Unc();
    const std::string folder = share + "\\Projects\\2026";
    ASSERT_EQ(MapY(share), NO_ERROR);
    ASSERT_EQ(Add("Z:", folder, smb_->Password().c_str(), smb_->User().c_str()), NO_ERROR);
    EXPECT_EQ(Connection("Z:"), folder);
    EXPECT_EQ(ReadAll(Entry('Z') + "/plan.txt"), "plan");
    const std::string mountRoot = fs::read_symlink(Entry('Y'));

    ASSERT_EQ(WNetCancelConnection2A("Z:", 0, TRUE), NO_ERROR);
    EXPECT_EQ(ReadAll(Entry('Y') + "/top.txt"), "top") << "Y: lost its share with Z:";

    ASSERT_EQ(WNetCancelConnection2A("Y:", 0, TRUE), NO_ERROR);
    EXPECT_FALSE(Mounted(mountRoot)) << "the share stayed mounted";
}

TEST_F(WNetTest, WrongPasswordFailsWithoutPromptAndLeavesNothing) {
    // Returns at all only because gvfs' second question is refused.
    EXPECT_EQ(Add("Y:", smb_->Unc(), "wrong", smb_->User().c_str()), ERROR_INVALID_PASSWORD);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('Y'))));
    EXPECT_EQ(Connection("Y:"), "");
    // An unknown user fares no better, and the right password still works.
    EXPECT_EQ(Add("Y:", smb_->Unc(), smb_->Password().c_str(), "nobody-here"),
              ERROR_INVALID_PASSWORD);
    EXPECT_EQ(MapY(smb_->Unc()), NO_ERROR);
}

TEST_F(WNetTest, DomainPrefixedUserIsAccepted) {
    const std::string user = "WORKGROUP\\" + smb_->User();
    EXPECT_EQ(Add("Y:", smb_->Unc(), smb_->Password().c_str(), user.c_str()), NO_ERROR);
}

TEST_F(WNetTest, LetterInUseAndLocalEntries) {
    fs::create_directory(Entry('L'));                  // a local drive: a plain folder
    fs::create_directory_symlink("/tmp", Entry('K'));  // a link that is not ours

    EXPECT_EQ(Add("L:", smb_->Unc(), smb_->Password().c_str(), smb_->User().c_str()),
              ERROR_ALREADY_ASSIGNED);
    EXPECT_EQ(Add("K:", smb_->Unc(), smb_->Password().c_str(), smb_->User().c_str()),
              ERROR_ALREADY_ASSIGNED);
    for (const char* local : {"L:", "K:"}) {
        DWORD rc = 0;
        EXPECT_EQ(Connection(local, &rc), "") << local;
        EXPECT_EQ(rc, ERROR_NOT_CONNECTED) << local;
        EXPECT_EQ(WNetCancelConnection2A(local, 0, TRUE), ERROR_NOT_CONNECTED) << local;
    }
    EXPECT_TRUE(fs::is_directory(Entry('L')));
    EXPECT_TRUE(fs::is_symlink(Entry('K')));

    // A letter of ours is in use too, and keeps its share.
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    EXPECT_EQ(MapY(smb_->Unc() + "\\Projects"), ERROR_ALREADY_ASSIGNED);
    EXPECT_EQ(Connection("Y:"), smb_->Unc());

    // Our link replaced by the user's own folder is a local drive again.
    ASSERT_EQ(WNetCancelConnection2A("Y:", 0, TRUE), NO_ERROR);
    fs::create_directory(Entry('Y'));
    EXPECT_EQ(Connection("Y:"), "");
}

TEST_F(WNetTest, StaleDriveKeepsItsNameButNotItsFolder) {
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    // Another user of the drive layer, with drives of its own, maps and
    // cancels the same share: its cancel unmounts it under our Y:.
    DrivesEnvironment::NewDrivesFolder();
    ASSERT_EQ(Add("Z:", smb_->Unc(), smb_->Password().c_str(), smb_->User().c_str()), NO_ERROR);
    ASSERT_EQ(WNetCancelConnection2A("Z:", 0, TRUE), NO_ERROR);
    ::setenv("QUILVANE_DRIVES", drives_.c_str(), 1);

    EXPECT_EQ(Connection("Y:"), smb_->Unc());
    EXPECT_EQ(GetFileAttributesA("Y:\\"), INVALID_FILE_ATTRIBUTES);
    // Cancelled and mapped again, as the monitor does with a stale drive.
    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    EXPECT_NE(GetFileAttributesA("Y:\\"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WNetTest, ForcedCancelWithOpenFiles) {
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    const int reading = ::open((Entry('Y') + "/top.txt").c_str(), O_RDONLY | O_CLOEXEC);
    const int writing =
        ::open((Entry('Y') + "/new.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(reading, 0);
    ASSERT_GE(writing, 0);
    const std::string mountRoot = fs::read_symlink(Entry('Y'));

    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, FALSE), ERROR_OPEN_FILES);
    EXPECT_EQ(Connection("Y:"), smb_->Unc()) << "an unforced cancel took the drive";

    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
    EXPECT_EQ(Connection("Y:"), "");
    EXPECT_FALSE(Mounted(mountRoot));
    ::close(reading);
    ::close(writing);
    EXPECT_EQ(MapY(smb_->Unc()), NO_ERROR);
}

TEST_F(WNetTest, ForcedCancelWhenServerHasGoneSilent) {
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    const int reading = ::open((Entry('Y') + "/top.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reading, 0);
    const std::string mountRoot = fs::read_symlink(Entry('Y'));
    ASSERT_TRUE(smb_->SetSilent(true));

    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('Y'))));
    ::close(reading);
    EXPECT_FALSE(Mounted(mountRoot)) << "the silent server's share stayed mounted";

    ASSERT_TRUE(smb_->SetSilent(false));
    EXPECT_EQ(MapY(smb_->Unc()), NO_ERROR);
    EXPECT_EQ(ReadAll(Entry('Y') + "/top.txt"), "top");
}

// A share mapped again right after its cancel is read at once through the
// letter: gvfsd-fuse must not still be talking to the backend of the earlier
// mount (that gave EIO, and sometimes a failed map). As the monitor does it:
// cancelled and mapped again, whether its server answered or had gone silent;
// the second time to a folder of the share, which is looked up before linking.
TEST_F(WNetTest, ShareMappedAgainRightAfterCancelIsReadable) {
    struct Round {
        std::string remote;
        std::string file;
        std::string text;
    };
    const Round rounds[] = {{smb_->Unc(), "top.txt", "top"},
                            {smb_->Unc() + "\\Projects\\2026", "plan.txt", "plan"}};
    for (const bool silentAtCancel : {false, true}) {
        for (const Round& r : rounds) {
            SCOPED_TRACE(std::string(silentAtCancel ? "silent" : "answering") + " server, " +
                         r.remote);
            ASSERT_EQ(MapY(r.remote), NO_ERROR);
            ASSERT_EQ(ReadAll(Entry('Y') + "/" + r.file), r.text);
            ASSERT_TRUE(smb_->SetSilent(silentAtCancel));
            ASSERT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
            ASSERT_TRUE(smb_->SetSilent(false));

            ASSERT_EQ(MapY(r.remote), NO_ERROR);
            std::error_code error;
            EXPECT_TRUE(fs::is_regular_file(Entry('Y') + "/" + r.file, error)) << error.message();
            EXPECT_EQ(ReadAll(Entry('Y') + "/" + r.file), r.text);
            ASSERT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
        }
    }
}

TEST_F(WNetTest, ConnectionWithoutLetter) {
    for (const char* local : {static_cast<const char*>(nullptr), ""}) {
        ASSERT_EQ(Add(local, smb_->Unc(), smb_->Password().c_str(), smb_->User().c_str()),
                  NO_ERROR);
        for (const auto& e : fs::directory_iterator(drives_))
            EXPECT_EQ(e.path().filename(), ".quilvane") << "a letterless connection made an entry";
        EXPECT_EQ(WNetCancelConnection2A("", 0, TRUE), ERROR_NOT_CONNECTED);
        EXPECT_EQ(WNetCancelConnection2A(smb_->Unc().c_str(), 0, TRUE), NO_ERROR);
        EXPECT_EQ(WNetCancelConnection2A(smb_->Unc().c_str(), 0, TRUE), ERROR_NOT_CONNECTED);
    }
}

TEST_F(WNetTest, MissingShareOrFolderFails) {
    EXPECT_EQ(MapY("\\\\" + smb_->Address() + "\\nosuch"), ERROR_BAD_NET_NAME);
    EXPECT_EQ(MapY(smb_->Unc() + "\\no\\such\\folder"), ERROR_BAD_NET_NAME);
    EXPECT_EQ(MapY(smb_->Unc() + "\\top.txt"), ERROR_BAD_NET_NAME) << "a file is no folder";
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry('Y'))));
}

TEST_F(WNetTest, ShortBufferGetsSizeNeeded) {
    ASSERT_EQ(MapY(smb_->Unc()), NO_ERROR);
    const std::string remote = smb_->Unc();
    char small[4] = {};
    DWORD length = sizeof small;
    EXPECT_EQ(WNetGetConnectionA("Y:", small, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, remote.size() + 1);
    std::string exact(length, '\xff');
    EXPECT_EQ(WNetGetConnectionA("Y:", exact.data(), &length), NO_ERROR);
    EXPECT_EQ(exact, remote + '\0');
}

// Run by the test below in a child process: maps Y: to QUILVANE_CHILD_REMOTE
// for QUILVANE_CHILD_USER with the password on standard input, and ends.
TEST(WNetChild, DISABLED_MapsYAndEnds) {
    std::string password;
    std::getline(std::cin, password);
    const char* remote = std::getenv("QUILVANE_CHILD_REMOTE");
    const char* user = std::getenv("QUILVANE_CHILD_USER");
    ASSERT_TRUE(remote && user);
    ASSERT_EQ(Add("Y:", remote, password.c_str(), user), NO_ERROR);
}

TEST_F(WNetTest, DriveOutlivesTheProgramThatMappedIt) {
    ::setenv("QUILVANE_DRIVES_CHILD", "1", 1);
    ::setenv("QUILVANE_CHILD_REMOTE", smb_->Unc().c_str(), 1);
    ::setenv("QUILVANE_CHILD_USER", smb_->User().c_str(), 1);
    const auto child =
        quilvane_test::RunCommandWithInput({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                                            "--gtest_filter=WNetChild.DISABLED_MapsYAndEnds"},
                                           smb_->Password() + "\n");
    ::unsetenv("QUILVANE_DRIVES_CHILD");
    ::unsetenv("QUILVANE_CHILD_REMOTE");
    ::unsetenv("QUILVANE_CHILD_USER");
    ASSERT_EQ(child.exitCode, 0) << child.output;

    // The gvfs session the child found or started is still there, and so is
    // its drive.
    std::ifstream session(std::string(std::getenv("XDG_RUNTIME_DIR")) + "/quilvane-session-bus");
    std::string address, pid;
    ASSERT_TRUE(std::getline(session, address) && std::getline(session, pid));
    EXPECT_EQ(::kill(static_cast<pid_t>(std::stol(pid)), 0), 0) << "the session bus ended";
    EXPECT_EQ(Connection("Y:"), smb_->Unc());
    EXPECT_EQ(ReadAll(Entry('Y') + "/top.txt"), "top");

    // This process reaches the same session: its cancel unmounts the share.
    const std::string mountRoot = fs::read_symlink(Entry('Y'));
    EXPECT_EQ(WNetCancelConnection2A("Y:", CONNECT_UPDATE_PROFILE, TRUE), NO_ERROR);
    EXPECT_FALSE(Mounted(mountRoot));
}

// Names refused before anything is mounted: no server needed.
TEST(WNetNames, MalformedNamesAreRefused) {
    DrivesEnvironment::NewDrivesFolder();
    struct Case {
        const char* local;
        const char* remote;
        DWORD expected;
    } cases[] = {
        {"Y:", "", ERROR_BAD_NET_NAME},
        {"Y:", "\\\\host", ERROR_BAD_NET_NAME},
        {"Y:", "\\\\host\\", ERROR_BAD_NET_NAME},
        {"Y:", "//host/share", ERROR_BAD_NET_NAME},
        {"Y:", "\\\\host\\\\share", ERROR_BAD_NET_NAME},
        {"Y:", "\\\\host\\share\\..\\other", ERROR_BAD_NET_NAME},
        {"Y:", "\\\\host\\sha\nre", ERROR_BAD_NET_NAME},
        {"Y", "\\\\host\\share", ERROR_BAD_DEVICE},
        {"YY:", "\\\\host\\share", ERROR_BAD_DEVICE},
        {"1:", "\\\\host\\share", ERROR_BAD_DEVICE},
        {"Y:\\", "\\\\host\\share", ERROR_BAD_DEVICE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Add(c.local, c.remote, "", ""), c.expected) << c.local << " " << c.remote;
        EXPECT_EQ(GetLastError(), c.expected);
    }
    for (const char* local : {"", "Y", "YY:", "Y:\\", "LPT1"}) {
        DWORD rc = 0;
        EXPECT_EQ(Connection(local, &rc), "");
        EXPECT_EQ(rc, ERROR_BAD_DEVICE) << local;
    }
    NETRESOURCEA printer{};
    printer.dwType = 2;  // RESOURCETYPE_PRINT
    printer.lpRemoteName = const_cast<char*>("\\\\host\\share");
    EXPECT_EQ(WNetAddConnection2A(&printer, "", "", 0), ERROR_BAD_DEV_TYPE);
    EXPECT_EQ(WNetAddConnection2A(nullptr, "", "", 0), ERROR_INVALID_PARAMETER);
}

TEST(WNetNames, WindowsPathsMapIntoDrivesFolder) {
    const std::string drives = DrivesEnvironment::NewDrivesFolder();
    EXPECT_EQ(LocalPathForWindowsPath("y:\\a\\b"), drives + "/Y/a/b");
    EXPECT_EQ(LocalPathForWindowsPath("Y:\\"), drives + "/Y/");
    EXPECT_EQ(LocalPathForWindowsPath("/usr/lib"), "/usr/lib");
    fs::create_directory_symlink("/usr", drives + "/U");
    EXPECT_TRUE(GetFileAttributesA("U:\\") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("Q:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
