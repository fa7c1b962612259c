#pragma once
// The drive tests' surroundings: a HOME and XDG_RUNTIME_DIR of their own and no
// session bus, so the drive layer starts (and these tests end) a private
// session bus with gvfs; the real user's files and session are never touched.
// Each test gets a drives folder of its own (NewDrivesFolder).
//
// SmbDriveTest: a fixture with a drives folder of its own and an SMB host
// (share "data" for user "qvtest", whose password has a blank in it) with the
// folder Projects/2026 and the files top.txt and Projects/2026/plan.txt.
//
// A child process started with QUILVANE_DRIVES_CHILD=1 inherits its parent's
// surroundings instead of making its own.
//
// Threads: the test thread.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/wnet.h"
#include "tests/support/private_session.h"
#include "tests/support/smb_host.h"

namespace quilvane_test {

class DrivesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (const char* child = std::getenv("QUILVANE_DRIVES_CHILD"); child && *child)
            return;
        session_ = std::make_unique<PrivateSession>("quilvane-drives-test");
        if (!session_->Ok())
            return;
        session_->Enter();
        // Each test makes its own drives folder.
        ::unsetenv("QUILVANE_DRIVES");
    }

    // The private bus's end takes gvfsd, its backends and gvfsd-fuse along.
    void TearDown() override { session_.reset(); }

    // A new, empty drives folder, made the layer's through QUILVANE_DRIVES.
    static std::string NewDrivesFolder() {
        static int count = 0;
        const char* home = std::getenv("HOME");
        const std::string folder =
            std::string(home ? home : "/tmp") + "/drives-" + std::to_string(++count);
        std::filesystem::create_directories(folder);
        ::setenv("QUILVANE_DRIVES", folder.c_str(), 1);
        return folder;
    }

private:
    std::unique_ptr<PrivateSession> session_;
};

class SmbDriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = SmbHost::Unavailable(); !why.empty())
            QUILVANE_SKIP_OR_FAIL(why);
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            QUILVANE_SKIP_OR_FAIL("needs FUSE (/dev/fuse) for the shares' local paths");
        drives_ = DrivesEnvironment::NewDrivesFolder();
        smb_ = std::make_unique<SmbHost>("drives", 40, "qvtest", "s3cret word");
        if (!smb_->Ok())
            QUILVANE_SKIP_OR_FAIL(smb_->Error());
        std::filesystem::create_directories(smb_->SharePath() + "/Projects/2026");
        std::ofstream(smb_->SharePath() + "/Projects/2026/plan.txt") << "plan";
        std::ofstream(smb_->SharePath() + "/top.txt") << "top";
    }

    // What a test left mapped goes before its server does.
    void TearDown() override {
        if (!smb_ || !smb_->Ok())
            return;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            const char name[] = {letter, ':', '\0'};
            win::WNetCancelConnection2A(name, 0, win::TRUE);
        }
        win::WNetCancelConnection2A(smb_->Unc().c_str(), 0, win::TRUE);
    }

    std::string Entry(char letter) const { return drives_ + "/" + std::string(1, letter); }

    std::string drives_;
    std::unique_ptr<SmbHost> smb_;
};

}  // namespace quilvane_test
