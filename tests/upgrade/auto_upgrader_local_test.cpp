// The upgrader without a server: information files read through "file" URLs
// (the question before an upgrade) and the answer of its hidden window to the end of the session.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "framework/application.h"
#include "framework/resource_images.h"
#include "tests/support/qt_wait.h"
#include "upgrade/auto_upgrader.h"

namespace {

using quilvane_test::RunUntil;

class AutoUpgraderLocal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        TacAutoUpgrader::SetProgramPathForTesting(dir_.filePath("Quilvane").toStdString());
        upgrader_ = std::make_unique<TacAutoUpgrader>(nullptr);
        upgrader_->Wizard.SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
        upgrader_->VersionControl = byNumber;
        upgrader_->VersionNumber = "2.0.6";
        upgrader_->OnLaterUpgrade = [this](fw::TObject*) { events_.push_back("LaterUpgrade"); };
    }
    void TearDown() override {
        upgrader_.reset();
        TacAutoUpgrader::SetProgramPathForTesting({});
    }
    std::string InfoFile(const std::string& text) {
        const std::string path =
            dir_.filePath("Quilvane" + QString::number(++files_) + ".inf").toStdString();
        std::ofstream(path) << text;
        return "file://" + path;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TacAutoUpgrader> upgrader_;
    std::vector<std::string> events_;
    int files_ = 0;
};

TEST_F(AutoUpgraderLocal, QuestionIsAnInfoBoxWithTheUpgradersIconAndTexts) {
    fw::TApplication app;
    const struct {
        std::string title;
        std::string shown;  // the title as the question names it
    } cases[] = {
        {"Quilvane", "Quilvane"},
        // A title naming the development environment stands for the placeholder.
        {"Delphi project", "<AppTitle>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        app.SetTitle(c.title);
        events_.clear();
        std::string seen;
        upgrader_->QuestionBox = [&](TacInfoBox& box) {
            seen = box.Title() + "|" + box.Text() + "|" +
                   std::to_string(static_cast<int>(box.InfoBoxButtons())) + "|" +
                   box.ButtonCaptions().Yes + "|" + box.ButtonCaptions().No + "|" +
                   std::to_string(box.ShowCheckBox()) + "|" + box.IconResID();
            return fw::mrNo;
        };
        upgrader_->InfoFileURL =
            InfoFile("#version=2.0.7\n#url=http://h/Quilvane\n#message={Fixes\nmore}\n");
        ASSERT_TRUE(upgrader_->CheckForUpgrade());
        ASSERT_TRUE(RunUntil([&] { return !upgrader_->Running(); }));
        EXPECT_EQ(seen, "Application update wizard|A newer version of [b]" + c.shown +
                            "[] was released.\n\nFixes\nmore[DEF]\n\nDo you want to update your "
                            "version with the latest one?|2|&Yes|&Later|0|ACAUICO");
        EXPECT_EQ(events_, std::vector<std::string>{"LaterUpgrade"});
    }
    // The icon is ours, found by name among the program's icons.
    const QImage icon = fw::LoadIconResource("ACAUICO");
    EXPECT_EQ(icon.size(), QSize(32, 32));
}

TEST_F(AutoUpgraderLocal, HiddenWindowAgreesToEndTheSession) {
    ASSERT_NE(upgrader_->Handle(), 0u);
    EXPECT_EQ(win::SendMessageA(upgrader_->Handle(), win::WM_QUERYENDSESSION, 0, 0), 1);
}

}  // namespace
