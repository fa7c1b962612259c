#pragma once
// Private to the user area (platform/user_*.cpp): the tables of windows and
// classes, the per-thread queues, and what the files of the area call of each
// other.
//
// Locks. Each lock guards one thing, and they never nest: a function holds at
// most one of them at a time, and holds none while it calls a window
// procedure, a timer procedure or into Qt's event loop.
//   g_tablesLock       the window and class tables, the registered messages
//                      and each Window's fields (user_windows.cpp)
//   g_queuesLock       the table from thread id to queue (user_queue.cpp)
//   ThreadQueue::lock  one thread's queue: posted and sent messages, timers,
//                      quit, its pump state (user_queue.cpp, user_timers.cpp,
//                      user_pump.cpp)
//   g_thunkLock        the window procedure instances (user_thunks.cpp)
//   Handles::lock_     this process's handle blocks (user_handles.cpp)
// A thread waiting for a sent message's answer waits on its own queue's
// condition, so the answer is stored under the sender's queue lock.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/user.h"

namespace win::user {

using Clock = std::chrono::steady_clock;

DWORD TickNow();
std::string Lower(LPCSTR s);

// A message sent to a window of another thread (or another process); it waits
// in the queue of the window's thread until that thread handles it.
struct SentMessage {
    HWND hwnd = 0;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // Called once with the answer: by the handling thread, or with 0 when the
    // window's thread ends first.
    std::function<void(LRESULT)> finish;
};

struct Timer {
    HWND hwnd = 0;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    Clock::time_point due;
    // A tick is waiting to be delivered; there is never more than one.
    bool pending = false;
};

struct Posted {
    MSG msg;
    std::uint64_t seq;  // names the Qt event that delivers it
};

class QueuePump;

// What the Qt pump is asked to deliver; see user_pump.cpp.
enum class PumpKind { Posted, Tick, Quit };
struct PumpRequest {
    PumpKind kind;
    std::uint64_t seq = 0;  // the posted message, for PumpKind::Posted
};

struct ThreadQueue {
    DWORD threadId = 0;
    std::mutex lock;
    std::condition_variable cv;
    std::deque<Posted> posted;
    std::uint64_t nextSeq = 1;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quitPosted = false;
    int quitCode = 0;
    // Set when the thread has ended: its windows are gone and sends to it
    // return 0 at once.
    bool ended = false;
    int handlingSend = 0;
    // Counts input as it arrives (posted, sent, quit, a tick falling due);
    // `seen` is the count when the thread last looked at its queue, so that
    // WaitMessage waits for input that is new since then.
    std::uint64_t arrived = 0;
    std::uint64_t seen = 0;
    // Set on the thread that runs the Qt event loop: that loop pumps this
    // queue. The pump belongs to the Qt application object.
    QueuePump* pump = nullptr;
    // > 0 while GetMessageA or WaitMessage waits on this thread, so that the
    // pump leaves messages and ticks for them to take.
    int waitDepth = 0;
    // What the pump was asked to deliver while such a wait ran; asked again
    // when it ends, so nothing is left without its Qt event.
    std::vector<PumpRequest> deferred;
};

// --- Queues (user_queue.cpp) ---
// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> CurrentQueue();
// The same, with the Qt pump attached when this thread runs the Qt loop.
std::shared_ptr<ThreadQueue> CurrentQueueWithPump();
std::shared_ptr<ThreadQueue> QueueOfThread(DWORD threadId);
// Handles every message that other threads have sent to this thread's windows.
void HandleIncomingSends(ThreadQueue* self);
// Queues a send for the window's thread; false when that thread has ended.
bool QueueSend(ThreadQueue* target, std::shared_ptr<SentMessage> sm);
BOOL PostToQueue(ThreadQueue* q, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The answer to a send, stored under the sender's queue lock.
struct Answer {
    LRESULT result = 0;
    bool done = false;
};
// Waits on the calling thread's queue until the answer is done, handling the
// sends made to this thread's windows meanwhile, so that two threads (or
// processes) sending to each other never deadlock.
void WaitForAnswer(ThreadQueue* self, const Answer& answer);

// --- Timers (user_timers.cpp); all with q->lock held ---
// Marks the timers whose time has come and asks the pump for their ticks.
void MarkDueTimersLocked(ThreadQueue* q, Clock::time_point now);
std::optional<Clock::time_point> NextDueLocked(const ThreadQueue* q);
// Takes a waiting tick that passes the filter into `out`.
bool TakeTickLocked(ThreadQueue* q, MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove);
void ForgetTimersLocked(ThreadQueue* q, HWND hwnd);

// --- The Qt pump (user_pump.cpp) ---
// Attaches the pump when the calling thread runs the Qt loop and has none yet.
void AttachPumpIfQtThread(const std::shared_ptr<ThreadQueue>& q);
// Asks the pump (if any) to deliver; with q->lock held.
void RequestLocked(ThreadQueue* q, PumpRequest r);
// Asks the pump to handle incoming sends; with q->lock held.
void RequestSendsLocked(ThreadQueue* q);
// Re-arms the pump's timer for the next due tick; on the queue's own thread,
// without q->lock.
void ReschedulePump(ThreadQueue* q);
// Runs the Qt loop until something arrives; `lk` holds q->lock and is
// released meanwhile.
void WaitInQtLoop(ThreadQueue* q, std::unique_lock<std::mutex>& lk);

// --- Windows (user_windows.cpp) ---
struct Window {
    HWND handle = 0;
    DWORD threadId = 0;
    std::weak_ptr<ThreadQueue> queue;
    std::string classKey;
    WNDPROC proc = nullptr;
    std::vector<BYTE> extra;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HINSTANCE instance = nullptr;
    HWND parent = 0;
    std::string text;
    bool destroying = false;
};

std::shared_ptr<Window> FindWindow(HWND hwnd);
// The queue of a live window of this process (not being destroyed), or null.
std::shared_ptr<ThreadQueue> QueueOfLiveWindow(HWND hwnd);
// The live top-level windows of this process (no parent, not WS_CHILD), with
// their queues.
std::vector<std::pair<HWND, std::shared_ptr<ThreadQueue>>> LiveTopLevelWindows();
// Calls the window's current procedure (or DefWindowProcA).
LRESULT CallProc(const Window& w, UINT msg, WPARAM wParam, LPARAM lParam);
// Forgets every window of a thread that has ended.
void ForgetThreadWindows(DWORD threadId);

// --- Handles (user_handles.cpp) ---
// The folder that the user's processes share for their windows: the private
// runtime folder, or empty when there is none (windows are then reachable from
// this process only).
const std::string& WindowsFolder();
// A handle that no live window of the user has; 0 when none is left.
HWND NewHandle();
// The other process that owns the handle's block, or 0 (a handle of ours, or
// of no live block).
pid_t OwnerOfHandle(HWND h);
// Forgets the block of a handle whose owner has ended.
void ForgetOwnerOfHandle(HWND h);

// An open file descriptor, closed on every path out.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// --- Other processes (user_remote.cpp) ---
// Starts answering other processes of the user (once; not without the folder).
void ListenToOtherProcesses();
// The same calls for a handle that is not a window of this process; they fail
// at once with ERROR_INVALID_WINDOW_HANDLE where no live process owns it.
BOOL PostToOtherProcess(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendToOtherProcess(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The thread and process of another process's window; 0 when there is none.
DWORD ThreadOfOtherProcessWindow(HWND hwnd, DWORD* processId);

}  // namespace win::user
