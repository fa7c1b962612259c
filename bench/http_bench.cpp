// Downloading a file from a local web server (lighttpd) into a file with the
// HTTP component, beside the curl command line on the same URL in the same
// run: throughput (target: at least 0.9 x curl's) and peak resident memory
// (target: the same for 10 MB and 100 MB, i.e. not growing with the size).
//
// Each download runs in a process of its own (this program with --download),
// so the peak resident size is that of one download; its time is from Start to
// OnDone, beside curl's own transfer time (time_total), so neither counts the
// start of its process. Best of five runs each, taking turns with curl.
//
// Usage: http_bench [--buffer BYTES]   (TransferBufferSize, default 4096)
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/http_servers.h"
#include "upgrade/custom_http.h"

namespace {

using Clock = std::chrono::steady_clock;

long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// The child: one download, then "<ok> <peak rss kB> <seconds>" on standard
// output, the time from Start to OnDone.
int Download(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TacCustomHTTP http(nullptr);
    http.URL = argv[2];
    http.FileName = argv[3];
    http.TransferBufferSize = std::atoi(argv[4]);
    bool done = false, ok = false;
    http.OnDone = [&](fw::TObject*, const std::string&, std::int64_t, fw::TStream*) {
        ok = true;
        done = true;
    };
    http.OnFailure = [&](fw::TObject*) { done = true; };
    const auto start = Clock::now();
    http.Start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d %ld %.6f\n", ok ? 1 : 0, PeakRssKb(), seconds);
    return ok ? 0 : 1;
}

struct Result {
    double seconds = 0;
    long rssKb = 0;
    bool ok = false;
};

Result RunTimed(const std::vector<std::string>& args, bool readRss) {
    std::string text;
    quilvane_test::ChildProcess child(args);
    const int code = child.Started() ? child.Wait(&text) : -1;
    Result r;
    r.ok = code == 0;
    if (readRss) {
        int ok = 0;
        std::sscanf(text.c_str(), "%d %ld %lf", &ok, &r.rssKb, &r.seconds);
        r.ok = r.ok && ok == 1;
    } else {
        r.seconds = std::atof(text.c_str());  // curl's own time_total
    }
    return r;
}

// Best of five each, the two taking turns so that both see the same load.
std::pair<Result, Result> BestOfBoth(const std::vector<std::string>& ours,
                                     const std::vector<std::string>& theirs) {
    Result a, b;
    for (int i = 0; i < 5; ++i) {
        const Result x = RunTimed(ours, true);
        const Result y = RunTimed(theirs, false);
        if (!x.ok || !y.ok)
            return {x, y};
        if (!a.ok || x.seconds < a.seconds)
            a = x;
        if (!b.ok || y.seconds < b.seconds)
            b = y;
    }
    return {a, b};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--download")
        return Download(argc, argv);
    std::string buffer = "4096";
    if (argc == 3 && std::string(argv[1]) == "--buffer")
        buffer = argv[2];

    quilvane_test::WebServer web;
    if (!web.Ok()) {
        std::fprintf(stderr, "cannot start the web server: %s\n", web.Error().c_str());
        return 2;
    }
    quilvane_test::TempFolder out;
    const std::string self = "/proc/self/exe";
    std::string exe(4096, '\0');
    exe.resize(static_cast<size_t>(
        std::max<ssize_t>(0, ::readlink(self.c_str(), exe.data(), exe.size()))));

    std::printf("HTTP download into a file, TransferBufferSize %s, best of 5\n", buffer.c_str());
    long rss10 = 0, rss100 = 0;
    double ratio = 0;
    for (int mb : {10, 100}) {
        const std::string name = "/file" + std::to_string(mb) + ".bin";
        {
            std::ofstream f(web.Root() + name, std::ios::binary);
            std::string block(1 << 20, '\0');
            for (int i = 0; i < mb; ++i) {
                for (size_t j = 0; j < block.size(); j += 4096)
                    block[j] = static_cast<char>(i + j);
                f.write(block.data(), static_cast<std::streamsize>(block.size()));
            }
        }
        const std::string url = web.Url(name);
        const auto [ours, curl] =
            BestOfBoth({exe, "--download", url, out.Path() + "/ours.bin", buffer},
                       {"curl", "-s", "-w", "%{time_total}", "-o", out.Path() + "/curl.bin", url});
        if (!ours.ok || !curl.ok) {
            std::fprintf(stderr, "download failed (component %d, curl %d)\n", ours.ok, curl.ok);
            return 1;
        }
        const double oursRate = mb / ours.seconds, curlRate = mb / curl.seconds;
        std::printf(
            "%3d MB: component %8.1f MB/s (%.3f s), curl %8.1f MB/s (%.3f s), ratio %.2f; "
            "component peak RSS %ld kB\n",
            mb, oursRate, ours.seconds, curlRate, curl.seconds, oursRate / curlRate, ours.rssKb);
        (mb == 10 ? rss10 : rss100) = ours.rssKb;
        if (mb == 100)
            ratio = oursRate / curlRate;
    }
    std::printf("throughput ratio at 100 MB: %.2f (target >= 0.90) %s\n", ratio,
                ratio >= 0.9 ? "met" : "NOT met");
    std::printf("peak RSS 100 MB / 10 MB: %ld kB / %ld kB = %.2f (target: no growth) %s\n", rss100,
                rss10, static_cast<double>(rss100) / static_cast<double>(rss10),
                rss100 <= rss10 + 2048 ? "met" : "NOT met");
    return 0;
}
