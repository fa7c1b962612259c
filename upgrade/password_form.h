#pragma once
// TacAutoUpgraderPasswordForm: the upgrader's password dialog, shown modally
// when a download answers 401 and the upgrader's ShowMessages lets it. It
// names the protected file (or not, with Wizard.HideFileLocation), offers the
// stored user name, and OK stores both entries into the upgrader's
// HTTPUsername and HTTPPassword. Every text comes from the language table.
//
// Threads: main thread only.

#include <QImage>
#include <string>

#include "framework/form.h"
#include "framework/image.h"
#include "framework/rich_label.h"
#include "framework/std_controls.h"

class TacAutoUpgrader;

class TacAutoUpgraderPasswordForm : public fw::TForm {
public:
    explicit TacAutoUpgraderPasswordForm(fw::TComponent* AOwner);
    ~TacAutoUpgraderPasswordForm() override;

    // Shows the dialog for the file at `fileURL`; true when closed with OK
    // (the entries are then stored in the upgrader).
    static bool Execute(TacAutoUpgrader* upgrader, const std::string& fileURL);
    // The open dialog, or nullptr.
    static TacAutoUpgraderPasswordForm* Instance();
    // Text 29 for a file name, or without the quoted name when it is hidden.
    static std::string PasswordText(const std::string& fileName, bool hideFileLocation);

    TacAutoUpgrader* Upgrader = nullptr;

    fw::TRichLabel* acRichLabel1;
    fw::TImage* Image1;
    fw::TControl* BottomPanel;
    fw::TLabel* UsernameLabel;
    fw::TEdit* UsernameEdit;
    fw::TLabel* PasswordLabel;
    fw::TEdit* PasswordEdit;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;

private:
    void Setup(TacAutoUpgrader* upgrader, const std::string& fileURL);
};

// The built-in 32 x 32 key picture.
QImage PasswordKeyPicture();
