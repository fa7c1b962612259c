// Windows of other processes: handles that stay unique, and sends and posts
// that reach another real process (tests/platform/user_peer.cpp) through its
// main thread's queue, or fail at once where nobody owns the handle.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/user.h"
#include "tests/platform/user_peer.h"
#include "tests/support/skip_or_fail.h"

using namespace win;

namespace {

constexpr uid_t kNobody = 65534;

// A run of the peer program; killed when the test is done with it.
class Peer {
public:
    explicit Peer(std::vector<std::string> args, uid_t user = ::geteuid()) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        args.insert(args.begin(), USER_PEER_BINARY);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            if (user != ::geteuid() && (::setgid(user) != 0 || ::setuid(user) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~Peer() {
        Kill();
        if (input_ >= 0)
            ::close(input_);
        if (output_ >= 0)
            ::close(output_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The next line of its output; empty when it ended without one.
    std::string ReadLine() {
        std::string line;
        char c;
        while (output_ >= 0 && ::read(output_, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // The window handle that a serving peer prints first.
    HWND Window() { return std::strtoull(ReadLine().c_str(), nullptr, 10); }
    pid_t Pid() const { return pid_; }

    void Kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

const char* kClass = "UserRemoteTestWindow";

LRESULT LocalProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == peer::kAdd)
        return static_cast<LRESULT>(w) + l;
    return DefWindowProcA(h, m, w, l);
}

class UserRemoteTest : public ::testing::Test {
protected:
    // A runtime folder of the test's own, made before the first window.
    static void SetUpTestSuite() {
        char templ[] = "/tmp/user-remote-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        runtime_ = templ;
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        WNDCLASSA wc{};
        wc.lpfnWndProc = LocalProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassA(&wc), 0);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(runtime_, ignored);
    }
    static HWND NewWindow() {
        return CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }
    static std::string runtime_;
};
std::string UserRemoteTest::runtime_;

}  // namespace

TEST_F(UserRemoteTest, HandlesStayUniqueAcrossProcessesAndAreNotReusedSoon) {
    Peer peer({"serve"});
    const HWND theirs = peer.Window();
    ASSERT_NE(theirs, 0u);
    std::set<HWND> seen{theirs};
    // Far more live windows than a slot table would hold...
    std::vector<HWND> live;
    for (int i = 0; i < 3000; ++i) {
        live.push_back(NewWindow());
        ASSERT_NE(live.back(), 0u);
        ASSERT_TRUE(seen.insert(live.back()).second) << "handle handed out twice";
    }
    // ... and a long run of created and destroyed ones.
    for (int i = 0; i < 70000; ++i) {
        const HWND h = NewWindow();
        ASSERT_TRUE(seen.insert(h).second) << "handle reused after " << i << " windows";
        DestroyWindow(h);
    }
    for (HWND h : seen)
        EXPECT_LE(h, 0xFFFFFFFFu);  // stored as a REG_DWORD
    for (HWND h : live)
        DestroyWindow(h);
    // The other process's window is still its own.
    DWORD pid = 0;
    EXPECT_NE(GetWindowThreadProcessId(theirs, &pid), 0u);
    EXPECT_EQ(pid, static_cast<DWORD>(peer.Pid()));
}

TEST_F(UserRemoteTest, SendsAndPostsReachAWindowOfAnotherProcess) {
    Peer peer({"serve"});
    const HWND h = peer.Window();
    ASSERT_TRUE(IsWindow(h));
    EXPECT_EQ(SendMessageA(h, peer::kAdd, 2, 40), 42);
    EXPECT_EQ(SendMessageA(h, peer::kAdd, 0, -7), -7);
    EXPECT_TRUE(PostMessageA(h, peer::kPosted, 7, 0));
    EXPECT_TRUE(PostMessageA(h, peer::kPosted, 8, 0));
    LRESULT sum = 0;
    for (int i = 0; i < 100 && sum != 15; ++i)
        sum = SendMessageA(h, peer::kSum, 0, 0);
    EXPECT_EQ(sum, 15);
}

TEST_F(UserRemoteTest, ProcessesSendingToEachOtherDoNotDeadlock) {
    Peer peer({"serve"});
    const HWND theirs = peer.Window();
    const HWND mine = NewWindow();
    // Their handler sends back to us while we wait for its answer.
    EXPECT_EQ(SendMessageA(theirs, peer::kSendBack, 9, static_cast<LPARAM>(mine)), 110);
    DestroyWindow(mine);
}

TEST_F(UserRemoteTest, SendReachesAMainThreadInANestedModalLoop) {
    Peer peer({"modal"});
    const HWND h = peer.Window();
    EXPECT_EQ(SendMessageA(h, peer::kAdd, 1, 2), 3);
}

TEST_F(UserRemoteTest, SendToAProcessThatDoesNotAnswerGivesUpWithZero) {
    Peer peer({"blocked"});
    const HWND h = peer.Window();
    SetLastError(0);
    EXPECT_EQ(SendMessageA(h, peer::kAdd, 1, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    // The window is there all the same, and takes posts.
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(PostMessageA(h, peer::kPosted, 1, 0));
}

TEST_F(UserRemoteTest, StaleDeadAndUnknownHandlesFailAtOnce) {
    Peer destroyed({"serve"});
    const HWND stale = destroyed.Window();
    EXPECT_EQ(SendMessageA(stale, peer::kDestroy, 0, 0), 0);
    Peer killed({"serve"});
    const HWND dead = killed.Window();
    killed.Kill();
    for (HWND h : {stale, dead, HWND{0xFFFFFF00}}) {
        SCOPED_TRACE(h);
        SetLastError(0);
        EXPECT_EQ(SendMessageA(h, peer::kAdd, 1, 2), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(PostMessageA(h, peer::kPosted, 1, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_FALSE(IsWindow(h));
    }
}

TEST_F(UserRemoteTest, AnotherUsersProcessCannotReachTheWindow) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("needs root to run a process as another user");
    Peer peer({"serve"});
    const HWND h = peer.Window();
    // Pointed at our runtime folder, the other user finds nothing of ours.
    ::chmod(runtime_.c_str(), 0755);
    Peer sender({"send", std::to_string(h)}, kNobody);
    const std::string answer = sender.ReadLine();
    ::chmod(runtime_.c_str(), 0700);
    EXPECT_EQ(answer, "0 " + std::to_string(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageA(h, peer::kAdd, 1, 1), 2);  // while we still reach it
}
