// A small program for the tray icon's tests on a real tray: a form titled
// "Tray Demo" with a tray icon set up as the main window's (options 0x31,
// StartMinimized stored, the popup menu "About", "&Setting", a separator,
// "E&xit"), whose creation handler minimises to the tray as the program does.
// It prints the tray icon's events, one a line ("show", "hide", "minimize",
// "restore", "popup", "about"). Commands on standard input: "minimize",
// "restore", "hint TEXT", "quit".
// Arguments: "--no-stored-start-minimized" stores StartMinimized false (for the
// "/minimized" parameter); any other arguments are left for the tray icon.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstring>
#include <iostream>
#include <string>

#include "framework/application.h"
#include "framework/form.h"
#include "framework/menus.h"
#include "shell/tray_icon.h"

namespace {

bool g_startMinimized = true;

void Say(const char* line) {
    std::cout << line << std::endl;
}

class TrayDemoForm : public fw::TForm {
public:
    explicit TrayDemoForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Tray Demo");
        SetClientWidth(320);
        SetClientHeight(200);
        Menu = new fw::TPopupMenu(this);
        const char* captions[] = {"About", "&Setting", "-", "E&xit"};
        for (const char* caption : captions) {
            auto* item = new fw::TMenuItem(this);
            item->SetCaption(caption);
            Menu->Items()->Add(item);
        }
        Menu->Items()->Items(0)->OnClick = [](fw::TObject*) { Say("about"); };
        Menu->Items()->Items(1)->OnClick = [this](fw::TObject*) { Tray->RestoreFromTray(); };
        Menu->Items()->Items(3)->OnClick = [this](fw::TObject*) { Close(); };
        Tray = new TacTrayIcon(this);
        Tray->SetOptions({oHideIconOnRestore, oDblClickRestore, oPlaySysActionSounds});
        Tray->SetPopupMenu(Menu);
        Tray->OnShow = [](fw::TObject*) { Say("show"); };
        Tray->OnHide = [](fw::TObject*) { Say("hide"); };
        Tray->OnMinimize = [](fw::TObject*) { Say("minimize"); };
        Tray->OnRestore = [](fw::TObject*) { Say("restore"); };
        Tray->OnPopupMenu = [](fw::TObject*) { Say("popup"); };
        Tray->SetStartMinimized(g_startMinimized);
        OnCreate = [this](fw::TObject*) { Tray->MinimizeToTray(); };
    }

    fw::TPopupMenu* Menu;
    TacTrayIcon* Tray;
};

TrayDemoForm* Form1 = nullptr;

void Command(const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    if (verb == "minimize")
        Form1->Tray->MinimizeToTray();
    else if (verb == "restore")
        Form1->Tray->RestoreFromTray();
    else if (verb == "hint")
        Form1->Tray->SetHint(space == std::string::npos ? "" : line.substr(space + 1));
    else if (verb == "quit")
        Form1->Close();
    Say("done");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--no-stored-start-minimized") == 0)
            g_startMinimized = false;
    QApplication qt(argc, argv);
    fw::TApplication app;
    app.SetTitle("Tray Demo");
    app.CreateForm(&Form1);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            input.setEnabled(false);
            return;
        }
        Command(line);
    });
    app.Run();
    return 0;
}
