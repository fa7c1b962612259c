// Named mutexes between real processes: a later creator is told the object
// exists, the object vanishes with its last holder however that holder ends
// (SIGKILL included), exec'd programs do not keep it, and of creators that
// race exactly one is first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/kernel.h"

using namespace win;

namespace {

class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/mutex-test-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        runtime_ = dir;
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        for (const pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::unsetenv("XDG_RUNTIME_DIR");
        std::system(("rm -rf '" + runtime_ + "'").c_str());
    }

    // A process that creates the mutex `name`, answers the last error on a
    // pipe and then holds it until killed (or, with execProgram, replaces
    // itself by that program, which runs until killed).
    DWORD HoldInChild(const std::string& name, const char* execProgram = nullptr) {
        int fds[2];
        // Close-on-exec, like the lock: its end tells that exec has happened.
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return 0xFFFFFFFF;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
            const DWORD error = h ? GetLastError() : 0xFFFFFFFE;
            [[maybe_unused]] const ssize_t n = ::write(fds[1], &error, sizeof error);
            if (execProgram)
                ::execlp(execProgram, execProgram, "600", static_cast<char*>(nullptr));
            ::pause();
            ::_exit(0);
        }
        ::close(fds[1]);
        children_.push_back(pid);
        DWORD error = 0xFFFFFFFF;
        if (::read(fds[0], &error, sizeof error) != sizeof error)
            error = 0xFFFFFFFF;
        char rest;
        while (execProgram && ::read(fds[0], &rest, 1) > 0) {
        }
        ::close(fds[0]);
        return error;
    }

    void KillChildren() {
        for (const pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        children_.clear();
    }

    // Whether the object exists, without making it.
    static bool Exists(const char* name) {
        const HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, name);
        if (!h) {
            EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
            return false;
        }
        CloseHandle(h);
        return true;
    }

    std::string runtime_;
    std::vector<pid_t> children_;
};

TEST_F(NamedMutexTest, LaterCreatorsSeeItUntilTheLastHandleCloses) {
    EXPECT_FALSE(Exists("TacOnlyOneQuilvane"));
    const HANDLE first = CreateMutexA(nullptr, FALSE, "TacOnlyOneQuilvane");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const HANDLE second = CreateMutexA(nullptr, FALSE, "TacOnlyOneQuilvane");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);

    // The first creator's handle is not special: the object lives on in the
    // second.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(Exists("TacOnlyOneQuilvane"));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(Exists("TacOnlyOneQuilvane"));
    const HANDLE again = CreateMutexA(nullptr, FALSE, "TacOnlyOneQuilvane");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(again);
}

TEST_F(NamedMutexTest, AnotherProcessHoldsItUntilKilled) {
    ASSERT_EQ(HoldInChild("Held"), ERROR_SUCCESS);
    EXPECT_TRUE(Exists("Held"));
    const HANDLE later = CreateMutexA(nullptr, FALSE, "Held");
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(later);

    KillChildren();
    EXPECT_FALSE(Exists("Held"));
    const HANDLE after = CreateMutexA(nullptr, FALSE, "Held");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(after);
}

TEST_F(NamedMutexTest, AProgramStartedByTheHolderDoesNotKeepIt) {
    ASSERT_EQ(HoldInChild("Helper", "sleep"), ERROR_SUCCESS);
    // The child is now `sleep`, which must hold nothing of its parent's.
    EXPECT_FALSE(Exists("Helper"));
}

TEST_F(NamedMutexTest, NamesAreDistinctObjects) {
    // Pairs that a careless file-name mapping would merge.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a/b", "a%2Fb"}, {"Name", "name"}, {"x y", "x_y"}, {"..", "%2E%2E"}};
    for (const auto& [one, other] : pairs) {
        SCOPED_TRACE(one + " / " + other);
        const HANDLE a = CreateMutexA(nullptr, FALSE, one.c_str());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        const HANDLE b = CreateMutexA(nullptr, FALSE, other.c_str());
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        CloseHandle(a);
        CloseHandle(b);
    }
}

TEST_F(NamedMutexTest, OfRacingCreatorsExactlyOneIsFirst) {
    for (int round = 0; round < 20; ++round) {
        const std::string name = "Race" + std::to_string(round);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        constexpr int kRacers = 4;
        std::vector<pid_t> racers;
        for (int i = 0; i < kRacers; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                const HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
                const char first = h && GetLastError() == ERROR_SUCCESS ? '1' : '0';
                [[maybe_unused]] const ssize_t n = ::write(fds[1], &first, 1);
                // Held until every racer has answered.
                ::pause();
                ::_exit(0);
            }
            racers.push_back(pid);
        }
        int firsts = 0;
        for (int i = 0; i < kRacers; ++i) {
            char c = 0;
            ASSERT_EQ(::read(fds[0], &c, 1), 1);
            firsts += c == '1';
        }
        for (const pid_t pid : racers) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(fds[0]);
        ::close(fds[1]);
        EXPECT_EQ(firsts, 1) << "round " << round;
    }
}

TEST_F(NamedMutexTest, MisuseFails) {
    EXPECT_EQ(CreateMutexA(nullptr, TRUE, "Owned"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, std::string(300, 'n').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    const HANDLE h = CreateMutexA(nullptr, FALSE, "Twice");
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
