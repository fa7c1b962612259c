#pragma once
// TacAutoUpgraderWizardForm: the upgrader's progress window, shown (not
// modal) while the files of an upgrade download when Wizard.Enabled is set.
// At most one exists at a time; a second upgrade while it is open reuses it.
// Every text comes from the upgrader's language table.
//
// Cancel, the title bar's close box and Alt+F4 ask whether to abort the
// upgrade; yes closes the window and aborts, no leaves the download running.
// After the last file the window shows its completed page, whose OK closes it.
// Closing frees the window and tells the upgrader (which waits for it on the
// completed page); stopping the upgrader closes it.
//
// Threads: main thread only.

#include <QImage>
#include <string>

#include "framework/form.h"
#include "framework/group_box.h"
#include "framework/image.h"
#include "framework/std_controls.h"

class TacAutoUpgrader;

class TacAutoUpgraderWizardForm : public fw::TForm {
public:
    explicit TacAutoUpgraderWizardForm(fw::TComponent* AOwner);
    ~TacAutoUpgraderWizardForm() override;

    // The open window, or nullptr.
    static TacAutoUpgraderWizardForm* Instance();
    // Makes the window (or takes the open one), links it to `upgrader`, fills
    // in its texts and settings and shows it without activating a modal loop.
    static TacAutoUpgraderWizardForm* ShowFor(TacAutoUpgrader* upgrader);

    // Progress of the download, as the upgrader reports it.
    void ShowFile(const std::string& url, int number, int count);
    void ShowFileSize(std::int64_t bytes);
    void ShowProgress(int percent, int totalPercent, float rate, int secondsLeft);
    // The completed page: OK (focused) closes the window.
    void ShowCompleted();

    TacAutoUpgrader* Upgrader = nullptr;

    fw::TControl* Panel;  // lowered, holds the side picture
    fw::TImage* Picture;
    fw::TLabel* WizardTitle;
    fw::TLabel* AfterNote;
    fw::TGroupBox* LCurrentFile;
    fw::TLabel* LDownloadingFileFrom;
    fw::TEdit* FileURL;
    fw::TLabel* LFileSize;
    fw::TLabel* LTransferRate;
    fw::TLabel* LEstimatedTime;
    fw::TControl* ProgressCurrentFile;
    fw::TGroupBox* LAllFiles;
    fw::TLabel* AllDownloading;
    fw::TControl* ProgressAllFiles;
    fw::TControl* Bevel;
    fw::TLabel* AboutShadow;
    fw::TLabel* LAbout;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;

protected:
    // The system close command asks whether to abort.
    void WndProc(fw::TMessage& Message) override;

private:
    void Setup(TacAutoUpgrader* upgrader);
    // Moves the size, rate and time lines up where the hidden location was.
    void HideFileLocation();
    void AskAbort();
    static void SetBar(fw::TControl* bar, int percent);

    bool closing_ = false;
};

// The built-in 118 x 218 side picture.
QImage WizardSidePicture();
