// The worker thread component: life cycle, hand-overs to the main thread
// (also inside a modal loop and from a worker the main thread waits for),
// exceptions, priorities, waiting with a time-out, and cutting off a worker
// that is blocked.

#include "upgrade/custom_thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "framework/exceptions.h"
#include "platform/kernel.h"
#include "tests/support/qt_wait.h"

namespace {

using quilvane_test::RunUntil;

// Blocks a worker until released (what a stalled transfer looks like to the
// thread component).
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    bool entered = false;
    void Block() {
        std::unique_lock l(m);
        entered = true;
        cv.notify_all();
        cv.wait(l, [this] { return open; });
    }
    void Open() {
        std::lock_guard l(m);
        open = true;
        cv.notify_all();
    }
    bool Entered() {
        std::lock_guard l(m);
        return entered;
    }
};

class Holder : public fw::TComponent {
public:
    Holder(bool* gone) : TComponent(nullptr), gone_(gone) {}
    ~Holder() override { *gone_ = true; }

private:
    bool* gone_;
};

TEST(CustomThread, RunsOnAWorkerOnlyAfterStartAndFinishesOnTheMainThread) {
    const win::DWORD main = win::GetCurrentThreadId();
    TacCustomThread thread(nullptr);
    std::atomic<win::DWORD> runThread{0};
    std::atomic<bool> runningSeen{false};
    win::DWORD finishThread = 0;
    int finishes = 0;
    thread.SetOnRun([&](fw::TObject* Sender, int) {
        EXPECT_EQ(Sender, &thread);
        runThread = win::GetCurrentThreadId();
        runningSeen = thread.Thread()->Running();
    });
    thread.SetOnFinish([&](fw::TObject*, int) {
        finishThread = win::GetCurrentThreadId();
        ++finishes;
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(runThread, 0u);  // created suspended
    EXPECT_TRUE(thread.Thread()->Suspended());

    TacEventThread* first = thread.Thread();
    ASSERT_TRUE(thread.Start());
    EXPECT_NE(thread.Thread(), first);  // every run a fresh thread object
    ASSERT_TRUE(RunUntil([&] { return finishes == 1; }));
    EXPECT_NE(runThread, 0u);
    EXPECT_NE(runThread, main);
    EXPECT_TRUE(runningSeen);
    EXPECT_EQ(finishThread, main);
    EXPECT_FALSE(thread.Running());

    // A second run uses another system thread.
    const win::DWORD firstWorker = runThread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(RunUntil([&] { return finishes == 2; }));
    EXPECT_NE(runThread, firstWorker);
}

TEST(CustomThread, HandOverReachesTheMainThreadWhileAModalBoxIsOpen) {
    TacCustomThread thread(nullptr);
    QDialog box;
    bool ranInsideBox = false;
    std::atomic<bool> returned{false};
    thread.SetOnRun([&](fw::TObject*, int) {
        thread.Synchronize([&] {
            ranInsideBox = QApplication::activeModalWidget() == &box;
            box.done(0);
        });
        returned = true;
    });
    QTimer::singleShot(0, [&] { thread.Start(); });
    QTimer::singleShot(10000, &box, [&] { box.done(1); });  // bounded if it never comes
    EXPECT_EQ(box.exec(), 0);
    EXPECT_TRUE(ranInsideBox);
    EXPECT_TRUE(RunUntil([&] { return returned.load(); }));
}

TEST(CustomThread, WaitingForTheWorkerDeliversItsHandOvers) {
    TacCustomThread thread(nullptr);
    int calls = 0;
    thread.SetOnRun([&](fw::TObject*, int) {
        for (int i = 0; i < 3; ++i)
            thread.Synchronize([&] { ++calls; });
        thread.Thread()->ReturnValue = 7;
    });
    thread.Start();
    // The main thread blocks here while the worker hands calls over to it.
    EXPECT_EQ(thread.Thread()->WaitFor(), 7);
    EXPECT_EQ(calls, 3);
}

struct ExceptionCase {
    bool handleExceptions;
    bool throwInRun;           // else in a handed-over call
    bool expectError;          // the error handler ran
    bool expectWorkerRethrow;  // the worker saw the exception of the hand-over
};

class CustomThreadExceptions : public ::testing::TestWithParam<ExceptionCase> {};

TEST_P(CustomThreadExceptions, GoWhereTheSettingSays) {
    const auto c = GetParam();
    TacCustomThread thread(nullptr);
    thread.HandleExceptions = c.handleExceptions;
    bool errorRan = false;
    bool finished = false;
    std::atomic<bool> workerSaw{false};
    std::atomic<bool> workerWentOn{false};
    thread.SetOnRun([&](fw::TObject*, int) {
        if (c.throwInRun)
            throw fw::Exception("run failed");
        try {
            thread.Synchronize([] { throw fw::Exception("handler failed"); });
            workerWentOn = true;
        } catch (const fw::Exception& e) {
            workerSaw = std::string(e.what()) == "handler failed";
        }
    });
    thread.SetOnError([&](fw::TObject*) { errorRan = true; });
    thread.SetOnFinish([&](fw::TObject*, int) { finished = true; });
    thread.Start();
    ASSERT_TRUE(RunUntil([&] { return finished; }));
    EXPECT_EQ(errorRan, c.expectError);
    EXPECT_EQ(workerSaw.load(), c.expectWorkerRethrow);
    if (!c.throwInRun) {
        EXPECT_EQ(workerWentOn.load(), !c.expectWorkerRethrow);
    }
}

INSTANTIATE_TEST_SUITE_P(All, CustomThreadExceptions,
                         ::testing::Values(
                             // Guarded run: the error handler runs on the main thread.
                             ExceptionCase{true, true, true, false},
                             // Unguarded run: it ends the run step; finish still runs.
                             ExceptionCase{false, true, false, false},
                             // A handed-over call's exception goes back to the worker...
                             ExceptionCase{false, false, false, true},
                             // ...only without HandleExceptions.
                             ExceptionCase{true, false, false, false}));

TEST(CustomThread, ResumeCountsSuspensions) {
    TacCustomThread thread(nullptr);
    std::atomic<bool> ran{false};
    thread.SetOnRun([&](fw::TObject*, int) { ran = true; });
    TacEventThread* t = thread.Thread();
    t->Suspend();  // created suspended: two resumes needed now
    t->Resume();
    EXPECT_TRUE(t->Suspended());
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    t->Resume();
    EXPECT_FALSE(t->Suspended());
    EXPECT_TRUE(RunUntil([&] { return ran.load(); }));
}

TEST(CustomThread, PrioritiesGoThroughTheTable) {
    TacCustomThread thread(nullptr);
    TacEventThread* t = thread.Thread();
    EXPECT_EQ(t->Priority(), tpNormal);
    for (TThreadPriority p : {tpLower, tpLowest, tpIdle}) {  // lowering needs no privilege
        t->SetPriority(p);
        EXPECT_EQ(t->Priority(), p);
    }
    // A system value outside the table reads back as normal.
    ASSERT_EQ(::setpriority(PRIO_PROCESS, static_cast<id_t>(t->ThreadId()), 3), 0);
    EXPECT_EQ(t->Priority(), tpNormal);
    // Clones keep the priority last set.
    t->SetPriority(tpLower);
    thread.Kill();
    EXPECT_EQ(thread.Thread()->Priority(), tpLower);
}

TEST(CustomThread, WaitTimeoutHandlerDecidesWhetherTheWorkerIsKilled) {
    for (bool keepRunning : {true, false}) {
        SCOPED_TRACE(keepRunning ? "handler clears Terminate" : "handler keeps Terminate");
        Gate gate;
        TacCustomThread thread(nullptr);
        thread.WaitForFinish = true;
        thread.WaitTimeout = 200;
        int offered = 0;
        std::atomic<bool> cameBack{false};
        thread.OnWaitTimeout = [&](fw::TObject*, bool& Terminate) {
            ++offered;
            if (keepRunning)
                Terminate = false;
        };
        thread.OnStop = [&] { gate.Open(); };
        thread.SetOnRun([&](fw::TObject*, int) {
            gate.Block();
            cameBack = true;
        });
        EXPECT_EQ(thread.Start(), keepRunning);
        EXPECT_EQ(offered, 1);
        EXPECT_EQ(thread.Running(), keepRunning);
        if (!keepRunning) {
            EXPECT_TRUE(cameBack);  // stopped and ended within Kill
        }
        gate.Open();
    }
}

TEST(CustomThread, StartOverABlockedRunCutsItOffAndRunsAFreshOne) {
    Gate gate;
    TacCustomThread thread(nullptr);
    std::atomic<int> runs{0};
    std::atomic<bool> firstEnded{false};
    std::atomic<bool> firstHandedOver{false};
    int finishes = 0;
    thread.OnStop = [&] { gate.Open(); };
    thread.SetOnRun([&](fw::TObject*, int) {
        if (++runs == 1) {
            gate.Block();
            // Cut off meanwhile: this hand-over unwinds the run.
            try {
                thread.Synchronize([&] { firstHandedOver = true; });
            } catch (...) {
                firstEnded = true;
                throw;
            }
        }
    });
    thread.SetOnFinish([&](fw::TObject*, int) { ++finishes; });
    thread.Start();
    ASSERT_TRUE(RunUntil([&] { return gate.Entered(); }));
    thread.Start();
    EXPECT_TRUE(firstEnded);  // ended before Start returned
    EXPECT_FALSE(firstHandedOver);
    ASSERT_TRUE(RunUntil([&] { return finishes == 1; }));
    EXPECT_EQ(runs, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(finishes, 1);  // the cut-off run raised nothing
}

// Stopped before the worker could even begin: the run counts as started, so
// the stop cuts it off (its stop handler breaks what it blocks in) instead of
// waiting without bound for a run taken for one that never began.
TEST(CustomThread, KillRightAfterStartCutsTheRunOff) {
    for (int i = 0; i < 20; ++i) {
        Gate gate;
        TacCustomThread thread(nullptr);
        int stops = 0;
        thread.OnStop = [&] {
            ++stops;
            gate.Open();
        };
        thread.SetOnRun([&](fw::TObject*, int) { gate.Block(); });
        thread.Start();
        EXPECT_TRUE(thread.Running());
        thread.Kill();
        EXPECT_EQ(stops, 1);
        EXPECT_FALSE(thread.Running());
    }
}

TEST(CustomThread, StartFromInsideAHandOverOfTheRunDoesNotDeadlock) {
    TacCustomThread thread(nullptr);
    std::atomic<int> runs{0};
    std::atomic<bool> firstWentOn{false};
    int finishes = 0;
    thread.SetOnRun([&](fw::TObject*, int) {
        if (++runs == 1) {
            thread.Synchronize([&] { thread.Start(); });
            firstWentOn = true;
        }
    });
    thread.SetOnFinish([&](fw::TObject*, int) { ++finishes; });
    thread.Start();
    ASSERT_TRUE(RunUntil([&] { return finishes == 1 && runs == 2; }));
    EXPECT_FALSE(firstWentOn);
}

TEST(CustomThread, FreeOwnerOnFinishFreesTheOwnerAfterTheFinishHandler) {
    bool gone = false;
    auto* holder = new Holder(&gone);
    auto* thread = new TacCustomThread(holder);
    thread->FreeOwnerOnFinish = true;
    bool finished = false;
    thread->SetOnFinish([&](fw::TObject*, int) {
        EXPECT_FALSE(gone);
        finished = true;
    });
    thread->Start();
    EXPECT_TRUE(RunUntil([&] { return gone; }));
    EXPECT_TRUE(finished);
}

TEST(CustomThread, FinishHandlerThatFreesTheOwnerEndsTheFinishStepThere) {
    // The handler frees the owner (and with it the component) itself: the
    // finish step must not touch either afterwards, nor make a fresh thread
    // object for a component that is gone (it would keep the hidden window).
    bool gone = false;
    auto* holder = new Holder(&gone);
    auto* thread = new TacCustomThread(holder);
    thread->FreeOwnerOnFinish = true;
    thread->SetOnFinish([&](fw::TObject*, int) { delete holder; });
    thread->Start();
    ASSERT_TRUE(RunUntil([&] { return gone; }));
    EXPECT_TRUE(RunUntil([] { return TacThreadWindow() == 0; }, 5000));
}

TEST(CustomThread, TheHiddenWindowGoesWithTheLastThreadObject) {
    {
        TacCustomThread a(nullptr);
        TacCustomThread b(nullptr);
        EXPECT_NE(TacThreadWindow(), 0u);
    }
    // Without a main form, freeing the last object pumps until the window is gone.
    EXPECT_EQ(TacThreadWindow(), 0u);
}

}  // namespace
