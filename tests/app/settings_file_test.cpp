// The settings loader and writer against real files: every key, default,
// order of calls and resulting order of lines, including hand-edited files.

#include "app/settings_file.h"

#include <sys/stat.h>

#include <QPushButton>

#include "app/connection_table.h"
#include "app/main_form.h"
#include "framework/application.h"
#include "platform/kernel.h"
#include "tests/app/settings_file_guard.h"
#include "tests/ini/ini_fixture.h"
#include "tests/support/connection_record.h"

namespace quilvane {
namespace {

using namespace std::string_literals;

const std::string kUrl = "http://quilvane.example.net/download/Quilvane/Quilvane.inf";

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

TEST_F(SettingsFile, FailedWriteRaisesAndStopsTheSave) {
    Load();
    Add(A);
    SaveSettings(Ini, *Table, Url);
    // A password byte that would encipher to a line break stops the save at
    // that record; the writes before it are in the file.
    Table->First();
    Table->Edit();
    Table->FieldByName("Password").SetAsString("a\x1e");
    Table->Post();
    EXPECT_THROW(SaveSettings(Ini, *Table, Url), EzIniError);
    EXPECT_EQ(Take(Path), L("UpGradeURL", kUrl) + "DriveCount=1\r\n" + L("HostName0", A.host) +
                              L("UserName0", A.user));
    // A missing folder raises the store's error on the first delete.
    TzIni lost(nullptr);
    lost.SetFileName(Dir + "/missing/Quilvane.ini");
    EXPECT_THROW(SaveSettings(lost, *Table, Url), EzIniError);
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
    EXPECT_EQ(Form->InfoFileURL, "http://other.example/Quilvane.inf");
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
    EXPECT_EQ(Form->InfoFileURL, kUrl);
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

}  // namespace
}  // namespace quilvane
