// TacOnlyOne between real processes (instance_driver), each with the same
// private runtime folder (the mutexes and the message sockets) and registry.
#include "shell/only_one.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/line_process.h"

namespace {

class OnlyOneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const QString run = dir.filePath("run");
        QDir().mkpath(run);
        QFile::setPermissions(
            run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_CONFIG_DIRS", dir.filePath("xdg"));
        env.insert("XDG_RUNTIME_DIR", run);
    }
    std::unique_ptr<LineProcess> Start(const QStringList& args) {
        return std::make_unique<LineProcess>(env, INSTANCE_DRIVER, args);
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

TEST_F(OnlyOneTest, SecondStartAsksTheFirstToTheFrontAndEnds) {
    auto first = Start({"Alpha"});
    const std::string window = first->WaitFor("window ");
    ASSERT_EQ(first->WaitFor("running"), "");

    auto second = Start({"Alpha"});
    EXPECT_TRUE(second->EndsWithZero());
    EXPECT_TRUE(second->Said("exists"));
    EXPECT_TRUE(second->Said("forced"));
    EXPECT_FALSE(second->Said("running")) << "the second instance ran its message loop";
    EXPECT_EQ(first->WaitFor("switch"), "");
    EXPECT_TRUE(first->Running());
    first->Tell("registry\n");
    EXPECT_EQ(first->WaitFor("registry "), window);
    // The first instance is hidden, as in the tray: it stays hidden.
    first->Tell("visible\n");
    EXPECT_EQ(first->WaitFor("visible "), "0");
}

TEST_F(OnlyOneTest, CloseFirstEndsTheFirstAndTheSecondPublishesItsOwnWindow) {
    auto first = Start({"Alpha"});
    ASSERT_EQ(first->WaitFor("running"), "");
    auto second = Start({"Alpha", "--close-first", "--keep-second"});
    const std::string window = second->WaitFor("window ");
    ASSERT_EQ(second->WaitFor("running"), "");
    EXPECT_EQ(first->WaitFor("close"), "");
    EXPECT_TRUE(first->EndsWithZero());
    EXPECT_TRUE(first->Said("forced"));
    second->Tell("registry\n");
    EXPECT_EQ(second->WaitFor("registry "), window);
}

TEST_F(OnlyOneTest, RefusedTerminationKeepsTheSecondRunningAndOnlyTheOwnerRemovesTheValue) {
    auto first = Start({"Alpha"});
    ASSERT_EQ(first->WaitFor("running"), "");
    auto second = Start({"Alpha", "--refuse"});
    const std::string window = second->WaitFor("window ");
    ASSERT_EQ(second->WaitFor("running"), "");
    EXPECT_TRUE(second->Said("forced"));

    // The first ends: the value holds the second's window and stays.
    first->Tell("quit\n");
    EXPECT_TRUE(first->EndsWithZero());
    second->Tell("registry\n");
    EXPECT_EQ(second->WaitFor("registry "), window);
    // The second ends: its own value goes with it.
    second->Tell("quit\n");
    EXPECT_TRUE(second->EndsWithZero());
    auto third = Start({"Alpha", "--keep-second"});
    ASSERT_EQ(third->WaitFor("running"), "");
    EXPECT_FALSE(third->Said("exists"));
}

TEST_F(OnlyOneTest, KilledFirstLeavesNoGuardAndOtherTitlesDoNotBlock) {
    auto first = Start({"Alpha"});
    ASSERT_EQ(first->WaitFor("running"), "");
    auto other = Start({"Beta"});
    EXPECT_EQ(other->WaitFor("running"), "");
    EXPECT_FALSE(other->Said("exists"));

    first->Kill();
    auto next = Start({"Alpha"});
    const std::string window = next->WaitFor("window ");
    EXPECT_EQ(next->WaitFor("running"), "") << "a killed first instance still blocks";
    EXPECT_FALSE(next->Said("exists"));
    next->Tell("registry\n");
    EXPECT_EQ(next->WaitFor("registry "), window);
}

TEST_F(OnlyOneTest, AutoRunParameterInCapitalsIsSeen) {
    for (const auto& [arg, seen] :
         {std::pair{"/AUTORUN", "1"}, {"/autorun", "1"}, {"/auto", "0"}}) {
        auto instance = Start({"Gamma", "--keep-second", arg});
        EXPECT_EQ(instance->WaitFor("autorun "), seen) << arg;
        EXPECT_EQ(instance->Said("onautorun"), std::string(seen) == "1") << arg;
    }
}

}  // namespace
