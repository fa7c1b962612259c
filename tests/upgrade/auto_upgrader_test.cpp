// The upgrader's check against real servers on loopback: lighttpd serves the
// information files, signed by a key the test makes with minisign and trusts
// as an administrator would, the scripted server cuts a body short, stalls or
// never ends it, a port nobody listens on stands for an unreachable host. Web pages are opened by a
// recording program, found once through HKEY_CLASSES_ROOT of our registry and
// once by the desktop's default handler (xdg-open and a handler entry of a
// private data folder).
#include "upgrade/auto_upgrader.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QCryptographicHash>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "framework/application.h"
#include "framework/resource_images.h"
#include "platform/registry.h"
#include "tests/support/http_servers.h"
#include "tests/support/minisign_keys.h"
#include "tests/support/qt_wait.h"
#include "upgrade/upgrade_info.h"

namespace {

using quilvane_test::FaultServer;
using quilvane_test::ReadFile;
using quilvane_test::RunUntil;
using quilvane_test::SigningKey;
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
        if (!key_.Ok())
            QUILVANE_SKIP_OR_FAIL(key_.Error());
        const std::string home = folder_.Path();
        // The administrator trusts the test's key; the helper's folder is
        // private to the test.
        key_.TrustIn(home + "/xdg");
        ::setenv("XDG_CONFIG_DIRS", (home + "/xdg").c_str(), 1);
        std::filesystem::create_directories(home + "/runtime");
        ::chmod((home + "/runtime").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
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
        upgrader_->NoticeBox = [this](const std::string& caption, const std::string& text) {
            boxes_.push_back("notice " + caption + "|" + text);
        };
        upgrader_->OnUnverified = [this](fw::TObject*, const std::string& reason) {
            events_.push_back("Unverified " + reason);
        };
        upgrader_->OnDoOwnCloseAppMethod = [this](fw::TObject*) { events_.push_back("Restart"); };
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
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_RUNTIME_DIR");
    }

    std::string ProgramFolder() const { return folder_.Path() + "/program dir/"; }
    std::string Opened() const { return folder_.Path() + "/opened.txt"; }
    // A new file for each version: the server may keep an old file's size.
    // Signed as the publisher signs, unless `signer` says otherwise.
    void Publish(const std::string& info, const SigningKey* signer = nullptr,
                 std::string comment = {}) {
        const std::string name = "/Quilvane" + std::to_string(++published_) + ".inf";
        WriteFile(web_.Root() + name, info);
        if (comment.empty())
            comment = "Quilvane " + upgrade_info::Value(info, "#version");
        ASSERT_TRUE((signer ? signer : &key_)->Sign(web_.Root() + name, comment));
        upgrader_->InfoFileURL = web_.Url(name);
    }
    std::string Sha256Of(const std::string& path) const {
        return QCryptographicHash::hash(QByteArray::fromStdString(ReadFile(path)),
                                        QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
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
    // Publishes a newer version whose files are these paths of the server,
    // each with its SHA-256.
    void PublishFiles(const std::vector<std::string>& paths) {
        std::string info = "#version=2.0.10\n";
        for (size_t i = 0; i < paths.size(); ++i)
            info += "#url" + std::to_string(i + 1) + "=" + web_.Url(paths[i]) + "\n#sha256" +
                    std::to_string(i + 1) + "=" + Sha256Of(web_.Root() + paths[i]) + "\n";
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
    SigningKey key_;
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
        {"#Version=2.0.10\n#URL1=http://h/Quilvane\n#Sha2561=" + std::string(64, 'A') +
             "\n#message={Fixes}",
         "BeginUpgrade Fixes 0 1"},
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

TEST_F(AutoUpgraderCheck, QuestionIsAnInfoBoxWithTheUpgradersIconAndTexts) {
    fw::TApplication app;
    const struct {
        std::string title;
        std::string shown;  // the title as the question names it
    } cases[] = {
        {"Quilvane", "Quilvane"},
        // A title naming the development environment stands for the placeholder.
        {"Delphi project", "<AppTitle>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        app.SetTitle(c.title);
        events_.clear();
        std::string seen;
        upgrader_->QuestionBox = [&](TacInfoBox& box) {
            seen = box.Title() + "|" + box.Text() + "|" +
                   std::to_string(static_cast<int>(box.InfoBoxButtons())) + "|" +
                   box.ButtonCaptions().Yes + "|" + box.ButtonCaptions().No + "|" +
                   std::to_string(box.ShowCheckBox()) + "|" + box.IconResID();
            return fw::mrNo;
        };
        Publish("#version=2.0.7\n#url=http://h/Quilvane\n#sha256=" + std::string(64, '0') +
                "\n#message={Fixes\nmore}\n");
        Check();
        EXPECT_EQ(seen, "Application update wizard|A newer version of [b]" + c.shown +
                            "[] was released.\n\nFixes\nmore[DEF]\n\nDo you want to update your "
                            "version with the latest one?|2|&Yes|&Later|0|ACAUICO");
        EXPECT_EQ(events_.back(), "LaterUpgrade");
    }
    // The icon is ours, found by name among the program's icons.
    const QImage icon = fw::LoadIconResource("ACAUICO");
    EXPECT_EQ(icon.size(), QSize(32, 32));
}

// Whoever answers the check's HTTP requests, or sits between the program and
// its site: each case ends with no question asked or no file taken, nothing
// written beside the program and no helper started.
TEST_F(AutoUpgraderCheck, HostileAnswersChangeNothing) {
    SigningKey stranger;
    ASSERT_TRUE(stranger.Ok()) << stranger.Error();
    WriteFile(web_.Root() + "/new.bin", "new program");
    const std::string newSha = Sha256Of(web_.Root() + "/new.bin");
    const std::string sha = "\n#sha256=" + newSha + "\n";
    ::setenv("SSL_CERT_FILE", web_.CaFile().c_str(), 1);
    struct Restore {
        ~Restore() { ::unsetenv("SSL_CERT_FILE"); }
    } restore;
    upgrader_->MaxDownloadSize = 1 << 20;
    // No question: only the boxes that say what went wrong.
    upgrader_->ShowMessages = {mLostFile};
    const struct {
        const char* name;
        std::function<void()> publish;
        std::string event;  // the first event after BeginUpgrade, or the only one
    } cases[] = {
        {"unsigned",
         [&] {
             Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha);
             std::filesystem::remove(web_.Root() + "/Quilvane" + std::to_string(published_) +
                                     ".inf.minisig");
         },
         "Unverified no signature (HTTP 404)"},
        {"another file under a good signature",
         [&] {
             Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha);
             const std::string signedName = "/Quilvane" + std::to_string(published_) + ".inf";
             const std::string name = "/Quilvane" + std::to_string(++published_) + ".inf";
             WriteFile(web_.Root() + name, "#version=2.0.10\n#url=" + faults_.Url("/evil") + sha);
             std::filesystem::copy_file(web_.Root() + signedName + ".minisig",
                                        web_.Root() + name + ".minisig");
             upgrader_->InfoFileURL = web_.Url(name);
         },
         "Unverified bad signature"},
        {"unknown key",
         [&] { Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha, &stranger); },
         "Unverified signed by an untrusted key"},
        {"signature of another version",
         [&] {
             Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha, nullptr,
                     "Quilvane 2.0.9");
         },
         "Unverified signature of another version"},
        {"a file without its SHA-256",
         [&] { Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + "\n"); },
         "Unverified a file without its SHA-256"},
        {"file address", [&] { Publish("#version=2.0.10\n#url=file:///etc/passwd" + sha); },
         "Unverified an address that is not http or https"},
        {"file address for the web page",
         [&] { Publish("#version=2.0.10\n#method=2\n#url=file:///etc/passwd\n"); },
         "Unverified an address that is not http or https"},
        {"endless information file", [&] { upgrader_->InfoFileURL = faults_.Url("/endless"); },
         "Unverified the file is larger than 1 MiB"},
        {"1 TB information file", [&] { upgrader_->InfoFileURL = faults_.Url("/huge"); },
         "Unverified the file is larger than 1 MiB"},
        {"https redirected to http",
         [&] {
             Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha);
             upgrader_->InfoFileURL =
                 web_.TlsUrl("/plain/Quilvane" + std::to_string(published_) + ".inf");
         },
         "NoInfoFile"},
        {"hash mismatch",
         [&] {
             Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") +
                     "\n#sha256=" + std::string(64, 'b') + "\n");
         },
         "LostFile new.bin 0"},
        {"file redirected to a local file",
         [&] {
             WriteFile(folder_.Path() + "/local.bin", "new program");
             Publish("#version=2.0.10\n#url=" + web_.Url("/local" + folder_.Path() + "/local.bin") +
                     sha);
         },
         "LostFile local.bin 302"},
        {"endless file", [&] { Publish("#version=2.0.10\n#url=" + faults_.Url("/endless") + sha); },
         "LostFile endless 0"},
        {"file longer than announced",
         [&] { Publish("#version=2.0.10\n#url=" + web_.Url("/new.bin") + sha + "#size=5\n"); },
         "LostFile new.bin 0"},
        {"a name too long for a file",
         [&] { Publish("#version=2.0.10\n#url=" + web_.Url("/" + std::string(260, 'n')) + sha); },
         "LostFile " + std::string(260, 'n') + " 0"},
        {"1 TB file", [&] { Publish("#version=2.0.10\n#url=" + faults_.Url("/huge") + sha); },
         "LostFile huge 0"},
    };
    for (const bool byUser : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (byUser ? " (button)" : " (start-up)"));
            events_.clear();
            boxes_.clear();
            c.publish();
            testing::internal::CaptureStderr();
            ASSERT_TRUE(upgrader_->CheckForUpgrade(byUser));
            const bool ended =
                RunUntil([&] { return !upgrader_->Running() && !upgrader_->Busy(); }, 30000);
            const std::string errors = testing::internal::GetCapturedStderr();
            ASSERT_TRUE(ended) << errors << ::testing::PrintToString(events_);
            std::vector<std::string> seen;
            for (const auto& e : events_)
                if (e.rfind("BeginUpgrade", 0) != 0)
                    seen.push_back(e);
            ASSERT_FALSE(seen.empty());
            EXPECT_EQ(seen.front().substr(0, c.event.size()), c.event) << seen.front();
            EXPECT_EQ(std::count(seen.begin(), seen.end(), "Restart"), 0);
            EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
            EXPECT_EQ(ReadFile(ProgramFolder() + "Quilvane"), "old program");
            if (c.event.rfind("Unverified", 0) == 0) {
                // One line on standard error; a box only for the button.
                EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
                EXPECT_NE(errors.find("nothing was changed"), std::string::npos) << errors;
                EXPECT_EQ(boxes_, byUser ? std::vector<std::string>{"Application update wizard|" +
                                                                    TacAutoUpgrader::Text(31)}
                                         : std::vector<std::string>{});
            }
            if (std::string(c.name) == "hash mismatch") {
                EXPECT_EQ(boxes_, std::vector<std::string>{
                                      "Application update wizard|File new.bin does not match its "
                                      "published checksum.\r\rThe upgrade was stopped and nothing "
                                      "was changed."});
            }
        }
    }
}

// A helper folder that another user made first (a shared /tmp, a runtime
// folder after su): no question, no download, nothing runs, and a box says why.
TEST_F(AutoUpgraderCheck, HelperFolderOfAnotherUserRunsNothing) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::geteuid() != 0)
        GTEST_SKIP() << "needs root and the user nobody";
    const std::string helper = TacAutoUpgrader::HelperPath();
    const std::string helperFolder = helper.substr(0, helper.rfind('/'));
    std::filesystem::create_directories(helperFolder);
    // What the other user left there, to be run at "Yes".
    WriteFile(helper, "#!/bin/sh\ntouch '" + folder_.Path() + "/ran'\n");
    ::chmod(helper.c_str(), 0755);
    ASSERT_EQ(::chown(helper.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chown(helperFolder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    PublishFiles({"/hello.txt"});
    upgrader_->OnDoOwnCloseAppMethod = nullptr;
    Check();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find(helperFolder), std::string::npos) << boxes_[0];
    EXPECT_TRUE(fileStarts_.empty());
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
    EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/ran"));
    // The same when the folder turns foreign after the check: the restart
    // writes and starts nothing.
    ASSERT_EQ(::chown(helperFolder.c_str(), 0, 0), 0);
    ::chmod(helperFolder.c_str(), 0700);
    std::filesystem::remove(helper);
    boxes_.clear();
    upgrader_->OnEndUpgrade = [&](fw::TObject*, bool& restart) {
        ASSERT_EQ(::chown(helperFolder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        restart = true;
    };
    PublishFiles({"/hello.txt"});
    Check();
    // The question, answered yes, then the box.
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].rfind("Application update wizard|The upgrade helper", 0), 0u) << boxes_[1];
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
    EXPECT_FALSE(std::filesystem::exists(helper));
    ASSERT_EQ(::chown(helperFolder.c_str(), 0, 0), 0);
}

// A packaged install and a folder this user cannot write: told, never asked,
// nothing downloaded; a check of its own tells once per version, the button
// always.
TEST_F(AutoUpgraderCheck, PackagedInstallAndUnwritableFolderAreToldNotUpgraded) {
    const passwd* nobody = ::getpwnam("nobody");
    PublishFiles({"/hello.txt"});
    TacAutoUpgrader::SetProgramPathForTesting("/usr/lib/quilvane-test/quilvane");
    ASSERT_TRUE(TacAutoUpgrader::IsPackagedInstall());
    for (const bool byUser : {false, false, true}) {
        ASSERT_TRUE(upgrader_->CheckForUpgrade(byUser));
        ASSERT_TRUE(RunUntil([&] { return !upgrader_->Running() && !upgrader_->Busy(); }));
    }
    const std::string told =
        "notice Application update wizard|A newer version of Quilvane "
        "(2.0.10) is available.\r\rThis copy was installed by the package "
        "manager, which also installs the new version: please upgrade it "
        "through the package manager.";
    EXPECT_EQ(boxes_, (std::vector<std::string>{told, told}));
    EXPECT_TRUE(fileStarts_.empty());
    EXPECT_TRUE(events_.empty()) << events_.front();
    EXPECT_FALSE(std::filesystem::exists("/usr/lib/quilvane-test"));

    TacAutoUpgrader::SetProgramPathForTesting(ProgramFolder() + "Quilvane");
    if (!nobody || ::geteuid() != 0)
        GTEST_SKIP() << "the unwritable folder needs root and the user nobody";
    // As nobody, who may read the test's files but not write the program's folder.
    ::chmod(folder_.Path().c_str(), 0755);
    boxes_.clear();
    ASSERT_EQ(::seteuid(nobody->pw_uid), 0);
    const bool started = upgrader_->CheckForUpgrade(true);
    RunUntil([&] { return !upgrader_->Running() && !upgrader_->Busy(); });
    ASSERT_EQ(::seteuid(0), 0);
    ASSERT_TRUE(started);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].rfind("notice Application update wizard|The program folder\r" +
                                  ProgramFolder() + "\rcannot be written",
                              0),
              0u)
        << boxes_[0];
    EXPECT_TRUE(fileStarts_.empty());
    EXPECT_EQ(ProgramFolderFiles(), std::vector<std::string>{"Quilvane"});
}

// What a publisher runs: the information file it writes and signs is taken,
// and its files arrive checked.
TEST_F(AutoUpgraderCheck, PublishedWithTheToolIsTaken) {
    WriteFile(web_.Root() + "/quilvane.bin", "the new program");
    const auto published = quilvane_test::RunCommand(
        {std::string(QUILVANE_SOURCE_DIR_DEFAULT) + "/tools/publish-upgrade.sh", "-s",
         key_.SecretKeyFile(), "-v", "2.0.10", "-u", web_.Url(""), "-m", "Fixes", "-o",
         web_.Root() + "/published.inf", web_.Root() + "/quilvane.bin"});
    ASSERT_EQ(published.exitCode, 0) << published.output;
    upgrader_->InfoFileURL = web_.Url("/published.inf");
    Check();
    EXPECT_EQ(events_, (std::vector<std::string>{"BeginUpgrade Fixes 0 1",
                                                 "FileDone quilvane.bin.uTMP", "EndUpgrade"}));
    EXPECT_EQ(ReadFile(ProgramFolder() + "quilvane.bin.uTMP"), "the new program");
}

}  // namespace
