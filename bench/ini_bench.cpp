// Settings file throughput: a save of N records over a file that held M
// records, as one batch (one atomic replace of the file, its data flushed to
// the disk before the rename) beside the same save made of the store's single
// writes (one replace per delete and write), and a load of N records.
// Rewrites are counted as the renames onto the file that inotify reports (the
// renames away from the temporaries are watched too, since inotify merges
// identical events that follow each other).
//
// Usage: ini_bench [N] [M] [folder]   (defaults 100 100 and a new folder in /tmp)

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "monitor/connection_table.h"
#include "tests/support/one_change_at_a_time.h"

namespace {

using Clock = std::chrono::steady_clock;

void Fill(fw::TRxMemoryData& table, int count, const std::string& tag) {
    const quilvane::TConnectionRecord r(table);
    for (int i = 0; i < count; ++i) {
        table.Append();
        r.HostName.Set("host-" + tag + std::to_string(i));
        r.UserName.Set("user" + std::to_string(i));
        r.Password.Set("secret-" + std::to_string(i));
        r.UNC.Set("share\\folder\\" + std::to_string(i));
        r.Drive.Set("Y:");
        r.MaxPing.Set(5 + i % 20);
        table.Post();
    }
}

// Renames onto Quilvane.ini seen since the last call.
int CountRewrites(int fd) {
    int count = 0;
    alignas(inotify_event) char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if ((ev->mask & IN_MOVED_TO) && ev->len && std::string(ev->name) == "Quilvane.ini") {
                ++count;
            }
            if (ev->mask & IN_Q_OVERFLOW)
                std::fprintf(stderr, "inotify queue overflowed\n");
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return count;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The file left after saving `table` over `start` with `save`, and the time
// the save took and the replaces it made.
struct SaveResult {
    double ms;
    int rewrites;
    std::string file;
};

template <class Save>
SaveResult SaveOver(const std::string& dir, const std::string& start, int watch, int n, Save save) {
    const std::string path = dir + "/Quilvane.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << start;
    }
    std::string url = "http://quilvane.example.net/download/Quilvane/Quilvane.inf";
    TzIni ini(nullptr);
    ini.SetEncryptValues(true);
    fw::TRxMemoryData before(nullptr, quilvane::ConnectionFields());
    quilvane::LoadSettings(ini, before, url, dir);
    fw::TRxMemoryData table(nullptr, quilvane::ConnectionFields());
    Fill(table, n, "new");
    CountRewrites(watch);
    const auto t0 = Clock::now();
    save(ini, table, url);
    const auto t1 = Clock::now();
    SaveResult result{Ms(t1 - t0), CountRewrites(watch), {}};
    std::ifstream in(path, std::ios::binary);
    result.file.assign(std::istreambuf_iterator<char>(in), {});
    return result;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 100;
    const int m = argc > 2 ? std::atoi(argv[2]) : 100;
    std::string dir;
    if (argc > 3) {
        dir = argv[3];
    } else {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ini-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            return 1;
        dir = tmpl;
    }
    const int runs = 5;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, dir.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0)
        return 1;

    // The file of M records that every save starts from.
    std::string start;
    {
        std::filesystem::remove(dir + "/Quilvane.ini");
        std::string url = "http://quilvane.example.net/download/Quilvane/Quilvane.inf";
        TzIni ini(nullptr);
        ini.SetEncryptValues(true);
        fw::TRxMemoryData old(nullptr, quilvane::ConnectionFields());
        quilvane::LoadSettings(ini, old, url, dir);
        Fill(old, m, "old");
        quilvane::SaveSettings(ini, old, url);
        std::ifstream in(dir + "/Quilvane.ini", std::ios::binary);
        start.assign(std::istreambuf_iterator<char>(in), {});
    }

    // The reference and the batch take turns, so both meet the same disk.
    std::vector<double> singles, batches, loads;
    int singleRewrites = 0, batchRewrites = 0;
    bool same = true;
    std::size_t fileSize = 0;
    for (int run = 0; run < runs; ++run) {
        const SaveResult single =
            SaveOver(dir, start, watch, n, quilvane_test::SaveOneChangeAtATime);
        const SaveResult batch = SaveOver(dir, start, watch, n, quilvane::SaveSettings);
        singles.push_back(single.ms);
        batches.push_back(batch.ms);
        singleRewrites = single.rewrites;
        batchRewrites = batch.rewrites;
        same = same && single.file == batch.file;
        fileSize = batch.file.size();

        std::string url;
        TzIni reader(nullptr);
        fw::TRxMemoryData loaded(nullptr, quilvane::ConnectionFields());
        const auto t2 = Clock::now();
        quilvane::LoadSettings(reader, loaded, url, dir);
        const auto t3 = Clock::now();
        loads.push_back(Ms(t3 - t2));
        if (loaded.RecordCount() != n)
            std::fprintf(stderr, "loaded %d records\n", loaded.RecordCount());
    }
    const double save = Median(batches);
    const double single = Median(singles);
    std::printf("ini_bench: N=%d records saved over M=%d, %d runs, file %zu bytes, in %s\n", n, m,
                runs, fileSize, dir.c_str());
    std::printf(
        "reference, one replace per delete and write (6M+2+6N = %d): median %.1f ms "
        "(min %.1f, max %.1f), replaces counted %d\n",
        6 * m + 2 + 6 * n, single, *std::min_element(singles.begin(), singles.end()),
        *std::max_element(singles.begin(), singles.end()), singleRewrites);
    std::printf(
        "save, one batch: median %.1f ms (min %.1f, max %.1f), replaces counted %d; "
        "%.0f times faster; files %s\n",
        save, *std::min_element(batches.begin(), batches.end()),
        *std::max_element(batches.begin(), batches.end()), batchRewrites, single / save,
        same ? "identical" : "DIFFER");
    std::printf("load:  median %.2f ms for %d records (one read)\n", Median(loads), n);
    std::printf("target: 100-over-100 save under 20 ms: %s\n", save < 20 ? "met" : "missed");
    ::close(watch);
    if (argc <= 3)
        std::filesystem::remove_all(dir);
    return same ? 0 : 1;
}
