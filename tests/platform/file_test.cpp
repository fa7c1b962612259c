// The careful file writer: all or nothing, links written through, modes kept,
// read-only and odd targets refused, nothing left behind, also when the
// writing process is killed.
#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/kernel.h"

using namespace win;

namespace {

class ReplaceFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        Dir = tmpl;
        Path = Dir + "/settings.ini";
        OldMask = ::umask(022);
    }
    void TearDown() override {
        ::umask(OldMask);
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    static void Put(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << bytes;
            ASSERT_TRUE(out.good());
        }
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    static std::string Take(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
    }
    // Every name in the folder, sorted, to see strays and temporaries.
    std::string Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string out;
        for (const auto& n : names)
            out += n + " ";
        return out;
    }

    std::string Dir;
    std::string Path;
    mode_t OldMask = 022;
};

TEST_F(ReplaceFile, NewFileIsOwnerOnlyAndExistingFilesKeepTheirMode) {
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReplaceFileContents(Path, "new\r\n"), 0);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(Take(Path), "new\r\n");
    EXPECT_EQ(Mode(Path), 0600u);
    for (mode_t mode : {0644, 0640, 0664, 0200}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(Path.c_str(), mode), 0);
        const std::string data(100000 + mode, 'x');
        EXPECT_EQ(ReplaceFileContents(Path, data), 0);
        EXPECT_EQ(Mode(Path), static_cast<unsigned>(mode));
        ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
        EXPECT_EQ(Take(Path), data);
    }
    EXPECT_EQ(ReplaceFileContents(Path, ""), 0);
    EXPECT_EQ(Take(Path), "");
    EXPECT_EQ(Names(), "settings.ini ");
}

TEST_F(ReplaceFile, WritesThroughLinksAndKeepsThem) {
    // An existing target, reached through two links (one relative).
    Put(Dir + "/real.ini", "old");
    ASSERT_EQ(::symlink("real.ini", (Dir + "/middle").c_str()), 0);
    ASSERT_EQ(::symlink((Dir + "/middle").c_str(), Path.c_str()), 0);
    EXPECT_EQ(FileWriteTarget(Path), Dir + "/real.ini");
    EXPECT_EQ(ReplaceFileContents(Path, "through"), 0);
    EXPECT_EQ(Take(Dir + "/real.ini"), "through");
    EXPECT_EQ(Mode(Dir + "/real.ini"), 0644u);
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
    EXPECT_TRUE(std::filesystem::is_symlink(Dir + "/middle"));

    // A dangling link: its target is created in the link's folder, the link stays.
    ASSERT_EQ(::mkdir((Dir + "/sub").c_str(), 0700), 0);
    const std::string dangling = Dir + "/sub/link.ini";
    ASSERT_EQ(::symlink("../created.ini", dangling.c_str()), 0);
    EXPECT_EQ(FileWriteTarget(dangling), Dir + "/sub/../created.ini");
    EXPECT_EQ(ReplaceFileContents(dangling, "made"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(Take(Dir + "/created.ini"), "made");
    EXPECT_EQ(Mode(Dir + "/created.ini"), 0600u);
    EXPECT_EQ(Names(), "created.ini middle real.ini settings.ini sub ");

    // A loop of links is an error, not a hang.
    ASSERT_EQ(::symlink("loop-b", (Dir + "/loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", (Dir + "/loop-b").c_str()), 0);
    EXPECT_EQ(ReplaceFileContents(Dir + "/loop-a", "x"), ELOOP);
}

// The reader takes regular files whole, refuses at once what would block or
// has no end, and refuses a file over the caller's limit before reading it.
TEST_F(ReplaceFile, ReaderTakesRegularFilesWithinTheLimit) {
    struct Case {
        const char* name;
        std::size_t limit;
        int err;
    };
    Put(Path, "0123456789");
    ASSERT_EQ(::mkfifo((Dir + "/fifo").c_str(), 0600), 0);
    const Case cases[] = {
        {"settings.ini", static_cast<std::size_t>(-1), 0},
        {"settings.ini", 10, 0},
        {"settings.ini", 9, EFBIG},
        {"fifo", 100, EINVAL},
        {"", 100, EISDIR},
        {"missing", 100, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.limit));
        std::string out = "stale";
        EXPECT_EQ(ReadFileContents(Dir + "/" + c.name, out, c.limit), c.err);
        EXPECT_EQ(out, c.err ? "" : "0123456789");
    }
    std::string dev;
    EXPECT_EQ(ReadFileContents("/dev/zero", dev), EINVAL);
}

// Refused targets stay exactly as they were and nothing is left beside them.
TEST_F(ReplaceFile, RefusesWhatMayNotBeWrittenAndLeavesItAlone) {
    Put(Path, "keep", 0444);
    ASSERT_EQ(::symlink("settings.ini", (Dir + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((Dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((Dir + "/folder").c_str(), 0700), 0);
    struct Case {
        std::string path;
        int err;
        DWORD code;
    } cases[] = {
        {Path, EACCES, ERROR_ACCESS_DENIED},           // read-only, for root too
        {Dir + "/link", EACCES, ERROR_ACCESS_DENIED},  // read-only behind a link
        {Dir + "/fifo", EINVAL, ERROR_ACCESS_DENIED},  // never opened, so never blocks
        {Dir + "/folder", EISDIR, ERROR_ACCESS_DENIED},
        {Dir + "/missing/x.ini", ENOENT, ERROR_FILE_NOT_FOUND},
        {"", ENOENT, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ReplaceFileContents(c.path, "new"), c.err);
        EXPECT_EQ(GetLastError(), c.code);
    }
    EXPECT_EQ(Take(Path), "keep");
    EXPECT_EQ(Mode(Path), 0444u);
    EXPECT_EQ(Names(), "fifo folder link settings.ini ");
}

// A file the user may not write, though its mode has write bits: the
// unprivileged user "nobody" in a child process.
TEST_F(ReplaceFile, RefusesAnotherUsersFileAndAFolderWithoutWriteAccess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    Put(Path, "root's", 0644);
    ASSERT_EQ(::chmod(Dir.c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        const bool refused = ReplaceFileContents(Path, "nobody's") == EACCES &&
                             GetLastError() == ERROR_ACCESS_DENIED &&
                             ReplaceFileContents(Dir + "/new.ini", "x") == EACCES;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 10) << "cannot become nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Take(Path), "root's");
    EXPECT_EQ(Names(), "settings.ini ");
}

TEST_F(ReplaceFile, RemovesOnlyStaleTemporariesOfItsOwnFile) {
    Put(Path, "old");
    const std::string stale = Dir + "/.settings.ini.tmp~Ab12Cd";
    const std::string fresh = Dir + "/.settings.ini.tmp~Zz99Yy";
    const std::string other = Dir + "/.other.ini.tmp~Ab12Cd";
    const std::string backup = Dir + "/.settings.ini.backup";
    for (const std::string& p : {stale, fresh, other, backup})
        Put(p, "secret", 0600);
    const timespec old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    for (const std::string& p : {stale, other, backup})
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), old, 0), 0);
    EXPECT_EQ(ReplaceFileContents(Path, "new"), 0);
    EXPECT_EQ(Take(Path), "new");
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(backup));
}

// A writer killed at any moment leaves the complete old or the complete new
// content and no temporary file.
TEST_F(ReplaceFile, KilledWriterLeavesOneCompleteVersionAndNoTemporary) {
    constexpr std::size_t kSize = 8 << 20;
    Put(Path, std::string(kSize, 'a'));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string a(kSize, 'a'), b(kSize, 'b');
        for (int i = 0; i < 1000; ++i) {
            if (ReplaceFileContents(Path, i % 2 ? a : b) != 0)
                ::_exit(1);
            if (::write(pipeFds[1], "x", 1) != 1)
                ::_exit(2);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    // After the third complete replace, the child is inside the fourth.
    char buf[3];
    std::size_t got = 0;
    while (got < sizeof buf) {
        const ssize_t n = ::read(pipeFds[0], buf + got, sizeof buf - got);
        ASSERT_GT(n, 0) << "the writer ended early";
        got += static_cast<std::size_t>(n);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(pipeFds[0]);
    EXPECT_TRUE(WIFSIGNALED(status));
    const std::string now = Take(Path);
    ASSERT_EQ(now.size(), kSize);
    EXPECT_TRUE(now == std::string(kSize, 'a') || now == std::string(kSize, 'b'));
    EXPECT_EQ(Names(), "settings.ini ");
}

}  // namespace
