// The INI store on a full disk: a small tmpfs mounted in a private mount
// namespace (root only). Every failed save must leave the complete old file
// and no temporary behind; the save succeeds again once there is room.

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ini/ini_store.h"
#include "tests/ini/ini_fixture.h"
#include "tests/support/skip_or_fail.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        ++g_failures;
    }
}

// Writes until the disk is full; returns the filler's size.
off_t Fill(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0)
        return -1;
    const std::string block(4096, 'f');
    off_t total = 0;
    for (int i = 0; i < 100000; ++i) {  // bounded; the disk is far smaller
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    return total;
}

// The child's part, in its own mount namespace. Returns the exit code.
int RunOnSmallDisk(const std::string& mountPoint) {
    if (::unshare(CLONE_NEWNS) != 0)
        return 10;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return 11;
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=128k,mode=0700") != 0)
        return 12;

    const std::string file = mountPoint + "/Quilvane.ini";
    const std::string filler = mountPoint + "/filler";
    TzIni ini(nullptr);
    ini.SetFileName(file);
    ini.SetEncryptValues(true);
    for (int i = 0; i < 20; ++i)
        ini.WriteString("Old" + std::to_string(i), std::string(600, 'o'), false);
    const std::string before = TempFolder::Take(file);
    Check(before.size() > 12000, "the old file was written");

    Check(Fill(filler) > 0, "the disk was filled");
    const std::string big(3000, 'n');
    bool raised = false;
    try {
        ini.WriteString("New", big, false);
    } catch (const EFCreateError&) {
        raised = true;
    }
    Check(raised, "a write on the full disk raises EFCreateError");
    Check(!ini.InEditMode(), "the failed round leaves the store idle");
    Check(TempFolder::Take(file) == before, "the old file is complete after the failed write");

    // Room for part of the new file only: the temporary fills the disk midway.
    Check(::truncate(filler.c_str(), 0) == 0, "filler emptied");
    Fill(filler);
    const off_t room = 8192;
    struct stat st {};
    ::stat(filler.c_str(), &st);
    Check(::truncate(filler.c_str(), st.st_size > room ? st.st_size - room : 0) == 0, "room made");
    Check(!ini.Edit(), "edit bracket opened");
    for (int i = 0; i < 20; ++i)
        ini.WriteString("Old" + std::to_string(i), std::string(600, 'p'), false);
    raised = false;
    try {
        ini.Post();
    } catch (const EFCreateError&) {
        raised = true;
    }
    Check(raised, "a Post that fills the disk midway raises EFCreateError");
    Check(ini.InEditMode(), "the failed Post keeps edit mode");
    Check(TempFolder::Take(file) == before, "the old file is complete after the failed Post");

    int entries = 0;
    if (DIR* d = ::opendir(mountPoint.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.' ||
                (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")))
                ++entries;
        }
        ::closedir(d);
    }
    Check(entries == 2, "no temporary file is left behind");

    ::unlink(filler.c_str());
    try {
        ini.Post();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Post after freeing space: %s\n", e.what());
        ++g_failures;
    }
    Check(!ini.InEditMode(), "the retried Post ends edit mode");
    Check(ini.ReadString("Old0", "") == std::string(600, 'p'), "the new file is in place");
    ::umount(mountPoint.c_str());
    return g_failures == 0 ? 0 : 1;
}

class FullDisk : public TempFolder {};

TEST_F(FullDisk, FailedSavesLeaveTheCompleteOldFile) {
    if (::geteuid() != 0) {
        QUILVANE_SKIP_OR_FAIL("needs root to mount a tmpfs in a private mount namespace");
    }
    const std::string mountPoint = Dir + "/disk";
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0700), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(RunOnSmallDisk(mountPoint));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal";
    const int code = WEXITSTATUS(status);
    if (code >= 10) {
        const std::string why =
            "cannot mount a tmpfs in a private mount namespace (step " + std::to_string(code) + ")";
        QUILVANE_SKIP_OR_FAIL(why);
    }
    EXPECT_EQ(code, 0) << "see the failed checks above";
}

}  // namespace
