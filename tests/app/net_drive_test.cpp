// NetUse, NetDel and PathForDrive against a real SMB server.

#include "monitor/net_drive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/drives_environment.h"

namespace fs = std::filesystem;
using quilvane::NetDel;
using quilvane::NetUse;
using quilvane::PathForDrive;

namespace {

class NetDriveTest : public quilvane_test::SmbDriveTest {};

TEST_F(NetDriveTest, MapQueryAndCancel) {
    const std::string unc = smb_->Unc();
    ASSERT_TRUE(NetUse("Y:", unc, smb_->Password(), smb_->User()));
    EXPECT_EQ(PathForDrive("Y:"), unc);
    EXPECT_TRUE(NetDel("Y:"));
    EXPECT_EQ(PathForDrive("Y:"), "");
    EXPECT_FALSE(NetDel("Y:")) << "cancelling a drive that is not connected";
}

TEST_F(NetDriveTest, FailuresAreFalse) {
    fs::create_directory(Entry('C'));  // a local disk
    const std::string unc = smb_->Unc();
    EXPECT_FALSE(NetUse("Y:", unc, "wrong", smb_->User()));
    EXPECT_FALSE(NetUse("Y:", unc, "", smb_->User())) << "no password, and the server wants one";
    // Blanks belong to the password: the callers trim, these never do.
    EXPECT_FALSE(NetUse("Y:", unc, smb_->Password() + " ", smb_->User()));
    EXPECT_FALSE(NetUse("C:", unc, smb_->Password(), smb_->User()));
    EXPECT_EQ(PathForDrive("C:"), "");
    EXPECT_FALSE(NetDel("C:"));
    EXPECT_TRUE(fs::is_directory(Entry('C')));
    EXPECT_FALSE(NetUse("Y:", unc + " ", smb_->Password(), smb_->User()))
        << "a share name with a trailing blank is another share";
}

TEST_F(NetDriveTest, EmptyDriveConnectsWithoutLetter) {
    EXPECT_TRUE(NetUse("", smb_->Unc(), smb_->Password(), smb_->User()));
    EXPECT_EQ(PathForDrive(""), "");
    EXPECT_FALSE(NetDel(""));
}

TEST_F(NetDriveTest, NetDelCancelsWithFilesOpen) {
    ASSERT_TRUE(NetUse("Y:", smb_->Unc(), smb_->Password(), smb_->User()));
    const int fd = ::open((Entry('Y') + "/top.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(NetDel("Y:"));
    EXPECT_EQ(PathForDrive("Y:"), "");
    ::close(fd);
}

TEST_F(NetDriveTest, PathForDriveHoldsAtMost255Bytes) {
    // "\\10.231.40.2\data\" is 19 bytes; folders make names of 255 and 256.
    const std::string prefix = smb_->Unc() + "\\";
    const std::string fits(255 - prefix.size(), 'f');
    const std::string tooLong(256 - prefix.size(), 'l');
    fs::create_directory(smb_->SharePath() + "/" + fits);
    fs::create_directory(smb_->SharePath() + "/" + tooLong);

    ASSERT_TRUE(NetUse("Y:", prefix + fits, smb_->Password(), smb_->User()));
    ASSERT_TRUE(NetUse("Z:", prefix + tooLong, smb_->Password(), smb_->User()));
    EXPECT_EQ(PathForDrive("Y:"), prefix + fits);
    EXPECT_EQ(PathForDrive("Z:"), "");
    // A drive text longer than the name buffer is cut, never overrun.
    EXPECT_EQ(PathForDrive("Y:" + std::string(400, 'x')), "");
}

}  // namespace
