// Cost of one Ping as the monitor makes it (Size 1, Timeout 1000, TTL 64, a
// resolved address): wall time and CPU time per call, beside the average
// round trip that the system's ping (iputils) measures to the same host in
// the same run. Targets: wall per call at most 2 times iputils' average round
// trip, CPU under 100 microseconds per call.
//
// Usage: ping_bench [calls]   (default 2000; the namespace host needs root)
#include <time.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "ping/ping_component.h"
#include "tests/support/test_host.h"

namespace {

using quilvane_test::RunCommand;
using quilvane_test::TestHost;

double CpuSeconds() {
    timespec ts;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// iputils' average round trip in microseconds, or a negative number.
double IputilsAverageUs(const std::string& host, int count) {
    quilvane_test::CommandResult r = RunCommand(
        {"ping", "-n", "-q", "-c", std::to_string(count), "-i", "0.002", "-W", "1", host});
    std::smatch m;
    static const std::regex rtt(R"(= ([0-9.]+)/([0-9.]+)/([0-9.]+)/)");
    if (r.exitCode != 0 || !std::regex_search(r.output, m, rtt))
        return -1;
    return std::stod(m[2]) * 1000.0;
}

struct Row {
    std::string name;
    int calls = 0;
    int answered = 0;
    double wallUs = 0, cpuUs = 0, iputilsUs = -1;
};

Row Measure(TPing& ping, const std::string& name, const std::string& address, int calls) {
    Row row;
    row.name = name;
    row.calls = calls;
    ping.SetAddress(address);
    ping.Ping();  // resolves the address and warms the neighbour cache
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        row.answered += ping.Ping();
    const auto wall = std::chrono::steady_clock::now() - wall0;
    row.cpuUs = (CpuSeconds() - cpu0) * 1e6 / calls;
    row.wallUs = std::chrono::duration<double, std::micro>(wall).count() / calls;
    row.iputilsUs = IputilsAverageUs(address, std::min(calls, 500));
    return row;
}

void Print(const Row& r) {
    std::printf("%-16s %6d %8d %12.1f %12.1f", r.name.c_str(), r.calls, r.answered, r.wallUs,
                r.cpuUs);
    if (r.iputilsUs > 0)
        std::printf(" %14.1f %9.2f %s %s\n", r.iputilsUs, r.wallUs / r.iputilsUs,
                    r.wallUs <= 2 * r.iputilsUs ? "ok" : "OVER", r.cpuUs < 100 ? "ok" : "OVER");
    else
        std::printf(" %14s %9s\n", "n/a", "n/a");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    TPing ping(nullptr);
    ping.SetSize(1);
    ping.SetTimeout(1000);
    ping.SetTTL(64);
    ping.SetFlags(0);

    std::printf("%-16s %6s %8s %12s %12s %14s %9s  targets: wall <= 2x rtt, cpu < 100 us\n",
                "target", "calls", "replies", "wall us/call", "cpu us/call", "iputils rtt us",
                "wall/rtt");
    Print(Measure(ping, "loopback", "127.0.0.1", calls));

    TestHost host("bench", 19);
    if (!host.Ok()) {
        std::printf("%-16s skipped: %s\n", "namespace host", host.Error().c_str());
        return 0;
    }
    Print(Measure(ping, "namespace host", host.Address(), calls));
    return 0;
}
