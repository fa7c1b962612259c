// Where the settings file lives: beside the executable of a relocatable
// install, in the user's own configuration folder (made owner-only) for an
// install under /usr. And the program's icons are in its resources.
#include "app/install_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>

namespace {

struct PlaceCase {
    const char* name;
    const char* exe;
    bool packaged;
};

void PrintTo(const PlaceCase& c, std::ostream* os) {
    *os << c.exe;
}

class InstallPlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(InstallPlace, IsPackagedOnlyUnderUsr) {
    EXPECT_EQ(quilvane::IsPackagedInstall(GetParam().exe), GetParam().packaged);
}

INSTANTIATE_TEST_SUITE_P(
    Executables, InstallPlace,
    ::testing::Values(PlaceCase{"UsrBin", "/usr/bin/quilvane", true},
                      PlaceCase{"UsrLocal", "/usr/local/bin/quilvane", true},
                      PlaceCase{"Opt", "/opt/quilvane/bin/quilvane", false},
                      PlaceCase{"Home", "/home/ann/quilvane/bin/quilvane", false},
                      // An unpacked package, a look-alike name.
                      PlaceCase{"UnpackedPackage", "/tmp/root/usr/bin/quilvane", false},
                      PlaceCase{"LookAlike", "/usrdata/bin/quilvane", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Sets an environment variable for the test's duration.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class SettingsFolderTest : public ::testing::Test {
protected:
    QTemporaryDir temp_;
    const std::string dir_ = temp_.path().toStdString();
};

TEST_F(SettingsFolderTest, RelocatableInstallKeepsItBesideTheExecutable) {
    const ScopedEnv config("XDG_CONFIG_HOME", dir_ + "/config");
    EXPECT_EQ(quilvane::SettingsFolder("/opt/quilvane/bin/quilvane"), "/opt/quilvane/bin/");
    EXPECT_EQ(ModeOf(dir_ + "/config"), 0u) << "made a configuration folder";
}

TEST_F(SettingsFolderTest, PackagedInstallMakesOwnerOnlyFoldersUnderXdgConfigHome) {
    const ScopedEnv config("XDG_CONFIG_HOME", dir_ + "/a/config/");
    EXPECT_EQ(quilvane::SettingsFolder("/usr/bin/quilvane"), dir_ + "/a/config/Quilvane/");
    for (const char* made : {"/a", "/a/config", "/a/config/Quilvane"})
        EXPECT_EQ(ModeOf(dir_ + made), 0700u) << made;
}

TEST_F(SettingsFolderTest, PackagedInstallDefaultsToDotConfigAndKeepsExistingModes) {
    ASSERT_EQ(::mkdir((dir_ + "/.config").c_str(), 0755), 0);
    const ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    const ScopedEnv home("HOME", dir_);
    EXPECT_EQ(quilvane::SettingsFolder("/usr/bin/quilvane"), dir_ + "/.config/Quilvane/");
    EXPECT_EQ(ModeOf(dir_ + "/.config"), 0755u);
    EXPECT_EQ(ModeOf(dir_ + "/.config/Quilvane"), 0700u);
}

TEST(ProgramIcon, ResourcesHoldTheLargeAndTheSmallPicture) {
    EXPECT_EQ(QImage(":/icons/quilvane.png").size(), QSize(256, 256));
    EXPECT_EQ(QImage(":/icons/quilvane-16.png").size(), QSize(16, 16));
}

}  // namespace
