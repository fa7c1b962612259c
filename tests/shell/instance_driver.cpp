// A program with a single-instance guard and an auto-run component on its main
// form, for the tests that need processes of their own. Usage:
//   instance_driver TITLE [--close-first] [--keep-second] [--refuse] [--register]
//                   [/autorun]
// --close-first sets CloseFirst, --keep-second clears CloseSecond, --refuse
// makes OnForcedTermination keep the program running, --register sets
// AutoRun for the user and ends at once. It reports on stdout,
// one line each:
//   exists                 another instance was found (OnAlreadyExist)
//   forced                 OnForcedTermination was asked
//   autorun <0|1>          whether it was started by auto-run, once loaded
//   window <hwnd>          its message window, once its main form is made
//   running                its message loop starts
//   switch | close         the first instance's messages arrived
//   registry <hwnd>        the published window (asked by "registry" on stdin)
//   visible <0|1>          whether its main form is shown (asked by "visible");
//                          the form starts hidden, as in the tray
//   ended                  its message loop ended
// and "quit" on stdin closes its main form.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/application.h"
#include "framework/form.h"
#include "shell/app_auto_run.h"
#include "shell/only_one.h"

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool g_closeFirst = false;
bool g_keepSecond = false;
bool g_refuse = false;
bool g_register = false;

class WatchedOnlyOne : public TacOnlyOne {
public:
    using TacOnlyOne::TacOnlyOne;
    void MessageHandler(fw::TMessage& m) override {
        if (m.Msg == WM_ACONLYONE_SWITCHTOFIRST)
            Say("switch");
        if (m.Msg == WM_ACONLYONE_CLOSEFIRST)
            Say("close");
        TacOnlyOne::MessageHandler(m);
    }
};

class DriverForm : public fw::TForm {
public:
    explicit DriverForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Instance");
        AutoRun = new TacAppAutoRun(this);
        AutoRun->OnAutoRun = [](fw::TObject*) { Say("onautorun"); };
        OnlyOne = new WatchedOnlyOne(this);
        OnlyOne->CloseFirst = g_closeFirst;
        OnlyOne->CloseSecond = !g_keepSecond;
        OnlyOne->OnAlreadyExist = [](fw::TObject*) { Say("exists"); };
        OnlyOne->OnForcedTermination = [](fw::TObject*, bool& close) {
            Say("forced");
            if (g_refuse)
                close = false;
        };
    }
    TacAppAutoRun* AutoRun;
    WatchedOnlyOne* OnlyOne;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    for (int i = 2; i < argc; ++i) {
        g_closeFirst |= std::strcmp(argv[i], "--close-first") == 0;
        g_keepSecond |= std::strcmp(argv[i], "--keep-second") == 0;
        g_refuse |= std::strcmp(argv[i], "--refuse") == 0;
        g_register |= std::strcmp(argv[i], "--register") == 0;
    }
    fw::TApplication app;
    app.SetTitle(argc > 1 ? argv[1] : "");
    app.ShowMainForm = false;
    DriverForm* form = nullptr;
    app.CreateForm(&form);
    Say("autorun " + std::to_string(form->AutoRun->StartedByAutoRun() ? 1 : 0));
    Say("window " + std::to_string(form->OnlyOne->MessageWindow()));
    if (g_register) {
        form->AutoRun->SetAutoRun(true);
        return 0;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [form, &input] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        if (std::strncmp(line, "registry", 8) == 0)
            Say("registry " + std::to_string(TacOnlyOne::PublishedWindow()));
        if (std::strncmp(line, "visible", 7) == 0)
            Say(std::string("visible ") + (form->Visible() ? "1" : "0"));
        if (std::strncmp(line, "quit", 4) == 0)
            form->Close();
    });
    if (!app.Terminated())
        Say("running");
    app.Run();
    Say("ended");
    return 0;
}
