// TacOnlyOne between real processes (instance_driver), each with the same
// private runtime folder (the mutexes and the message sockets) and registry.
#include "shell/only_one.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/application.h"
#include "platform/kernel.h"
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

// The value goes before the guard: whoever finds the guard free (a new first
// instance about to publish its own window) never finds the old window still
// published. A watcher takes the guard the moment it is free and looks.
TEST(OnlyOneEnd, TheValueIsWithdrawnBeforeTheGuardIsReleased) {
    fw::TApplication app;
    app.SetTitle("Quilvane only-one end order");
    auto* one = new TacOnlyOne(nullptr);
    one->Loaded();
    ASSERT_NE(TacOnlyOne::PublishedWindow(), 0u);
    const std::string name = TacOnlyOne::MutexName();

    std::atomic<bool> watching{false};
    std::atomic<int> found{-1};  // the published window seen once the guard was free
    std::thread watcher([&] {
        watching = true;
        for (int i = 0; i < 2000000; ++i) {
            const win::HANDLE m = win::CreateMutexA(nullptr, win::FALSE, name.c_str());
            const bool free = m && win::GetLastError() != win::ERROR_ALREADY_EXISTS;
            if (free) {
                // Held by us now, as a new first instance would hold it.
                found = static_cast<int>(TacOnlyOne::PublishedWindow());
                win::CloseHandle(m);
                return;
            }
            if (m)
                win::CloseHandle(m);
        }
    });
    while (!watching)
        std::this_thread::yield();
    delete one;
    watcher.join();
    ASSERT_NE(found, -1) << "the guard was never free";
    EXPECT_EQ(found, 0) << "the guard was free while the old window was still published";
}

}  // namespace
