#include "app/headless.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <thread>

#include "app/install_location.h"
#include "app/list_commands.h"
#include "app/main_form.h"
#include "app/settings_file.h"
#include "framework/application.h"
#include "monitor/connection_table.h"
#include "ping/icmp_engine.h"
#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/product.h"

namespace quilvane {

namespace {

// How long the main thread gets, after SIGTERM or SIGINT, to end the program
// itself before the watcher ends the process.
constexpr int kGraceMs = 1000;

// The signal handler writes to `signals`; the watcher, on a thread of its own,
// passes the news to the event loop through `ending`; the main thread writes
// to `ended` once its loop has returned.
int signalsPipe[2] = {-1, -1};
int endingPipe[2] = {-1, -1};
int endedPipe[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(signalsPipe[1], &byte, 1);
    errno = saved;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n >= 0 || errno != EINTR)
            return n > 0;
    }
}

// The main thread can be held where no event loop runs: the start-up loads
// the settings and makes the window, a reload reads the file. (The monitor's
// pings, look-ups and drive work never hold it.) The watcher sees the signal
// whatever the main thread is doing:
// it asks the event loop to end, which it does at once when idle, and when
// the main thread has not come back within the grace time it ends the
// process. Either way nothing is written: the headless mode never writes the
// settings file, and every line printed was flushed whole.
void WatchEndSignals() {
    WaitReadable(signalsPipe[0], -1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(endingPipe[1], &byte, 1);
    if (!WaitReadable(endedPipe[0], kGraceMs))
        ::_exit(0);
}

bool CatchEndSignals() {
    for (int* fds : {signalsPipe, endingPipe, endedPipe}) {
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
    }
    // The handler must never block.
    if (::fcntl(signalsPipe[1], F_SETFL, O_NONBLOCK) != 0)
        return false;
    std::thread(WatchEndSignals).detach();
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

// Where no XDG_RUNTIME_DIR is set (a server, a su shell), the toolkit warns
// that it uses a folder of its own while it starts its platform; the program
// has its own fallback folder (win::PrivateRuntimeFolder), so the warning
// says nothing a user could act on. Every other message passes.
QtMessageHandler g_toolkitMessages = nullptr;

void DropRuntimeFolderWarning(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
    if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    if (g_toolkitMessages)
        g_toolkitMessages(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The settings file's bytes, empty when it cannot be read.
std::string FileBytes(const std::string& path) {
    std::string bytes;
    if (win::ReadFileContents(path, bytes) != 0)
        bytes.clear();
    return bytes;
}

// Reloads the list when the settings file changes (the list commands replace
// it; a user may edit it by hand). The folder is watched for the replace, the
// file for an edit in place; the events come from the system (inotify), so
// an idle program stays idle. A change that comes during a monitor pass waits
// for the pass's end.
class TSettingsWatch {
public:
    TSettingsWatch(const std::string& folder, std::string loaded)
        : Folder(folder), Path(SettingsFilePath(folder)), Loaded(std::move(loaded)) {
        std::string dir = Folder;
        if (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        Watcher.addPath(QString::fromLocal8Bit(dir));
        WatchFile();
        QObject::connect(&Watcher, &QFileSystemWatcher::directoryChanged, [this] { Changed(); });
        QObject::connect(&Watcher, &QFileSystemWatcher::fileChanged, [this] { Changed(); });
    }

    // After a monitor pass.
    void PassEnded() {
        if (Pending)
            Changed();
    }

private:
    // A replaced file is a new one: the watch follows the name.
    void WatchFile() {
        const QString file = QString::fromLocal8Bit(Path);
        Watcher.removePath(file);
        Watcher.addPath(file);
    }

    void Changed() {
        WatchFile();
        if (!Form1)
            return;
        if (Form1->MonitorPassRunning()) {
            Pending = true;
            return;
        }
        Pending = false;
        // The file is read before it is loaded: a change in between makes one
        // more event and one more load, never a missed one.
        std::string now = FileBytes(Path);
        if (now == Loaded)
            return;
        Loaded = std::move(now);
        try {
            const int count = ReloadSettings(
                *Form1->zIni1, *Form1->RxMemoryData1, Form1->acAutoUpgrader1->InfoFileURL, Folder,
                [](const std::string& drive) { Form1->Monitor->Disconnect(drive); });
            std::fprintf(stderr, "Quilvane: the list was reloaded from %s: %d record%s\n",
                         Path.c_str(), count, count == 1 ? "" : "s");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Quilvane: the list was not reloaded: %s\n", e.what());
        }
        std::fflush(stderr);
    }

    QFileSystemWatcher Watcher;
    const std::string Folder;
    const std::string Path;
    std::string Loaded;
    bool Pending = false;
};

}  // namespace

std::string LineValue(std::string_view value) {
    const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    const bool plain = std::none_of(value.begin(), value.end(), [&](char c) {
        return c == ' ' || c == '=' || c == '"' || c == '\'' ||
               control(static_cast<unsigned char>(c));
    });
    if (plain)
        return std::string(value);
    std::string quoted = "\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            default:
                if (control(byte)) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    quoted += hex;
                } else {
                    quoted += c;
                }
        }
    }
    quoted += '"';
    return quoted;
}

std::string MonitorLine(const fw::TRxMemoryData& table, std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::string line = stamp;
    const TConnectionRecord r(table);
    // The columns of TForm1's grid.
    for (const fw::TField* f : {&r.HostName.Field(), &r.Connected.Field(), &r.FalseCount.Field(),
                                &r.Drive.Field(), &r.UNC.Field(), &r.Maped.Field()}) {
        line += ' ';
        line += f->FieldName();
        line += '=';
        line += LineValue(f->DisplayText());
    }
    return line;
}

std::string StartFailureText(const std::exception& e) {
    std::string text = std::string("Quilvane cannot start: ") + e.what() + "\n";
    if (const auto* icmp = dynamic_cast<const TICMPException*>(&e);
        icmp && icmp->Reason == win::ERROR_ACCESS_DENIED) {
        text +=
            "Quilvane: this system lets this user open no ICMP socket; admit the user's group "
            "in net.ipv4.ping_group_range or give the program CAP_NET_RAW\n";
    }
    return text;
}

int RunHeadless(int argc, char** argv) {
    // The window exists but is never shown: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!CatchEndSignals()) {
        std::perror("Quilvane: cannot catch SIGTERM and SIGINT");
        return 1;
    }
    // The toolkit and the gvfs daemons that the drive calls may start take the
    // runtime area from the environment: they get the one the platform layer
    // trusts, not another user's (a su shell) or none. (No display needs the
    // session's own here.)
    if (const std::string runtime = win::UserRuntimeFolder(); !runtime.empty())
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    g_toolkitMessages = qInstallMessageHandler(&DropRuntimeFolderWarning);
    QApplication qt(argc, argv);
    fw::TApplication application;
    // An error while the window is made (the settings file cannot be read)
    // ends the program: monitoring nothing for ever would hide it.
    bool starting = true;
    bool startFailed = false;
    Application->SetErrorBox([&](const std::string&, const std::string& message) {
        startFailed = startFailed || starting;
        std::fprintf(stderr, starting ? "Quilvane cannot start: %s\n" : "Quilvane: %s\n",
                     message.c_str());
        std::fflush(stderr);
    });
    QSocketNotifier ending(endingPipe[0], QSocketNotifier::Read);
    QObject::connect(&ending, &QSocketNotifier::activated, [&ending] {
        ending.setEnabled(false);
        // Ends the loop without BExit1Click: nothing is written.
        Application->Terminate();
    });

    // Held for the program's life: the list commands tell the user that this
    // monitor takes their changes up.
    const win::HANDLE running = win::CreateMutexA(nullptr, win::FALSE, HeadlessMonitorMutex);
    const std::string folder = SettingsFolder();
    const std::string path = SettingsFilePath(folder);
    // Read before the window loads it, and watched from then on.
    TSettingsWatch watch(folder, FileBytes(path));

    Application->Initialize();
    Application->SetTitle("Quilvane");
    Application->ShowMainForm = false;
    // One monitor at a time: two would map and drop the same letters. The main
    // form's single-instance guard holds the mutex while this runs, so a
    // window start ends as a second instance; this one asks first and ends
    // with a word when a window (or another headless monitor) holds it. (The
    // mutex must not be taken here too: the form's guard would then find it
    // taken by its own process and end the program without a word.)
    if (MutexHeld(TacOnlyOne::MutexName().c_str())) {
        std::fprintf(stderr,
                     "Quilvane cannot start: another Quilvane monitor is running (a window or "
                     "quilvane --headless)\n");
        return 1;
    }
    TForm1::Headless = true;
    try {
        Application->CreateForm(&Form1);
    } catch (const std::exception& e) {
        const std::string text = StartFailureText(e);
        std::fputs(text.c_str(), stderr);
        return 1;
    }
    starting = false;
    if (startFailed)
        return 1;
    if (Form1->RxMemoryData1->IsEmpty()) {
        std::fprintf(stderr,
                     "Quilvane: the list in %s is empty, so there is nothing to watch.\n"
                     "Add a record with:\n  %s\n"
                     "This monitor takes it up at once.\n",
                     path.c_str(), AddCommandExample);
        std::fflush(stderr);
    }
    Form1->OnMonitorPassEnd = [&watch] { watch.PassEnded(); };
    Form1->OnMonitorNotice = [](const std::string& text) {
        std::fprintf(stderr, "Quilvane: %s\n", text.c_str());
        std::fflush(stderr);
    };
    Form1->OnMonitorPost = [](fw::TRxMemoryData& table) {
        const std::string line = MonitorLine(table, std::time(nullptr)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
    Application->Run();
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(endedPipe[1], &byte, 1);
    if (running)
        win::CloseHandle(running);
    return 0;
}

}  // namespace quilvane
