// The main window on the offscreen platform: its layout as the program shows
// it, its grid following the connection table at once, Exit ending the
// program, what the start gives the tray, the About box and auto-run, and the
// headless form that leaves all of them alone. (The offscreen platform has no
// tray: the window stays shown there, as on any desktop without one.)
#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <filesystem>

#include "app/version.h"
#include "framework/application.h"
#include "tests/app/settings_file_guard.h"

namespace {

using quilvane::TForm1;

class MainForm : public ::testing::Test {
protected:
    SettingsFileGuard Settings;
    fw::TApplication App;
    TForm1* Form = nullptr;
    std::vector<std::string> Errors;

    MainForm() {
        App.SetErrorBox(
            [this](const std::string&, const std::string& text) { Errors.push_back(text); });
        App.SetTitle("Quilvane");
        App.CreateForm(&Form);
    }

    void AddRecord(const std::string& host, const std::string& drive, const std::string& unc) {
        fw::TRxMemoryData& t = *Form->RxMemoryData1;
        t.Append();
        t.FieldByName("HostName").SetAsString(host);
        t.FieldByName("Drive").SetAsString(drive);
        t.FieldByName("UNC").SetAsString(unc);
        t.FieldByName("MaxPing").SetAsInteger(5);
        t.Post();
    }
};

TEST_F(MainForm, WindowIsTheListViewOfTheGivenSize) {
    EXPECT_EQ(App.MainForm(), Form);
    EXPECT_EQ(Form->Caption(), "Quilvane");
    EXPECT_EQ(Form->ClientWidth(), 455);
    EXPECT_EQ(Form->Height(), 265);
    EXPECT_TRUE(Form->BorderIcons().Empty());
    EXPECT_EQ(Form->Position(), fw::poScreenCenter);
    EXPECT_EQ(Form->DefaultButton(), Form->BOk1);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainForm, ControlsSitAtTheirPlacesWithTheirCaptions) {
    struct Place {
        fw::TControl* control;
        int left, top, width, height;
        const char* caption;
    };
    const Place places[] = {
        {Form->suiDBGrid1, 4, 4, 445, 189, ""},   {Form->BAdd1, 8, 200, 49, 27, "&Add"},
        {Form->BEdit1, 56, 200, 49, 27, "&Edit"}, {Form->BDel1, 104, 200, 49, 27, "&Del"},
        {Form->BOk1, 280, 200, 80, 27, "&Ok"},    {Form->BExit1, 368, 200, 80, 27, "E&xit"},
    };
    Form->Show();
    for (const Place& p : places) {
        SCOPED_TRACE(p.control->Name());
        EXPECT_EQ(p.control->Parent(), Form);
        const QRect shown = p.control->Widget()->geometry();
        EXPECT_EQ(shown, QRect(p.left, p.top, p.width, p.height));
        EXPECT_EQ(p.control->Caption(), p.caption);
    }
    EXPECT_FALSE(Form->BOk1->Button()->icon().isNull()) << "Ok has a glyph";
    EXPECT_FALSE(Form->BExit1->Button()->icon().isNull()) << "Exit has a glyph";
    EXPECT_TRUE(Form->BAdd1->Button()->icon().isNull());
}

TEST_F(MainForm, GridShowsSixColumnsInOrder) {
    const fw::TDBGridView* grid = Form->suiDBGrid1->View();
    struct Column {
        const char* field;
        const char* title;
        Qt::Alignment alignment;
        int width;  // -1: default
    };
    const Column expected[] = {
        {"HostName", "Host Name", Qt::AlignHCenter, 86},
        {"Connected", "On", Qt::AlignHCenter, -1},
        {"FalseCount", ".", Qt::AlignLeft, 16},
        {"Drive", "Drive", Qt::AlignHCenter, -1},
        {"UNC", "Universal Name Connection", Qt::AlignHCenter, 213},
        {"Maped", "Maped", Qt::AlignHCenter, -1},
    };
    ASSERT_EQ(grid->Columns().size(), std::size(expected));
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i) {
        SCOPED_TRACE(i);
        const fw::TColumn& c = grid->Columns()[i];
        EXPECT_EQ(c.FieldName, expected[i].field);
        EXPECT_EQ(c.Title, expected[i].title);
        EXPECT_EQ(c.TitleAlignment, expected[i].alignment);
        if (expected[i].width >= 0) {
            EXPECT_EQ(grid->ColumnWidth(i), expected[i].width);
        }
    }
    EXPECT_EQ(grid->Color(), QColor(0xE8, 0xE8, 0xE8));
    EXPECT_EQ(grid->TitleColor(), QColor(0x44, 0x4A, 0xA0));
    EXPECT_EQ(grid->TitleFontColor(), QColor(Qt::white));
    // The default widths still leave every column inside the grid.
    int total = 0;
    for (int i = 0; i < 6; ++i)
        total += grid->ColumnWidth(i) + 1;
    EXPECT_LE(total, 445 - 2);
}

TEST_F(MainForm, TableIsOpenEmptyAndItsPostsShowInTheGridAtOnce) {
    fw::TRxMemoryData& table = *Form->RxMemoryData1;
    const fw::TDBGridView* grid = Form->suiDBGrid1->View();
    EXPECT_EQ(table.RecordCount(), 0);
    EXPECT_EQ(grid->RowCount(), 0);
    EXPECT_EQ(table.FieldCount(), 10);

    Form->Show();
    AddRecord("fileserver", "Y:", "public\\docs");
    // As a monitor pass would: change the state fields of the current record.
    table.Edit();
    table.FieldByName("Connected").SetAsBoolean(true);
    table.FieldByName("FalseCount").SetAsInteger(0);
    table.FieldByName("Maped").SetAsBoolean(true);
    table.Post();
    AddRecord("nas", "Z:", "backup");

    ASSERT_EQ(grid->RowCount(), 2);
    const std::vector<std::string> first = {"fileserver", "True",         "0",
                                            "Y:",         "public\\docs", "True"};
    const std::vector<std::string> second = {"nas", "", "", "Z:", "backup", ""};
    for (int col = 0; col < 6; ++col) {
        EXPECT_EQ(grid->CellText(0, col), first[col]) << col;
        EXPECT_EQ(grid->CellText(1, col), second[col]) << col;
    }
    EXPECT_EQ(grid->CurrentRow(), 1);
}

TEST_F(MainForm, ExitClosesTheMainFormAndEndsTheProgram) {
    Form->Show();
    ASSERT_FALSE(App.Terminated());
    Form->BExit1->Button()->click();
    EXPECT_TRUE(App.Terminated());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainForm, EnterOnTheGridPressesOkAndOnExitPressesExit) {
    int okClicks = 0;
    Form->BOk1->OnClick = [&](fw::TObject*) { ++okClicks; };
    Form->Show();
    AddRecord("fileserver", "Y:", "share");
    // The grid has no use for Enter: it goes on to the window's default button.
    QKeyEvent enterOnGrid(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Form->suiDBGrid1->View(), &enterOnGrid);
    EXPECT_EQ(okClicks, 1);
    EXPECT_FALSE(App.Terminated());
    QKeyEvent enterOnExit(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Form->BExit1->Widget(), &enterOnExit);
    EXPECT_EQ(okClicks, 1);
    EXPECT_TRUE(App.Terminated());
}

TEST_F(MainForm, OkAddEditAndDelLeaveTheProgramRunning) {
    Form->Show();
    for (fw::TButton* b : {Form->BOk1, Form->BAdd1, Form->BEdit1, Form->BDel1})
        b->Button()->click();
    EXPECT_FALSE(App.Terminated());
    EXPECT_TRUE(Errors.empty());
}

// The machine's autostart folder of this test program (its private
// configuration folders come from the test main).
std::filesystem::path MachineAutostart() {
    return std::filesystem::path(qEnvironmentVariable("XDG_CONFIG_DIRS").toStdString()) /
           "autostart";
}

TEST_F(MainForm, StartGivesTheTrayTipTheAboutTextTheMenuAndAutoRun) {
    // The build's one version (the package's and --version's) in all three.
    const std::string version = quilvane::ProgramVersion;
    EXPECT_EQ(version, "2.0.6");
    EXPECT_EQ(Form->acAutoUpgrader1->VersionNumber, version);
    EXPECT_EQ(Form->acTrayIcon1->Hint(), "Quilvane\r\nVersion " + version);
    const std::string about = Form->acInfoBox1->Text();
    const std::string head = "Quilvane\r\nVersion " + version + "\r\n";
    ASSERT_EQ(about.substr(0, head.size()), head);
    EXPECT_GT(about.size(), head.size()) << "no closing line";
    std::vector<std::string> menu;
    for (int i = 0; i < Form->PopupMenu1->Items()->Count(); ++i)
        menu.push_back(Form->PopupMenu1->Items()->Items(i)->Caption());
    EXPECT_EQ(menu, (std::vector<std::string>{"About", "&Setting", "-", "E&xit"}));
    EXPECT_EQ(Form->acTrayIcon1->PopupMenu(), Form->PopupMenu1);
    // Registered for every user of the machine, whatever was there before.
    EXPECT_TRUE(Form->acAppAutoRun1->AutoRun());
    EXPECT_TRUE(std::filesystem::exists(MachineAutostart() / "Quilvane.desktop"));
    EXPECT_TRUE(Errors.empty());
}

TEST(HeadlessMainForm, HasNoTrayNoAutoRunAndChecksForNoUpgrade) {
    std::error_code ec;
    std::filesystem::remove_all(MachineAutostart(), ec);
    SettingsFileGuard settings;
    fw::TApplication app;
    TForm1* form = nullptr;
    TForm1::Headless = true;
    app.CreateForm(&form);
    TForm1::Headless = false;
    EXPECT_EQ(form->acTrayIcon1, nullptr);
    EXPECT_EQ(form->acAppAutoRun1, nullptr);
    EXPECT_FALSE(form->acAutoUpgrader1->Running()) << "an upgrade check started";
    form->acCaptionButton1Click(nullptr);
    EXPECT_FALSE(form->acAutoUpgrader1->Running()) << "an upgrade check started";
    EXPECT_FALSE(std::filesystem::exists(MachineAutostart()));
}

}  // namespace
