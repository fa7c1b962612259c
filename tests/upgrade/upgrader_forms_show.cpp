// A small program that runs one upgrade with the progress window, for the
// tests that drive the upgrader's windows on a real display:
//   upgrader_forms_show <program folder> <info file URL> [--ask] [--password]
// --ask asks before the upgrade, --password lets a 401 show the password
// dialog. It prints one line per event ("progress <percent> bar=<current bar>
// <all-files line>", "done <file>", "lost <code>", "end", "aborted",
// "later") and ends after "end", "aborted" or "later" with status 0.
#include <QApplication>
#include <QProgressBar>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "framework/application.h"
#include "upgrade/auto_upgrader.h"
#include "upgrade/wizard_form.h"

namespace {

// The program's main window, never shown: as in a real program, the
// upgrader's windows are not the main one.
class MainForm : public fw::TForm {
public:
    explicit MainForm(fw::TComponent* AOwner) : TForm(AOwner) {}
};

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    fw::TApplication app;
    Application->SetTitle("Quilvane");
    fw::TForm::Create<MainForm>(Application);
    const QStringList args = QApplication::arguments().mid(1);
    if (args.size() < 2)
        return 2;
    TacAutoUpgrader::SetProgramPathForTesting(args[0].toStdString() + "/Quilvane");
    TacAutoUpgrader upgrader(nullptr);
    upgrader.Wizard.SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
    upgrader.Wizard.StayOnTop = false;
    upgrader.VersionControl = byNumber;
    upgrader.VersionNumber = "1.0";
    upgrader.ShowMessages = {};
    if (args.contains("--ask"))
        upgrader.ShowMessages.Include(mAskUpgrade);
    if (args.contains("--password"))
        upgrader.ShowMessages.Include(mPasswordRequest);
    upgrader.InfoFileURL = args[1].toStdString();

    // The window is updated after the event: its state is read once the
    // event loop runs again.
    upgrader.OnProgress = [](fw::TObject*, const std::string&, int, int, int, int,
                             win::BYTE percent, win::BYTE, float) {
        QTimer::singleShot(0, [percent] {
            std::string line = "progress " + std::to_string(percent);
            if (TacAutoUpgraderWizardForm* w = TacAutoUpgraderWizardForm::Instance())
                line += " bar=" +
                        std::to_string(
                            static_cast<QProgressBar*>(w->ProgressCurrentFile->Widget())->value()) +
                        " " + w->AllDownloading->Caption();
            Say(line);
        });
    };
    upgrader.OnFileDone = [](fw::TObject*, const std::string& name) {
        Say("done " + name.substr(name.rfind('/') + 1));
    };
    upgrader.OnLostFile = [](fw::TObject*, const std::string&, int code, bool&) {
        Say("lost " + std::to_string(code));
    };
    upgrader.OnEndUpgrade = [](fw::TObject*, bool& restart) {
        restart = false;
        Say("end");
        QCoreApplication::exit(0);
    };
    upgrader.OnAborted = [](fw::TObject*) {
        Say("aborted");
        QCoreApplication::exit(0);
    };
    upgrader.OnLaterUpgrade = [](fw::TObject*) {
        Say("later");
        QCoreApplication::exit(0);
    };
    upgrader.CheckForUpgrade();
    return qt.exec();
}
