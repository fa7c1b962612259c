// Cost of the tray icon while the program is idle: wake-ups (context switches
// of all its threads) over a fixed period and resident memory, of tray_probe
// on a private Xvfb display with trayer, once without an icon (the reference)
// and once with its icon docked. Targets: the icon adds no wake-ups, and less
// than 3 MB of resident memory.
//
// Usage: tray_bench [seconds]   (default 10)
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <cstdlib>

#include "bench/proc_status.h"
#include "tests/support/tray_host.h"
#include "tests/support/xvfb_display.h"

namespace {

using bench::Idle;

Idle Measure(const XvfbDisplay& display, bool icon, int seconds) {
    QProcess probe;
    probe.setProcessEnvironment(display.Environment());
    probe.setStandardErrorFile(QProcess::nullDevice());
    probe.start(TRAY_PROBE, {icon ? "Quilvane" : "--no-icon"});
    if (!quilvane_test::WaitForLine(probe, icon ? "add 1" : "no icon", nullptr, 15000))
        return {};
    // After the start-up work (the tray's embedding, first paints).
    const Idle r = bench::MeasureIdle(probe.processId(), 2, seconds);
    probe.write("quit\n");
    if (!probe.waitForFinished(5000))
        probe.kill();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    XvfbDisplay display(800, 600);
    if (!display.Ok() || !XvfbDisplay::HaveProgram("trayer")) {
        std::printf("tray_bench: needs Xvfb and trayer (%s)\n", qPrintable(display.Error()));
        return 1;
    }
    TrayerHost trayer(display);
    const Idle without = Measure(display, false, seconds);
    const Idle with = Measure(display, true, seconds);
    if (without.wakeups < 0 || with.wakeups < 0) {
        std::printf("tray_bench: the probe did not start\n");
        return 1;
    }
    std::printf(
        "idle wake-ups over %d s: without icon %lld (%d threads), with icon %lld (%d threads); "
        "added %lld (target 0)\n",
        seconds, without.wakeups, without.threads, with.wakeups, with.threads,
        with.wakeups - without.wakeups);
    std::printf(
        "resident memory: without icon %lld kB, with icon %lld kB; added %lld kB (target < 3072 "
        "kB)\n",
        without.rssKb, with.rssKb, with.rssKb - without.rssKb);
    return 0;
}
