// The per-thread message queues: posting, sending across threads, taking and
// dispatching messages, waiting, quit.
#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/kernel.h"
#include "platform/user_internal.h"

namespace win {
namespace user {
namespace {

std::mutex g_queuesLock;  // guards g_queues only
std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> g_queues;

void EndThread(const std::shared_ptr<ThreadQueue>& q) {
    std::deque<std::shared_ptr<SentMessage>> waiting;
    {
        std::lock_guard l(q->lock);
        q->ended = true;
        waiting.swap(q->sent);
    }
    for (auto& sm : waiting)
        sm->finish(0);
    ForgetThreadWindows(q->threadId);
    std::lock_guard g(g_queuesLock);
    g_queues.erase(q->threadId);
}

// The calling thread's queue; when the thread ends, so do its windows, and
// senders waiting on them are released.
struct ThreadQueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadQueueHolder() {
        if (queue)
            EndThread(queue);
    }
};
thread_local ThreadQueueHolder t_holder;

bool Matches(const MSG& m, HWND hwnd, UINT fmin, UINT fmax) {
    if (hwnd && m.hwnd != hwnd)
        return false;
    if (fmin == 0 && fmax == 0)
        return true;
    return m.message >= fmin && m.message <= fmax;
}

// Takes the next message for the calling thread in Windows' order: posted
// messages, then the quit message, then timer ticks. Looking counts as having
// seen what has arrived so far.
bool TakeLocked(ThreadQueue* q, MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
    MarkDueTimersLocked(q, Clock::now());
    q->seen = q->arrived;
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (Matches(it->msg, hwnd, fmin, fmax)) {
            *out = it->msg;
            if (remove)
                q->posted.erase(it);
            return true;
        }
    }
    if (q->quitPosted) {
        *out = MSG{};
        out->message = WM_QUIT;
        out->wParam = static_cast<WPARAM>(q->quitCode);
        out->time = TickNow();
        if (remove)
            q->quitPosted = false;
        return true;
    }
    return TakeTickLocked(q, out, hwnd, fmin, fmax, remove);
}

// Waits until the queue may hold something new. Called with the lock held
// through `lk`.
void WaitLocked(ThreadQueue* q, std::unique_lock<std::mutex>& lk) {
    if (q->pump) {
        WaitInQtLoop(q, lk);
        return;
    }
    if (auto next = NextDueLocked(q))
        q->cv.wait_until(lk, *next);
    else
        q->cv.wait(lk);
}

}  // namespace

DWORD TickNow() {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
    auto& q = t_holder.queue;
    if (!q) {
        q = std::make_shared<ThreadQueue>();
        q->threadId = GetCurrentThreadId();
        std::lock_guard g(g_queuesLock);
        g_queues[q->threadId] = q;
    }
    return q;
}

std::shared_ptr<ThreadQueue> CurrentQueueWithPump() {
    auto q = CurrentQueue();
    AttachPumpIfQtThread(q);
    return q;
}

std::shared_ptr<ThreadQueue> QueueOfThread(DWORD threadId) {
    if (threadId == GetCurrentThreadId())
        return CurrentQueueWithPump();
    std::lock_guard g(g_queuesLock);
    auto it = g_queues.find(threadId);
    return it == g_queues.end() ? nullptr : it->second.lock();
}

void HandleIncomingSends(ThreadQueue* self) {
    for (;;) {
        std::shared_ptr<SentMessage> sm;
        {
            std::lock_guard l(self->lock);
            if (self->sent.empty())
                return;
            sm = std::move(self->sent.front());
            self->sent.pop_front();
            ++self->handlingSend;
        }
        LRESULT result = 0;
        if (auto w = FindWindow(sm->hwnd))
            result = CallProc(*w, sm->msg, sm->wParam, sm->lParam);
        {
            std::lock_guard l(self->lock);
            --self->handlingSend;
        }
        sm->finish(result);
    }
}

bool QueueSend(ThreadQueue* target, std::shared_ptr<SentMessage> sm) {
    std::lock_guard l(target->lock);
    if (target->ended)
        return false;
    target->sent.push_back(std::move(sm));
    ++target->arrived;
    target->cv.notify_all();
    RequestSendsLocked(target);
    return true;
}

void WaitForAnswer(ThreadQueue* self, const Answer& answer) {
    std::unique_lock lk(self->lock);
    while (!answer.done) {
        if (!self->sent.empty()) {
            lk.unlock();
            HandleIncomingSends(self);
            lk.lock();
            continue;
        }
        self->cv.wait(lk);
    }
}

BOOL PostToQueue(ThreadQueue* q, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = TickNow();
    std::lock_guard l(q->lock);
    const std::uint64_t seq = q->nextSeq++;
    q->posted.push_back({m, seq});
    ++q->arrived;
    q->cv.notify_all();
    RequestLocked(q, {PumpKind::Posted, seq});
    return TRUE;
}

}  // namespace user

using namespace user;

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == 0)
        return PostThreadMessageA(GetCurrentThreadId(), msg, wParam, lParam);
    if (hwnd == HWND_BROADCAST) {
        for (const auto& [h, q] : LiveTopLevelWindows())
            PostToQueue(q.get(), h, msg, wParam, lParam);
        return TRUE;
    }
    if (auto q = QueueOfLiveWindow(hwnd))
        return PostToQueue(q.get(), hwnd, msg, wParam, lParam);
    if (FindWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return PostToOtherProcess(hwnd, msg, wParam, lParam);
}

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto q = QueueOfThread(threadId);
    if (!q) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return PostToQueue(q.get(), 0, msg, wParam, lParam);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto w = FindWindow(hwnd);
    if (!w)
        return SendToOtherProcess(hwnd, msg, wParam, lParam);
    auto target = w->queue.lock();
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->threadId == GetCurrentThreadId())
        return CallProc(*w, msg, wParam, lParam);

    auto self = CurrentQueue();
    auto answer = std::make_shared<Answer>();
    auto sm = std::make_shared<SentMessage>();
    *sm = {hwnd, msg, wParam, lParam, [answer, self](LRESULT r) {
               std::lock_guard l(self->lock);
               answer->result = r;
               answer->done = true;
               self->cv.notify_all();
           }};
    if (!QueueSend(target.get(), sm))
        return 0;
    WaitForAnswer(self.get(), *answer);
    return answer->result;
}

BOOL InSendMessage() {
    auto q = CurrentQueue();
    std::lock_guard l(q->lock);
    return q->handlingSend > 0 ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (hwnd && !IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    auto q = CurrentQueueWithPump();
    for (;;) {
        HandleIncomingSends(q.get());
        std::unique_lock lk(q->lock);
        if (!q->sent.empty())
            continue;
        if (TakeLocked(q.get(), msg, hwnd, filterMin, filterMax, true)) {
            lk.unlock();
            ReschedulePump(q.get());
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        WaitLocked(q.get(), lk);
    }
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    auto q = CurrentQueueWithPump();
    HandleIncomingSends(q.get());
    bool found;
    {
        std::lock_guard l(q->lock);
        found = TakeLocked(q.get(), msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0);
    }
    if (found)
        ReschedulePump(q.get());
    return found ? TRUE : FALSE;
}

BOOL WaitMessage() {
    auto q = CurrentQueueWithPump();
    for (;;) {
        HandleIncomingSends(q.get());
        std::unique_lock lk(q->lock);
        MarkDueTimersLocked(q.get(), Clock::now());
        if (q->arrived != q->seen) {
            q->seen = q->arrived;
            return TRUE;
        }
        WaitLocked(q.get(), lk);
    }
}

BOOL TranslateMessage(const MSG* msg) {
    // Key messages come from Qt as characters already; nothing to translate.
    (void)msg;
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, TickNow());
        return 0;
    }
    if (!msg->hwnd)
        return 0;
    auto w = FindWindow(msg->hwnd);
    if (!w || w->destroying)
        return 0;
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    // Modal loops started by the handler pump through Qt, so the pump must
    // deliver again while this message is handled.
    auto q = CurrentQueue();
    int depth;
    {
        std::lock_guard l(q->lock);
        depth = std::exchange(q->waitDepth, 0);
    }
    LRESULT r = CallProc(*w, msg->message, msg->wParam, msg->lParam);
    std::lock_guard l(q->lock);
    q->waitDepth = depth;
    return r;
}

void PostQuitMessage(int exitCode) {
    auto q = CurrentQueueWithPump();
    std::lock_guard l(q->lock);
    q->quitPosted = true;
    q->quitCode = exitCode;
    ++q->arrived;
    q->cv.notify_all();
    RequestLocked(q.get(), {PumpKind::Quit});
}

}  // namespace win
