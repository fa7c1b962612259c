// The helper program run as the upgrader starts it, in a folder whose path
// holds a blank: the external-setup mode runs the downloaded setup program
// with the restart parameters, waits for it to end, removes it, and starts
// the program again; the other downloaded files are put in place as in a
// plain upgrade. The setup is a program of its own or a shell script (whose
// file is not busy while it runs, so only its process tells its end).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Script(const std::string& path, const std::string& log, const std::string& name) {
    std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << log << "'\n";
    ::chmod(path.c_str(), 0755);
}

// A setup script that behaves as the setup probe does.
void SetupScript(const std::string& path) {
    std::ofstream(path) << "#!/bin/sh\n"
                           "echo \"setup $*\" >> \"$QUILVANE_SETUP_LOG\"\n"
                           "sleep 0.5\n"
                           "echo 'setup done' >> \"$QUILVANE_SETUP_LOG\"\n";
}

class UpgraderHelperSetup : public ::testing::TestWithParam<bool> {};

TEST_P(UpgraderHelperSetup, ExternalSetupRunsTheSetupToItsEndThenTheProgram) {
    const bool script = GetParam();
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const std::string folder = home.filePath("install dir").toStdString() + "/";
    std::filesystem::create_directories(folder);
    const std::string log = home.filePath("log.txt").toStdString();
    Script(folder + "Quilvane", log, "program");
    if (script)
        SetupScript(folder + "setup.exe.uTMP");
    else
        std::filesystem::copy_file(SETUP_PROBE, folder + "setup.exe.uTMP");
    std::ofstream(folder + "readme.txt") << "old";
    std::ofstream(folder + "readme.txt.uTMP") << "new";

    // As the upgrader starts it: the path's blank splits it into two arguments.
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILVANE_SETUP_LOG", QString::fromStdString(log));
    helper.setProcessEnvironment(env);
    helper.start(UPGRADER_HELPER,
                 QString::fromStdString(folder + "Quilvane +/afterupgrade1").split(' '));
    ASSERT_TRUE(helper.waitForFinished(30000));
    EXPECT_EQ(helper.exitCode(), 0) << helper.readAll().toStdString();

    // The setup runs to its end before the program starts.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto lines = [&] {
        const std::string text = Read(log);
        return std::count(text.begin(), text.end(), '\n');
    };
    while (lines() < 3 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Read(log), "setup /afterupgrade\nsetup done\nprogram /afterupgrade\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "setup.exe"));
    EXPECT_FALSE(std::filesystem::exists(folder + "setup.exe.uTMP"));
    EXPECT_EQ(Read(folder + "readme.txt"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder + "readme.txt.uTMP"));
}

INSTANTIATE_TEST_SUITE_P(ProgramOrScript, UpgraderHelperSetup, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Script" : "Program"; });

}  // namespace
