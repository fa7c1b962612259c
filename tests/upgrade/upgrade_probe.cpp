// A small program that upgrades itself, for the end-to-end test: run as
//     upgrade_probe <info file URL>
// it checks for a newer version than 1.0 with no boxes, downloads, starts the
// helper and ends; each outcome is written to "status.txt" beside it. Run as
//     upgrade_probe /afterupgrade
// (by the helper) it writes its arguments to "restarted.txt" beside it. Run as
//     upgrade_probe --maps
// it writes to "maps.txt" whether libcurl is mapped before and after its
// first internet call.
#include <QCoreApplication>
#include <QGuiApplication>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/kernel.h"
#include "upgrade/auto_upgrader.h"

namespace {

void Note(const std::string& file, const std::string& text) {
    std::ofstream(TacAutoUpgrader::ProgramFolder() + file, std::ios::app) << text << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "/afterupgrade") {
        std::string args;
        for (int i = 1; i < argc; ++i)
            args += std::string(i > 1 ? " " : "") + argv[i];
        Note("restarted.txt", args);
        return 0;
    }
    if (argc < 2)
        return 2;
    if (std::string(argv[1]) == "--maps") {
        // Whether libcurl is mapped before and after the first internet call.
        auto mapped = [] {
            std::ifstream maps("/proc/self/maps");
            const std::string text((std::istreambuf_iterator<char>(maps)), {});
            return text.find("libcurl") != std::string::npos ? "mapped" : "not mapped";
        };
        std::string line = std::string("before ") + mapped();
        const std::string host = TacCustomHTTP::HostFromURL("https://example.org/x");
        line += std::string(", after ") + mapped() + " (" + host + ")";
        Note("maps.txt", line);
        return 0;
    }
    TacAutoUpgrader upgrader(nullptr);
    upgrader.VersionControl = byNumber;
    upgrader.VersionNumber = "1.0";
    upgrader.ShowMessages = {};
    upgrader.Wizard.Enabled = false;
    upgrader.InfoFileURL = argv[1];
    auto end = [&](const char* what) {
        return [&app, what](fw::TObject*) {
            Note("status.txt", what);
            app.quit();
        };
    };
    upgrader.OnNoUpdateAvailable = end("no update");
    upgrader.OnNoInfoFile = end("no info file");
    upgrader.OnAborted = end("aborted");
    upgrader.OnHostUnreachable = [&](fw::TObject*, const std::string&, const std::string&) {
        Note("status.txt", "unreachable");
        app.quit();
    };
    upgrader.OnLostFile = [](fw::TObject*, const std::string& url, int code, bool&) {
        Note("status.txt", "lost " + url + " " + std::to_string(code));
    };
    upgrader.OnFileDone = [](fw::TObject*, const std::string& name) {
        Note("status.txt", "done " + name.substr(name.rfind('/') + 1));
    };
    upgrader.OnDoOwnCloseAppMethod = end("restarting");
    upgrader.OnUnverified = [&](fw::TObject*, const std::string& reason) {
        Note("status.txt", "refused " + reason);
        app.quit();
    };
    // The boxes that end a check without an event: a line each.
    auto box = [&](const char* kind) {
        return [&app, kind](const std::string&, const std::string& text) {
            Note("status.txt", std::string(kind) + " " + text.substr(0, text.find('\r')));
            app.quit();
        };
    };
    upgrader.NoticeBox = box("notice");
    upgrader.ErrorBox = box("error");
    upgrader.CheckForUpgrade();
    return app.exec();
}
