#pragma once
// TDriveWorker: one thread that runs the monitor's drive work (NetUse, NetDel,
// the folder check of a mapped letter) in the order it was handed in. The
// platform serialises every drive call of the process anyway, and the order
// is what keeps two records on one letter working as the sequential cycle
// did; the point of the thread is that nobody else waits for gvfs, FUSE or a
// dead server.
//
// Threads: Post and Stop from the owner's thread (the main thread); jobs run
// on the worker thread, one at a time. A job must not touch the owner's
// objects: it hands its results on (the engine posts them to the main
// thread).

#include <functional>
#include <memory>

namespace quilvane {

class TDriveWorker {
public:
    TDriveWorker();
    // Stop(0) unless stopped before.
    ~TDriveWorker();
    TDriveWorker(const TDriveWorker&) = delete;
    TDriveWorker& operator=(const TDriveWorker&) = delete;

    // Queues a job; the thread starts with the first one.
    void Post(std::function<void()> job);
    // Drops the jobs not yet started and waits at most waitMs for the running
    // one. True when the thread has ended; false when a job still runs (it
    // ends by itself later, owning what it uses; see MonitorThreadsRunning).
    bool Stop(int waitMs);

    // What the object shares with its threads (they may outlive it).
    struct TQueue;

private:
    std::shared_ptr<TQueue> Queue;
    bool Stopped = false;
};

// Threads of the monitor (drive worker, echo probes) still alive in this
// process. A program that ends while one still waits on the network ends
// with _exit, so the thread cannot meet objects that exit() destroys.
int MonitorThreadsRunning();

// Counts a monitor thread for its life; each monitor thread holds one.
struct TMonitorThreadCount {
    TMonitorThreadCount();
    ~TMonitorThreadCount();
};

}  // namespace quilvane
