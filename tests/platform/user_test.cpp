// The contract of the user area: queues, sends across threads, subclassing,
// timers, classes and quit. Tests on the main thread run under Qt's event
// loop; tests on worker threads pump their own queue.
#include "platform/user.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"

using namespace win;

namespace {

// Records every message that reaches the windows of the test class.
struct Log {
    std::mutex lock;
    std::vector<std::string> lines;
    void Add(std::string s) {
        std::lock_guard l(lock);
        lines.push_back(std::move(s));
    }
    std::vector<std::string> Take() {
        std::lock_guard l(lock);
        return std::exchange(lines, {});
    }
};
Log g_log;

constexpr UINT kMsgA = WM_USER + 1;
constexpr UINT kMsgB = WM_USER + 2;
constexpr UINT kMsgC = WM_USER + 3;
constexpr UINT kSendBack = WM_USER + 4;  // lParam: window to send kMsgC to
constexpr UINT kWhoAmI = WM_USER + 5;    // answers the handling thread's id
constexpr UINT kCount = WM_USER + 6;     // only counted, for floods
constexpr UINT kRun = WM_USER + 7;       // lParam: a std::function<void()>* to run

std::atomic<int> g_counted{0};
std::counting_semaphore<>* g_credits = nullptr;  // given back by each counted message

LRESULT CALLBACK_TestProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
        case kMsgA:
            g_log.Add("A" + std::to_string(w));
            return 1;
        case kMsgB:
            g_log.Add("B" + std::to_string(w));
            return 2;
        case kMsgC:
            g_log.Add("C" + std::to_string(w));
            return 3;
        case kSendBack:
            return SendMessageA(static_cast<HWND>(l), kMsgC, w, 0) + 10;
        case kWhoAmI:
            return GetCurrentThreadId();
        case kCount:
            ++g_counted;
            if (g_credits)
                g_credits->release();
            return 0;
        case kRun:
            (*reinterpret_cast<std::function<void()>*>(l))();
            return 0;
        case WM_DESTROY:
            g_log.Add("destroy");
            return 0;
        default:
            return DefWindowProcA(h, m, w, l);
    }
}

const char* kClass = "UserTestWindow";

class UserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = CALLBACK_TestProc;
        wc.cbWndExtra = sizeof(LONG_PTR) * 2;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassA(&wc), 0);
    }
    static void TearDownTestSuite() { UnregisterClassA(kClass, GetModuleHandleA(nullptr)); }
    void SetUp() override { g_log.Take(); }

    static HWND NewWindow() {
        return CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }
    static void Pump() {
        MSG m;
        while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
    }
};

// A worker thread with a window of its own that pumps its queue until quit.
class Worker {
public:
    Worker() {
        thread_ = std::thread([this] {
            HWND h = UserTest_NewWindow();
            ready_.set_value(h);
            MSG m;
            while (GetMessageA(&m, 0, 0, 0) > 0)
                DispatchMessageA(&m);
            DestroyWindow(h);
        });
        hwnd_ = ready_.get_future().get();
    }
    ~Worker() {
        // A posted WM_QUIT ends GetMessageA's loop like PostQuitMessage.
        PostThreadMessageA(GetWindowThreadProcessId(hwnd_, nullptr), WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    static HWND UserTest_NewWindow() {
        return CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }

private:
    std::promise<HWND> ready_;
    HWND hwnd_ = 0;
    std::thread thread_;
};

}  // namespace

TEST_F(UserTest, SendIsHandledAtOnceAndPostsKeepTheirOrder) {
    HWND h = NewWindow();
    ASSERT_TRUE(IsWindow(h));
    PostMessageA(h, kMsgA, 1, 0);
    PostMessageA(h, kMsgB, 2, 0);
    EXPECT_EQ(SendMessageA(h, kMsgC, 3, 0), 3);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"C3"}));
    Pump();
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"A1", "B2"}));
    DestroyWindow(h);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"destroy"}));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessageA(h, kMsgA, 0, 0));
}

TEST_F(UserTest, QtEventsAndPostedMessagesInterleaveInOrder) {
    HWND h = NewWindow();
    struct Recorder : QObject {
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User)
                return QObject::event(e);
            g_log.Add("qt");
            return true;
        }
    } recorder;
    PostMessageA(h, kMsgA, 1, 0);
    QCoreApplication::postEvent(&recorder, new QEvent(QEvent::User));
    PostMessageA(h, kMsgB, 2, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"A1", "qt", "B2"}));
    DestroyWindow(h);
}

TEST_F(UserTest, PeekWithoutRemovalLeavesTheMessage) {
    HWND h = NewWindow();
    PostMessageA(h, kMsgA, 7, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, h, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, kMsgA);
    ASSERT_TRUE(PeekMessageA(&m, h, kMsgA, kMsgA, PM_REMOVE));
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&m, h, 0, 0, PM_REMOVE));
    DestroyWindow(h);
}

TEST_F(UserTest, SendToAnotherThreadRunsThereAndReturnsItsResult) {
    Worker worker;
    const DWORD workerThread = GetWindowThreadProcessId(worker.hwnd(), nullptr);
    EXPECT_NE(workerThread, GetCurrentThreadId());
    EXPECT_EQ(static_cast<DWORD>(SendMessageA(worker.hwnd(), kWhoAmI, 0, 0)), workerThread);
    EXPECT_EQ(SendMessageA(worker.hwnd(), kMsgB, 5, 0), 2);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"B5"}));
}

TEST_F(UserTest, ThreadBlockedInSendHandlesSendsToItsOwnWindows) {
    HWND mine = NewWindow();
    Worker worker;
    // The worker's handler sends back to us while we wait for its answer.
    EXPECT_EQ(SendMessageA(worker.hwnd(), kSendBack, 9, static_cast<LPARAM>(mine)), 13);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"C9"}));
    DestroyWindow(mine);
}

TEST_F(UserTest, WorkerSendsToMainThreadThatWaitsForIt) {
    HWND mine = NewWindow();
    std::atomic<bool> finished{false};
    const DWORD mainThread = GetCurrentThreadId();
    LRESULT answer = 0;
    std::thread worker([&] {
        answer = SendMessageA(mine, kWhoAmI, 0, 0);
        finished = true;
        PostThreadMessageA(mainThread, WM_NULL, 0, 0);
    });
    // The main thread waits for the worker, handling what arrives meanwhile.
    for (int rounds = 0; !finished && rounds < 1000; ++rounds) {
        WaitMessage();
        Pump();
    }
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(static_cast<DWORD>(answer), mainThread);
    DestroyWindow(mine);
}

TEST_F(UserTest, SubclassChainRunsNewestFirstAndUnwindsToTheBase) {
    HWND h = NewWindow();
    struct Hook {
        std::string name;
        WNDPROC prev = nullptr;
        WNDPROC self = nullptr;
    };
    Hook hooks[3] = {{"h1"}, {"h2"}, {"h3"}};
    const auto base = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC));
    for (auto& hook : hooks) {
        hook.self = MakeWindowProcInstance([&hook](HWND w, UINT m, WPARAM wp, LPARAM lp) {
            if (m == kMsgA)
                g_log.Add(hook.name);
            return CallWindowProcA(hook.prev, w, m, wp, lp);
        });
        ASSERT_NE(hook.self, nullptr);
        hook.prev = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hook.self)));
    }
    EXPECT_EQ(SendMessageA(h, kMsgA, 0, 0), 1);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"h3", "h2", "h1", "A0"}));

    // Taking out the middle hook: the newer one passes on to the older one.
    hooks[2].prev = hooks[1].prev;
    SendMessageA(h, kMsgA, 0, 0);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"h3", "h1", "A0"}));

    SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hooks[2].prev));
    SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hooks[0].prev));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC)), base);
    SendMessageA(h, kMsgA, 0, 0);
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"A0"}));
    for (auto& hook : hooks)
        FreeWindowProcInstance(hook.self);
    DestroyWindow(h);
}

TEST_F(UserTest, ExtraBytesAndLongsKeepTheirValues) {
    HWND h = NewWindow();
    EXPECT_EQ(SetWindowLongPtrA(h, 0, 0x1234567890), 0);
    EXPECT_EQ(GetWindowLongPtrA(h, 0), 0x1234567890);
    SetWindowLongA(h, sizeof(LONG_PTR), -5);
    EXPECT_EQ(GetWindowLongA(h, sizeof(LONG_PTR)), -5);
    // Beyond the extra bytes and the procedure through a 32-bit call are refused.
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(h, sizeof(LONG_PTR) * 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    EXPECT_EQ(GetWindowLongA(h, GWL_WNDPROC), 0);
    EXPECT_EQ(GetWindowLongA(h, GWL_STYLE), static_cast<LONG>(WS_POPUP));
    EXPECT_TRUE(SetWindowTextA(h, "caption"));
    EXPECT_EQ(GetWindowTextString(h), "caption");
    DestroyWindow(h);
}

TEST_F(UserTest, ClassesRegisterOnceAndUnregisterWithoutWindows) {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = inst;
    wc.cbWndExtra = 8;
    wc.lpszClassName = "SecondClass";
    EXPECT_FALSE(GetClassInfoA(inst, "secondclass", nullptr));
    ASSERT_NE(RegisterClassA(&wc), 0);
    WNDCLASSA found{};
    ASSERT_TRUE(GetClassInfoA(inst, "SECONDCLASS", &found));
    EXPECT_EQ(found.cbWndExtra, 8);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    HWND h = CreateWindowExA(0, "secondClass", "", 0, 0, 0, 0, 0, 0, nullptr, inst, nullptr);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(UnregisterClassA("SecondClass", inst));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(h);
    EXPECT_TRUE(UnregisterClassA("SecondClass", inst));
    EXPECT_FALSE(GetClassInfoA(inst, "SecondClass", nullptr));
    EXPECT_EQ(CreateWindowExA(0, "SecondClass", "", 0, 0, 0, 0, 0, 0, nullptr, inst, nullptr), 0u);
    // Registering again works once it is gone.
    EXPECT_NE(RegisterClassA(&wc), 0);
    EXPECT_TRUE(UnregisterClassA("SecondClass", inst));
}

TEST_F(UserTest, QuitComesAfterPostedMessagesWithItsCode) {
    std::vector<UINT> seen;
    WPARAM code = 0;
    BOOL last = TRUE;
    std::thread t([&] {
        HWND h = Worker::UserTest_NewWindow();
        PostMessageA(h, kMsgA, 0, 0);
        PostQuitMessage(42);
        PostMessageA(h, kMsgB, 0, 0);
        MSG m;
        for (int i = 0; i < 10 && (last = GetMessageA(&m, 0, 0, 0)) > 0; ++i)
            seen.push_back(m.message);
        code = m.wParam;
        DestroyWindow(h);
    });
    t.join();
    EXPECT_EQ(last, FALSE);
    EXPECT_EQ(seen, (std::vector<UINT>{kMsgA, kMsgB}));
    EXPECT_EQ(code, 42u);
}

TEST_F(UserTest, SlowTimerHandlerIsFollowedByOneTickNotABurst) {
    std::vector<int> ticksAfterStall;
    std::thread t([&] {
        HWND h = Worker::UserTest_NewWindow();
        ASSERT_NE(SetTimer(h, 7, 100, nullptr), 0u);
        MSG m;
        ASSERT_GT(GetMessageA(&m, h, WM_TIMER, WM_TIMER), 0);
        EXPECT_EQ(m.wParam, 7u);
        // The handler of the first tick runs for several intervals.
        std::this_thread::sleep_for(std::chrono::milliseconds(650));
        int waiting = 0;
        while (waiting < 10 && PeekMessageA(&m, h, WM_TIMER, WM_TIMER, PM_REMOVE))
            ++waiting;
        ticksAfterStall.push_back(waiting);
        EXPECT_TRUE(KillTimer(h, 7));
        EXPECT_FALSE(KillTimer(h, 7));
        DestroyWindow(h);
    });
    t.join();
    EXPECT_EQ(ticksAfterStall, (std::vector<int>{1}));
}

TEST_F(UserTest, MainThreadTimerTicksThroughQtLoop) {
    HWND h = NewWindow();
    static int ticks;
    ticks = 0;
    SetTimer(h, 1, 20, [](HWND, UINT, UINT_PTR id, DWORD) {
        if (id == 1)
            ++ticks;
    });
    // The Qt loop delivers the ticks; bounded in rounds, not in time.
    for (int rounds = 0; ticks < 3 && rounds < 200; ++rounds)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_GE(ticks, 3);
    KillTimer(h, 1);
    DestroyWindow(h);
}

TEST_F(UserTest, RegisteredMessagesAreStablePerName) {
    UINT a = RegisterWindowMessageA("TaskbarCreated");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterWindowMessageA("taskbarcreated"), a);
    EXPECT_NE(RegisterWindowMessageA("OtherMessage"), a);
}

TEST_F(UserTest, WindowsCreatedByThisProcessCarryItsId) {
    HWND h = NewWindow();
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(h, &pid), GetCurrentThreadId());
    EXPECT_EQ(pid, GetCurrentProcessId());
    EXPECT_LE(h, 0xFFFFFFFFu);  // fits a 32-bit registry value
    DestroyWindow(h);
}

TEST_F(UserTest, MessageSkippedByAFilteredWaitIsStillDeliveredByTheQtLoop) {
    HWND h = NewWindow();
    // B is posted by a Qt event handled while GetMessageA waits for it; A's own
    // Qt event is handled during that wait too, and must not be used up.
    struct Poster : QObject {
        HWND target = 0;
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User)
                return QObject::event(e);
            PostMessageA(target, kMsgB, 5, 0);
            return true;
        }
    } poster;
    poster.target = h;
    PostMessageA(h, kMsgA, 4, 0);
    QCoreApplication::postEvent(&poster, new QEvent(QEvent::User));
    MSG m;
    ASSERT_GT(GetMessageA(&m, h, kMsgB, kMsgB), 0);
    DispatchMessageA(&m);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_log.Take(), (std::vector<std::string>{"B5", "A4"}));
    DestroyWindow(h);
}

TEST_F(UserTest, WindowsGoWithTheirThreadAndSendsToThemReturnAtOnce) {
    HWND orphan = 0;
    std::thread t([&] { orphan = Worker::UserTest_NewWindow(); });
    t.join();
    ASSERT_NE(orphan, 0u);
    EXPECT_FALSE(IsWindow(orphan));
    // Nobody is left to handle it: the send must not wait.
    EXPECT_EQ(SendMessageA(orphan, kMsgA, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(orphan, kMsgA, 0, 0));
    EXPECT_TRUE(g_log.Take().empty());
    // The class no longer counts the window.
    EXPECT_TRUE(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
    WNDCLASSA wc{};
    wc.lpfnWndProc = CALLBACK_TestProc;
    wc.cbWndExtra = sizeof(LONG_PTR) * 2;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    EXPECT_NE(RegisterClassA(&wc), 0);
}

namespace {

// Counts the ticks of window timer 1.
std::atomic<int> g_ticks{0};
void CountTick(HWND, UINT, UINT_PTR id, DWORD) {
    if (id == 1)
        ++g_ticks;
}

// Runs a Qt loop in which a Qt timer, due just after each tick of a window
// timer of the same interval, posts two messages to the window; returns once
// it has fired `firings` times.
void RunBurstsAroundTicks(HWND h, int firings) {
    QEventLoop loop;
    QTimer poster;
    int fired = 0;
    QObject::connect(&poster, &QTimer::timeout, [&] {
        PostMessageA(h, kCount, 0, 0);
        PostMessageA(h, kCount, 0, 0);
        if (++fired == firings)
            loop.quit();
    });
    SetTimer(h, 1, 20, CountTick);
    poster.start(20);
    loop.exec();
    KillTimer(h, 1);
}

}  // namespace

// Each case: bursts posted around every tick, in the main loop or in a modal
// loop nested in a message handler. Ticks may come late, never stop.
class UserTimerBurstTest : public UserTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UserTimerBurstTest, MainThreadTimerKeepsTickingThroughPostedBursts) {
    const bool nested = GetParam();
    HWND h = NewWindow();
    g_ticks = 0;
    constexpr int kFirings = 40;
    if (nested) {
        bool done = false;
        std::function<void()> modal = [&] {
            RunBurstsAroundTicks(h, kFirings);
            done = true;
        };
        PostMessageA(h, kRun, 0, reinterpret_cast<LPARAM>(&modal));
        for (int rounds = 0; !done && rounds < 100000; ++rounds)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ASSERT_TRUE(done);
    } else {
        RunBurstsAroundTicks(h, kFirings);
    }
    // Both timers share the interval: the ticks keep up with the bursts, give
    // or take a loaded machine.
    EXPECT_GE(g_ticks, kFirings / 4);
    DestroyWindow(h);
}

INSTANTIATE_TEST_SUITE_P(Loops, UserTimerBurstTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NestedModal" : "Main"; });

TEST_F(UserTest, MainThreadTimerKeepsTickingWhileAWorkerFloodsTheThread) {
    HWND h = NewWindow();
    g_ticks = 0;
    g_counted = 0;
    ASSERT_NE(SetTimer(h, 1, 20, CountTick), 0u);
    std::atomic<bool> done{false};
    // The worker keeps up to 200 messages waiting all the time, so the queue
    // never runs dry while it floods.
    std::counting_semaphore<> credits(200);
    g_credits = &credits;
    std::thread flood([&] {
        for (int i = 0; g_ticks < 5 && i < 200000; ++i) {
            credits.acquire();
            PostMessageA(h, kCount, 0, 0);
        }
        done = true;
        PostMessageA(h, WM_NULL, 0, 0);
    });
    for (int rounds = 0; !done && rounds < 10000000; ++rounds)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    flood.join();
    g_credits = nullptr;
    EXPECT_GE(g_ticks, 5);
    EXPECT_GT(g_counted, 200);
    KillTimer(h, 1);
    DestroyWindow(h);
}

TEST_F(UserTest, WaitMessageWaitsForInputNewerThanTheLastLook) {
    // Main thread, pumped by Qt: B is posted by a Qt event that only runs once
    // WaitMessage waits; the old message A must not end the wait before it.
    HWND h = NewWindow();
    struct Poster : QObject {
        HWND target = 0;
        bool posted = false;
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User)
                return QObject::event(e);
            posted = PostMessageA(target, kMsgB, 0, 0);
            return true;
        }
    } poster;
    poster.target = h;
    PostMessageA(h, kMsgA, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, h, 0, 0, PM_NOREMOVE));
    QCoreApplication::postEvent(&poster, new QEvent(QEvent::User));
    EXPECT_TRUE(WaitMessage());
    EXPECT_TRUE(poster.posted);
    Pump();
    DestroyWindow(h);

    // A thread of its own: the next input is a tick that is not yet due.
    bool tickWaiting = false;
    std::thread t([&] {
        HWND w = Worker::UserTest_NewWindow();
        PostMessageA(w, kMsgA, 0, 0);
        SetTimer(w, 3, 50, nullptr);
        MSG msg;
        PeekMessageA(&msg, w, kMsgA, kMsgA, PM_NOREMOVE);
        WaitMessage();
        tickWaiting = PeekMessageA(&msg, w, WM_TIMER, WM_TIMER, PM_REMOVE);
        DestroyWindow(w);
    });
    t.join();
    EXPECT_TRUE(tickWaiting);
    g_log.Take();
}
