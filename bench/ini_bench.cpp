// Settings file throughput: a save of N records over a file that held M
// records (each delete and write is a whole atomic rewrite of the file, with
// the data flushed to the disk before the rename) and a load of N records.
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
#include <string>
#include <vector>

#include "app/connection_table.h"
#include "app/settings_file.h"

namespace {

using Clock = std::chrono::steady_clock;

void Fill(fw::TRxMemoryData& table, int count, const std::string& tag) {
    for (int i = 0; i < count; ++i) {
        table.Append();
        table.FieldByName("HostName").SetAsString("host-" + tag + std::to_string(i));
        table.FieldByName("UserName").SetAsString("user" + std::to_string(i));
        table.FieldByName("Password").SetAsString("secret-" + std::to_string(i));
        table.FieldByName("UNC").SetAsString("share\\folder\\" + std::to_string(i));
        table.FieldByName("Drive").SetAsString("Y:");
        table.FieldByName("MaxPing").SetAsInteger(5 + i % 20);
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

    std::vector<double> saves, loads;
    int rewrites = 0;
    std::size_t fileSize = 0;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(dir + "/Quilvane.ini");
        std::string url = "http://quilvane.example.net/download/Quilvane/Quilvane.inf";
        {
            TzIni ini(nullptr);
            ini.SetEncryptValues(true);
            fw::TRxMemoryData old(nullptr, quilvane::ConnectionFields());
            quilvane::LoadSettings(ini, old, url, dir);
            Fill(old, m, "old");
            quilvane::SaveSettings(ini, old, url);
        }
        CountRewrites(watch);

        TzIni ini(nullptr);
        ini.SetEncryptValues(true);
        fw::TRxMemoryData before(nullptr, quilvane::ConnectionFields());
        quilvane::LoadSettings(ini, before, url, dir);
        fw::TRxMemoryData table(nullptr, quilvane::ConnectionFields());
        Fill(table, n, "new");
        const auto t0 = Clock::now();
        quilvane::SaveSettings(ini, table, url);
        const auto t1 = Clock::now();
        saves.push_back(Ms(t1 - t0));
        rewrites = CountRewrites(watch);
        fileSize = std::filesystem::file_size(dir + "/Quilvane.ini");

        TzIni reader(nullptr);
        fw::TRxMemoryData loaded(nullptr, quilvane::ConnectionFields());
        const auto t2 = Clock::now();
        quilvane::LoadSettings(reader, loaded, url, dir);
        const auto t3 = Clock::now();
        loads.push_back(Ms(t3 - t2));
        if (loaded.RecordCount() != n)
            std::fprintf(stderr, "loaded %d records\n", loaded.RecordCount());
    }
    std::sort(saves.begin(), saves.end());
    std::sort(loads.begin(), loads.end());
    const double save = saves[runs / 2];
    std::printf("ini_bench: N=%d records saved over M=%d, %d runs, file %zu bytes, in %s\n", n, m,
                runs, fileSize, dir.c_str());
    std::printf(
        "save:  median %.1f ms (min %.1f, max %.1f); rewrites counted %d (6M+2+6N = %d); "
        "%.3f ms per rewrite\n",
        save, saves.front(), saves.back(), rewrites, 6 * m + 2 + 6 * n,
        rewrites ? save / rewrites : 0.0);
    std::printf("load:  median %.2f ms (min %.2f, max %.2f) for %d records (%d scans)\n",
                loads[runs / 2], loads.front(), loads.back(), n, 6 * n + 2);
    std::printf("target: 100-over-100 save under 1000 ms: %s\n", save < 1000 ? "met" : "missed");
    ::close(watch);
    if (argc <= 3)
        std::filesystem::remove_all(dir);
    return 0;
}
