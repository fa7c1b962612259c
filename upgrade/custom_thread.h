#pragma once
// The worker thread: TacCustomThread, a component that runs a handler on a
// system thread of its own, and TacEventThread, the object that stands for one
// such thread. Every Start uses a fresh thread object (a clone of the last),
// so a thread is never restarted. Calls that must run on the main thread are
// handed over through one process-wide hidden window ("TacThreadWindow") by a
// sent message: the worker waits until the main thread has run the call.
//
// Stopping. A system thread cannot be stopped safely at an arbitrary point.
// Kill (and so Start over a busy run) and Suspend of a running thread cut the
// worker off instead: from then on its hand-overs are dropped (the hand-over
// it is blocked in returns at once), a hand-over it makes unwinds its handler
// with TacThreadCutOff, Terminated() is true for it, and the stop handler
// (OnStop) is called on the main thread to break off the blocking work the
// worker is doing (the HTTP component closes its internet handles). Kill then
// waits for the worker to end, delivering its sends meanwhile, for at most
// kCutOffBound ms; a worker that is blocked in a hand-over the main thread is
// running right now (Kill from inside one of its events) cannot end before
// that event returns: it is left to end and free itself, touching nothing of
// its component. The worker's code must therefore keep its state such that
// unwinding from a hand-over touches no state of the component.
//
// Threads: everything is for the main thread except Synchronize, Terminated
// and the handlers, which run on the worker (the run handler) or on the main
// thread (the error and finish handlers, and the calls handed over).

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/types.h"
#include "shell/ac_component.h"

enum class TThreadPriority {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};
using enum TThreadPriority;

class TacCustomThread;

// Run and finish handlers: Sender (the thread component) and an integer.
using TacThreadEvent = std::function<void(fw::TObject* Sender, int Value)>;
using TacThreadErrorEvent = std::function<void(fw::TObject* Sender)>;
using TacThreadMethod = std::function<void()>;
using TacWaitTimeoutEvent = std::function<void(fw::TObject* Sender, bool& Terminate)>;

// Thrown on a worker that was cut off, at its next hand-over; the thread
// procedure catches it. Not an fw::Exception, so no handler mistakes it for
// an error of its own.
struct TacThreadCutOff {};

// Private messages of the hidden thread window.
constexpr win::UINT CM_SYNCHRONIZE = 36863;    // 0x8FFF, lParam: the TacEventThread
constexpr win::UINT CM_RELEASEWINDOW = 36862;  // 0x8FFE

// How long Kill waits for a cut-off worker, in milliseconds.
constexpr int kCutOffBound = 10000;

class TacEventThread : public fw::TObject {
public:
    // Creates the system thread, held at its start until resumed.
    explicit TacEventThread(TacCustomThread* AOwner);
    // A thread that never ran is let go; a running one is asked to terminate
    // and waited for (its hand-overs are delivered meanwhile).
    ~TacEventThread() override;

    // Before the first resume: one more resume is needed. On a running
    // thread: cuts it off (see above).
    void Suspend();
    // Clears one suspension; the thread starts when the last one is cleared.
    void Resume();
    void Terminate();
    // Waits for the thread to end and returns its exit code. On the main
    // thread the worker's hand-overs are delivered meanwhile.
    int WaitFor();

    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority Value);

    // On the worker: runs Method on the main thread and returns after it ran.
    void Synchronize(const TacThreadMethod& Method);
    // A new suspended thread object with the same owner, priority and handlers.
    TacEventThread* Clone() const;

    // Cuts the worker off: its hand-overs are dropped from now on.
    void CutOff();
    bool IsCutOff() const;

    bool Terminated() const;
    bool Suspended() const;
    bool Running() const;
    bool Ended() const;
    // Running, or past its run but with its finish step not yet begun on the
    // main thread: stopping it now still drops all it would raise.
    bool Active() const;
    win::DWORD ThreadId() const { return threadId_; }
    TacCustomThread* Owner() const { return owner_; }

    bool FreeOnFinish = false;
    int ReturnValue = 0;
    TacThreadEvent OnRun;
    TacThreadErrorEvent OnError;
    TacThreadEvent OnFinish;

    // The thread object of the calling worker, nullptr elsewhere.
    static TacEventThread* Current();

private:
    friend class TacCustomThread;
    friend win::LRESULT ThreadWindowProc(win::HWND, win::UINT, win::WPARAM, win::LPARAM);
    void ThreadProc();
    void RunPending();
    void FinishStep();
    // Waits up to `ms` (-1: no limit) for the end, delivering sent messages
    // when called on the main thread.
    bool WaitEnd(int ms);
    // True while the main thread runs one of this worker's hand-overs.
    bool InHandOver() const;

    TacCustomThread* owner_;
    TThreadPriority priority_ = tpNormal;  // as last set, for clones
    std::thread thread_;
    win::DWORD threadId_ = 0;

    mutable std::mutex lock_;  // guards the fields below and wakes waiters
    std::condition_variable changed_;
    int suspendCount_ = 1;
    bool abandoned_ = false;  // let go before it ever ran
    bool started_ = false;
    bool running_ = false;
    bool ended_ = false;
    bool terminate_ = false;
    bool cutOff_ = false;
    bool selfFree_ = false;   // frees itself when its procedure ends
    bool finishing_ = false;  // its finish step has begun on the main thread
    bool sending_ = false;    // blocked in a hand-over
    bool delivered_ = false;  // that hand-over reached the main thread
    int inCall_ = 0;          // the main thread runs a hand-over of this worker

    TacThreadMethod pending_;
    std::exception_ptr pendingException_;
};

class TacCustomThread : public TacComponent {
public:
    explicit TacCustomThread(fw::TComponent* AOwner);
    // Kills a running worker, then frees the thread object.
    ~TacCustomThread() override;

    void Loaded() override;

    // Kills the current run, starts a fresh thread; with WaitForFinish waits
    // for it (see OnWaitTimeout). False only when a wait time-out ended it.
    bool Start();
    void Terminate();
    // Cuts the current worker off, waits for its end (bounded) and puts a
    // clone in its place.
    void Kill();
    void Suspend();
    bool Running() const;
    // See TacEventThread::Active.
    bool Active() const;

    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority Value);

    // On the worker: hands Method over to the main thread (skipped while the
    // component that owns this one is being destroyed). On the main thread it
    // runs Method at once.
    void Synchronize(const TacThreadMethod& Method);
    // On the worker: its terminate request, or whether it was cut off.
    bool Terminated() const;

    void SetOnRun(TacThreadEvent Handler);
    void SetOnError(TacThreadErrorEvent Handler);
    void SetOnFinish(TacThreadEvent Handler);
    // Called on the main thread when a worker is cut off, to break off what
    // it is blocked in.
    std::function<void()> OnStop;

    TacEventThread* Thread() const { return thread_; }

    bool Suspended = true;
    bool HandleExceptions = true;
    bool FreeOwnerOnFinish = false;
    bool WaitForFinish = false;
    win::DWORD WaitTimeout = 0;
    TacWaitTimeoutEvent OnWaitTimeout;

private:
    friend class TacEventThread;
    friend win::LRESULT ThreadWindowProc(win::HWND, win::UINT, win::WPARAM, win::LPARAM);
    bool OwnerDestroying() const;
    // Replaces the thread object by a clone.
    void Replace();
    // Cuts a live worker off and waits (bounded) for its end, then frees its
    // thread object (or leaves it to free itself).
    void StopThread(TacEventThread* old);

    TacEventThread* thread_ = nullptr;
    // Cleared when the component is destroyed, for a Start that waits in the
    // main loop while the finish step frees the component.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The hidden window shared by all thread objects (0 while none exists).
win::HWND TacThreadWindow();
