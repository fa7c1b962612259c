// The upgrader without a server: an information file given as a "file" URL,
// and the answer of its hidden window to the end of the session.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "framework/application.h"
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

// Only http and https: a local information file is not even read, however
// good it looks, and the user who asked is told.
TEST_F(AutoUpgraderLocal, LocalInformationFileIsRefusedUnread) {
    std::vector<std::string> boxes, refused;
    upgrader_->ErrorBox = [&](const std::string& caption, const std::string& text) {
        boxes.push_back(caption + "|" + text);
    };
    upgrader_->OnUnverified = [&](fw::TObject*, const std::string& reason) {
        refused.push_back(reason);
    };
    upgrader_->QuestionBox = [&](TacInfoBox&) {
        boxes.push_back("question");
        return fw::mrYes;
    };
    upgrader_->InfoFileURL = InfoFile("#version=2.0.7\n#url=http://h/Quilvane\n");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(upgrader_->CheckForUpgrade(true));
    ASSERT_TRUE(RunUntil([&] { return !upgrader_->Running(); }));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(upgrader_->Busy());
    EXPECT_EQ(refused, std::vector<std::string>{"its address is not http or https"});
    EXPECT_EQ(boxes,
              std::vector<std::string>{"Application update wizard|" + TacAutoUpgrader::Text(31)});
    EXPECT_EQ(errors, "Quilvane: upgrade information from " + upgrader_->InfoFileURL +
                          " refused (its address is not http or https); nothing was changed\n");
}

TEST_F(AutoUpgraderLocal, HiddenWindowAgreesToEndTheSession) {
    ASSERT_NE(upgrader_->Handle(), 0u);
    EXPECT_EQ(win::SendMessageA(upgrader_->Handle(), win::WM_QUERYENDSESSION, 0, 0), 1);
}

}  // namespace
