// TacOnlyOne between real processes (instance_driver), each with the same
// private runtime folder (the mutexes and the message sockets) and registry.
#include "shell/only_one.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace {

class Instance {
public:
    Instance(const QProcessEnvironment& env, const QStringList& args) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(INSTANCE_DRIVER, args);
    }
    ~Instance() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits (bounded) for a line starting with `prefix`; returns the rest of
    // it, or "?" when none came.
    std::string WaitFor(const std::string& prefix, int ms = 8000) {
        QDeadlineTimer deadline(ms);
        for (;;) {
            while (process_.canReadLine()) {
                const std::string line = process_.readLine().trimmed().toStdString();
                lines_.push_back(line);
                if (line.rfind(prefix, 0) == 0)
                    return line.substr(prefix.size());
            }
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return "?";
            process_.waitForReadyRead(
                static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }
    // Whether the process ends within `ms`, with status 0; reads what is left.
    bool EndsWithZero(int ms = 8000) {
        if (!process_.waitForFinished(ms))
            return false;
        WaitFor("\x01never", 1);
        return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    bool Said(const std::string& line) const {
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }
    void Tell(const char* line) { process_.write(line); }
    void Kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool Running() const { return process_.state() != QProcess::NotRunning; }

private:
    QProcess process_;
    std::vector<std::string> lines_;
};

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
    std::unique_ptr<Instance> Start(const QStringList& args) {
        return std::make_unique<Instance>(env, args);
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
