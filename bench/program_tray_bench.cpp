// The program in the tray against a bare Qt program with a tray icon
// (bare_tray), both on a private Xvfb display with trayer, in the same run:
//
// - start: from exec to the icon docked in the tray (the moment the tray
//   takes the icon's window into its own), median of several starts;
//   target for the program: under 300 ms;
// - idle: wake-ups (context switches of all threads) over a period with the
//   icon shown, after the start has settled; target: none beyond the monitor's
//   ticks (one every 10 s, each a few switches);
// - resident memory with the icon shown; target: under 35 MB.
//
// The program runs as a copy in a private folder with an empty list, private
// configuration folders, and its upgrade check sent to a refused loopback port.
//
// Usage: program_tray_bench [idle seconds (default 60)] [starts (default 7)]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/proc_status.h"
#include "tests/support/program_folder.h"
#include "tests/support/tray_host.h"
#include "tests/support/xvfb_display.h"

// Last: Xlib's macros (Status, Bool, None) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

bool HasClass(Display* x, Window w, const char* className) {
    XClassHint hint{};
    if (!XGetClassHint(x, w, &hint))
        return false;
    const bool match = hint.res_name && std::strcmp(hint.res_name, className) == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return match;
}

// Milliseconds from exec to the tray's taking a window of `className` into
// one of its own (a reparent away from the root), -1 when not within 10 s.
// The process is left running in `process`.
double StartToDocked(const XvfbDisplay& display, QProcess& process, const QProcessEnvironment& env,
                     const QString& program, const char* className) {
    Display* x = XOpenDisplay(display.Display().toLocal8Bit().constData());
    if (!x)
        return -1;
    const Window root = DefaultRootWindow(x);
    XSelectInput(x, root, SubstructureNotifyMask);
    XSync(x, False);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    double ms = -1;
    const int fd = ConnectionNumber(x);
    while (ms < 0 && clock.elapsed() < 10000) {
        while (XPending(x)) {
            XEvent e;
            XNextEvent(x, &e);
            if (e.type == ReparentNotify && e.xreparent.parent != root &&
                HasClass(x, e.xreparent.window, className)) {
                ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                break;
            }
        }
        if (ms >= 0)
            break;
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 100000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    XCloseDisplay(x);
    return ms;
}

void Stop(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

struct Figures : bench::Idle {
    double startMs = -1;  // median
};

Figures Measure(const XvfbDisplay& display, const QProcessEnvironment& env, const QString& program,
                const char* className, int starts, int seconds,
                const std::function<void()>& beforeStart) {
    Figures f;
    std::vector<double> times;
    for (int i = 0; i < starts; ++i) {
        beforeStart();
        QProcess p;
        const double ms = StartToDocked(display, p, env, program, className);
        if (ms >= 0)
            times.push_back(ms);
        if (i + 1 < starts) {
            Stop(p);
            continue;
        }
        if (ms < 0)
            break;
        // The last start stays for the idle figures, once its start has settled.
        static_cast<bench::Idle&>(f) = bench::MeasureIdle(p.processId(), 3, seconds);
        Stop(p);
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        f.startMs = times[times.size() / 2];
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int starts = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    XvfbDisplay display(800, 600);
    if (!display.Ok() || !XvfbDisplay::HaveProgram("trayer")) {
        std::printf("program_tray_bench: needs Xvfb and trayer (%s)\n",
                    qPrintable(display.Error()));
        return 1;
    }
    TrayerHost trayer(display);

    QTemporaryDir top;
    const QString root = top.filePath("program");
    if (!quilvane_test::MakeProgramFolder(root, QUILVANE_BINARY, QUILVANE_ICMP_LIBRARY)) {
        std::printf("program_tray_bench: cannot copy the program\n");
        return 1;
    }
    const QString exe = root + "/bin/quilvane";
    const QProcessEnvironment env = quilvane_test::ProgramEnvironment(display.Environment(), root);

    const Figures bare = Measure(display, env, BARE_TRAY, "bare_tray", starts, seconds, [] {});
    // Every start of the program is a first start: no settings file yet.
    const Figures quilvane = Measure(display, env, exe, "quilvane", starts, seconds,
                                     [&] { QFile::remove(root + "/bin/Quilvane.ini"); });
    if (bare.startMs < 0 || quilvane.startMs < 0 || quilvane.wakeups < 0) {
        std::printf("program_tray_bench: an icon did not dock\n");
        return 1;
    }
    std::printf(
        "exec to icon docked (median of %d): quilvane %.1f ms, bare Qt tray icon %.1f ms "
        "(target for quilvane < 300 ms)\n",
        starts, quilvane.startMs, bare.startMs);
    std::printf(
        "idle wake-ups over %d s: quilvane %lld (%d threads), bare Qt tray icon %lld "
        "(%d threads) (target: only the monitor's %d ticks)\n",
        seconds, quilvane.wakeups, quilvane.threads, bare.wakeups, bare.threads, seconds / 10);
    std::printf(
        "resident memory: quilvane %lld kB (own %lld kB, the rest pages of shared libraries), "
        "bare Qt tray icon %lld kB (own %lld kB) (target for quilvane < 35840 kB)\n",
        quilvane.rssKb, quilvane.anonKb, bare.rssKb, bare.anonKb);
    return 0;
}
