// The upgrader's check against real servers on loopback: lighttpd serves the
// information files, the scripted server cuts a body short or stalls, a port
// nobody listens on stands for an unreachable host. Web pages are opened by a
// recording program, found once through HKEY_CLASSES_ROOT of our registry and
// once by the desktop's default handler (xdg-open and a handler entry of a
// private data folder).
#include "upgrade/auto_upgrader.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "framework/application.h"
#include "platform/registry.h"
#include "tests/support/http_servers.h"
#include "tests/support/qt_wait.h"

namespace {

using quilvane_test::FaultServer;
using quilvane_test::ReadFile;
using quilvane_test::RunUntil;
using quilvane_test::TempFolder;
using quilvane_test::WebServer;
using quilvane_test::WriteFile;

// Folders of one test: the registry and desktop settings, the program's
// folder, and a recording "browser" that writes its arguments to a file.
class AutoUpgraderCheck : public ::testing::Test {
protected:
    void SetUp() override {
        if (!web_.Ok())
            QUILVANE_SKIP_OR_FAIL(web_.Error());
        if (!faults_.Ok())
            QUILVANE_SKIP_OR_FAIL(faults_.Error());
        const std::string home = folder_.Path();
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (home + "/data").c_str(), 1);
        // xdg-open asks the desktop's handlers only where a display is named.
        ::setenv("DISPLAY", ":99", 0);
        std::filesystem::create_directories(home + "/config");
        std::filesystem::create_directories(home + "/data/applications");
        std::filesystem::create_directories(home + "/program dir");
        recorder_ = home + "/rec browser.sh";
        WriteFile(recorder_, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + Opened() + ".part'\nmv '" +
                                 Opened() + ".part' '" + Opened() + "'\n");
        ::chmod(recorder_.c_str(), 0755);
        TacAutoUpgrader::SetProgramPathForTesting(ProgramFolder() + "Quilvane");
        WriteFile(ProgramFolder() + "Quilvane", "old program");
        upgrader_ = std::make_unique<TacAutoUpgrader>(nullptr);
        upgrader_->Wizard.SetLanguage(TacAutoUpgraderLanguage::wlEnglish);
        upgrader_->VersionControl = byNumber;
        upgrader_->VersionNumber = "2.0.6";
        upgrader_->ShowMessages = {mAskUpgrade, mConnLost, mLostFile};
        // As in the program: no progress window (its own test drives it on a display).
        upgrader_->Wizard.Enabled = false;
        upgrader_->InfoFileURL = web_.Url("/Quilvane.inf");
        upgrader_->ErrorBox = [this](const std::string& caption, const std::string& text) {
            boxes_.push_back(caption + "|" + text);
        };
        upgrader_->QuestionBox = [this](TacInfoBox& box) {
            boxes_.push_back(box.Title() + "|" + box.Text());
            return answer_ ? fw::mrYes : fw::mrNo;
        };
        upgrader_->AskBox = [this](const std::string& caption, const std::string& text, win::UINT) {
            boxes_.push_back(caption + "|" + text);
            return answer_;
        };
        auto note = [this](const char* name) {
            return [this, name](fw::TObject*) { events_.push_back(name); };
        };
        upgrader_->OnNoUpdateAvailable = note("NoUpdateAvailable");
        upgrader_->OnNoInfoFile = note("NoInfoFile");
        upgrader_->OnConnLost = note("ConnLost");
        upgrader_->OnLaterUpgrade = note("LaterUpgrade");
        upgrader_->OnAborted = note("Aborted");
        upgrader_->OnHostUnreachable = [this](fw::TObject*, const std::string& url,
                                              const std::string& host) {
            events_.push_back("HostUnreachable " + url + " " + host);
        };
        upgrader_->OnFileStart = [this](fw::TObject*, const std::string& url, int size,
                                        TDateTime time, bool& canUpgrade) {
            if (url.substr(url.rfind('/') + 1) == decline_)
                canUpgrade = false;
            fileStarts_.push_back(url.substr(url.rfind('/') + 1) + " " + std::to_string(size) +
                                  " " + std::to_string(canUpgrade));
            fileTime_ = time;
        };
        upgrader_->OnFileDone = [this](fw::TObject*, const std::string& name) {
            events_.push_back("FileDone " + name.substr(name.rfind('/') + 1));
        };
        upgrader_->OnLostFile = [this](fw::TObject*, const std::string& url, int code, bool&) {
            events_.push_back("LostFile " + url.substr(url.rfind('/') + 1) + " " +
                              std::to_string(code));
        };
        upgrader_->OnEndUpgrade = [this](fw::TObject*, bool& restart) {
            events_.push_back("EndUpgrade");
            restart = false;
        };
        upgrader_->OnBeginUpgrade = [this](fw::TObject*, const std::string& msg,
                                           TacUpgradeMethod method,
                                           const std::vector<std::string>& files, bool&) {
            events_.push_back("BeginUpgrade " + msg + " " +
                              std::to_string(static_cast<int>(method)) + " " +
                              std::to_string(files.size()));
        };
    }
    void TearDown() override {
        upgrader_.reset();
        TacAutoUpgrader::SetProgramPathForTesting({});
    }

    std::string ProgramFolder() const { return folder_.Path() + "/program dir/"; }
    std::string Opened() const { return folder_.Path() + "/opened.txt"; }
    // A new file for each version: the server may keep an old file's size.
    void Publish(const std::string& info) {
        const std::string name = "/Quilvane" + std::to_string(++published_) + ".inf";
        WriteFile(web_.Root() + name, info);
        upgrader_->InfoFileURL = web_.Url(name);
    }
    // Runs one check to its end.
    void Check() {
        ASSERT_TRUE(upgrader_->CheckForUpgrade());
        ASSERT_TRUE(RunUntil([&] { return !upgrader_->Running() && !upgrader_->Busy(); }));
    }
    std::vector<std::string> ProgramFolderFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(ProgramFolder()))
            names.push_back(e.path().filename().string());
        return names;
    }
    // Publishes a newer version whose files are these paths of the server.
    void PublishFiles(const std::vector<std::string>& paths) {
        std::string info = "#version=2.0.10\n";
        for (size_t i = 0; i < paths.size(); ++i)
            info += "#url" + std::to_string(i + 1) + "=" + web_.Url(paths[i]) + "\n";
        Publish(info);
    }
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> names;
        for (const auto& name : ProgramFolderFiles())
            if (name.size() > 5 && name.substr(name.size() - 5) == ".uTMP")
                names.push_back(name);
        std::sort(names.begin(), names.end());
        return names;
    }
    void RemoveTemporaryFiles() {
        for (const auto& name : TemporaryFiles())
            std::filesystem::remove(ProgramFolder() + name);
    }
    void RegisterHtmlProgram(const std::string& command) {
        auto set = [](const std::string& key, const std::string& value) {
            win::HKEY k = nullptr;
            ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0,
                                           win::KEY_ALL_ACCESS, nullptr, &k, nullptr),
                      win::ERROR_SUCCESS);
            win::RegSetValueExA(k, nullptr, 0, win::REG_SZ,
                                reinterpret_cast<const win::BYTE*>(value.c_str()),
                                static_cast<win::DWORD>(value.size() + 1));
            win::RegCloseKey(k);
        };
        set(".html", "QuilvaneTest.Page");
        // No "open" verb of that name: the first verb containing "open" wins.
        set("QuilvaneTest.Page\\shell\\print\\command", "/bin/false %1");
        set("QuilvaneTest.Page\\shell\\OpenNew\\command", command);
    }

    TempFolder folder_;
    WebServer web_;
    FaultServer faults_;
    std::string recorder_;
    std::unique_ptr<TacAutoUpgrader> upgrader_;
    std::vector<std::string> events_;
    std::vector<std::string> boxes_;
    bool answer_ = true;
    int published_ = 0;
    std::vector<std::string> fileStarts_;
    std::string decline_;  // OnFileStart declines the file of this name
    TDateTime fileTime_ = 0;
};

TEST_F(AutoUpgraderCheck, MethodTwoOpensTheFirstUrlAndDownloadsNothing) {
    Publish("#version=2.0.10\r\n#method=2\r\n#url=127.0.0.1:1/news\r\n#url2=http://h/b\r\n");
    upgrader_->ShowMessages = {};
    // Through the program registered for html documents.
    RegisterHtmlProgram("\"" + recorder_ + "\" -new %1");
    Check();
    ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(Opened()); }, 10000));
    EXPECT_EQ(ReadFile(Opened()), "http://127.0.0.1:1/news\n");
    EXPECT_EQ(events_, std::vector<std::string>{"BeginUpgrade  2 2"});  // "#url2" follows "#url"
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
    EXPECT_TRUE(boxes_.empty());

    // Without an association: the desktop's default handler for the scheme.
    std::filesystem::remove(Opened());
    std::filesystem::remove_all(folder_.Path() + "/config/Quilvane/registry");
    WriteFile(folder_.Path() + "/data/applications/quilvane-rec.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + folder_.Path() +
                  "/recorder.sh %u\nMimeType=x-scheme-handler/http;\n");
    // xdg-open's own reading of an Exec line does not take quoted paths.
    std::filesystem::copy_file(recorder_, folder_.Path() + "/recorder.sh");
    WriteFile(folder_.Path() + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/http=quilvane-rec.desktop\n");
    Publish("#version=2.0.10\r\n#method=2\r\n#url=http://127.0.0.1:1/other\r\n");
    Check();
    ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(Opened()); }, 10000));
    EXPECT_EQ(ReadFile(Opened()), "http://127.0.0.1:1/other\n");
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
}

TEST_F(AutoUpgraderCheck, FailuresGiveTheirEventAndOnlyTheBoxesTheSettingsAllow) {
    const int closed = quilvane_test::FreeLoopbackPort();
    const struct {
        std::string url;
        std::string event;
        bool box;  // with the program's settings: only the lost connection
    } cases[] = {
        {web_.Url("/missing.inf"), "NoInfoFile", false},
        {"http://127.0.0.1:" + std::to_string(closed) + "/Quilvane.inf",
         "HostUnreachable http://127.0.0.1:" + std::to_string(closed) + "/Quilvane.inf 127.0.0.1",
         false},
        {faults_.Url("/short"), "ConnLost", true},
    };
    for (const auto& c : cases) {
        events_.clear();
        boxes_.clear();
        upgrader_->InfoFileURL = c.url;
        Check();
        EXPECT_EQ(events_, std::vector<std::string>{c.event}) << c.url;
        EXPECT_EQ(boxes_.size(), c.box ? 1u : 0u) << c.url;
    }
    EXPECT_EQ(boxes_.front(), "Application update wizard|" + TacAutoUpgrader::Text(30));

    // Every box allowed: each failure shows its text.
    upgrader_->ShowMessages = {mNoInfoFile, mHostUnreachable};
    boxes_.clear();
    upgrader_->InfoFileURL = web_.Url("/missing.inf");
    Check();
    upgrader_->InfoFileURL = "http://127.0.0.1:" + std::to_string(closed) + "/x.inf";
    Check();
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0], "Application update wizard|" + TacAutoUpgrader::Text(25));
    EXPECT_EQ(boxes_[1],
              "Application update wizard|Host \"http://127.0.0.1\" unreachable.\r\rPlease check "
              "your Internet connection and\rtry to upgrade this software again later.");
}

TEST_F(AutoUpgraderCheck, NoUpdateWhenNotNewerOrWithoutFiles) {
    const struct {
        std::string info;
        std::string event;
    } cases[] = {
        {"#version=2.0.6.0\n#url=http://h/Quilvane", "NoUpdateAvailable"},
        {"#VERSION=2.0.10\n", "NoUpdateAvailable"},
        {"#Version=2.0.10\n#URL1=http://h/Quilvane\n#message={Fixes}", "BeginUpgrade Fixes 0 1"},
    };
    answer_ = false;
    for (const auto& c : cases) {
        events_.clear();
        Publish(c.info);
        Check();
        EXPECT_EQ(events_.front(), c.event) << c.info;
    }
    // The last one asked, was told no, and went on later.
    EXPECT_EQ(events_.back(), "LaterUpgrade");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find("|A newer version of [b]"), std::string::npos) << boxes_[0];
    EXPECT_NE(boxes_[0].find("[] was released.\n\nFixes[DEF]\n\nDo you want"), std::string::npos)
        << boxes_[0];
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
}

TEST_F(AutoUpgraderCheck, CheckWhileBusyStartsNothing) {
    upgrader_->InfoFileURL = faults_.Url("/stall");
    ASSERT_TRUE(upgrader_->CheckForUpgrade());
    ASSERT_TRUE(upgrader_->Busy());
    upgrader_->InfoFileURL = web_.Url("/Quilvane.inf");
    EXPECT_TRUE(upgrader_->CheckForUpgrade());
    EXPECT_EQ(upgrader_->URL, faults_.Url("/stall"));
    upgrader_->AbortUpgrade();
    EXPECT_FALSE(upgrader_->Busy());
    EXPECT_EQ(events_, std::vector<std::string>{"Aborted"});
}

// The upgrader sets none of the download component's own events, yet a file's
// headers (its size check, OnFileStart, the server's date) and its progress
// reach it.
TEST_F(AutoUpgraderCheck, FileLoopReportsProgressAndKeepsTheServersDate) {
    WriteFile(web_.Root() + "/one.txt", "first file");
    WriteFile(web_.Root() + "/two.txt", std::string(10000, 't'));
    const time_t published = 1600000000;  // 2020-09-13 12:26:40 UTC
    const utimbuf times{published, published};
    ASSERT_EQ(::utime((web_.Root() + "/two.txt").c_str(), &times), 0);
    std::vector<std::string> progress;
    upgrader_->OnProgress = [&](fw::TObject*, const std::string& url, int size, int read, int, int,
                                win::BYTE percent, win::BYTE total, float) {
        progress.push_back(url.substr(url.rfind('/') + 1) + " " + std::to_string(size) + " " +
                           std::to_string(read) + " " + std::to_string(percent) + " " +
                           std::to_string(total));
    };
    PublishFiles({"/one.txt", "/two.txt"});
    Check();
    EXPECT_EQ(fileStarts_, (std::vector<std::string>{"one.txt 10 1", "two.txt 10000 1"}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), "one.txt 10 10 100 50");
    EXPECT_EQ(progress.back(), "two.txt 10000 10000 100 100");
    EXPECT_EQ(events_.back(), "EndUpgrade");
    EXPECT_EQ(ReadFile(ProgramFolder() + "two.txt.uTMP"), std::string(10000, 't'));
    struct stat st {};
    ASSERT_EQ(::stat((ProgramFolder() + "two.txt.uTMP").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, published);
    EXPECT_NE(fileTime_, 0);
}

TEST_F(AutoUpgraderCheck, SizeRuleAndOnFileStartChooseWhatIsDownloaded) {
    // Beside the program: the program itself (the new one has the same size),
    // a file of the new one's size and one of another size.
    WriteFile(web_.Root() + "/Quilvane", "new program");
    WriteFile(web_.Root() + "/same.txt", "bbbb");
    WriteFile(web_.Root() + "/diff.txt", "bbbbbb");
    WriteFile(ProgramFolder() + "same.txt", "aaaa");
    WriteFile(ProgramFolder() + "diff.txt", "a");
    const struct {
        const char* name;
        TacMiscFilesUpgradeBehavior rule;
        std::vector<std::string> files;
        std::string decline;
        std::vector<std::string> starts;
        std::vector<std::string> downloaded;
    } cases[] = {
        {"the program and a changed size only",
         mfuOnlyIfSizeDifferent,
         {"/Quilvane", "/same.txt", "/diff.txt"},
         "",
         {"Quilvane 11 1", "same.txt 4 0", "diff.txt 6 1"},
         {"Quilvane.uTMP", "diff.txt.uTMP"}},
        {"a single file is never skipped",
         mfuOnlyIfSizeDifferent,
         {"/same.txt"},
         "",
         {"same.txt 4 1"},
         {"same.txt.uTMP"}},
        {"declined in OnFileStart",
         mfuAlwaysDownload,
         {"/same.txt", "/diff.txt"},
         "same.txt",
         {"same.txt 4 0", "diff.txt 6 1"},
         {"diff.txt.uTMP"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTemporaryFiles();
        fileStarts_.clear();
        events_.clear();
        upgrader_->MiscFilesUpgrade = c.rule;
        decline_ = c.decline;
        PublishFiles(c.files);
        Check();
        EXPECT_EQ(fileStarts_, c.starts);
        EXPECT_EQ(TemporaryFiles(), c.downloaded);
        EXPECT_EQ(events_.back(), "EndUpgrade");
    }
    EXPECT_EQ(ReadFile(ProgramFolder() + "diff.txt.uTMP"), "bbbbbb");
}

TEST_F(AutoUpgraderCheck, PasswordRequestAsksAndRetriesOrAborts) {
    const struct {
        bool ok;
        std::vector<std::string> tail;
        std::vector<std::string> downloaded;
    } cases[] = {
        {true, {"FileDone secret.txt.uTMP", "EndUpgrade"}, {"secret.txt.uTMP"}},
        {false, {"Aborted"}, {}},
    };
    upgrader_->ShowMessages = {mPasswordRequest};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ok ? "OK" : "Cancel");
        events_.clear();
        upgrader_->HTTPUsername.clear();
        upgrader_->HTTPPassword.clear();
        std::vector<std::string> asked;
        upgrader_->OnPasswordRequest = [&](fw::TObject*, const std::string& realm, bool&) {
            asked.push_back("event " + realm);
        };
        upgrader_->PasswordDialog = [&](TacAutoUpgrader* u, const std::string& url) {
            asked.push_back("dialog " + url.substr(url.rfind('/') + 1));
            if (c.ok) {
                u->HTTPUsername = "quilvane";
                u->HTTPPassword = "s3cret";
            }
            return c.ok;
        };
        PublishFiles({"/private/secret.txt"});
        Check();
        EXPECT_EQ(asked, (std::vector<std::string>{"event Quilvane test", "dialog secret.txt"}));
        ASSERT_GE(events_.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(events_.end() - static_cast<long>(c.tail.size()),
                                           events_.end()),
                  c.tail);
        EXPECT_EQ(TemporaryFiles(), c.downloaded);
    }
}

TEST_F(AutoUpgraderCheck, LostFileBoxSkipsOrAbortsAsAnswered) {
    WriteFile(web_.Root() + "/same.txt", "bbbb");
    const struct {
        bool yes;
        std::vector<std::string> tail;
        std::vector<std::string> downloaded;
    } cases[] = {
        {true,
         {"LostFile missing.txt 404", "FileDone same.txt.uTMP", "EndUpgrade"},
         {"same.txt.uTMP"}},
        {false, {"LostFile missing.txt 404", "Aborted"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.yes ? "yes" : "no");
        RemoveTemporaryFiles();
        events_.clear();
        boxes_.clear();
        answer_ = c.yes;
        // Ask no question before the upgrade: only the lost file's box.
        upgrader_->ShowMessages = {mLostFile};
        PublishFiles({"/missing.txt", "/same.txt"});
        Check();
        ASSERT_GE(events_.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(events_.end() - static_cast<long>(c.tail.size()),
                                           events_.end()),
                  c.tail);
        EXPECT_EQ(boxes_, std::vector<std::string>{
                              "Error #404|File missing.txt not found or inaccessible.\r\rTry to "
                              "skip this file and continue upgrade?"});
        EXPECT_EQ(TemporaryFiles(), c.downloaded);
    }
}

// The automatic check on its timer, in a host-name namespace of the test's own:
// a host name that resolves to 127.0.0.1 is offline (no check), another
// (127.0.0.2, a literal that needs no lookup) is online.
TEST_F(AutoUpgraderCheck, AutoCheckRunsByItselfWhileOnlineWithoutBoxes) {
    if (::unshare(CLONE_NEWUTS) != 0)
        QUILVANE_SKIP_OR_FAIL("no host-name namespace (needs root)");
    TacAutoUpgrader::SetAutoCheckPeriodForTesting(50);
    struct Restore {
        ~Restore() { TacAutoUpgrader::SetAutoCheckPeriodForTesting(10000); }
    } restore;
    auto host = [](const std::string& name) {
        ASSERT_EQ(::sethostname(name.data(), name.size()), 0);
    };
    upgrader_->ShowMessages = {mNoUpdateAvailable, mHostUnreachable};
    upgrader_->InfoFileURL =
        "http://127.0.0.1:" + std::to_string(quilvane_test::FreeLoopbackPort()) + "/x.inf";

    host("127.0.0.1");
    EXPECT_FALSE(TacAutoUpgrader::IsOnline());
    upgrader_->SetAutoCheck(true);
    RunUntil([] { return false; }, 300);
    EXPECT_TRUE(events_.empty());

    // Online: an unreachable server resumes the timer, so checks go on.
    host("127.0.0.2");
    ASSERT_TRUE(TacAutoUpgrader::IsOnline());
    ASSERT_TRUE(RunUntil([&] { return events_.size() >= 2; }, 10000));
    EXPECT_EQ(events_[1].rfind("HostUnreachable", 0), 0u) << events_[1];

    // A decision stops it: one answer from a real file, then no more checks.
    Publish("#version=2.0.6\n#url=http://h/Quilvane\n");
    ASSERT_TRUE(RunUntil([&] { return events_.back() == "NoUpdateAvailable"; }, 10000));
    const size_t seen = events_.size();
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(events_.size(), seen);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
