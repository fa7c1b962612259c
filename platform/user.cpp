#include "platform/user.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel.h"

namespace win {
namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(LPCSTR s) {
    std::string out = s ? s : "";
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

DWORD TickNow() {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

struct ThreadQueue;

// A message sent from another thread; it lives on the sender's stack until
// `done` is set under the sender's queue lock.
struct SentMessage {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    Clock::time_point due;
    bool pending = false;
};

class QueuePump;

struct Posted {
    MSG msg;
    std::uint64_t seq;  // names the Qt event that delivers it
};

struct ThreadQueue {
    DWORD threadId = 0;
    std::mutex lock;  // guards every field below
    std::condition_variable cv;
    std::deque<Posted> posted;
    std::uint64_t nextSeq = 1;
    std::deque<SentMessage*> sent;
    std::vector<Timer> timers;
    bool quitPosted = false;
    // Set when the thread has ended: its windows are gone and sends to it
    // return 0 at once.
    bool ended = false;
    int quitCode = 0;
    int handlingSend = 0;
    // Set on the thread that runs the Qt event loop: that loop pumps this queue.
    QueuePump* pump = nullptr;
    // > 0 while GetMessageA or WaitMessage waits on this thread, so that the Qt
    // pump leaves posted messages for them to take.
    int waitDepth = 0;
    // Posted messages whose Qt event came while such a wait ran; their events
    // are posted again when it ends, so no message is left without one.
    std::vector<std::uint64_t> skipped;
};

// Each posted message has its own Qt event, which delivers exactly that message
// if it is still waiting (a peek may have taken it). Ticks and quit use events
// of sequence 0; a send wakes the loop without taking any posted message.
constexpr QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 0x51);
constexpr QEvent::Type kSendEvent = static_cast<QEvent::Type>(QEvent::User + 0x52);

class WakeEvent : public QEvent {
public:
    explicit WakeEvent(std::uint64_t seq) : QEvent(kWakeEvent), seq(seq) {}
    const std::uint64_t seq;
};

// Delivers the main thread's messages from inside Qt's event loop: one Qt event
// a posted message keeps window messages and Qt events in their common order.
class QueuePump : public QObject {
public:
    explicit QueuePump(ThreadQueue* q) : queue_(q) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    }
    bool event(QEvent* e) override;
    void Reschedule();

private:
    void OnTimer();
    ThreadQueue* queue_;
    QTimer timer_;
};

struct WindowClass {
    WNDCLASSA wc;
    std::string name;
    ATOM atom = 0;
    int windows = 0;
};

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

// One lock for the process-wide tables; window procedures are never called
// while it is held.
std::mutex g_lock;
std::unordered_map<HWND, std::shared_ptr<Window>> g_windows;
std::map<std::string, WindowClass> g_classes;  // key: instance + lower-case name
std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> g_queues;
std::map<std::string, UINT> g_registeredMessages;
ATOM g_nextAtom = 0xC000;
DWORD g_nextSlot = 1;

void EndThread(const std::shared_ptr<ThreadQueue>& q);

// The calling thread's queue; when the thread ends, so do its windows, and
// senders waiting on them are released.
struct ThreadQueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadQueueHolder() {
        if (queue) EndThread(queue);
    }
};
thread_local ThreadQueueHolder t_holder;

std::shared_ptr<ThreadQueue> CurrentQueue() {
    auto& q = t_holder.queue;
    if (!q) {
        q = std::make_shared<ThreadQueue>();
        q->threadId = GetCurrentThreadId();
        std::lock_guard g(g_lock);
        g_queues[q->threadId] = q;
    }
    return q;
}

bool IsQtLoopThread() {
    auto* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

// Called with q->lock held. `seq` is the posted message to deliver, 0 for a
// tick or quit.
void WakeLocked(ThreadQueue* q, std::uint64_t seq) {
    q->cv.notify_all();
    if (q->pump) QCoreApplication::postEvent(q->pump, new WakeEvent(seq));
}

void WakeForSendLocked(ThreadQueue* q) {
    q->cv.notify_all();
    if (q->pump) QCoreApplication::postEvent(q->pump, new QEvent(kSendEvent));
}

// The calling thread's queue, with its Qt pump attached when this thread runs
// the Qt event loop.
std::shared_ptr<ThreadQueue> CurrentQueueWithPump() {
    auto q = CurrentQueue();
    if (!q->pump && IsQtLoopThread()) {
        auto* pump = new QueuePump(q.get());
        // Without the Qt loop the queue goes back to waiting on its condition.
        std::weak_ptr<ThreadQueue> weak = q;
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [pump, weak] {
            if (auto queue = weak.lock()) {
                std::lock_guard l(queue->lock);
                queue->pump = nullptr;
            }
            delete pump;
        });
        std::lock_guard l(q->lock);
        q->pump = pump;
        // Messages posted before the loop existed still get their Qt event.
        for (const auto& p : q->posted) QCoreApplication::postEvent(pump, new WakeEvent(p.seq));
        if (q->quitPosted) QCoreApplication::postEvent(pump, new WakeEvent(0));
        if (!q->sent.empty()) QCoreApplication::postEvent(pump, new QEvent(kSendEvent));
    }
    return q;
}

std::shared_ptr<Window> FindWindowLocked(HWND hwnd) {
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end()) return nullptr;
    return it->second;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
    std::lock_guard g(g_lock);
    return FindWindowLocked(hwnd);
}

std::string ClassKey(HINSTANCE instance, LPCSTR name) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p|", instance);
    return buf + Lower(name);
}

WindowClass* FindClassLocked(HINSTANCE instance, LPCSTR name) {
    auto it = g_classes.find(ClassKey(instance, name));
    if (it != g_classes.end()) return &it->second;
    // A class of another instance serves too, as the system's global classes do.
    std::string lower = Lower(name);
    for (auto& [key, cls] : g_classes)
        if (Lower(cls.name.c_str()) == lower) return &cls;
    return nullptr;
}

// Handles are pid * 1024 + slot, so they fit 32 bits and differ between the
// user's processes.
HWND NewHandleLocked() {
    const DWORD base = (GetCurrentProcessId() & 0x3FFFFF) << 10;
    for (int tries = 0; tries < 1023; ++tries) {
        DWORD slot = g_nextSlot;
        g_nextSlot = g_nextSlot % 1023 + 1;
        HWND h = base | slot;
        if (!g_windows.count(h)) return h;
    }
    return 0;
}

LRESULT CallProc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc;
    {
        std::lock_guard g(g_lock);
        proc = w->proc;
    }
    return proc ? proc(w->handle, msg, wParam, lParam) : DefWindowProcA(w->handle, msg, wParam, lParam);
}

void HandleSent(ThreadQueue* self, SentMessage* sm) {
    LRESULT result = 0;
    if (auto w = FindWindow(sm->hwnd)) {
        {
            std::lock_guard l(self->lock);
            ++self->handlingSend;
        }
        result = CallProc(w, sm->msg, sm->wParam, sm->lParam);
        std::lock_guard l(self->lock);
        --self->handlingSend;
    }
    auto sender = sm->sender;
    std::lock_guard l(sender->lock);
    sm->result = result;
    sm->done = true;
    sender->cv.notify_all();
}

// Handles every message that other threads have sent to this thread's windows.
void HandleIncomingSends(ThreadQueue* self) {
    for (;;) {
        SentMessage* sm;
        {
            std::lock_guard l(self->lock);
            if (self->sent.empty()) return;
            sm = self->sent.front();
            self->sent.pop_front();
        }
        HandleSent(self, sm);
    }
}

void EndThread(const std::shared_ptr<ThreadQueue>& q) {
    std::deque<SentMessage*> waiting;
    {
        std::lock_guard l(q->lock);
        q->ended = true;
        waiting.swap(q->sent);
    }
    for (SentMessage* sm : waiting) {
        auto sender = sm->sender;
        std::lock_guard l(sender->lock);
        sm->done = true;
        sender->cv.notify_all();
    }
    std::lock_guard g(g_lock);
    for (auto it = g_windows.begin(); it != g_windows.end();) {
        if (it->second->threadId != q->threadId) {
            ++it;
            continue;
        }
        auto cls = g_classes.find(it->second->classKey);
        if (cls != g_classes.end()) --cls->second.windows;
        it = g_windows.erase(it);
    }
    g_queues.erase(q->threadId);
}

bool Matches(const MSG& m, HWND hwnd, UINT fmin, UINT fmax) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (fmin == 0 && fmax == 0) return true;
    return m.message >= fmin && m.message <= fmax;
}

// Marks timers whose time has come; called with q->lock held.
void MarkDueTimersLocked(ThreadQueue* q, Clock::time_point now) {
    for (auto& t : q->timers) {
        if (now >= t.due) {
            t.pending = true;
            // A late tick does not make up for the missed ones.
            t.due = now + std::chrono::milliseconds(t.elapse);
        }
    }
}

std::optional<Clock::time_point> NextDueLocked(ThreadQueue* q) {
    std::optional<Clock::time_point> next;
    for (auto& t : q->timers)
        if (!t.pending && (!next || t.due < *next)) next = t.due;
    return next;
}

// Takes the next message for the calling thread in Windows' order: posted
// messages, then the quit message, then timer ticks. Called with q->lock held.
bool TakeLocked(ThreadQueue* q, MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (Matches(it->msg, hwnd, fmin, fmax)) {
            *out = it->msg;
            if (remove) q->posted.erase(it);
            return true;
        }
    }
    if (q->quitPosted) {
        *out = MSG{};
        out->message = WM_QUIT;
        out->wParam = static_cast<WPARAM>(q->quitCode);
        out->time = TickNow();
        if (remove) q->quitPosted = false;
        return true;
    }
    MarkDueTimersLocked(q, Clock::now());
    for (auto& t : q->timers) {
        if (!t.pending) continue;
        MSG m{};
        m.hwnd = t.hwnd;
        m.message = WM_TIMER;
        m.wParam = t.id;
        m.lParam = reinterpret_cast<LPARAM>(t.proc);
        m.time = TickNow();
        if (!Matches(m, hwnd, fmin, fmax)) continue;
        *out = m;
        if (remove) t.pending = false;
        return true;
    }
    return false;
}

bool QueuePump::event(QEvent* e) {
    if (e->type() == kSendEvent) {
        HandleIncomingSends(queue_);
        return true;
    }
    if (e->type() != kWakeEvent) return QObject::event(e);
    HandleIncomingSends(queue_);
    const std::uint64_t seq = static_cast<WakeEvent*>(e)->seq;
    MSG m;
    {
        std::lock_guard l(queue_->lock);
        if (queue_->waitDepth > 0) {
            if (seq) queue_->skipped.push_back(seq);
            return true;
        }
        if (seq) {
            auto it = std::find_if(queue_->posted.begin(), queue_->posted.end(),
                                   [seq](const Posted& p) { return p.seq == seq; });
            if (it == queue_->posted.end()) return true;
            m = it->msg;
            queue_->posted.erase(it);
        } else if (!queue_->posted.empty() && queue_->quitPosted) {
            // Quit waits until the posted messages ahead of it are delivered.
            QCoreApplication::postEvent(this, new WakeEvent(0));
            return true;
        } else if (!TakeLocked(queue_, &m, 0, 0, 0, true)) {
            return true;
        }
    }
    if (m.message == WM_QUIT) {
        QCoreApplication::exit(static_cast<int>(m.wParam));
        return true;
    }
    if (m.message == WM_TIMER) Reschedule();
    DispatchMessageA(&m);
    return true;
}

void QueuePump::OnTimer() {
    int ticks = 0;
    {
        std::lock_guard l(queue_->lock);
        auto now = Clock::now();
        for (auto& t : queue_->timers) {
            if (now >= t.due && !t.pending) ++ticks;
        }
        MarkDueTimersLocked(queue_, now);
        for (int i = 0; i < ticks; ++i) QCoreApplication::postEvent(this, new WakeEvent(0));
    }
    Reschedule();
}

void QueuePump::Reschedule() {
    std::optional<Clock::time_point> next;
    {
        std::lock_guard l(queue_->lock);
        next = NextDueLocked(queue_);
        // A tick marked while a peek looked for something else still needs
        // its Qt event; a spare one finds nothing and does no harm.
        if (std::any_of(queue_->timers.begin(), queue_->timers.end(),
                        [](const Timer& t) { return t.pending; }))
            QCoreApplication::postEvent(this, new WakeEvent(0));
    }
    if (!next) {
        timer_.stop();
        return;
    }
    // Rounded up: a timer that fires a fraction early would spin until due.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    timer_.start(static_cast<int>(std::max<long long>(0, ms)));
}

// Waits until the queue may hold something new: a posted or sent message, the
// quit message or a timer tick. Called with the lock held through `lk`.
void WaitLocked(ThreadQueue* q, std::unique_lock<std::mutex>& lk) {
    if (q->pump) {
        // The Qt loop delivers the wake events; keep it running while we wait.
        ++q->waitDepth;
        lk.unlock();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        lk.lock();
        --q->waitDepth;
        for (std::uint64_t seq : std::exchange(q->skipped, {}))
            QCoreApplication::postEvent(q->pump, new WakeEvent(seq));
        return;
    }
    auto next = NextDueLocked(q);
    if (next)
        q->cv.wait_until(lk, *next);
    else
        q->cv.wait(lk);
}

bool HasInputLocked(ThreadQueue* q) {
    if (!q->posted.empty() || !q->sent.empty() || q->quitPosted) return true;
    auto now = Clock::now();
    for (auto& t : q->timers)
        if (t.pending || now >= t.due) return true;
    return false;
}

// --- Window procedure instances -----------------------------------------

constexpr int kProcInstances = 1024;
std::mutex g_instanceLock;
std::array<std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>, kProcInstances> g_instanceFns;
std::array<bool, kProcInstances> g_instanceUsed{};

template <int N>
LRESULT InstanceProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return g_instanceFns[N](h, m, w, l);
}

template <int... N>
constexpr std::array<WNDPROC, sizeof...(N)> MakeInstanceTable(std::integer_sequence<int, N...>) {
    return {&InstanceProc<N>...};
}

const std::array<WNDPROC, kProcInstances> g_instanceProcs =
    MakeInstanceTable(std::make_integer_sequence<int, kProcInstances>{});

}  // namespace

// --- Classes ---------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !*wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard g(g_lock);
    std::string key = ClassKey(wc->hInstance, wc->lpszClassName);
    if (g_classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass cls;
    cls.wc = *wc;
    cls.name = wc->lpszClassName;
    cls.wc.lpszClassName = nullptr;
    cls.wc.lpszMenuName = nullptr;
    cls.atom = g_nextAtom++;
    if (g_nextAtom == 0) g_nextAtom = 0xC000;
    ATOM atom = cls.atom;
    g_classes.emplace(key, std::move(cls));
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    std::lock_guard g(g_lock);
    auto it = g_classes.find(ClassKey(instance, className));
    if (it == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (it->second.windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    g_classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wc) {
    std::lock_guard g(g_lock);
    auto it = g_classes.find(ClassKey(instance, className));
    if (it == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (wc) {
        *wc = it->second.wc;
        wc->lpszClassName = className;
    }
    return TRUE;
}

// --- Windows ---------------------------------------------------------------

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    auto queue = CurrentQueueWithPump();
    auto w = std::make_shared<Window>();
    {
        std::lock_guard g(g_lock);
        WindowClass* cls = className ? FindClassLocked(instance, className) : nullptr;
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return 0;
        }
        w->handle = NewHandleLocked();
        if (!w->handle) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        w->threadId = queue->threadId;
        w->queue = queue;
        w->classKey = ClassKey(cls->wc.hInstance, cls->name.c_str());
        w->proc = cls->wc.lpfnWndProc;
        w->extra.assign(static_cast<size_t>(std::max(0, cls->wc.cbWndExtra)), 0);
        w->style = style;
        w->exStyle = exStyle;
        w->instance = instance;
        w->parent = parent;
        w->text = windowName ? windowName : "";
        ++cls->windows;
        g_windows[w->handle] = w;
    }
    CREATESTRUCTA cs;
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    const LPARAM lp = reinterpret_cast<LPARAM>(&cs);
    if (!CallProc(w, WM_NCCREATE, 0, lp) || CallProc(w, WM_CREATE, 0, lp) == -1) {
        DestroyWindow(w->handle);
        return 0;
    }
    return w->handle;
}

BOOL DestroyWindow(HWND hwnd) {
    auto w = FindWindow(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard g(g_lock);
        if (w->destroying) return TRUE;
        w->destroying = true;
    }
    CallProc(w, WM_DESTROY, 0, 0);
    CallProc(w, WM_NCDESTROY, 0, 0);
    if (auto q = w->queue.lock()) {
        std::lock_guard l(q->lock);
        std::erase_if(q->timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
        std::erase_if(q->posted, [hwnd](const Posted& p) { return p.msg.hwnd == hwnd; });
    }
    std::lock_guard g(g_lock);
    auto cls = g_classes.find(w->classKey);
    if (cls != g_classes.end()) --cls->second.windows;
    g_windows.erase(hwnd);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    return w && !w->destroying ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    auto w = FindWindow(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId) *processId = GetCurrentProcessId();
    return w->threadId;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT: return static_cast<LONG_PTR>(w->parent);
    case GWLP_ID: return w->id;
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWLP_USERDATA: return w->userData;
    default: break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_WNDPROC:
        if (w->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(value);
        return old;
    case GWLP_HWNDPARENT:
        old = static_cast<LONG_PTR>(w->parent);
        w->parent = static_cast<HWND>(value);
        return old;
    case GWLP_ID: old = w->id; w->id = value; return old;
    case GWL_STYLE:
        old = static_cast<LONG>(w->style);
        w->style = static_cast<DWORD>(value);
        return old;
    case GWL_EXSTYLE:
        old = static_cast<LONG>(w->exStyle);
        w->exStyle = static_cast<DWORD>(value);
        return old;
    case GWLP_USERDATA: old = w->userData; w->userData = value; return old;
    default: break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &value, sizeof value);
    return old;
}

LONG GetWindowLongA(HWND hwnd, int index) {
    if (index == GWL_WNDPROC || index == GWLP_HINSTANCE || index == GWLP_HWNDPARENT) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    if (index < 0) return static_cast<LONG>(GetWindowLongPtrA(hwnd, index));
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
    if (index == GWL_WNDPROC || index == GWLP_HINSTANCE || index == GWLP_HWNDPARENT) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    if (index < 0) return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG old;
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &value, sizeof value);
    return old;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return static_cast<BOOL>(SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}

std::string GetWindowTextString(HWND hwnd) {
    std::lock_guard g(g_lock);
    auto w = FindWindowLocked(hwnd);
    return w ? w->text : std::string();
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    std::string t = GetWindowTextString(hwnd);
    size_t n = std::min(t.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, t.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!proc) return 0;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NCCREATE: return TRUE;
    case WM_SETTEXT: {
        std::lock_guard g(g_lock);
        auto w = FindWindowLocked(hwnd);
        if (!w) return FALSE;
        w->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
        return TRUE;
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(GetWindowTextString(hwnd).size());
    case WM_GETTEXT: return GetWindowTextA(hwnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_NCHITTEST: return HTCLIENT;
    case WM_NCACTIVATE: return TRUE;
    case WM_QUERYENDSESSION: return TRUE;
    default: return 0;
    }
}

// --- Queues ----------------------------------------------------------------

namespace {

BOOL PostToQueue(const std::shared_ptr<ThreadQueue>& q, HWND hwnd, UINT msg, WPARAM wParam,
                 LPARAM lParam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = TickNow();
    std::lock_guard l(q->lock);
    const std::uint64_t seq = q->nextSeq++;
    q->posted.push_back({m, seq});
    WakeLocked(q.get(), seq);
    return TRUE;
}

}  // namespace

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == 0) return PostThreadMessageA(GetCurrentThreadId(), msg, wParam, lParam);
    auto w = FindWindow(hwnd);
    auto q = w ? w->queue.lock() : nullptr;
    if (!q || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return PostToQueue(q, hwnd, msg, wParam, lParam);
}

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> q;
    if (threadId == GetCurrentThreadId()) {
        q = CurrentQueueWithPump();
    } else {
        std::lock_guard g(g_lock);
        auto it = g_queues.find(threadId);
        if (it != g_queues.end()) q = it->second.lock();
    }
    if (!q) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return PostToQueue(q, 0, msg, wParam, lParam);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto w = FindWindow(hwnd);
    auto target = w ? w->queue.lock() : nullptr;
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->threadId == GetCurrentThreadId()) return CallProc(w, msg, wParam, lParam);

    auto self = CurrentQueue();
    SentMessage sm{hwnd, msg, wParam, lParam};
    sm.sender = self;
    {
        std::lock_guard l(target->lock);
        if (target->ended) return 0;
        target->sent.push_back(&sm);
        WakeForSendLocked(target.get());
    }
    // While we wait, other threads' sends to our own windows are handled, so
    // two threads sending to each other never deadlock.
    std::unique_lock lk(self->lock);
    while (!sm.done) {
        if (!self->sent.empty()) {
            SentMessage* in = self->sent.front();
            self->sent.pop_front();
            lk.unlock();
            HandleSent(self.get(), in);
            lk.lock();
            continue;
        }
        self->cv.wait(lk);
    }
    return sm.result;
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
        if (!q->sent.empty()) continue;
        if (TakeLocked(q.get(), msg, hwnd, filterMin, filterMax, true)) {
            lk.unlock();
            if (q->pump) q->pump->Reschedule();
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
    if (found && q->pump) q->pump->Reschedule();
    return found ? TRUE : FALSE;
}

BOOL WaitMessage() {
    auto q = CurrentQueueWithPump();
    for (;;) {
        HandleIncomingSends(q.get());
        std::unique_lock lk(q->lock);
        if (HasInputLocked(q.get())) return TRUE;
        WaitLocked(q.get(), lk);
        if (HasInputLocked(q.get())) return TRUE;
    }
}

BOOL TranslateMessage(const MSG* msg) {
    // Key messages come from Qt as characters already; nothing to translate.
    (void)msg;
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, TickNow());
        return 0;
    }
    if (!msg->hwnd) return 0;
    auto w = FindWindow(msg->hwnd);
    if (!w || w->destroying) return 0;
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
    LRESULT r = CallProc(w, msg->message, msg->wParam, msg->lParam);
    std::lock_guard l(q->lock);
    q->waitDepth = depth;
    return r;
}

void PostQuitMessage(int exitCode) {
    auto q = CurrentQueueWithPump();
    std::lock_guard l(q->lock);
    q->quitPosted = true;
    q->quitCode = exitCode;
    WakeLocked(q.get(), 0);
}

// --- Timers ----------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    std::shared_ptr<ThreadQueue> q;
    if (hwnd) {
        auto w = FindWindow(hwnd);
        if (!w || w->threadId != GetCurrentThreadId()) {
            SetLastError(w ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    q = CurrentQueueWithPump();
    elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);
    {
        std::lock_guard l(q->lock);
        if (!hwnd) {
            // Thread timers get an id of their own.
            UINT_PTR next = 1;
            for (auto& t : q->timers)
                if (!t.hwnd && t.id >= next) next = t.id + 1;
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
    if (q->pump) q->pump->Reschedule();
    return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto q = CurrentQueue();
    bool removed;
    {
        std::lock_guard l(q->lock);
        removed = std::erase_if(q->timers, [&](const Timer& t) {
                      return t.hwnd == hwnd && t.id == id;
                  }) > 0;
    }
    if (q->pump) q->pump->Reschedule();
    return removed ? TRUE : FALSE;
}

UINT RegisterWindowMessageA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard g(g_lock);
    std::string key = Lower(name);
    auto it = g_registeredMessages.find(key);
    if (it != g_registeredMessages.end()) return it->second;
    UINT n = 0xC000 + static_cast<UINT>(g_registeredMessages.size());
    if (n > 0xFFFF) return 0;
    g_registeredMessages.emplace(key, n);
    return n;
}

WNDPROC MakeWindowProcInstance(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> fn) {
    std::lock_guard l(g_instanceLock);
    for (int i = 0; i < kProcInstances; ++i) {
        if (!g_instanceUsed[i]) {
            g_instanceUsed[i] = true;
            g_instanceFns[i] = std::move(fn);
            return g_instanceProcs[i];
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

void FreeWindowProcInstance(WNDPROC proc) {
    std::lock_guard l(g_instanceLock);
    for (int i = 0; i < kProcInstances; ++i) {
        if (g_instanceProcs[i] == proc && g_instanceUsed[i]) {
            g_instanceUsed[i] = false;
            g_instanceFns[i] = nullptr;
            return;
        }
    }
}

}  // namespace win
