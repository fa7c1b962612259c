#pragma once
// What /proc tells of a running process, for the idle benchmarks: a field of
// its status summed over its threads, its wake-ups (context switches of all
// its threads) and its thread count, and the idle figures made of them.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <chrono>
#include <thread>

namespace bench {

// Sum of a field over /proc/PID/status or over every thread's status.
inline long long StatusField(qint64 pid, const char* field, bool threads) {
    long long sum = 0;
    QStringList files;
    if (threads) {
        for (const QString& t :
             QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            files << QString("/proc/%1/task/%2/status").arg(pid).arg(t);
    } else {
        files << QString("/proc/%1/status").arg(pid);
    }
    for (const QString& name : files) {
        QFile f(name);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith(field))
                sum += line.mid(qstrlen(field)).trimmed().split(' ')[0].toLongLong();
    }
    return sum;
}

inline long long Switches(qint64 pid) {
    return StatusField(pid, "voluntary_ctxt_switches:", true) +
           StatusField(pid, "nonvoluntary_ctxt_switches:", true);
}

inline int Threads(qint64 pid) {
    return static_cast<int>(QDir(QString("/proc/%1/task").arg(pid))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

// A process at rest: its wake-ups over a period, its resident memory and how
// much of it is its own (not pages of mapped files), and its threads.
struct Idle {
    long long wakeups = -1;
    long long rssKb = -1;
    long long anonKb = -1;
    int threads = 0;
};

// Lets the process's start settle for `settleSeconds`, then counts its
// wake-ups over `seconds` and reads its memory and threads.
inline Idle MeasureIdle(qint64 pid, int settleSeconds, int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(settleSeconds));
    Idle r;
    const long long before = Switches(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    r.wakeups = Switches(pid) - before;
    r.rssKb = StatusField(pid, "VmRSS:", false);
    r.anonKb = StatusField(pid, "RssAnon:", false);
    r.threads = Threads(pid);
    return r;
}

}  // namespace bench
