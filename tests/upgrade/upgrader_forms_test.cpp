// The upgrader's windows laid out and filled in (offscreen): the password
// text with and without the file name, the progress window's moves when the
// file location is hidden, its reuse, and its completed page.
#include <gtest/gtest.h>

#include "framework/application.h"
#include "tests/support/qt_wait.h"
#include "upgrade/auto_upgrader.h"
#include "upgrade/password_form.h"
#include "upgrade/wizard_form.h"

namespace {

using quilvane_test::RunUntil;

TEST(UpgraderForms, PasswordTextNamesTheFileOrLeavesItOutWithoutADoubleBlank) {
    upgrader_texts::SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
    const std::string rest =
        " is password protected.\n\nPlease enter your username and password (received after "
        "registration) to continue software upgrade.";
    EXPECT_EQ(TacAutoUpgraderPasswordForm::PasswordText("secret.txt", false),
              "Access to remote file \"[b]secret.txt[]\"" + rest);
    EXPECT_EQ(TacAutoUpgraderPasswordForm::PasswordText("secret.txt", true),
              "Access to remote file" + rest);
    // Every language's text loses its placeholder the same way.
    for (int n = 1; n <= upgrader_texts::kLanguageCount; ++n) {
        upgrader_texts::SetLanguage(static_cast<TacAutoUpgraderLanguage>(n));
        const std::string hidden = TacAutoUpgraderPasswordForm::PasswordText("x", true);
        EXPECT_EQ(hidden.find("%s"), std::string::npos) << n;
        EXPECT_EQ(hidden.find("  "), std::string::npos) << n;
    }
    upgrader_texts::SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
}

TEST(UpgraderForms, ProgressWindowHidesTheLocationIsReusedAndCompletes) {
    fw::TApplication app;
    app.SetTitle("Quilvane");
    TacAutoUpgrader upgrader(nullptr);
    upgrader.Wizard.SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
    upgrader.Wizard.HideFileLocation = true;
    upgrader.Wizard.StayOnTop = false;

    TacAutoUpgraderWizardForm* w = TacAutoUpgraderWizardForm::ShowFor(&upgrader);
    EXPECT_EQ(w->Caption(), "Application update wizard");
    EXPECT_FALSE(w->FileURL->Visible());
    EXPECT_FALSE(w->LDownloadingFileFrom->Visible());
    EXPECT_EQ(w->LFileSize->Top(), 14);
    EXPECT_EQ(w->LTransferRate->Top(), 30);
    EXPECT_EQ(w->LEstimatedTime->Top(), 46);
    EXPECT_EQ(w->ProgressCurrentFile->Top(), 66);
    EXPECT_EQ(w->LCurrentFile->Top(), 44);
    EXPECT_EQ(w->LCurrentFile->Height(), 95);
    EXPECT_EQ(w->LAbout->Caption(), " AutoUpgrader ");
    EXPECT_EQ(w->LEstimatedTime->Caption(), "Preparing. . .");
    EXPECT_FALSE(w->OKBtn->Enabled());

    w->ShowFile("http://h/Quilvane", 2, 3);
    w->ShowFileSize(1536);
    w->ShowProgress(40, 73, 12.25f, 3725);
    EXPECT_EQ(w->AllDownloading->Caption(), "Downloading 2 of 3");
    EXPECT_EQ(w->LFileSize->Caption(), "File size: 1.5 Kb");
    EXPECT_EQ(w->LTransferRate->Caption(), "Transfer rate: 12.2 Kb/s");
    EXPECT_EQ(w->LEstimatedTime->Caption(), "Estimated time left: 1:02:05");

    // A second upgrade while it is open takes the same window, moved once.
    EXPECT_EQ(TacAutoUpgraderWizardForm::ShowFor(&upgrader), w);
    EXPECT_EQ(w->LCurrentFile->Top(), 44);

    w->ShowCompleted();
    EXPECT_EQ(w->WizardTitle->Caption(), "Upgrade completed!");
    EXPECT_EQ(w->AfterNote->Caption(),
              "The update of Quilvane has been successfully completed.\n\nPress the OK button to "
              "restart program.");
    EXPECT_FALSE(w->LCurrentFile->Visible());
    EXPECT_FALSE(w->LAllFiles->Visible());
    EXPECT_FALSE(w->CancelBtn->Enabled());
    EXPECT_TRUE(w->OKBtn->Enabled());
    EXPECT_EQ(w->OKBtn->Caption(), "&OK");

    // OK closes it; the window is forgotten at once and freed soon after.
    w->OKBtn->Click();
    EXPECT_EQ(TacAutoUpgraderWizardForm::Instance(), nullptr);
    RunUntil([] { return false; }, 50);
}

}  // namespace
