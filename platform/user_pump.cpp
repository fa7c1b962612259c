// The Qt pump: the thread that runs Qt's event loop has its queue delivered
// from inside that loop, so window messages and Qt events keep their common
// order, and nested loops (modal dialogs, menus) go on delivering.
//
// Every posted message has its own Qt event, which delivers exactly that
// message if it is still waiting (a peek may have taken it). Every tick that
// falls due has its own event too, which delivers a waiting tick and never a
// posted message, so no amount of posting around a tick can hold it back.
// Quit has an event that waits until the posted messages ahead of it are
// delivered. A send wakes the loop without taking anything posted.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "platform/user_internal.h"

namespace win::user {

namespace {

constexpr QEvent::Type kPumpEvent = static_cast<QEvent::Type>(QEvent::User + 0x51);
constexpr QEvent::Type kSendEvent = static_cast<QEvent::Type>(QEvent::User + 0x52);

class PumpEvent : public QEvent {
public:
    explicit PumpEvent(PumpRequest r) : QEvent(kPumpEvent), request(r) {}
    const PumpRequest request;
};

}  // namespace

class QueuePump : public QObject {
public:
    // Owned by the application object (its parent), so it goes with it.
    QueuePump(std::shared_ptr<ThreadQueue> q, QObject* parent) : QObject(parent), queue_(q) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    }
    ~QueuePump() override {
        // Without the Qt loop the queue goes back to waiting on its condition.
        std::lock_guard l(queue_->lock);
        if (queue_->pump == this)
            queue_->pump = nullptr;
    }

    bool event(QEvent* e) override {
        if (e->type() == kSendEvent) {
            HandleIncomingSends(queue_.get());
            return true;
        }
        if (e->type() != kPumpEvent)
            return QObject::event(e);
        HandleIncomingSends(queue_.get());
        Deliver(static_cast<PumpEvent*>(e)->request);
        return true;
    }

    void Reschedule() {
        std::optional<Clock::time_point> next;
        {
            std::lock_guard l(queue_->lock);
            next = NextDueLocked(queue_.get());
        }
        if (!next) {
            timer_.stop();
            return;
        }
        // Rounded up: a timer that fires a fraction early would spin until due.
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
        timer_.start(static_cast<int>(std::clamp<long long>(ms, 0, 0x7FFFFFFF)));
    }

private:
    void OnTimer() {
        {
            std::lock_guard l(queue_->lock);
            MarkDueTimersLocked(queue_.get(), Clock::now());
        }
        Reschedule();
    }

    void Deliver(PumpRequest r) {
        ThreadQueue* q = queue_.get();
        MSG m;
        {
            std::lock_guard l(q->lock);
            if (q->waitDepth > 0) {
                // GetMessageA or WaitMessage is waiting on this thread and
                // takes what it wants itself; ask again when it is done.
                q->deferred.push_back(r);
                return;
            }
            switch (r.kind) {
                case PumpKind::Posted: {
                    auto it = std::find_if(q->posted.begin(), q->posted.end(),
                                           [&](const Posted& p) { return p.seq == r.seq; });
                    if (it == q->posted.end())
                        return;
                    m = it->msg;
                    q->posted.erase(it);
                    break;
                }
                case PumpKind::Tick:
                    if (!TakeTickLocked(q, &m, 0, 0, 0, true))
                        return;
                    break;
                case PumpKind::Quit:
                    if (!q->quitPosted)
                        return;
                    if (!q->posted.empty()) {
                        RequestLocked(q, r);
                        return;
                    }
                    q->quitPosted = false;
                    q->seen = q->arrived;
                    QCoreApplication::exit(q->quitCode);
                    return;
            }
            q->seen = q->arrived;
        }
        DispatchMessageA(&m);
    }

    std::shared_ptr<ThreadQueue> queue_;
    QTimer timer_;
};

void AttachPumpIfQtThread(const std::shared_ptr<ThreadQueue>& q) {
    if (q->pump)
        return;
    auto* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread())
        return;
    auto* pump = new QueuePump(q, app);
    {
        std::lock_guard l(q->lock);
        q->pump = pump;
        // What was queued before the loop existed still gets its Qt event.
        for (const auto& p : q->posted)
            RequestLocked(q.get(), {PumpKind::Posted, p.seq});
        for (const auto& t : q->timers)
            if (t.pending)
                RequestLocked(q.get(), {PumpKind::Tick});
        if (q->quitPosted)
            RequestLocked(q.get(), {PumpKind::Quit});
        if (!q->sent.empty())
            RequestSendsLocked(q.get());
    }
    pump->Reschedule();
}

void RequestLocked(ThreadQueue* q, PumpRequest r) {
    if (q->pump)
        QCoreApplication::postEvent(q->pump, new PumpEvent(r));
}

void RequestSendsLocked(ThreadQueue* q) {
    if (q->pump)
        QCoreApplication::postEvent(q->pump, new QEvent(kSendEvent));
}

void ReschedulePump(ThreadQueue* q) {
    // Only the queue's own thread sets its pump.
    if (q->pump)
        q->pump->Reschedule();
}

void WaitInQtLoop(ThreadQueue* q, std::unique_lock<std::mutex>& lk) {
    ++q->waitDepth;
    lk.unlock();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    lk.lock();
    if (--q->waitDepth == 0)
        for (const PumpRequest& r : std::exchange(q->deferred, {}))
            RequestLocked(q, r);
}

}  // namespace win::user
