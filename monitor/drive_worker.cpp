#include "monitor/drive_worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quilvane {

namespace {
std::atomic<int> g_threadsRunning{0};
}  // namespace

int MonitorThreadsRunning() {
    return g_threadsRunning.load();
}

TMonitorThreadCount::TMonitorThreadCount() {
    ++g_threadsRunning;
}

TMonitorThreadCount::~TMonitorThreadCount() {
    --g_threadsRunning;
}

struct TDriveWorker::TQueue {
    // Guards every field below.
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::function<void()>> Jobs;
    bool Started = false;
    bool Ending = false;
    bool Ended = false;
};

namespace {

void WorkerThread(std::shared_ptr<TDriveWorker::TQueue> queue) {
    const TMonitorThreadCount counted;
    std::unique_lock lock(queue->Lock);
    for (;;) {
        queue->Changed.wait(lock, [&] { return queue->Ending || !queue->Jobs.empty(); });
        if (queue->Ending)
            break;
        std::function<void()> job = std::move(queue->Jobs.front());
        queue->Jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    queue->Ended = true;
    queue->Changed.notify_all();
}

}  // namespace

TDriveWorker::TDriveWorker() : Queue(std::make_shared<TQueue>()) {}

TDriveWorker::~TDriveWorker() {
    if (!Stopped)
        Stop(0);
}

void TDriveWorker::Post(std::function<void()> job) {
    std::lock_guard lock(Queue->Lock);
    if (Queue->Ending)
        return;
    Queue->Jobs.push_back(std::move(job));
    if (!Queue->Started) {
        Queue->Started = true;
        std::thread(WorkerThread, Queue).detach();
    }
    Queue->Changed.notify_all();
}

bool TDriveWorker::Stop(int waitMs) {
    Stopped = true;
    std::unique_lock lock(Queue->Lock);
    Queue->Ending = true;
    Queue->Jobs.clear();
    Queue->Changed.notify_all();
    if (!Queue->Started)
        return true;
    return Queue->Changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                                   [&] { return Queue->Ended; });
}

}  // namespace quilvane
