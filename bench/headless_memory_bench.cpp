// Resident memory of `quilvane --headless` at rest, beside a reference build
// of the program measured in the same run (for instance the main branch's
// build, whose HTTP stack is linked in), and whether each has mapped libcurl.
// Target: under 30 MB, with libcurl not mapped (the headless mode never checks
// for upgrades, so the internet library is never loaded).
//
// Each binary runs as a copy in a private folder of its own (tests/support/
// program_folder.h) with an empty list, for `seconds` after its start.
//
// Usage: headless_memory_bench [reference binary] [seconds (default 5)]
#include <signal.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/proc_status.h"
#include "tests/support/program_folder.h"

namespace {

struct Figures {
    bool ok = false;
    long long rssKb = -1;
    bool curl = false;
};

Figures Measure(const QString& binary, int seconds) {
    Figures f;
    QTemporaryDir dir;
    const QString root = dir.path() + "/program";
    const QString icmp =
        QString::fromStdString(win::OwnLibraryPath(binary.toStdString(), "icmp.dll"));
    if (!quilvane_test::MakeProgramFolder(root, binary, icmp))
        return f;
    QProcess program;
    program.setProcessEnvironment(
        quilvane_test::ProgramEnvironment(QProcessEnvironment::systemEnvironment(), root));
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(root + "/bin/quilvane", {"--headless"});
    if (!program.waitForStarted(10000))
        return f;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const qint64 pid = program.processId();
    f.rssKb = bench::StatusField(pid, "VmRSS:", false);
    QFile maps(QString("/proc/%1/maps").arg(pid));
    if (maps.open(QIODevice::ReadOnly))
        f.curl = maps.readAll().contains("libcurl");
    f.ok = program.state() == QProcess::Running && f.rssKb > 0;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    program.waitForFinished(5000);
    return f;
}

void Print(const char* name, const QString& binary, const Figures& f) {
    if (!f.ok) {
        std::printf("  %-10s %s: did not run\n", name, qPrintable(binary));
        return;
    }
    std::printf("  %-10s %.1f MB resident, libcurl %s   (%s)\n", name, f.rssKb / 1024.0,
                f.curl ? "mapped" : "not mapped", qPrintable(binary));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString reference = argc > 1 ? argv[1] : QString();
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf("quilvane --headless at rest, %d s after its start, empty list:\n", seconds);
    const Figures ours = Measure(QUILVANE_BINARY, seconds);
    Print("this build", QUILVANE_BINARY, ours);
    if (!reference.isEmpty())
        Print("reference", reference, Measure(reference, seconds));
    std::printf("  target: under 30 MB, libcurl not mapped: %s\n",
                ours.ok && ours.rssKb < 30 * 1024 && !ours.curl ? "met" : "MISSED");
    return ours.ok ? 0 : 1;
}
