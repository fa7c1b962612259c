// Private folders, private files and lock files against another user: the
// unprivileged user "nobody" plants links, folders and files in a shared
// (sticky) folder, as in /tmp, or owns a folder above ours; the layer must
// neither follow nor use nor write any of them. Also where the runtime area
// falls back to when the session's cannot be trusted.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "platform/file.h"
#include "platform/product.h"
#include "tests/support/as_nobody.h"

namespace {

using namespace win;
namespace fs = std::filesystem;

using quilvane_test::kNobody;

// What nobody makes has exactly the modes he asks for.
bool AsNobody(const std::function<bool()>& plant) {
    return quilvane_test::AsNobody(plant, true);
}

std::string Take(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A folder of the test's own (root's, 0755) with "shared/", a sticky folder
// that everyone may write, and "bait/", a root file that a link may point to.
class PrivateFolders : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as another user";
        char templ[] = "/tmp/quilvane-private-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        Root = templ;
        ASSERT_EQ(::chmod(Root.c_str(), 0755), 0);
        Shared = Root + "/shared";
        ASSERT_EQ(::mkdir(Shared.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(Shared.c_str(), 01777), 0);
        Bait = Root + "/bait";
        std::ofstream(Bait) << "root's own";
        ASSERT_EQ(::chmod(Bait.c_str(), 0600), 0);
    }
    void TearDown() override {
        if (!Root.empty())
            fs::remove_all(Root);
    }

    std::string Root, Shared, Bait;
};

struct PlantCase {
    const char* name;
    std::function<bool(const std::string& path, const std::string& bait)> plant;  // as nobody
    const char* problem;  // a part of the reason given
};

void PrintTo(const PlantCase& c, std::ostream* os) {
    *os << c.name;
}

class PlantedFolder : public PrivateFolders, public ::testing::WithParamInterface<PlantCase> {};

TEST_P(PlantedFolder, IsRefusedWithItsReasonAndLeftAlone) {
    const PlantCase& c = GetParam();
    const std::string path = Shared + "/quilvane-0";
    ASSERT_TRUE(AsNobody([&] { return c.plant(path, Shared + "/his-own"); }));
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);

    const std::string problem = PrivateFolderProblem(path);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_FALSE(EnsurePrivateFolder(path));
    // Nothing of it was changed, and nothing was made through it.
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, kNobody);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_FALSE(EnsurePrivateFolder(path + "/quilvane"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path + "/quilvane")));
    EXPECT_EQ(Take(Bait), "root's own");
}

bool MakeFolder(const std::string& path, mode_t mode) {
    return ::mkdir(path.c_str(), mode) == 0 && ::chmod(path.c_str(), mode) == 0;
}

INSTANTIATE_TEST_SUITE_P(
    Nobody, PlantedFolder,
    ::testing::Values(PlantCase{"LinkToAFolderOfHis",
                                [](const std::string& path, const std::string& own) {
                                    return MakeFolder(own, 0777) &&
                                           ::symlink(own.c_str(), path.c_str()) == 0;
                                },
                                "is a symbolic link"},
                      PlantCase{"DanglingLink",
                                [](const std::string& path, const std::string& own) {
                                    return ::symlink(own.c_str(), path.c_str()) == 0;
                                },
                                "is a symbolic link"},
                      PlantCase{"FolderOfHis",
                                [](const std::string& path, const std::string&) {
                                    return MakeFolder(path, 0700);
                                },
                                "belongs to another user"},
                      PlantCase{"WorldWritableFolderOfHis",
                                [](const std::string& path, const std::string&) {
                                    return MakeFolder(path, 0777);
                                },
                                "belongs to another user"},
                      PlantCase{"File",
                                [](const std::string& path, const std::string&) {
                                    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0666);
                                    return fd >= 0 && ::close(fd) == 0;
                                },
                                "is not a folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrivateFolders, AFolderAboveThatAnotherUserMayChangeMakesNothing) {
    // His folder, and a shared one without the sticky bit: in both he could
    // move our folder away later and put his own in its place.
    const std::string his = Root + "/his";
    ASSERT_EQ(::mkdir(his.c_str(), 0755), 0);
    ASSERT_EQ(::chown(his.c_str(), kNobody, kNobody), 0);
    const std::string open = Root + "/open";
    ASSERT_TRUE(MakeFolder(open, 0777));
    for (const std::string& above : {his, open}) {
        const std::string problem = PrivateFolderProblem(above + "/cache/quilvane");
        EXPECT_NE(problem.find("which another user may change"), std::string::npos) << problem;
        EXPECT_TRUE(fs::is_empty(above)) << above;
    }
    // A folder of ours made in it earlier (by root, 0700) is refused all the same.
    ASSERT_TRUE(MakeFolder(open + "/made", 0700));
    EXPECT_FALSE(EnsurePrivateFolder(open + "/made"));
}

TEST_F(PrivateFolders, OursIsMadeOrClosedToOthersEvenInASharedStickyFolder) {
    const std::string made = Shared + "/a/b";
    EXPECT_EQ(PrivateFolderProblem(made), "");
    EXPECT_EQ(Mode(made), 0700u);
    const std::string open = Shared + "/open";
    ASSERT_TRUE(MakeFolder(open, 0777));
    EXPECT_EQ(PrivateFolderProblem(open + "/"), "");
    EXPECT_EQ(Mode(open), 0700u);
    EXPECT_NE(PrivateFolderProblem("relative/path"), "");
}

TEST_F(PrivateFolders, PrivateFilesAreReadOnlyWhenOursAndNoLink) {
    const std::string folder = Shared + "/mine";
    ASSERT_TRUE(EnsurePrivateFolder(folder));
    std::ofstream(folder + "/record") << "unix:path=/run/ours";
    std::string text;
    EXPECT_EQ(ReadPrivateFile(folder + "/record", text), 0);
    EXPECT_EQ(text, "unix:path=/run/ours");

    ASSERT_EQ(::symlink(Bait.c_str(), (folder + "/link").c_str()), 0);
    EXPECT_EQ(ReadPrivateFile(folder + "/link", text), ELOOP);
    EXPECT_EQ(text, "");
    ASSERT_TRUE(AsNobody([&] {
        std::ofstream(Shared + "/his") << "unix:path=/tmp/his-bus";
        return true;
    }));
    EXPECT_EQ(ReadPrivateFile(Shared + "/his", text), EPERM);
    EXPECT_EQ(text, "");
}

struct LockCase {
    const char* name;
    std::function<bool(const std::string& path, const std::string& bait)> plant;  // as nobody
    int error;
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class PlantedLock : public PrivateFolders, public ::testing::WithParamInterface<LockCase> {};

TEST_P(PlantedLock, IsNotTakenAndLeftAlone) {
    const LockCase& c = GetParam();
    const std::string path = Shared + "/settings.lock";
    ASSERT_TRUE(AsNobody([&] { return c.plant(path, Shared + "/his-own"); }));
    const FileLock lock(path, 0644, std::chrono::milliseconds(200));
    EXPECT_FALSE(lock.Held());
    // In a sticky folder the system itself may refuse to create through his
    // link or over his file (fs.protected_regular) before the layer looks.
    EXPECT_TRUE(lock.Error() == c.error || (c.error != EISDIR && lock.Error() == EACCES))
        << std::strerror(lock.Error());
    EXPECT_FALSE(FileLockBusy(path));
}

INSTANTIATE_TEST_SUITE_P(
    Nobody, PlantedLock,
    ::testing::Values(LockCase{"LinkToAFileOfHis",
                               [](const std::string& path, const std::string& own) {
                                   std::ofstream(own) << "";
                                   return ::symlink(own.c_str(), path.c_str()) == 0;
                               },
                               ELOOP},
                      LockCase{"FileOfHis",
                               [](const std::string& path, const std::string&) {
                                   const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
                                   return fd >= 0 && ::close(fd) == 0;
                               },
                               EPERM},
                      LockCase{"FolderOfHis",
                               [](const std::string& path, const std::string&) {
                                   return MakeFolder(path, 0777);
                               },
                               EISDIR}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrivateFolders, ALockFileOthersMayWriteIsNotTrusted) {
    const std::string path = Root + "/open.lock";
    std::ofstream(path) << "";
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const FileLock lock(path, 0644);
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(lock.Error(), EPERM);
}

TEST_F(PrivateFolders, ABusyLockIsWaitedForOnlyAsLongAsAsked) {
    const std::string path = Root + "/busy.lock";
    std::optional<FileLock> holder(std::in_place, path, 0644);
    ASSERT_TRUE(holder->Held());
    EXPECT_EQ(Mode(path), 0644u);
    EXPECT_TRUE(FileLockBusy(path));

    const FileLock tried(path, 0644, std::chrono::milliseconds(0));
    EXPECT_EQ(tried.Error(), EWOULDBLOCK);
    const FileLock waited(path, 0644, std::chrono::milliseconds(300));
    EXPECT_FALSE(waited.Held());
    EXPECT_EQ(waited.Error(), ETIMEDOUT);

    holder.reset();
    // The waiter that gave up takes its late lock now and lets it go again.
    const FileLock after(path, 0644, std::chrono::seconds(10));
    EXPECT_TRUE(after.Held()) << after.Error();
}

TEST_F(PrivateFolders, SharedLocksGoTogetherAndAreSeen) {
    const std::string path = Root + "/running";
    const FileLock first(path, 0644, std::chrono::milliseconds(0), true);
    const FileLock second(path, 0644, std::chrono::milliseconds(0), true);
    EXPECT_TRUE(first.Held() && second.Held());
    EXPECT_TRUE(FileLockBusy(path));
    const FileLock exclusive(path, 0644, std::chrono::milliseconds(0));
    EXPECT_FALSE(exclusive.Held());
}

// The runtime area: the session's where it is the user's, else a folder of the
// user's cache that nobody else can make first.
class RuntimeArea : public PrivateFolders {
protected:
    void SetUp() override {
        PrivateFolders::SetUp();
        if (IsSkipped())
            return;
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "XDG_CACHE_HOME"}) {
            if (const char* v = std::getenv(name))
                Saved.emplace_back(name, v);
            ::unsetenv(name);
        }
        Home = Root + "/home";
        ASSERT_EQ(::mkdir(Home.c_str(), 0700), 0);
        ::setenv("HOME", Home.c_str(), 1);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        Host = host;
        Fallback = Home + "/.cache/quilvane/runtime-" + Host;
    }
    void TearDown() override {
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "XDG_CACHE_HOME"})
            ::unsetenv(name);
        for (const auto& [name, value] : Saved)
            ::setenv(name.c_str(), value.c_str(), 1);
        PrivateFolders::TearDown();
    }

    std::vector<std::pair<std::string, std::string>> Saved;
    std::string Home, Host, Fallback;
};

TEST_F(RuntimeArea, TheSessionsOwnIsUsed) {
    const std::string runtime = Root + "/run";
    ASSERT_TRUE(MakeFolder(runtime, 0700));
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(UserRuntimeFolder(), runtime);
    EXPECT_EQ(PrivateRuntimeFolder(), runtime + "/quilvane");
    EXPECT_EQ(Mode(runtime + "/quilvane"), 0700u);
}

TEST_F(RuntimeArea, AnotherUsersOrNoneFallsBackToTheUsersCache) {
    // As after su without "-": the runtime area of the user who logged in,
    // with his own files waiting in it.
    const std::string his = Root + "/his-run";
    ASSERT_TRUE(MakeFolder(his, 0700));
    ASSERT_EQ(::chown(his.c_str(), kNobody, kNobody), 0);
    ASSERT_TRUE(AsNobody([&] {
        return ::symlink(Bait.c_str(), (his + "/quilvane-session-bus").c_str()) == 0 &&
               MakeFolder(his + "/quilvane", 0777);
    }));
    for (const char* runtime : {his.c_str(), static_cast<const char*>(nullptr)}) {
        if (runtime)
            ::setenv("XDG_RUNTIME_DIR", runtime, 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(UserRuntimeFolder(), Fallback);
        EXPECT_EQ(PrivateRuntimeFolder(), Fallback + "/quilvane");
        EXPECT_EQ(Mode(Fallback), 0700u);
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(his))
        ++entries;
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(Take(Bait), "root's own");

    const std::string cache = Root + "/cache";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    EXPECT_EQ(UserRuntimeFolder(), cache + "/quilvane/runtime-" + Host);
}

TEST_F(RuntimeArea, WithoutASafeFolderThereIsNoneAndAReason) {
    const std::string his = Root + "/his-home";
    ASSERT_TRUE(MakeFolder(his, 0755));
    ASSERT_EQ(::chown(his.c_str(), kNobody, kNobody), 0);
    ::setenv("HOME", his.c_str(), 1);
    std::string why;
    EXPECT_EQ(PrivateRuntimeFolder(&why), "");
    EXPECT_NE(why.find(his), std::string::npos) << why;
    EXPECT_NE(why.find("another user may change"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_empty(his));
}

}  // namespace
