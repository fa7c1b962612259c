#pragma once
// TEchoProbes: sends the echo requests of a monitor pass all at once. Each
// request runs on a probe thread of a small pool with a TICMP engine of that
// thread's own: it resolves the address (a blocking look-up, which only that
// thread waits for), sends one request and waits for the reply or the
// time-out. So a pass over any number of silent hosts (up to the pool's
// size; beyond it, requests wait for a free thread) takes about one time-out.
//
// The pool grows to kMaxProbeThreads threads as requests need them; a thread
// that has had nothing to do for kIdleThreadMs ends. Nothing polls: idle
// threads wait on a condition variable.
//
// Threads: Probe from any thread; `done` runs on a probe thread, so it must
// only hand the result on (the engine posts it to the main thread). The
// destructor does not wait: threads still waiting on the network finish
// their request, call `done` and end by themselves (they own what they use).

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quilvane {

class TEchoProbes {
public:
    static constexpr int kMaxProbeThreads = 256;
    static constexpr int kIdleThreadMs = 60000;

    // One echo request as TPing sends it.
    struct TRequest {
        std::string Address;  // host name or dotted IPv4 address
        int Size = 1;
        int Timeout = 1000;  // milliseconds
        int TTL = 64;
        int Flags = 0;
    };
    // The number of replies (0 or 1), or nothing when the address did not
    // resolve or the ICMP engine could not be had (the ping raised no reply
    // event).
    using TDone = std::function<void(std::optional<int> Status)>;

    TEchoProbes();
    ~TEchoProbes();
    TEchoProbes(const TEchoProbes&) = delete;
    TEchoProbes& operator=(const TEchoProbes&) = delete;

    void Probe(TRequest request, TDone done);

    // What the object shares with its threads (they may outlive it).
    struct TPool;

private:
    std::shared_ptr<TPool> Pool;
};

}  // namespace quilvane
