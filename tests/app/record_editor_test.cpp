// The record editor of the main window on the offscreen platform: its layout,
// its three modes and their front buttons, the handlers against the connection
// table (also after a monitor pass moved the cursor), and the number box.
// Drive cancels go to the real operation over an empty drives folder of the
// test's own, so they fail without touching any mount; a recorder beside it
// notes what was asked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <climits>
#include <cstdlib>
#include <set>

#include "app/main_form.h"
#include "framework/application.h"
#include "monitor/monitor_cycle.h"
#include "monitor/net_drive.h"
#include "tests/app/settings_file_guard.h"
#include "tests/monitor/headless_program.h"
#include "tests/support/connection_record.h"
#include "tests/support/monitor_idle.h"

namespace quilvane {
namespace {

class RecordingDrives : public TDriveOperations {
public:
    std::vector<std::string> Cancelled;
    bool NetUse(const std::string&, const std::string&, const std::string&,
                const std::string&) override {
        ADD_FAILURE() << "the editor never maps a drive";
        return false;
    }
    bool NetDel(const std::string& Drive) override {
        Cancelled.push_back(Drive);
        return quilvane::NetDel(Drive);
    }
    std::string PathForDrive(const std::string&) override { return {}; }
    bool FolderExists(const std::string&) override { return false; }
};

using Rec = quilvane_test::ConnectionRecord;

class RecordEditor : public ::testing::Test {
protected:
    SettingsFileGuard Settings;
    QTemporaryDir DrivesDir;
    fw::TApplication App;
    TForm1* Form = nullptr;
    RecordingDrives Drives;
    std::vector<std::string> Errors;
    fw::TRxMemoryData* Table = nullptr;

    RecordEditor() {
        setenv("QUILVANE_DRIVES", DrivesDir.path().toLocal8Bit().constData(), 1);
        App.SetErrorBox(
            [this](const std::string&, const std::string& text) { Errors.push_back(text); });
        App.CreateForm(&Form);
        Form->Timer1->SetEnabled(false);  // passes are simulated where a test wants one
        Form->Drives = &Drives;
        Table = Form->RxMemoryData1;
    }

    // The drive thread uses Drives, which goes before the form.
    void TearDown() override { EXPECT_TRUE(quilvane_test::WaitMonitorIdle(*Form->Monitor)); }

    void SetUp() override {
        ASSERT_TRUE(DrivesDir.isValid());
        Form->Show();
        Form->BringToFront();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form->Widget()));
    }

    void Add(const Rec& r) { quilvane_test::AppendRecord(*Table, r); }

    // The drives cancelled, once the monitor's drive thread has done them.
    std::vector<std::string> Cancelled() {
        EXPECT_TRUE(quilvane_test::WaitMonitorIdle(*Form->Monitor));
        return Drives.Cancelled;
    }

    void AddThree() {
        Add({"alpha", "ua", "pa", "sa", "A:", 1});
        Add({"bravo", "ub", "pb", "sb", "B:", 2});
        Add({"charlie", "uc", "pc", "sc", "C:", 3});
    }

    Rec At(int recNo) const {
        const int keep = Table->RecNo();
        Table->SetRecNo(recNo);
        Rec r{Table->FieldByName("HostName").AsString(), Table->FieldByName("UserName").AsString(),
              Table->FieldByName("Password").AsString(), Table->FieldByName("UNC").AsString(),
              Table->FieldByName("Drive").AsString(),    Table->FieldByName("MaxPing").AsInteger()};
        Table->SetRecNo(keep);
        return r;
    }

    // What a monitor pass does to the cursor: a walk from the first record to
    // the last, leaving it there.
    void MonitorWalk() {
        for (Table->First(); !Table->Eof(); Table->Next()) {
        }
    }

    Rec Shown() const {
        return {Form->EHostName1->Text(), Form->EUserName1->Text(),
                Form->EPassword1->Text(), Form->EUNC1->Text(),
                Form->EDrive1->Text(),    static_cast<int>(Form->EMaxPing1->Value())};
    }

    static void Click(fw::TButton* b) { b->Button()->click(); }

    // Alt+key pressed where the focus is, through Qt's shortcut handling:
    // whether `button` was clicked by it, before the key press returned.
    bool PressAccelerator(Qt::Key key, fw::TButton* button) {
        QSignalSpy clicked(button->Button(), &QPushButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
        return clicked.count() > 0;
    }

    bool EditorOpen() const {
        return Form->Height() == EditorViewHeight && Form->suiGroupBox1->Widget()->isVisible();
    }
};

void ExpectRec(const Rec& got, const Rec& want) {
    EXPECT_EQ(got.host, want.host);
    EXPECT_EQ(got.user, want.user);
    EXPECT_EQ(got.password, want.password);
    EXPECT_EQ(got.unc, want.unc);
    EXPECT_EQ(got.drive, want.drive);
    EXPECT_EQ(got.maxPing, want.maxPing);
}

TEST_F(RecordEditor, ControlsSitAtTheirPlacesWithTheirCaptionsAndLabels) {
    Click(Form->BEdit1);
    EXPECT_EQ(Form->suiGroupBox1->Parent(), Form);
    EXPECT_EQ(Form->suiGroupBox1->Widget()->geometry(), QRect(8, 240, 441, 153));
    struct Place {
        fw::TControl* control;
        QRect rect;
        const char* caption;
    };
    const Place places[] = {
        {Form->EHostName1, {147, 16, 161, 19}, ""},
        {Form->EMaxPing1, {368, 16, 33, 19}, ""},
        {Form->EUserName1, {147, 36, 161, 19}, ""},
        {Form->EPassword1, {147, 56, 161, 19}, ""},
        {Form->EUNC1, {147, 76, 286, 19}, ""},
        {Form->EDrive1, {147, 96, 57, 21}, ""},
        {Form->BSave1, {144, 118, 49, 27}, "&Save"},
        {Form->BSave2, {144, 118, 49, 27}, "&Save"},
        {Form->BDel2, {144, 118, 49, 27}, "De&lete"},
        {Form->BClear1, {208, 118, 49, 27}, "&Clear"},
        {Form->BPrev1, {264, 118, 49, 27}, "&Prev"},
        {Form->BNext1, {320, 118, 49, 27}, "&Next"},
        {Form->BClose1, {376, 118, 49, 27}, "C&lose"},
        {Form->EID1, {224, 96, 97, 19}, ""},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.control->Name());
        EXPECT_EQ(p.control->Parent(), Form->suiGroupBox1);
        EXPECT_EQ(p.control->Widget()->geometry(), p.rect);
        EXPECT_EQ(p.control->Caption(), p.caption);
    }
    struct Label {
        const char* caption;
        QPoint at;
        int room;  // up to the box beside it, or the group box's edge
    };
    const Label labels[] = {
        {"Computer Name/IP Addess :", {8, 19}, 139},
        {"Max Ping :", {312, 19}, 56},
        {"times", {408, 19}, 33},
        {"User Name :", {8, 39}, 139},
        {"Password :", {8, 59}, 139},
        {"Universal Name Connection :", {8, 79}, 139},
        {"Drive Map :", {8, 99}, 139},
    };
    const auto found = Form->suiGroupBox1->Widget()->findChildren<QLabel*>();
    for (const Label& l : labels) {
        SCOPED_TRACE(l.caption);
        const QLabel* match = nullptr;
        for (const QLabel* q : found)
            if (q->text() == l.caption)
                match = q;
        ASSERT_NE(match, nullptr);
        EXPECT_EQ(match->pos(), l.at);
        EXPECT_TRUE(match->isVisible());
        // The whole caption shows without running under its box.
        EXPECT_GE(match->width(), match->sizeHint().width());
        EXPECT_LE(match->width(), l.room);
    }

    EXPECT_FALSE(Form->EID1->Widget()->isVisible());
    EXPECT_TRUE(Form->EID1->LineEdit()->isReadOnly());
    EXPECT_EQ(Form->EPassword1->LineEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Form->EMaxPing1->LineEdit()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    ASSERT_EQ(Form->EDrive1->ItemCount(), 26);
    EXPECT_EQ(Form->EDrive1->Item(0), "A:");
    EXPECT_EQ(Form->EDrive1->Item(24), "Y:");
    EXPECT_EQ(Form->EDrive1->Item(25), "Z:");
    EXPECT_FALSE(Form->EDrive1->ComboBox()->isEditable());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(RecordEditor, TabWalksTheReachableControlsInTheirOrder) {
    AddThree();
    Click(Form->BEdit1);
    ASSERT_EQ(QApplication::focusWidget(), Form->EHostName1->Widget());
    const fw::TControl* order[] = {
        Form->EMaxPing1, Form->EUserName1, Form->EPassword1, Form->EUNC1,  Form->EDrive1,
        Form->BSave2,    Form->BClear1,    Form->BPrev1,     Form->BNext1, Form->BClose1};
    for (const fw::TControl* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next->Widget()) << next->Name();
    }
}

TEST_F(RecordEditor, EachModeShowsItsFrontButtonAndEnablesItsButtons) {
    AddThree();
    struct Mode {
        fw::TButton* opener;
        fw::TButton* front;
        bool clear, browse;
    };
    const Mode modes[] = {
        {Form->BAdd1, Form->BSave1, true, false},
        {Form->BEdit1, Form->BSave2, true, true},
        {Form->BDel1, Form->BDel2, false, true},
        {Form->BAdd1, Form->BSave1, true, false},  // modes switch without a Close
    };
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.opener->Name());
        Click(m.opener);
        EXPECT_TRUE(EditorOpen());
        EXPECT_EQ(Form->Left(), (screen.width() - Form->Width()) / 2);
        EXPECT_EQ(Form->Top(), (screen.height() - EditorViewHeight) / 2);
        for (fw::TButton* b : {Form->BSave1, Form->BSave2, Form->BDel2})
            EXPECT_EQ(b->Button()->isVisible(), b == m.front) << b->Name();
        EXPECT_EQ(Form->BClear1->Button()->isEnabled(), m.clear);
        EXPECT_EQ(Form->BPrev1->Button()->isEnabled(), m.browse);
        EXPECT_EQ(Form->BNext1->Button()->isEnabled(), m.browse);
        EXPECT_EQ(QApplication::focusWidget(), Form->EHostName1->Widget());
    }
    Click(Form->BClose1);
    EXPECT_EQ(Form->Height(), ListViewHeight);
    EXPECT_FALSE(Form->suiGroupBox1->Widget()->isVisible());
    EXPECT_EQ(Form->Top(), (screen.height() - ListViewHeight) / 2);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(RecordEditor, OnlyTheFrontButtonAnswersItsAccelerator) {
    AddThree();
    Table->SetRecNo(2);
    // Edit mode: Alt+S saves the shown record in place; the add button behind
    // it would have appended a fourth.
    Click(Form->BEdit1);
    Form->EHostName1->SetText("bravo2");
    ASSERT_TRUE(PressAccelerator(Qt::Key_S, Form->BSave2));
    EXPECT_EQ(Table->RecordCount(), 3);
    EXPECT_EQ(At(2).host, "bravo2");
    EXPECT_FALSE(EditorOpen());

    // Add mode: Alt+S appends.
    Click(Form->BAdd1);
    Form->EHostName1->SetText("delta");
    Form->EUserName1->SetText("ud");
    Form->EUNC1->SetText("sd");
    ASSERT_TRUE(PressAccelerator(Qt::Key_S, Form->BSave1));
    ASSERT_EQ(Table->RecordCount(), 4);
    EXPECT_EQ(At(4).host, "delta");

    // Delete mode: neither the disabled Clear nor a save behind Delete reacts.
    Table->SetRecNo(1);
    Click(Form->BDel1);
    EXPECT_FALSE(PressAccelerator(Qt::Key_C, Form->BClear1));
    EXPECT_FALSE(PressAccelerator(Qt::Key_S, Form->BSave1));
    EXPECT_FALSE(PressAccelerator(Qt::Key_S, Form->BSave2));
    EXPECT_EQ(Form->EHostName1->Text(), "alpha");
    EXPECT_EQ(Table->RecordCount(), 4);
    EXPECT_TRUE(EditorOpen());

    // "De&lete" and "C&lose" share their letter: Alt+L only moves the focus
    // between the two, and neither deletes nor closes until one is pressed.
    std::set<QWidget*> reached;
    for (int i = 0; i < 2; ++i) {
        QSignalSpy closed(Form->BClose1->Button(), &QPushButton::clicked);
        EXPECT_FALSE(PressAccelerator(Qt::Key_L, Form->BDel2));
        EXPECT_EQ(closed.count(), 0);
        EXPECT_FALSE(Form->BDel2->Button()->isDown());
        EXPECT_FALSE(Form->BClose1->Button()->isDown());
        reached.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, (std::set<QWidget*>{Form->BDel2->Widget(), Form->BClose1->Widget()}));
    EXPECT_EQ(Table->RecordCount(), 4);
    EXPECT_TRUE(EditorOpen());
    // In the other modes the letter is Close's alone.
    Click(Form->BEdit1);
    ASSERT_TRUE(PressAccelerator(Qt::Key_L, Form->BClose1));
    EXPECT_FALSE(EditorOpen());
    EXPECT_EQ(Table->RecordCount(), 4);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(RecordEditor, AddProposesDefaultsAndSaveAppendsTheBoxesAsTyped) {
    AddThree();
    Click(Form->BEdit1);  // fills the boxes, which Add must clear
    Click(Form->BAdd1);
    ExpectRec(Shown(), {"", "", "", "", "Y:", 5});
    EXPECT_EQ(Form->EDrive1->ItemIndex(), 24);
    EXPECT_EQ(Form->EMaxPing1->Text(), "5");

    // Nothing is trimmed; too-long texts are cut by the table.
    Form->EHostName1->SetText(" host-with-a-long-name ");
    Form->EUserName1->SetText("DOMAIN\\user");
    Form->EPassword1->SetText("p a s s");
    Form->EUNC1->SetText("share\\folder");
    Form->EDrive1->SetItemIndex(10);
    Form->EMaxPing1->SetText("12");
    Click(Form->BSave1);
    ASSERT_EQ(Table->RecordCount(), 4);
    EXPECT_EQ(Table->RecNo(), 4);
    ExpectRec(At(4), {" host-with-a-lon", "DOMAIN\\user", "p a s s", "share\\folder", "K:", 12});
    EXPECT_EQ(Table->FieldByName("ID").AsInteger(), 4);
    for (const char* state : {"Connected", "FalseCount", "Maped"})
        EXPECT_TRUE(Table->FieldByName(state).IsNull()) << state;
    EXPECT_FALSE(EditorOpen());
    EXPECT_TRUE(Cancelled().empty());
    // Close keeps what the boxes hold.
    EXPECT_EQ(Form->EUNC1->Text(), "share\\folder");
}

TEST_F(RecordEditor, ClearRestoresTheDefaultsInEditMode) {
    AddThree();
    Click(Form->BEdit1);
    Click(Form->BClear1);
    ExpectRec(Shown(), {"", "", "", "", "Y:", 5});
    EXPECT_EQ(QApplication::focusWidget(), Form->EHostName1->Widget());
}

TEST_F(RecordEditor, SaveAfterAMonitorPassChangesTheShownRecordAndDropsItsOldDrive) {
    AddThree();
    Table->SetRecNo(1);
    Click(Form->BEdit1);
    EXPECT_EQ(Form->EID1->Text(), "1");
    ExpectRec(Shown(), {"alpha", "ua", "pa", "sa", "A:", 1});
    MonitorWalk();
    ASSERT_EQ(Table->RecNo(), 3);
    Form->EHostName1->SetText("alpha2");
    Form->EDrive1->SetItemIndex(7);
    Click(Form->BSave2);
    ExpectRec(At(1), {"alpha2", "ua", "pa", "sa", "H:", 1});
    ExpectRec(At(3), {"charlie", "uc", "pc", "sc", "C:", 3});
    EXPECT_EQ(Table->RecordCount(), 3);
    EXPECT_EQ(Cancelled(), std::vector<std::string>{"A:"});
    EXPECT_FALSE(EditorOpen());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(RecordEditor, SaveAndDeleteCancelTheTrimmedOldDrive) {
    // Drives as a hand-edited file may hold them; the editor shows no letter
    // for " x", so the user picks one.
    Add({"alpha", "u", "", "s", " x", 5});
    Click(Form->BEdit1);
    Form->EDrive1->SetItemIndex(7);
    Click(Form->BSave2);
    Add({"bravo", "u", "", "s", "z ", 5});
    Click(Form->BDel1);
    Click(Form->BDel2);
    EXPECT_EQ(Cancelled(), (std::vector<std::string>{"x", "z"}));
}

TEST_F(RecordEditor, PrevAfterAMonitorPassMovesFromTheLastRecord) {
    AddThree();
    Table->SetRecNo(1);
    Click(Form->BEdit1);
    MonitorWalk();
    Click(Form->BPrev1);
    EXPECT_EQ(Form->EID1->Text(), "2");
    ExpectRec(Shown(), {"bravo", "ub", "pb", "sb", "B:", 2});
    EXPECT_EQ(QApplication::focusWidget(), Form->EHostName1->Widget());
    // At the ends the cursor stays.
    Click(Form->BNext1);
    Click(Form->BNext1);
    EXPECT_EQ(Form->EID1->Text(), "3");
    ExpectRec(Shown(), {"charlie", "uc", "pc", "sc", "C:", 3});
    Click(Form->BPrev1);
    Click(Form->BPrev1);
    Click(Form->BPrev1);
    EXPECT_EQ(Form->EID1->Text(), "1");
    EXPECT_TRUE(EditorOpen());
}

TEST_F(RecordEditor, DeleteAfterAMonitorPassRemovesTheShownRecordAndCancelsItsDrive) {
    AddThree();
    Table->SetRecNo(2);
    Click(Form->BDel1);
    EXPECT_EQ(Form->EID1->Text(), "2");
    MonitorWalk();
    Click(Form->BDel2);
    ASSERT_EQ(Table->RecordCount(), 2);
    EXPECT_EQ(At(1).host, "alpha");
    EXPECT_EQ(At(2).host, "charlie");
    EXPECT_EQ(Cancelled(), std::vector<std::string>{"B:"});
    EXPECT_FALSE(EditorOpen());
}

TEST_F(RecordEditor, EditOnAnEmptyTableShowsNothingAndSaveAddsARecord) {
    Click(Form->BEdit1);
    EXPECT_EQ(Form->EID1->Text(), "0");
    ExpectRec(Shown(), {"", "", "", "", "", 0});
    EXPECT_EQ(Form->EDrive1->ItemIndex(), -1);
    EXPECT_EQ(Form->EMaxPing1->Text(), "0");
    Form->EHostName1->SetText("nas");
    Form->EUserName1->SetText("u");
    Form->EUNC1->SetText("s");
    Form->EDrive1->SetItemIndex(25);
    Click(Form->BSave2);
    ASSERT_EQ(Table->RecordCount(), 1);
    ExpectRec(At(1), {"nas", "u", "", "s", "Z:", 0});
    EXPECT_EQ(Cancelled(), std::vector<std::string>{""});
    EXPECT_TRUE(Errors.empty());
}

TEST_F(RecordEditor, DeleteOnAnEmptyTableShowsTheTableErrorAndStaysOpen) {
    Click(Form->BDel1);
    Click(Form->BDel2);
    EXPECT_EQ(Errors,
              std::vector<std::string>{"Cannot perform this operation on an empty dataset"});
    EXPECT_TRUE(Cancelled().empty()) << "nothing is disconnected";
    EXPECT_TRUE(EditorOpen());
    EXPECT_EQ(Table->RecordCount(), 0);
    EXPECT_EQ(Table->State(), fw::TDataSetState::dsBrowse);
}

TEST_F(RecordEditor, StoredDriveIsMatchedWithoutCaseAndWrittenAsTheItemOrEmpty) {
    struct Case {
        const char* stored;
        int item;
        const char* saved;
    };
    // A drive the editor shows no letter for cannot be saved as it is: the
    // user picks a letter.
    const Case cases[] = {{"y:", 24, "Y:"}, {"Y:", 24, "Y:"}, {"a:", 0, "A:"},
                          {"Y", -1, "Y"},   {"1:", -1, "1:"}, {"", -1, ""}};
    Add({"host", "u", "", "s", "", 5});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        Errors.clear();
        Table->SetRecNo(1);
        Table->Edit();
        Table->FieldByName("Drive").SetAsString(c.stored);
        Table->Post();
        Click(Form->BEdit1);
        EXPECT_EQ(Form->EDrive1->ItemIndex(), c.item);
        EXPECT_EQ(Form->EDrive1->ComboBox()->currentText().toStdString(),
                  c.item < 0 ? "" : c.saved);
        Click(Form->BSave2);
        EXPECT_EQ(Table->FieldByName("Drive").AsString(), c.saved);
        EXPECT_EQ(Errors.size(), c.item < 0 ? 1u : 0u);
        if (c.item < 0) {
            EXPECT_EQ(Errors.front(),
                      "Drive Map: '' is not a drive letter: give A: to Z:, e.g. Y:");
            EXPECT_TRUE(EditorOpen());
        }
    }
}

TEST_F(RecordEditor, SaveRoundsTheNumberHalfToEvenAndRefusesOneBeyondTheFieldsRange) {
    Add({"host", "u", "", "s", "Y:", 5});
    struct Case {
        double value;
        int saved;  // -1: refused, the stored count stays
    };
    const Case cases[] = {{2.5, 2}, {3.5, 4}, {2.4, 2}, {0.5, 0}, {1e12, -1}, {-1e12, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Errors.clear();
        Click(Form->BEdit1);
        const int before = Table->FieldByName("MaxPing").AsInteger();
        // A paste, as typing cannot enter a point or a minus.
        Form->EMaxPing1->LineEdit()->setText(QString::number(c.value, 'f', 1));
        ASSERT_EQ(Form->EMaxPing1->Value(), c.value);
        Click(Form->BSave2);
        EXPECT_EQ(Table->FieldByName("MaxPing").AsInteger(), c.saved < 0 ? before : c.saved);
        EXPECT_EQ(Errors.size(), c.saved < 0 ? 1u : 0u);
        if (c.saved < 0)
            Click(Form->BClose1);
    }
}

TEST_F(RecordEditor, EnterInATextBoxPressesOkAndTheEditorStaysOpen) {
    AddThree();
    int okClicks = 0;
    Form->BOk1->OnClick = [&](fw::TObject*) { ++okClicks; };
    Click(Form->BEdit1);
    Form->EHostName1->SetText("unsaved");
    for (fw::TControl* box : {static_cast<fw::TControl*>(Form->EHostName1),
                              static_cast<fw::TControl*>(Form->EPassword1),
                              static_cast<fw::TControl*>(Form->EMaxPing1)}) {
        box->Widget()->setFocus();
        QTest::keyClick(box->Widget(), Qt::Key_Return);
    }
    EXPECT_EQ(okClicks, 3);
    EXPECT_TRUE(EditorOpen());
    EXPECT_EQ(At(1).host, "alpha") << "the boxes are not saved by Ok";
}

// --- The number box ---------------------------------------------------------

class NumberBox : public RecordEditor {
protected:
    QLineEdit* Edit() const { return Form->EMaxPing1->LineEdit(); }
};

TEST_F(NumberBox, TypingAcceptsOnlyDigitsAndBackspace) {
    Click(Form->BAdd1);
    Edit()->setFocus();
    Edit()->setCursorPosition(1);  // after the proposed "5"
    struct Key {
        Qt::Key key;
        char ch;
        Qt::KeyboardModifiers mods;
        const char* text;  // the box's text afterwards
    };
    const Key keys[] = {
        {Qt::Key_2, '2', Qt::NoModifier, "52"},      {Qt::Key_A, 'a', Qt::NoModifier, "52"},
        {Qt::Key_Minus, '-', Qt::NoModifier, "52"},  {Qt::Key_Period, '.', Qt::NoModifier, "52"},
        {Qt::Key_Comma, ',', Qt::NoModifier, "52"},  {Qt::Key_Space, ' ', Qt::NoModifier, "52"},
        {Qt::Key_Plus, '+', Qt::NoModifier, "52"},   {Qt::Key_E, 'e', Qt::NoModifier, "52"},
        {Qt::Key_V, 'v', Qt::ControlModifier, "52"},  // paste by keyboard is a refused key too
        {Qt::Key_7, '7', Qt::AltModifier, "52"},      // an accelerator key types nothing
        {Qt::Key_Backspace, 0, Qt::NoModifier, "5"}, {Qt::Key_0, '0', Qt::NoModifier, "50"},
        {Qt::Key_Left, 0, Qt::NoModifier, "50"},     {Qt::Key_Delete, 0, Qt::NoModifier, "5"},
    };
    QApplication::clipboard()->setText("77");
    for (const Key& k : keys) {
        SCOPED_TRACE(k.text);
        if (k.ch)
            QTest::keyClick(Edit(), k.ch, k.mods);
        else
            QTest::keyClick(Edit(), k.key, k.mods);
        EXPECT_EQ(Edit()->text().toStdString(), k.text);
    }
    EXPECT_EQ(Form->EMaxPing1->Value(), 5);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(NumberBox, UnreadableTextRestoresThePreviousValueAndShowsTheConversionError) {
    Click(Form->BAdd1);
    Form->EMaxPing1->SetText("42");
    ASSERT_EQ(Form->EMaxPing1->Value(), 42);
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {{"abc", "'abc' is not a valid floating point value"},
                          {"1e999", "'1e999' is not a valid floating point value"},
                          {"4 2", "'4 2' is not a valid floating point value"},
                          {"nan", "'nan' is not a valid floating point value"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Errors.clear();
        Edit()->setText(c.text);  // as a paste would put it
        EXPECT_EQ(Errors, std::vector<std::string>{c.error});
        EXPECT_EQ(Form->EMaxPing1->Value(), 42);
        EXPECT_EQ(Edit()->text().toStdString(), "42");
    }
    // The thousands separator is dropped before reading; "" and "-" keep the value.
    Errors.clear();
    Edit()->setText(QLocale::system().groupSeparator() + "123");
    EXPECT_EQ(Form->EMaxPing1->Value(), 123);
    for (const char* keep : {"", "-"}) {
        Edit()->setText(keep);
        EXPECT_EQ(Form->EMaxPing1->Value(), 123) << keep;
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(NumberBox, EnteringSelectsTheLastTwoCharactersAndLeavingReformats) {
    Click(Form->BAdd1);
    Form->EMaxPing1->SetValue(123);
    QTest::keyClick(Form->EHostName1->Widget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), Edit());
    EXPECT_EQ(Edit()->selectedText(), "23");
    EXPECT_EQ(Edit()->cursorPosition(), 3);

    struct Case {
        const char* typed;
        const char* shown;
        double value;
    };
    const Case cases[] = {{"", "0", 0}, {"-", "0", 0}, {"007", "7", 7}, {"2.5", "3", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Edit()->setFocus();
        Edit()->setText(c.typed);
        QTest::keyClick(Edit(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), Edit());
        EXPECT_EQ(Edit()->text().toStdString(), c.shown);
        EXPECT_EQ(Form->EMaxPing1->Value(), c.value);
    }
    EXPECT_TRUE(Errors.empty());
}

// The list commands write the settings file through the window's own writer:
// the same records give the same bytes as the editor and Ok.

// Runs the real program's list command (beside this test program, so on the
// same settings file); its exit status, with its output in `err`.
int ListCommand(const QStringList& args, const QByteArray& input, QString& err) {
    QProcess program;
    program.start(QUILVANE_BINARY, args);
    if (!program.waitForStarted(10000))
        return -1;
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(20000))
        return -1;
    err = QString::fromLocal8Bit(program.readAllStandardError());
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

QByteArray SettingsBytes() {
    QFile file(QString::fromStdString(SettingsFileGuard::Path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(RecordEditor, OkWritesTheBytesTheListCommandsWrite) {
    // The window: two records through the editor, Ok.
    const auto type = [this](const Rec& r) {
        Form->EHostName1->SetText(r.host);
        Form->EUserName1->SetText(r.user);
        Form->EPassword1->SetText(r.password);
        Form->EUNC1->SetText(r.unc);
        Form->EDrive1->SetItemIndex(Form->EDrive1->IndexOf(r.drive));
        Form->EMaxPing1->SetValue(r.maxPing);
    };
    Click(Form->BAdd1);
    type({"srv1", "bob", "pw one", "data", "Y:", 5});
    Click(Form->BSave1);
    Click(Form->BAdd1);
    type({"10.0.0.2", "DOM\\al", "Zweites-20-Zeichen!!", "data\\reports x", "Z:", 12});
    Click(Form->BSave1);
    Click(Form->BOk1);
    const QByteArray windowAdded = SettingsBytes();
    // Then record 1 changed and record 2 deleted, Ok.
    Table->SetRecNo(1);
    Click(Form->BEdit1);
    Form->EHostName1->SetText("srv9");
    Form->EMaxPing1->SetValue(0);
    Form->EPassword1->SetText("pw new");
    Click(Form->BSave2);
    Table->SetRecNo(2);
    Click(Form->BDel1);
    Click(Form->BDel2);
    Click(Form->BOk1);
    const QByteArray windowChanged = SettingsBytes();
    ASSERT_TRUE(Errors.empty());

    // The commands, from a new file as the window started from.
    QFile::remove(QString::fromStdString(SettingsFileGuard::Path()));
    QString err;
    ASSERT_EQ(ListCommand({"--add", "--host", "srv1", "--user", "bob", "--unc", "data", "--drive",
                           "Y:", "--password-stdin"},
                          "pw one\n", err),
              0)
        << err.toStdString();
    ASSERT_EQ(
        ListCommand({"--add", "--host", "10.0.0.2", "--user", "DOM\\al", "--unc", "data\\reports x",
                     "--drive", "z:", "--max-ping", "12", "--password-stdin"},
                    "Zweites-20-Zeichen!!\n", err),
        0)
        << err.toStdString();
    EXPECT_EQ(SettingsBytes(), windowAdded);
    ASSERT_EQ(ListCommand({"--edit", "1", "--host", "srv9", "--max-ping", "0", "--password-stdin"},
                          "pw new\n", err),
              0)
        << err.toStdString();
    ASSERT_EQ(ListCommand({"--remove", "2"}, {}, err), 0) << err.toStdString();
    EXPECT_EQ(SettingsBytes(), windowChanged);
    EXPECT_FALSE(windowChanged.isEmpty());
}

// One refusal for the editor and the list commands: each bad value is fed to
// the editor through its boxes and to the real program's --add, and both
// refuse it with the same rule, leaving the list and the file as they were.
struct BadRecord {
    const char* name;
    Rec rec;            // what the user gives
    const char* rule;   // what both say after the field's name
    bool typedMaxPing;  // MaxPing typed as text (the box's own count otherwise)
    const char* maxPing;
};

void PrintTo(const BadRecord& c, std::ostream* os) {
    *os << c.name;
}

class OneRefusal : public RecordEditor, public ::testing::WithParamInterface<BadRecord> {};

TEST_P(OneRefusal, EditorAndListCommandsRefuseTheSameWay) {
    const BadRecord& c = GetParam();
    const Rec first{"srv1", "bob", "pw", "data", "Y:", 5};
    Add(first);
    // The editor, through its boxes.
    Click(Form->BAdd1);
    Form->EHostName1->SetText(c.rec.host);
    Form->EUserName1->SetText(c.rec.user);
    Form->EPassword1->SetText(c.rec.password);
    Form->EUNC1->SetText(c.rec.unc);
    Form->EDrive1->SetItemIndex(Form->EDrive1->IndexOf(c.rec.drive));
    if (c.typedMaxPing)
        Form->EMaxPing1->LineEdit()->setText(c.maxPing);
    Click(Form->BSave1);
    ASSERT_EQ(Errors.size(), 1u) << "the editor saved it";
    EXPECT_TRUE(EditorOpen());
    EXPECT_EQ(Table->RecordCount(), 1);
    const std::string& shown = Errors.front();
    const std::size_t colon = shown.find(": ");
    ASSERT_NE(colon, std::string::npos) << shown;
    EXPECT_EQ(shown.substr(colon + 2), c.rule) << shown;

    // The list commands, in the real program.
    quilvane_test::HeadlessProgram program;
    ASSERT_TRUE(program.Ready());
    program.WriteSettings({first});
    const std::string before = program.ReadSettings();
    std::vector<std::string> args = {"--add",     "--host",          c.rec.host, "--user",
                                     c.rec.user,  "--unc",           c.rec.unc,  "--drive",
                                     c.rec.drive, "--password-stdin"};
    if (c.typedMaxPing)
        args.insert(args.end(), {"--max-ping", c.maxPing});
    const auto r = program.Run(args, c.rec.password + "\n");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(std::string(" ") + c.rule), std::string::npos) << r.err;
    EXPECT_EQ(program.ReadSettings(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OneRefusal,
    ::testing::Values(
        BadRecord{"EmptyHost", {"", "u", "p", "s", "Z:", 5}, "must not be empty", false, ""},
        BadRecord{"EmptyUser", {"srv", "", "p", "s", "Z:", 5}, "must not be empty", false, ""},
        BadRecord{"EmptyShare", {"srv", "u", "p", "", "Z:", 5}, "must not be empty", false, ""},
        BadRecord{"ShareWithServer",
                  {"srv", "u", "p", "\\\\srv\\s", "Z:", 5},
                  "is the share on the server, without the server: e.g. data or "
                  "data\\reports, not \\\\server\\data",
                  false,
                  ""},
        BadRecord{"NoLetter",
                  {"srv", "u", "p", "s", "", 5},
                  "'' is not a drive letter: give A: to Z:, e.g. Y:",
                  false,
                  ""},
        BadRecord{"LetterOfAnotherRecord",
                  {"srv", "u", "p", "s", "Y:", 5},
                  "Y: is already the drive of record 1 (srv1, data): give each record a "
                  "letter of its own",
                  false,
                  ""},
        BadRecord{"MaxPingBeyondItsRange",
                  {"srv", "u", "p", "s", "Z:", 5},
                  "'99999999999' is too large (at most 2147483647)",
                  true,
                  "99999999999"}),
    [](const ::testing::TestParamInfo<BadRecord>& info) { return std::string(info.param.name); });

TEST_F(RecordEditor, BoxesHoldNoMoreThanTheirFieldsStore) {
    Click(Form->BAdd1);
    const struct {
        fw::TEdit* box;
        int size;
    } boxes[] = {
        {Form->EHostName1, 16}, {Form->EUserName1, 20}, {Form->EPassword1, 20}, {Form->EUNC1, 50}};
    for (const auto& b : boxes) {
        // A paste of 10,000 characters.
        QApplication::clipboard()->setText(QString(10000, QChar('h')));
        b.box->LineEdit()->clear();
        b.box->LineEdit()->paste();
        EXPECT_EQ(b.box->Text(), std::string(static_cast<std::size_t>(b.size), 'h'));
    }
}

}  // namespace
}  // namespace quilvane
