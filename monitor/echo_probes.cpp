#include "monitor/echo_probes.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "monitor/drive_worker.h"
#include "ping/icmp_engine.h"

namespace quilvane {

struct TEchoProbes::TPool {
    // Guards every field below.
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::pair<TRequest, TDone>> Queue;
    int Threads = 0;
    int Idle = 0;
    bool Ending = false;
};

namespace {

std::optional<int> SendOne(std::unique_ptr<TICMP>& icmp, const TEchoProbes::TRequest& request) {
    try {
        if (!icmp)
            icmp = std::make_unique<TICMP>();
        icmp->Size = request.Size;
        icmp->Timeout = request.Timeout;
        icmp->TTL = request.TTL;
        icmp->Flags = request.Flags;
        icmp->SetAddress(request.Address);
        std::optional<int> status;
        icmp->OnEchoReply = [&status](fw::TObject*, int s) { status = s; };
        icmp->Ping();
        icmp->OnEchoReply = nullptr;
        return status;
    } catch (const std::exception&) {
        // The engine could not be had, or the settings are out of range: the
        // request raised no reply event, so the record is left as it is.
        icmp.reset();
        return std::nullopt;
    }
}

void ProbeThread(std::shared_ptr<TEchoProbes::TPool> pool) {
    const TMonitorThreadCount counted;
    std::unique_ptr<TICMP> icmp;
    std::unique_lock lock(pool->Lock);
    for (;;) {
        ++pool->Idle;
        const bool woken =
            pool->Wake.wait_for(lock, std::chrono::milliseconds(TEchoProbes::kIdleThreadMs),
                                [&] { return pool->Ending || !pool->Queue.empty(); });
        --pool->Idle;
        if (!woken || pool->Queue.empty())
            break;
        auto [request, done] = std::move(pool->Queue.front());
        pool->Queue.pop_front();
        lock.unlock();
        done(SendOne(icmp, request));
        lock.lock();
    }
    --pool->Threads;
}

}  // namespace

TEchoProbes::TEchoProbes() : Pool(std::make_shared<TPool>()) {}

TEchoProbes::~TEchoProbes() {
    std::lock_guard lock(Pool->Lock);
    Pool->Ending = true;
    Pool->Queue.clear();
    Pool->Wake.notify_all();
}

void TEchoProbes::Probe(TRequest request, TDone done) {
    std::lock_guard lock(Pool->Lock);
    Pool->Queue.emplace_back(std::move(request), std::move(done));
    if (Pool->Idle > static_cast<int>(Pool->Queue.size()) - 1 ||
        Pool->Threads >= kMaxProbeThreads) {
        Pool->Wake.notify_one();
        return;
    }
    ++Pool->Threads;
    std::thread(ProbeThread, Pool).detach();
}

}  // namespace quilvane
