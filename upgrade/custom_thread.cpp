#include "upgrade/custom_thread.h"

#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>

#include "framework/application.h"
#include "platform/kernel.h"
#include "platform/user.h"

namespace {

using Clock = std::chrono::steady_clock;

// Thread priorities in the system's scale, by TThreadPriority, and the nice
// values that stand for them on Linux.
constexpr std::array<int, 7> kPriorities = {-15, -2, -1, 0, 1, 2, 15};
constexpr std::array<int, 7> kNice = {19, 10, 5, 0, -5, -10, -20};

thread_local TacEventThread* t_current = nullptr;

// The hidden window and its reference count, guarded by g_windowLock.
std::mutex g_windowLock;
win::HWND g_window = 0;
int g_windowRefs = 0;
std::shared_ptr<std::atomic<bool>> g_windowGone;  // set when the window is destroyed

constexpr char kWindowClass[] = "TacThreadWindow";

bool OnWindowThread() {
    win::HWND w = TacThreadWindow();
    return w && win::GetWindowThreadProcessId(w, nullptr) == win::GetCurrentThreadId();
}

}  // namespace

win::LRESULT ThreadWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                              win::LPARAM lParam) {
    if (msg == CM_RELEASEWINDOW) {
        std::shared_ptr<std::atomic<bool>> gone;
        {
            std::lock_guard l(g_windowLock);
            if (g_windowRefs == 0 && g_window) {
                win::DestroyWindow(g_window);
                g_window = 0;
                gone = g_windowGone;
            }
        }
        if (gone)
            *gone = true;
        return 0;
    }
    if (msg != CM_SYNCHRONIZE)
        return win::DefWindowProcA(hwnd, msg, wParam, lParam);

    auto* t = reinterpret_cast<TacEventThread*>(lParam);
    {
        std::lock_guard l(t->lock_);
        t->delivered_ = true;
        if (t->cutOff_)
            return 0;
        ++t->inCall_;
    }
    TacCustomThread* owner = t->owner_;
    if (!owner->OwnerDestroying()) {
        try {
            t->pending_();
        } catch (const TacThreadCutOff&) {
        } catch (...) {
            // Without HandleExceptions the worker raises it again; with it,
            // it is an exception that reached a handler, shown like any other.
            if (owner->HandleExceptions)
                fw::HandleCaughtException(owner);
            else
                t->pendingException_ = std::current_exception();
        }
    }
    std::lock_guard l(t->lock_);
    --t->inCall_;
    return 0;
}

win::HWND TacThreadWindow() {
    std::lock_guard l(g_windowLock);
    return g_window;
}

namespace {

void AcquireThreadWindow() {
    std::lock_guard l(g_windowLock);
    // A window whose release is still on its way is taken over again.
    if (g_windowRefs == 0 && !g_window) {
        win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
        win::WNDCLASSA wc{};
        const bool registered = win::GetClassInfoA(instance, kWindowClass, &wc);
        if (!registered || wc.lpfnWndProc != &ThreadWindowProc) {
            if (registered)
                win::UnregisterClassA(kWindowClass, instance);
            wc = win::WNDCLASSA{};
            wc.lpfnWndProc = &ThreadWindowProc;
            wc.hInstance = instance;
            wc.lpszClassName = kWindowClass;
            win::RegisterClassA(&wc);
        }
        g_window =
            win::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
    }
    ++g_windowRefs;
}

void ReleaseThreadWindow() {
    std::shared_ptr<std::atomic<bool>> gone;
    {
        std::lock_guard l(g_windowLock);
        if (--g_windowRefs == 0 && g_window) {
            win::PostMessageA(g_window, CM_RELEASEWINDOW, 0, 0);
            if (win::GetWindowThreadProcessId(g_window, nullptr) == win::GetCurrentThreadId() &&
                (!fw::Application || !fw::Application->MainForm())) {
                gone = std::make_shared<std::atomic<bool>>(false);
                g_windowGone = gone;
            }
        }
    }
    if (!gone || !QCoreApplication::instance())
        return;
    // Shutting down: pump until the release message has destroyed the window,
    // the application is told to end, or 10 s pass without any input.
    while (!*gone && !(fw::Application && fw::Application->Terminated())) {
        bool quiet = false;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] { quiet = true; });
        timer.start(10000);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (quiet)
            break;
    }
    std::lock_guard l(g_windowLock);
    if (g_windowGone == gone)
        g_windowGone.reset();
}

}  // namespace

// --- TacEventThread ----------------------------------------------------------

TacEventThread::TacEventThread(TacCustomThread* AOwner) : owner_(AOwner) {
    AcquireThreadWindow();
    thread_ = std::thread([this] { ThreadProc(); });
    std::unique_lock lk(lock_);
    changed_.wait(lk, [this] { return threadId_ != 0; });
}

TacEventThread::~TacEventThread() {
    bool wait = false;
    {
        std::lock_guard l(lock_);
        if (!started_) {
            abandoned_ = true;
        } else if (!ended_) {
            terminate_ = true;
            wait = true;
        }
    }
    changed_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // freeing itself at its end
    } else if (thread_.joinable()) {
        if (wait)
            WaitEnd(-1);
        thread_.join();
    }
    ReleaseThreadWindow();
}

TacEventThread* TacEventThread::Current() {
    return t_current;
}

void TacEventThread::ThreadProc() {
    t_current = this;
    {
        std::unique_lock lk(lock_);
        threadId_ = win::GetCurrentThreadId();
        changed_.notify_all();
        changed_.wait(lk, [this] { return suspendCount_ == 0 || abandoned_; });
        if (abandoned_) {
            ended_ = true;
            changed_.notify_all();
            return;
        }
        started_ = true;
        running_ = true;
    }
    // Run step.
    try {
        if (OnRun && !IsCutOff()) {
            if (owner_->HandleExceptions) {
                try {
                    OnRun(owner_, 0);
                } catch (const TacThreadCutOff&) {
                    throw;
                } catch (...) {
                    if (OnError && !IsCutOff()) {
                        TacThreadErrorEvent handler = OnError;
                        TacCustomThread* owner = owner_;
                        Synchronize([handler, owner] {
                            if (!owner->OwnerDestroying())
                                handler(owner);
                        });
                    }
                }
            } else {
                OnRun(owner_, 0);
            }
        }
    } catch (...) {
        // A cut-off worker, or an unguarded run ended by an exception: the
        // finish step follows all the same.
    }
    // Finish.
    bool freeOnFinish;
    {
        std::lock_guard l(lock_);
        freeOnFinish = FreeOnFinish;
        running_ = false;
    }
    if (OnFinish && !IsCutOff()) {
        try {
            Synchronize([this] { FinishStep(); });
        } catch (...) {
        }
    }
    win::HWND window = TacThreadWindow();
    bool selfFree;
    {
        std::lock_guard l(lock_);
        ended_ = true;
        selfFree = selfFree_ || freeOnFinish;
        changed_.notify_all();
    }
    // Wakes a Start that waits for this worker in the main loop.
    if (window)
        win::PostMessageA(window, win::WM_NULL, 0, 0);
    t_current = nullptr;
    if (selfFree)
        delete this;
}

void TacEventThread::FinishStep() {
    {
        std::lock_guard l(lock_);
        finishing_ = true;
    }
    TacCustomThread* owner = owner_;
    // The handler may free the component (and so its owner): from then on
    // nothing of it is touched.
    const bool freeOwner = owner->FreeOwnerOnFinish;
    const std::shared_ptr<bool> alive = owner->alive_;
    if (OnFinish && !owner->OwnerDestroying()) {
        if (owner->HandleExceptions) {
            try {
                OnFinish(owner, ReturnValue);
            } catch (...) {
                if (OnError && *alive)
                    fw::CallGuarded(owner, [&] { OnError(owner); });
            }
        } else {
            OnFinish(owner, ReturnValue);
        }
    }
    if (freeOwner && *alive) {
        // This object frees itself (free-on-finish), so the component takes a
        // fresh one whether or not it has an owner to free.
        owner->thread_ = Clone();
        if (owner->Owner())
            delete owner->Owner();
    }
}

void TacEventThread::Synchronize(const TacThreadMethod& Method) {
    {
        std::lock_guard l(lock_);
        if (cutOff_)
            throw TacThreadCutOff{};
        pending_ = Method;
        pendingException_ = nullptr;
        sending_ = true;
        delivered_ = false;
    }
    changed_.notify_all();
    win::SendMessageA(TacThreadWindow(), CM_SYNCHRONIZE, 0, reinterpret_cast<win::LPARAM>(this));
    std::exception_ptr ex;
    bool cut;
    {
        std::lock_guard l(lock_);
        sending_ = false;
        pending_ = nullptr;
        ex = std::exchange(pendingException_, nullptr);
        cut = cutOff_;
    }
    changed_.notify_all();
    if (cut)
        throw TacThreadCutOff{};
    if (ex)
        std::rethrow_exception(ex);
}

bool TacEventThread::WaitEnd(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    const bool onMain = OnWindowThread();
    for (;;) {
        if (onMain) {
            // Delivers what this worker (or any other thread) sends us.
            win::MSG m;
            win::PeekMessageA(&m, 0, 0, 0, win::PM_NOREMOVE);
        }
        std::unique_lock lk(lock_);
        if (ended_)
            return true;
        if (ms >= 0 && Clock::now() >= deadline)
            return false;
        if (onMain && sending_ && !delivered_) {
            // The worker's send is on its way into our queue.
            lk.unlock();
            std::this_thread::yield();
            continue;
        }
        auto ready = [&] { return ended_ || (onMain && sending_ && !delivered_); };
        if (ms < 0)
            changed_.wait(lk, ready);
        else
            changed_.wait_until(lk, deadline, ready);
    }
}

int TacEventThread::WaitFor() {
    WaitEnd(-1);
    return ReturnValue;
}

void TacEventThread::Suspend() {
    {
        std::lock_guard l(lock_);
        if (!started_) {
            ++suspendCount_;
            return;
        }
        if (ended_)
            return;
    }
    // A running thread cannot be held safely at an arbitrary point: it is cut
    // off and ends at its next safe point.
    CutOff();
    if (owner_->OnStop)
        owner_->OnStop();
}

void TacEventThread::Resume() {
    std::lock_guard l(lock_);
    if (suspendCount_ > 0 && --suspendCount_ == 0) {
        // Started and running from the resume on, so that a component reports
        // itself busy as soon as its run is started, and a stop that follows
        // at once cuts the worker off (bounded) instead of waiting for a run
        // it took for one that never began.
        if (!started_ && !abandoned_) {
            started_ = true;
            running_ = true;
        }
        changed_.notify_all();
    }
}

void TacEventThread::Terminate() {
    std::lock_guard l(lock_);
    terminate_ = true;
}

void TacEventThread::CutOff() {
    {
        std::lock_guard l(lock_);
        cutOff_ = true;
        terminate_ = true;
    }
    changed_.notify_all();
}

bool TacEventThread::IsCutOff() const {
    std::lock_guard l(lock_);
    return cutOff_;
}

bool TacEventThread::Terminated() const {
    std::lock_guard l(lock_);
    return terminate_ || cutOff_;
}

bool TacEventThread::Suspended() const {
    std::lock_guard l(lock_);
    return suspendCount_ > 0 || (cutOff_ && !ended_);
}

bool TacEventThread::Running() const {
    std::lock_guard l(lock_);
    return running_;
}

bool TacEventThread::Ended() const {
    std::lock_guard l(lock_);
    return ended_;
}

bool TacEventThread::Active() const {
    std::lock_guard l(lock_);
    return running_ || (started_ && !ended_ && !finishing_);
}

bool TacEventThread::InHandOver() const {
    std::lock_guard l(lock_);
    return inCall_ > 0;
}

TThreadPriority TacEventThread::Priority() const {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(threadId_));
    if (nice == -1 && errno != 0)
        return tpNormal;
    for (int i = static_cast<int>(kNice.size()) - 1; i >= 0; --i)
        if (kNice[static_cast<size_t>(i)] == nice)
            return static_cast<TThreadPriority>(i);
    return tpNormal;
}

void TacEventThread::SetPriority(TThreadPriority Value) {
    const size_t index = static_cast<size_t>(Value) & 0x7F;
    if (index >= kPriorities.size())
        return;
    priority_ = static_cast<TThreadPriority>(index);
    // Raising a priority needs a privilege; without it the thread keeps its
    // priority, as a refused system call would leave it.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId_), kNice[index]);
}

TacEventThread* TacEventThread::Clone() const {
    auto* t = new TacEventThread(owner_);
    t->SetPriority(priority_);
    t->OnRun = OnRun;
    t->OnError = OnError;
    t->OnFinish = OnFinish;
    return t;
}

// --- TacCustomThread ---------------------------------------------------------

TacCustomThread::TacCustomThread(fw::TComponent* AOwner) : TacComponent(AOwner) {
    thread_ = new TacEventThread(this);
}

TacCustomThread::~TacCustomThread() {
    *alive_ = false;
    TacEventThread* old = std::exchange(thread_, nullptr);
    StopThread(old);
}

void TacCustomThread::StopThread(TacEventThread* old) {
    bool live;
    {
        std::lock_guard l(old->lock_);
        live = old->started_ && !old->ended_;
    }
    if (!live) {
        delete old;
        return;
    }
    old->CutOff();
    if (OnStop)
        OnStop();
    if (!old->InHandOver() && old->WaitEnd(kCutOffBound)) {
        delete old;
        return;
    }
    // Still blocked in a hand-over that runs now (or, past the bound, in
    // something that ignores the stop): it ends by itself and frees itself,
    // touching nothing of this component on the way.
    std::unique_lock l(old->lock_);
    if (old->ended_) {
        l.unlock();
        delete old;
    } else {
        old->selfFree_ = true;
    }
}

void TacCustomThread::Loaded() {
    TacComponent::Loaded();
    if (!Suspended)
        thread_->Resume();
}

void TacCustomThread::Replace() {
    TacEventThread* old = thread_;
    thread_ = old->Clone();
    StopThread(old);
}

void TacCustomThread::Kill() {
    Replace();
}

bool TacCustomThread::Start() {
    Kill();
    if (FreeOwnerOnFinish)
        thread_->FreeOnFinish = true;
    TacEventThread* t = thread_;
    t->Resume();
    if (!WaitForFinish)
        return true;

    const std::shared_ptr<bool> alive = alive_;
    const bool limited = WaitTimeout != 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WaitTimeout);
    for (;;) {
        // With FreeOwnerOnFinish the finish step replaces (and frees) `t`, and
        // may free this component.
        if (!*alive || thread_ != t || t->Ended())
            return true;
        if (IsDestroying() || (fw::Application && fw::Application->Terminated()))
            return true;
        if (limited && Clock::now() >= deadline) {
            bool terminate = true;
            if (OnWaitTimeout)
                OnWaitTimeout(this, terminate);
            if (terminate)
                Kill();
            return !terminate;
        }
        // Any input or the worker's end wakes us; the time-out is a timer.
        QTimer timer;
        if (limited) {
            timer.setSingleShot(true);
            timer.start(static_cast<int>(std::max<long long>(
                1, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count())));
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void TacCustomThread::Terminate() {
    thread_->Terminate();
}

void TacCustomThread::Suspend() {
    thread_->Suspend();
}

bool TacCustomThread::Running() const {
    return thread_->Running();
}

bool TacCustomThread::Active() const {
    return thread_->Active();
}

TThreadPriority TacCustomThread::Priority() const {
    return thread_->Priority();
}

void TacCustomThread::SetPriority(TThreadPriority Value) {
    thread_->SetPriority(Value);
}

void TacCustomThread::Synchronize(const TacThreadMethod& Method) {
    TacEventThread* t = TacEventThread::Current();
    if (!t) {
        Method();
        return;
    }
    if (t->IsCutOff())
        throw TacThreadCutOff{};
    t->Synchronize(Method);
}

bool TacCustomThread::Terminated() const {
    TacEventThread* t = TacEventThread::Current();
    return (t ? t : thread_)->Terminated();
}

bool TacCustomThread::OwnerDestroying() const {
    return IsDestroying() || (Owner() && Owner()->IsDestroying());
}

void TacCustomThread::SetOnRun(TacThreadEvent Handler) {
    thread_->OnRun = std::move(Handler);
}

void TacCustomThread::SetOnError(TacThreadErrorEvent Handler) {
    thread_->OnError = std::move(Handler);
}

void TacCustomThread::SetOnFinish(TacThreadEvent Handler) {
    thread_->OnFinish = std::move(Handler);
}
