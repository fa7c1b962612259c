#include "app/headless.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <exception>

#include "app/main_form.h"
#include "framework/application.h"

namespace quilvane {

namespace {

// Written by the signal handler, read by the event loop.
int signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool CatchEndSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

std::string MonitorLine(const fw::TRxMemoryData& table, std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::string line = stamp;
    // The columns of TForm1's grid.
    for (const char* name : {"HostName", "Connected", "FalseCount", "Drive", "UNC", "Maped"}) {
        line += ' ';
        line += name;
        line += '=';
        line += table.FieldByName(name).DisplayText();
    }
    return line;
}

int RunHeadless(int argc, char** argv) {
    // The window exists but is never shown: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!CatchEndSignals()) {
        std::perror("Quilvane: cannot catch SIGTERM and SIGINT");
        return 1;
    }
    QApplication qt(argc, argv);
    fw::TApplication application;
    Application->SetErrorBox([](const std::string&, const std::string& message) {
        std::fprintf(stderr, "Quilvane: %s\n", message.c_str());
        std::fflush(stderr);
    });
    QSocketNotifier ending(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&ending, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        // Ends the loop without BExit1Click: nothing is written.
        Application->Terminate();
    });

    Application->Initialize();
    Application->SetTitle("Quilvane");
    Application->ShowMainForm = false;
    try {
        Application->CreateForm(&Form1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Quilvane cannot start: %s\n", e.what());
        return 1;
    }
    Form1->OnMonitorPost = [](fw::TRxMemoryData& table) {
        const std::string line = MonitorLine(table, std::time(nullptr)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
    Application->Run();
    return 0;
}

}  // namespace quilvane
