// Timers: each falls due every `elapse` ms; a due timer has at most one tick
// waiting, and a late tick does not make up for the missed ones.
#include <algorithm>

#include "platform/kernel.h"
#include "platform/user_internal.h"

namespace win {
namespace user {

void MarkDueTimersLocked(ThreadQueue* q, Clock::time_point now) {
    for (auto& t : q->timers) {
        if (now < t.due)
            continue;
        t.due = now + std::chrono::milliseconds(t.elapse);
        if (t.pending)
            continue;
        t.pending = true;
        ++q->arrived;
        // Every waiting tick has its own request, so the pump delivers it
        // whatever else is posted around it.
        RequestLocked(q, {PumpKind::Tick});
    }
}

std::optional<Clock::time_point> NextDueLocked(const ThreadQueue* q) {
    std::optional<Clock::time_point> next;
    for (const auto& t : q->timers)
        if (!next || t.due < *next)
            next = t.due;
    return next;
}

bool TakeTickLocked(ThreadQueue* q, MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
    for (auto& t : q->timers) {
        if (!t.pending)
            continue;
        if (hwnd && t.hwnd != hwnd)
            continue;
        if ((fmin || fmax) && (WM_TIMER < fmin || WM_TIMER > fmax))
            continue;
        *out = MSG{};
        out->hwnd = t.hwnd;
        out->message = WM_TIMER;
        out->wParam = t.id;
        out->lParam = reinterpret_cast<LPARAM>(t.proc);
        out->time = TickNow();
        if (remove)
            t.pending = false;
        return true;
    }
    return false;
}

void ForgetTimersLocked(ThreadQueue* q, HWND hwnd) {
    std::erase_if(q->timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
}

}  // namespace user

using namespace user;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (hwnd) {
        auto w = FindWindow(hwnd);
        if (!w || w->threadId != GetCurrentThreadId()) {
            SetLastError(w ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    auto q = CurrentQueueWithPump();
    elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);
    {
        std::lock_guard l(q->lock);
        if (!hwnd) {
            // Thread timers get an id of their own.
            UINT_PTR next = 1;
            for (auto& t : q->timers)
                if (!t.hwnd && t.id >= next)
                    next = t.id + 1;
            id = next;
        }
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        Timer t{hwnd, id, elapse, proc, Clock::now() + std::chrono::milliseconds(elapse)};
        if (it != q->timers.end())
            *it = t;
        else
            q->timers.push_back(t);
        q->cv.notify_all();
    }
    ReschedulePump(q.get());
    return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto q = CurrentQueue();
    bool removed;
    {
        std::lock_guard l(q->lock);
        removed = std::erase_if(q->timers,
                                [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) > 0;
    }
    ReschedulePump(q.get());
    return removed ? TRUE : FALSE;
}

}  // namespace win
