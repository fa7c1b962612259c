#include "app/program.h"

#include <strings.h>

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/display_check.h"
#include "app/headless.h"
#include "app/install_location.h"
#include "app/list_commands.h"
#include "app/main_form.h"
#include "app/settings_file.h"
#include "app/version.h"
#include "framework/application.h"
#include "platform/kernel.h"
#include "platform/product.h"

namespace quilvane {

namespace {

constexpr const char* kUsage =
    "Usage: quilvane [--show | --headless | --help | --version]\n"
    "       quilvane --list [--json]\n"
    "       quilvane --add --host HOST --user USER --unc SHARE --drive X: [--max-ping N]\n"
    "                [--password-stdin]\n"
    "       quilvane --edit N [--host HOST] [--user USER] [--unc SHARE] [--drive X:]\n"
    "                [--max-ping N] [--password | --password-stdin]\n"
    "       quilvane --remove N\n"
    "Keeps network shares mapped to drive letters while their servers answer pings.\n"
    "\n"
    "  --show      start with the window shown; when Quilvane runs already, bring\n"
    "              its window up (also out of the tray) and end\n"
    "  --headless  run without any window: the monitor works as usual and prints\n"
    "              one line on standard output for each record it updates;\n"
    "              SIGTERM or SIGINT end it within 2 seconds without writing the\n"
    "              settings file; when the settings file changes (by the commands\n"
    "              below or by hand) it reloads the list\n"
    "  --help      show this text and end\n"
    "  --version   show the program's name and version and end\n"
    "\n"
    "The list of shares, without the window (N is the record's number in --list):\n"
    "  --list            the records as a table: number, host, user, share, drive\n"
    "                    and MaxPing, never the password; with --json as JSON\n"
    "  --add             add a record; --host (name or IPv4 address, at most 16\n"
    "                    characters), --user (at most 20), --unc (the share on the\n"
    "                    server, e.g. data or data\\reports, at most 50) and --drive\n"
    "                    (A: to Z:) are needed; --max-ping (unanswered pings to\n"
    "                    tolerate, a whole number) is 5 unless given\n"
    "  --edit N          change the given fields of record N\n"
    "  --remove N        remove record N\n"
    "  --password        (--edit) ask for a new password\n"
    "  --password-stdin  read the password from standard input (one line)\n"
    "The password is asked for on the terminal without echo, or read from\n"
    "standard input; it is never taken from the command line or the environment.\n"
    "The file is written as the window's Ok writes it. While the window runs, a\n"
    "change is refused: make it in the window, or quit it first; a running\n"
    "headless monitor reloads the list at once. Exit status: 0 done, 1 not\n"
    "possible now (window running, file not writable), 2 bad option or value;\n"
    "on 1 and 2 the file is unchanged.\n"
    "\n"
    "Headless lines: local time, then the grid's columns as Name=value, one blank\n"
    "between fields:\n"
    "  2026-12-10T01:02:03 HostName=srv1 Connected=True FalseCount=0 Drive=Y: UNC=data Maped=True\n"
    "A value is empty while unset. A value holding a blank, \"=\", a quote (\" or ')\n"
    "or a control character is written in double quotes, in which \\\" stands for \",\n"
    "\\\\ for \\, \\t \\n \\r for tab, line feed and carriage return, and \\xHH for\n"
    "another control byte; any other value stands as it is.\n";

}  // namespace

int RunProgram(int argc, char** argv) {
    if (IsListCommand(argc, argv))
        return RunListCommand(argc, argv);
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(arg, "--show") == 0) {
            TForm1::ShowRequested = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("Quilvane %s\n", ProgramVersion);
            return 0;
        } else if (strcasecmp(arg, "/minimized") == 0 || strcasecmp(arg, "/autorun") == 0 ||
                   strcasecmp(arg, "/afterupgrade") == 0) {
            // The tray start, auto-run and upgrade parameters, in any case (the
            // components compare them so): accepted as they come from the
            // start-up entry and the upgrade helper.
        } else {
            std::fprintf(stderr, "quilvane: unknown option '%s'\n%s", arg, kUsage);
            return 2;
        }
    }
    // Named mutexes, window handles and message sockets live in the private
    // runtime folder; without one the single-instance guard could not work,
    // and a silent end would look like success to a service manager.
    std::string why;
    if (win::PrivateRuntimeFolder(&why).empty()) {
        std::fprintf(stderr, "Quilvane cannot start: no private runtime folder can be had: %s\n",
                     why.c_str());
        return 1;
    }
    if (headless)
        return RunHeadless(argc, argv);

    if (const std::string missing = MissingDisplay(); !missing.empty()) {
        std::fprintf(stderr,
                     "Quilvane cannot start: %s.\n"
                     "To run without a window, start it as: quilvane --headless\n",
                     missing.c_str());
        return 2;
    }
    // Held for the program's life: the list commands refuse to change the
    // file under a window whose next Ok would write over it. Said under their
    // lock, so a change either sees it or is done before the window loads.
    // Both live beside the settings file, so a command under another runtime
    // folder sees them too.
    const std::string settings = SettingsFilePath(SettingsFolder());
    std::optional<win::FileLock> windowRunning;
    {
        const win::FileLock lock = SettingsChangeLock(settings);
        if (lock.Held())
            windowRunning.emplace(WindowRunningGuard(settings));
        const int err = !lock.Held() ? lock.Error() : windowRunning->Error();
        // A folder this user may not write: no change of the file can come
        // from this user, nor can this window's Exit replace it, so the window
        // runs (and says so at its first save) without the guard.
        if (err && err != EACCES && err != EROFS) {
            std::fprintf(stderr, "Quilvane cannot start: %s\n",
                         SettingsLockProblem(settings, err).c_str());
            return 1;
        }
    }
    QApplication qt(argc, argv);
    // The same picture as the desktop entry's icon, which the desktop finds by
    // the entry's name.
    QIcon icon(":/icons/quilvane-16.png");
    icon.addFile(":/icons/quilvane.png");
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName("quilvane");
    fw::TApplication application;
    Application->Initialize();
    Application->SetTitle("Quilvane");
    // An error while the window is made (the settings file cannot be read) is
    // shown in its box and then ends the program: a window that never shows,
    // holding the single-instance guard, would hide the fault and refuse
    // every later start without a word.
    bool starting = true;
    bool startFailed = false;
    Application->SetErrorBox([&](const std::string& title, const std::string& message) {
        if (starting) {
            startFailed = true;
            std::fprintf(stderr, "Quilvane cannot start: %s\n", message.c_str());
            std::fflush(stderr);
        }
        QMessageBox box(QMessageBox::Critical, QString::fromStdString(title),
                        QString::fromStdString(message), QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    });
    try {
        Application->CreateForm(&Form1);
    } catch (const std::exception& e) {
        // Without its main window the program cannot run; say why where the
        // user looks (a box) and where a log looks (standard error).
        starting = false;
        const std::string text = StartFailureText(e);
        std::fputs(text.c_str(), stderr);
        Application->ShowException(std::runtime_error(text.substr(0, text.size() - 1)));
        return 1;
    }
    starting = false;
    // Returning ends the forms, and with them the guard, before the process.
    if (startFailed)
        return 1;
    Application->Run();
    return 0;
}

}  // namespace quilvane
