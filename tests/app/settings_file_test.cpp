// The settings loader and writer against real files: every key, default,
// order of calls and resulting order of lines, including hand-edited files.

#include "app/settings_file.h"

#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPushButton>
#include <filesystem>

#include "app/main_form.h"
#include "framework/application.h"
#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"
#include "platform/kernel.h"
#include "tests/app/settings_file_guard.h"
#include "tests/ini/ini_fixture.h"
#include "tests/support/connection_record.h"
#include "tests/support/one_change_at_a_time.h"
#include "tests/support/skip_or_fail.h"

namespace quilvane {
namespace {

using namespace std::string_literals;

const std::string kUrl = BuiltInInfoFileURL;

using Rec = quilvane_test::ConnectionRecord;

// One settings line as the main window's store writes it.
std::string L(const std::string& name, const std::string& plain) {
    return name + "=" + Enc(plain) + "\r\n";
}

std::string RecordLines(int i, const Rec& r) {
    const std::string n = std::to_string(i);
    return L("HostName" + n, r.host) + L("UserName" + n, r.user) + L("Password" + n, r.password) +
           L("UNC" + n, r.unc) + L("Drive" + n, r.drive) +
           L("MaxPing" + n, std::to_string(r.maxPing));
}

class SettingsFile : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        Ini.SetFormSave(fsfNone);
        Ini.SetFileNameAutoSet(fspNone);
        Ini.SetEncryptValues(true);
    }

    static std::unique_ptr<fw::TRxMemoryData> NewTable() {
        return std::make_unique<fw::TRxMemoryData>(nullptr, ConnectionFields());
    }

    void Add(const Rec& r) { quilvane_test::AppendRecord(*Table, r); }

    // Loads the file into a fresh table and returns its records.
    std::vector<Rec> Reload(std::string& url) {
        TzIni ini(nullptr);
        ini.SetEncryptValues(true);
        auto table = NewTable();
        LoadSettings(ini, *table, url, Dir);
        std::vector<Rec> out;
        for (table->First(); !table->Eof(); table->Next()) {
            EXPECT_EQ(table->FieldByName("FalseCount").AsInteger(), 0);
            EXPECT_FALSE(table->FieldByName("FalseCount").IsNull());
            EXPECT_TRUE(table->FieldByName("Connected").IsNull());
            EXPECT_TRUE(table->FieldByName("Maped").IsNull());
            out.push_back({table->FieldByName("HostName").AsString(),
                           table->FieldByName("UserName").AsString(),
                           table->FieldByName("Password").AsString(),
                           table->FieldByName("UNC").AsString(),
                           table->FieldByName("Drive").AsString(),
                           table->FieldByName("MaxPing").AsInteger()});
        }
        return out;
    }

    void Load() { LoadSettings(Ini, *Table, Url, Dir); }

    TzIni Ini{nullptr};
    std::unique_ptr<fw::TRxMemoryData> Table = NewTable();
    std::string Url = kUrl;
    const Rec A{"fileserver", "alice", "s3cret!", "share\\docs", "Y:", 5};
    const Rec B{"10.0.0.7", "bob", "p", "media", "M:", 12};
    const Rec C{"nas", "", "", "backup", "B:", 0};
};

TEST_F(SettingsFile, FirstRunCreatesEmptyOwnerOnlyFileAndFirstSaveWritesTwoLines) {
    Load();
    EXPECT_EQ(Ini.FileName(), Dir + "/Quilvane.ini");
    EXPECT_EQ(Take(Path), "");
    EXPECT_EQ(Mode(Path), 0600u);
    EXPECT_EQ(Table->RecordCount(), 0);
    EXPECT_EQ(Url, kUrl);
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=0\r\n");
    EXPECT_EQ(Mode(Path), 0600u);
}

TEST_F(SettingsFile, ExistingFileIsNotRecreatedAndTrailingSlashIsAccepted) {
    Put(Path, "UpGradeURL=http://other/x.inf\r\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
    LoadSettings(Ini, *Table, Url, Dir + "/");
    EXPECT_EQ(Ini.FileName(), Dir + "/Quilvane.ini");
    EXPECT_EQ(Url, "http://other/x.inf");
    EXPECT_EQ(Mode(Path), 0640u);
}

TEST_F(SettingsFile, SaveWritesEveryRecordInTableOrderAndLoadRestoresIt) {
    Load();
    Add(A);
    Add(B);
    Add(C);
    SaveSettings(Ini, *Table, Url);
    // The cursor is left on the last record.
    EXPECT_EQ(Table->RecNo(), 3);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=3\r\n" + RecordLines(0, A) +
                              RecordLines(1, B) + RecordLines(2, C));
    // One-byte values stand in clear, two bytes and more enciphered.
    EXPECT_NE(Take(Path).find("Password1=p\r\nUNC1="), std::string::npos);
    EXPECT_NE(Take(Path).find("MaxPing0=5\r\n"), std::string::npos);
    std::string url = "unused default";
    EXPECT_EQ(Reload(url), (std::vector<Rec>{A, B, C}));
    EXPECT_EQ(url, kUrl);
}

TEST_F(SettingsFile, SaveAfterDeletingRemovesTheHighestIndexAndRewritesTheRest) {
    Load();
    Add(A);
    Add(B);
    Add(C);
    SaveSettings(Ini, *Table, Url);
    Table->SetRecNo(2);
    Table->Delete();
    Url = "http://quilvane.example.net/new.inf";
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(Take(Path),
              L("UpGradeURL", Url) + "DriveCount=2\r\n" + RecordLines(0, A) + RecordLines(1, C));
    EXPECT_EQ(Ini.ReadInteger("DriveCount", -1), 2);
    EXPECT_EQ(Ini.ReadString("HostName2", "gone"), "gone");
}

TEST_F(SettingsFile, HandEditedFileLoadsAsDescribedAndSaveKeepsForeignLines) {
    const std::string big(600, 'z');
    Put(Path,
        "; written by hand\r\n"
        "[Quilvane]\n"
        "drivecount=3\r\n"
        "hostname0=" +
            Enc("server-with-a-long-name") +
            "\r\n"
            "USERNAME0=carol\r\n"
            "Password0=" +
            Enc("pw") +
            "\r\n"
            "UNC0=data\r\n"
            "Drive0=X:\r\n"
            "MaxPing0=" +
            Enc("7") +
            "\r\n"
            "HostName1=h1\r\n"
            "MaxPing1=abc\r\n"
            "Notes=" +
            big +
            "\r\n"
            "HostName4=" +
            Enc("beyond") + "\r\n");
    Load();
    ASSERT_EQ(Table->RecordCount(), 3);
    EXPECT_EQ(Url, kUrl);
    Table->First();
    // Text longer than its field is cut; names match in any case.
    EXPECT_EQ(Table->FieldByName("HostName").AsString(), "server-with-a-lo");
    EXPECT_EQ(Table->FieldByName("UserName").AsString(), "carol");
    EXPECT_EQ(Table->FieldByName("Password").AsString(), "pw");
    EXPECT_EQ(Table->FieldByName("MaxPing").AsInteger(), 7);
    Table->Next();
    EXPECT_EQ(Table->FieldByName("HostName").AsString(), "h1");
    EXPECT_EQ(Table->FieldByName("MaxPing").AsInteger(), 0);  // not a number
    Table->Next();
    EXPECT_EQ(Table->FieldByName("HostName").AsString(), "");
    EXPECT_EQ(Table->FieldByName("Drive").AsString(), "");
    EXPECT_EQ(Table->FieldByName("MaxPing").AsInteger(), 5);  // missing

    SaveSettings(Ini, *Table, Url);
    // The per-record keys of the three stored records are gone from their
    // places, "DriveCount" keeps the file's spelling and place, "UpGradeURL"
    // and the records follow at the end; foreign lines stay untouched.
    const Rec r0{"server-with-a-lo", "carol", "pw", "data", "X:", 7};
    const Rec r1{"h1", "", "", "", "", 0};
    const Rec r2{"", "", "", "", "", 5};
    EXPECT_EQ(Take(Path), "; written by hand\r\n[Quilvane]\r\ndrivecount=3\r\nNotes=" + big +
                              "\r\nHostName4=" + Enc("beyond") + "\r\n" + L("UpGradeURL", kUrl) +
                              RecordLines(0, r0) + RecordLines(1, r1) + RecordLines(2, r2));
}

TEST_F(SettingsFile, KeyBeyondTheCountIsIgnoredUntilASaveWritesThatIndexInPlace) {
    Put(Path, L("UpGradeURL", kUrl) + "DriveCount=1\r\n" + RecordLines(0, A) +
                  "hostname1=" + Enc("hand-added") + "\r\n");
    Load();
    ASSERT_EQ(Table->RecordCount(), 1);
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=1\r\nhostname1=" + Enc("hand-added") +
                              "\r\n" + RecordLines(0, A));
    Add(B);
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=2\r\nhostname1=" + Enc(B.host) +
                              "\r\n" + RecordLines(0, A) + L("UserName1", B.user) +
                              L("Password1", B.password) + L("UNC1", B.unc) + L("Drive1", B.drive) +
                              L("MaxPing1", "12"));
}

TEST_F(SettingsFile, DamagedCountLoadsNothing) {
    for (const std::string& count : {"x"s, "-2"s, ""s, "(3"s}) {
        SCOPED_TRACE(count);
        Put(Path, "DriveCount=" + count + "\r\nHostName0=" + Enc("h0") + "\r\n");
        std::string url = kUrl;
        EXPECT_TRUE(Reload(url).empty());
    }
}

TEST_F(SettingsFile, RefusedValueIsFoundBeforeTheFileIsTouched) {
    // A password stored in clear by hand that enciphers to a line break: the
    // loader takes it, the save cannot store it.
    const std::string before = L("UpGradeURL", kUrl) + "DriveCount=3\r\n" + RecordLines(0, A) +
                               RecordLines(1, B) + "HostName2=" + Enc(C.host) +
                               "\r\nPassword2=a\x1e\r\n";
    Put(Path, before);
    Load();
    ASSERT_EQ(Table->RecordCount(), 3);
    try {
        SaveSettings(Ini, *Table, Url);
        ADD_FAILURE() << "the save went through";
    } catch (const EzIniError& e) {
        EXPECT_EQ(std::string(e.what()), "Value can't be stored in a line:\rPassword2");
    }
    EXPECT_EQ(Take(Path), before);
    EXPECT_FALSE(Ini.InEditMode());
    // The next save, with the value mended, goes through.
    Table->SetRecNo(3);
    Table->Edit();
    TConnectionRecord(*Table).Password.Set("a");
    Table->Post();
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=3\r\n" + RecordLines(0, A) +
                              RecordLines(1, B) + RecordLines(2, {C.host, "", "a", "", "", 5}));
    // A missing folder raises the store's error before anything is written.
    TzIni lost(nullptr);
    lost.SetFileName(Dir + "/missing/Quilvane.ini");
    EXPECT_THROW(SaveSettings(lost, *Table, Url), EzIniError);
}

TEST_F(SettingsFile, CountBeyondEveryListLoadsTheStoredRecordsAndSavesAtOnce) {
    Put(Path, "DriveCount=" + Enc("2000000000") + "\r\nHostName0=" + Enc("h0") +
                  "\r\nMaxPing3=9\r\nHostName1999999999=far\r\nUNC4294967296=farther\r\n");
    Load();
    ASSERT_EQ(Table->RecordCount(), 4);
    SaveSettings(Ini, *Table, Url);
    // Every key below the old count is gone; one beyond it stays.
    EXPECT_EQ(Take(Path), "DriveCount=4\r\nUNC4294967296=farther\r\n" + L("UpGradeURL", kUrl) +
                              RecordLines(0, {"h0", "", "", "", "", 5}) +
                              RecordLines(1, {"", "", "", "", "", 5}) +
                              RecordLines(2, {"", "", "", "", "", 5}) +
                              RecordLines(3, {"", "", "", "", "", 9}));
}

// Replaces of Quilvane.ini in a folder, as inotify reports them.
class ReplaceCounter {
public:
    explicit ReplaceCounter(const std::string& dir)
        : Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(Fd, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~ReplaceCounter() { ::close(Fd); }
    int Count() const {
        int count = 0;
        alignas(inotify_event) char buf[65536];
        for (ssize_t n; (n = ::read(Fd, buf, sizeof buf)) > 0;) {
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
                count += ev->len && std::string(ev->name) == "Quilvane.ini";
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            }
        }
        return count;
    }

private:
    int Fd;
};

struct StartFile {
    const char* name;
    std::string text;
};

void PrintTo(const StartFile& c, std::ostream* os) {
    *os << c.name;
}

class SaveInOneReplace : public SettingsFile, public ::testing::WithParamInterface<StartFile> {};

TEST_P(SaveInOneReplace, GivesTheFileOfOneChangeAtATime) {
    Put(Path, GetParam().text);
    Load();
    // Edits as a user makes them: one record changed, one deleted, two added.
    if (Table->RecordCount() > 0) {
        Table->First();
        Table->Edit();
        TConnectionRecord(*Table).HostName.Set("changed");
        Table->Post();
    }
    if (Table->RecordCount() > 1) {
        Table->SetRecNo(2);
        Table->Delete();
    }
    Add(A);
    Add(C);

    const std::string other = Dir + "/one-by-one";
    ASSERT_TRUE(std::filesystem::create_directory(other));
    Put(other + "/Quilvane.ini", GetParam().text);
    TzIni reference(nullptr);
    reference.SetEncryptValues(true);
    reference.SetFileName(other + "/Quilvane.ini");
    quilvane_test::SaveOneChangeAtATime(reference, *Table, Url);

    const ReplaceCounter replaces(Dir);
    SaveSettings(Ini, *Table, Url);
    EXPECT_EQ(replaces.Count(), 1);
    EXPECT_EQ(Take(Path), Take(other + "/Quilvane.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveInOneReplace,
    ::testing::Values(
        StartFile{"Empty", ""},
        StartFile{"SavedByTheProgram", L("UpGradeURL", kUrl) + "DriveCount=3\r\n" +
                                           RecordLines(0, {"a", "b", "cc", "dd", "E:", 5}) +
                                           RecordLines(1, {"h1", "", "", "x", "F:", 10}) +
                                           RecordLines(2, {"h2", "u", "p", "", "G:", 0})},
        StartFile{"HandEdited",
                  "; comment\n[Quilvane]\r\nNotes=keep\rdrivecount=" + Enc("12") +
                      "\r\nhostname0=h0\r\nHOSTNAME0=second\r\nUserName1=u1\r\nMaxPing01=7\r\n"
                      "HostName12=beyond\r\nHostName11=last\r\nUNC=bare\r\nDrive1\r\n"
                      "MaxPing3=" +
                      Enc("42") + "\r\nPassword2=" + Enc("pw") +
                      "\r\nUpGradeURL=" + Enc("http://other/x.inf")},
        StartFile{"DamagedCount", "DriveCount=x\r\nHostName0=" + Enc("h0") + "\r\nHostName1=h\r\n"},
        StartFile{"NegativeCount", "DriveCount=-4\r\nHostName0=h\r\n"},
        StartFile{"CountBeyondTheKeys",
                  "DriveCount=" + Enc("12") + "\r\nHostName0=" + Enc("h0") +
                      "\r\nMaxPing3=9\r\nHostName11=a\r\nUNC12=b\r\nHostName011=c\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFile, CountsUpToTheLargestListAreKeptBeyondItOnlyStoredRecordsLoad) {
    struct Case {
        std::string count, keys;
        int records;
    };
    const std::string max = std::to_string(MaxLoadedRecords);
    const std::string over = std::to_string(MaxLoadedRecords + 1);
    const Case cases[] = {
        {"3", "HostName0=a\r\nHostName1=b\r\n", 3},
        {max, "HostName0=a\r\n", MaxLoadedRecords},
        {over, "HostName0=a\r\nMaxPing6=" + Enc("10") + "\r\nHostName" + max + "=out\r\n", 7},
        {over, "", 0},
        {"2147483647", "hostname2=" + Enc("h2") + "\r\n", 3},
        // Beyond 32 bits a count keeps its low bits, here a negative number.
        {"1e12", "HostName0=a\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count + " with " + c.keys);
        Put(Path, "DriveCount=" + Enc(c.count) + "\r\n" + c.keys);
        auto table = NewTable();
        TzIni ini(nullptr);
        LoadSettings(ini, *table, Url, Dir);
        EXPECT_EQ(table->RecordCount(), c.records);
        if (c.records == 7) {
            table->SetRecNo(7);
            EXPECT_EQ(TConnectionRecord(*table).MaxPing.Value(), 10);
        }
    }
}

// A shared install: the user may write the file but not its folder. A save
// replaces the file, which takes a new file in its folder, so it cannot be
// made; writing in place instead could leave half a file. The error says why
// and what to do, and the file stays as it was.
TEST_F(SettingsFile, FileInAFolderTheUserCannotWriteGetsAnErrorThatSaysWhy) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("needs root to save as another user");
    const std::string before = L("UpGradeURL", kUrl) + "DriveCount=0\r\n";
    Put(Path, before);
    const uid_t nobody = 65534;
    ASSERT_EQ(::chown(Path.c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(Dir.c_str(), 0755), 0);  // root's: others may not write in it
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string message = "no error";
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            message = "cannot become nobody";
        } else {
            try {
                TzIni ini(nullptr);
                ini.SetEncryptValues(true);
                std::string url = kUrl;
                auto table = NewTable();
                LoadSettings(ini, *table, url, Dir);
                quilvane_test::AppendRecord(*table, A);
                SaveSettings(ini, *table, url);
            } catch (const std::exception& e) {
                message = e.what();
            }
        }
        [[maybe_unused]] const ssize_t n = ::write(fds[1], message.data(), message.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string message;
    char buf[1024];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        message.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(message.rfind("Cannot create file \"" + Path + "\". Permission denied. ", 0), 0u)
        << message;
    EXPECT_NE(message.find("the folder \"" + Dir +
                           "/\" cannot be written to; make the folder "
                           "writable for you, or keep Quilvane in a folder of your own"),
              std::string::npos)
        << message;
    EXPECT_EQ(Take(Path), before);
    EXPECT_EQ(Strays(), "");
}

// The main window reads the file beside the executable at creation and writes
// it on Ok and Exit; a failed write reaches the error box and stops the button.
class MainWindowSettings : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetErrorBox(
            [this](const std::string&, const std::string& text) { Errors.push_back(text); });
    }

    SettingsFileGuard Settings;
    const std::string File = SettingsFileGuard::Path();
    fw::TApplication App;
    TForm1* Form = nullptr;
    std::vector<std::string> Errors;
};

TEST_F(MainWindowSettings, CreationLoadsTheFileBesideTheExecutableAndOkWritesIt) {
    TempFolder::Put(File, "DriveCount=1\r\nHostName0=" + Enc("server") + "\r\nUpGradeURL=" +
                              Enc("http://other.example/Quilvane.inf") + "\r\n");
    App.CreateForm(&Form);
    EXPECT_EQ(Form->zIni1->FileName(), File);
    EXPECT_EQ(Form->zIni1->FormSave(), fsfNone);
    EXPECT_EQ(Form->zIni1->FileNameAutoSet(), fspNone);
    EXPECT_TRUE(Form->zIni1->EncryptValues());
    EXPECT_EQ(Form->acAutoUpgrader1->InfoFileURL, "http://other.example/Quilvane.inf");
    ASSERT_EQ(Form->RxMemoryData1->RecordCount(), 1);
    Form->BOk1->Button()->click();
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(TempFolder::Take(File),
              "DriveCount=1\r\nUpGradeURL=" + Enc("http://other.example/Quilvane.inf") + "\r\n" +
                  RecordLines(0, {"server", "", "", "", "", 5}));
}

TEST_F(MainWindowSettings, FirstStartCreatesAnEmptyOwnerOnlyFileAndKeepsTheBuiltInUrl) {
    App.CreateForm(&Form);
    EXPECT_EQ(TempFolder::Take(File), "");
    EXPECT_EQ(TempFolder::Mode(File), 0600u);
    EXPECT_EQ(Form->acAutoUpgrader1->InfoFileURL, kUrl);
    EXPECT_EQ(Form->RxMemoryData1->RecordCount(), 0);
}

TEST_F(MainWindowSettings, FailedSaveShowsTheErrorAndExitDoesNotClose) {
    App.CreateForm(&Form);
    Form->zIni1->SetFileName(File + ".d/Quilvane.ini");
    Form->BExit1->Button()->click();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "Can't create file:\r" + File + ".d/Quilvane.ini");
    EXPECT_FALSE(App.Terminated());
    // With the folder back, Exit writes and closes.
    Form->zIni1->SetFileName(File);
    Form->BExit1->Button()->click();
    EXPECT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(App.Terminated());
    EXPECT_EQ(TempFolder::Take(File), L("UpGradeURL", kUrl) + "DriveCount=0\r\n");
}

// A monitor's table loaded again after the file changed behind it.
struct CancelRecorder {
    std::vector<std::string> Cancelled;
    std::function<void(const std::string&)> Disconnect() {
        return [this](const std::string& drive) { Cancelled.push_back(drive); };
    }
};

TEST_F(SettingsFile, ReloadKeepsUnchangedRecordsStateAndDisconnectsWhatWentOrChanged) {
    const Rec D{"gone", "u", "p", "old", "t:", 5};
    const Rec E{"twin", "u", "p", "e", "T:", 5};
    Load();
    for (const Rec& r : {A, B, C, D, E})
        Add(r);
    SaveSettings(Ini, *Table, Url);
    // The monitor's state: A, B, D and E mapped, C never answered.
    const TConnectionRecord f(*Table);
    const struct {
        bool connected;
        int falseCount;
        bool maped;
    } state[] = {
        {true, 0, true}, {true, 1, true}, {false, 3, false}, {true, 0, true}, {true, 0, true}};
    int i = 0;
    for (Table->First(); !Table->Eof(); Table->Next(), ++i) {
        Table->Edit();
        f.Connected.Set(state[i].connected);
        f.FalseCount.Set(state[i].falseCount);
        f.Maped.Set(state[i].maped);
        Table->Post();
    }

    // Behind the monitor: B's MaxPing changed, D removed (its drive is E's
    // too, in the other case), A, C and E kept but in another order.
    {
        TzIni other(nullptr);
        SetUpSettingsStore(other);
        auto table = NewTable();
        std::string url = kUrl;
        LoadSettings(other, *table, url, Dir);
        while (!table->IsEmpty())
            table->Delete();
        Rec changedB = B;
        changedB.maxPing = 3;
        for (const Rec& r : {C, changedB, A, E})
            quilvane_test::AppendRecord(*table, r);
        url = "http://other/x.inf";
        SaveSettings(other, *table, url);
    }
    CancelRecorder drives;
    EXPECT_EQ(ReloadSettings(Ini, *Table, Url, Dir, drives.Disconnect()), 4);
    EXPECT_EQ(Url, "http://other/x.inf");
    // B changed: its mapping goes, as the editor drops it on a save. D's
    // drive stays: E, which is kept, holds it. Nothing else is touched.
    EXPECT_EQ(drives.Cancelled, (std::vector<std::string>{"M:"}));
    const struct {
        std::string host;
        bool connectedNull;
        bool connected;
        int falseCount;
        bool maped;
    } want[] = {{"nas", false, false, 3, false},
                {"10.0.0.7", true, false, 0, false},
                {"fileserver", false, true, 0, true},
                {"twin", false, true, 0, true}};
    i = 0;
    for (Table->First(); !Table->Eof(); Table->Next(), ++i) {
        SCOPED_TRACE(want[i].host);
        EXPECT_EQ(f.HostName.Value(), want[i].host);
        EXPECT_EQ(f.Connected.Field().IsNull(), want[i].connectedNull);
        EXPECT_EQ(f.Connected.Value(), want[i].connected);
        EXPECT_EQ(f.FalseCount.Value(), want[i].falseCount);
        EXPECT_EQ(f.Maped.Value(), want[i].maped);
    }
    EXPECT_EQ(Table->RecNo(), 4);

    // A file that cannot be read leaves the table as it was.
    ASSERT_EQ(::unlink(Path.c_str()), 0);
    ASSERT_EQ(::mkfifo(Path.c_str(), 0600), 0);
    EXPECT_ANY_THROW(ReloadSettings(Ini, *Table, Url, Dir, drives.Disconnect()));
    EXPECT_EQ(Table->RecordCount(), 4);
}

}  // namespace
}  // namespace quilvane
