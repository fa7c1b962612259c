#include "app/record_editor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <climits>
#include <cmath>
#include <string>

#include "app/main_form.h"
#include "app/record_rules.h"
#include "framework/exceptions.h"
#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"

namespace quilvane {
namespace {

enum class TEditorMode { Add, Edit, Delete };

template <typename T>
T* Place(TForm1& form, T* control, const char* name, int left, int top, int width, int height) {
    control->SetName(name);
    control->SetParent(form.suiGroupBox1);
    control->SetBounds(left, top, width, height);
    return control;
}

fw::TEdit* MakeEdit(TForm1& form, const char* name, int left, int top, int width, int height) {
    return Place(form, new fw::TEdit(&form), name, left, top, width, height);
}

fw::TButton* MakeButton(TForm1& form, const char* name, int left, int top, const char* caption,
                        void (TForm1::*handler)(fw::TObject*)) {
    auto* button = Place(form, new fw::TButton(&form), name, left, top, 49, 27);
    button->SetCaption(caption);
    button->OnClick = [&form, handler](fw::TObject* s) { (form.*handler)(s); };
    return button;
}

// `room`: the width before the box beside the label (0: no limit). The skin's
// stand-in font runs wider than the one these places were made for, so a
// caption that would run under its box is set narrower until it fits.
void MakeLabel(TForm1& form, const char* name, int left, int top, const char* caption,
               int room = 0) {
    auto* label = new fw::TLabel(&form);
    label->SetName(name);
    label->SetParent(form.suiGroupBox1);
    label->SetCaption(caption);
    QLabel* q = label->Label();
    QFont font = q->font();
    for (int step = 0; room > 0 && q->sizeHint().width() > room && step < 4; ++step) {
        if (font.stretch() != QFont::Condensed)
            font.setStretch(QFont::Condensed);
        else
            font.setPixelSize(font.pixelSize() - 1);
        q->setFont(font);
    }
    const QSize size = q->sizeHint();
    label->SetBounds(left, top, size.width(), size.height());
}

// The stacked action buttons: the mode's own comes to the front; the two
// behind it are hidden too, so neither a click, the Tab key nor an accelerator
// can reach them.
void BringToFront(fw::TButton* front, fw::TButton* behind1, fw::TButton* behind2) {
    for (fw::TButton* b : {behind1, behind2}) {
        b->Hide();
        b->Widget()->lower();
    }
    front->Show();
    front->Widget()->raise();
}

void ShowView(TForm1& form, int height) {
    form.SetHeight(height);
    form.suiGroupBox1->SetVisible(height == EditorViewHeight);
    form.CenterOnScreen();
    form.Repaint();
}

void FocusHostName(TForm1& form) {
    form.EHostName1->Widget()->setFocus(Qt::OtherFocusReason);
}

// The record number the editor shows, as EID1 holds it.
int ShownRecord(const TForm1& form) {
    const std::string text = form.EID1->Text();
    try {
        size_t used = 0;
        const int value = std::stoi(text, &used);
        if (used == text.size())
            return value;
    } catch (const std::exception&) {
    }
    throw fw::EConvertError("'" + text + "' is not a valid integer value");
}

void OpenEditor(TForm1& form, TEditorMode mode) {
    switch (mode) {
        case TEditorMode::Add:
            BringToFront(form.BSave1, form.BSave2, form.BDel2);
            break;
        case TEditorMode::Edit:
            BringToFront(form.BSave2, form.BSave1, form.BDel2);
            break;
        case TEditorMode::Delete:
            BringToFront(form.BDel2, form.BSave1, form.BSave2);
            break;
    }
    form.BClear1->SetEnabled(mode != TEditorMode::Delete);
    form.BPrev1->SetEnabled(mode != TEditorMode::Add);
    form.BNext1->SetEnabled(mode != TEditorMode::Add);
    ShowView(form, EditorViewHeight);
    if (mode == TEditorMode::Add) {
        form.BClear1Click(&form);
    } else {
        form.EID1->SetText(std::to_string(form.RxMemoryData1->RecNo()));
        form.Load();
    }
    FocusHostName(form);
}

// Half-way values go to the even neighbour; values beyond the field's range
// are held at its ends rather than wrapped into a different count.
std::int32_t RoundToField(double value) {
    const double whole = std::nearbyint(value);
    if (whole >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    if (whole <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    return static_cast<std::int32_t>(whole);
}

// The boxes' values as the rules see them.
TRecordInput EditorInput(const TForm1& form) {
    return {form.EHostName1->Text(), form.EUserName1->Text(),
            form.EPassword1->Text(), form.EUNC1->Text(),
            form.EDrive1->Text(),    fw::TNumberEdit::FormatValue(form.EMaxPing1->Value())};
}

// Values that break a rule are refused before anything changes: the box of
// the field gets the focus, and the error box names the field and the rule,
// in the words the list commands use.
void CheckEditor(TForm1& form, int ownRecNo) {
    const auto broken = CheckRecord(EditorInput(form), *form.RxMemoryData1, ownRecNo);
    if (!broken)
        return;
    fw::TControl* const boxes[] = {form.EHostName1, form.EUserName1, form.EPassword1,
                                   form.EUNC1,      form.EDrive1,    form.EMaxPing1};
    boxes[static_cast<int>(broken->Item)]->Widget()->setFocus(Qt::OtherFocusReason);
    throw fw::Exception(std::string(EditorFieldName(broken->Item)) + ": " + broken->Rule);
}

}  // namespace

void CreateRecordEditor(TForm1& form) {
    form.suiGroupBox1 = new fw::TGroupBox(&form);
    form.suiGroupBox1->SetName("suiGroupBox1");
    form.suiGroupBox1->SetParent(&form);
    form.suiGroupBox1->SetBounds(8, 240, 441, 153);
    form.suiGroupBox1->Hide();

    constexpr int kLeftColumn = 147 - 8 - 2;
    MakeLabel(form, "Label1", 8, 19, "Computer Name/IP Addess :", kLeftColumn);
    MakeLabel(form, "Label2", 312, 19, "Max Ping :", 368 - 312 - 2);
    MakeLabel(form, "Label3", 408, 19, "times", 441 - 408 - 2);
    MakeLabel(form, "Label4", 8, 39, "User Name :", kLeftColumn);
    MakeLabel(form, "Label5", 8, 59, "Password :", kLeftColumn);
    MakeLabel(form, "Label6", 8, 79, "Universal Name Connection :", kLeftColumn);
    MakeLabel(form, "Label7", 8, 99, "Drive Map :", kLeftColumn);

    form.EHostName1 = MakeEdit(form, "EHostName1", 147, 16, 161, 19);
    form.EMaxPing1 = Place(form, new fw::TNumberEdit(&form), "EMaxPing1", 368, 16, 33, 19);
    form.EMaxPing1->SetValue(5);
    form.EUserName1 = MakeEdit(form, "EUserName1", 147, 36, 161, 19);
    form.EPassword1 = MakeEdit(form, "EPassword1", 147, 56, 161, 19);
    form.EPassword1->SetPasswordChar('*');
    form.EUNC1 = MakeEdit(form, "EUNC1", 147, 76, 286, 19);
    form.EDrive1 = Place(form, new fw::TComboBox(&form), "EDrive1", 147, 96, 57, 21);
    std::vector<std::string> drives;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        drives.push_back(std::string(1, letter) + ":");
    form.EDrive1->SetItems(drives);
    // What the boxes hold is what the fields store: typing and pasting stop
    // at the field's size.
    const fw::TRxMemoryData& table = *form.RxMemoryData1;
    form.EHostName1->SetMaxLength(table.FieldByName(field::HostName).Size());
    form.EUserName1->SetMaxLength(table.FieldByName(field::UserName).Size());
    form.EPassword1->SetMaxLength(table.FieldByName(field::Password).Size());
    form.EUNC1->SetMaxLength(table.FieldByName(field::UNC).Size());

    form.BSave1 = MakeButton(form, "BSave1", 144, 118, "&Save", &TForm1::BSave1Click);
    form.BSave2 = MakeButton(form, "BSave2", 144, 118, "&Save", &TForm1::BSave2Click);
    form.BDel2 = MakeButton(form, "BDel2", 144, 118, "De&lete", &TForm1::BDel2Click);
    form.BClear1 = MakeButton(form, "BClear1", 208, 118, "&Clear", &TForm1::BClear1Click);
    form.BPrev1 = MakeButton(form, "BPrev1", 264, 118, "&Prev", &TForm1::BPrev1Click);
    form.BNext1 = MakeButton(form, "BNext1", 320, 118, "&Next", &TForm1::BNext1Click);
    form.BClose1 = MakeButton(form, "BClose1", 376, 118, "C&lose", &TForm1::BClose1Click);

    form.EID1 = MakeEdit(form, "EID1", 224, 96, 97, 19);
    form.EID1->SetReadOnly(true);
    form.EID1->Hide();

    const fw::TControl* order[] = {
        form.EHostName1, form.EMaxPing1, form.EUserName1, form.EPassword1, form.EUNC1,
        form.EDrive1,    form.BSave1,    form.BSave2,     form.BDel2,      form.BClear1,
        form.BPrev1,     form.BNext1,    form.BClose1,    form.EID1};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1]->Widget(), order[i]->Widget());
}

void TForm1::BAdd1Click(fw::TObject* /*Sender*/) {
    OpenEditor(*this, TEditorMode::Add);
}

void TForm1::BEdit1Click(fw::TObject* /*Sender*/) {
    OpenEditor(*this, TEditorMode::Edit);
}

void TForm1::BDel1Click(fw::TObject* /*Sender*/) {
    OpenEditor(*this, TEditorMode::Delete);
}

void TForm1::Load() {
    const TConnectionRecord r(*RxMemoryData1);
    EHostName1->SetText(r.HostName.Value());
    EUserName1->SetText(r.UserName.Value());
    EPassword1->SetText(r.Password.Value());
    EUNC1->SetText(r.UNC.Value());
    EDrive1->SetItemIndex(EDrive1->IndexOf(r.Drive.Value()));
    EMaxPing1->SetValue(r.MaxPing.Value());
}

void TForm1::Save() {
    const TConnectionRecord r(*RxMemoryData1);
    r.HostName.Set(EHostName1->Text());
    r.UserName.Set(EUserName1->Text());
    r.Password.Set(EPassword1->Text());
    r.UNC.Set(EUNC1->Text());
    r.Drive.Set(EDrive1->Text());
    r.MaxPing.Set(RoundToField(EMaxPing1->Value()));
}

void TForm1::BClear1Click(fw::TObject* /*Sender*/) {
    EHostName1->SetText("");
    EUserName1->SetText("");
    EPassword1->SetText("");
    EUNC1->SetText("");
    EDrive1->SetItemIndex(24);  // "Y:"
    EMaxPing1->SetValue(5);
    FocusHostName(*this);
}

void TForm1::BSave1Click(fw::TObject* Sender) {
    CheckEditor(*this, 0);
    RxMemoryData1->Append();
    Save();
    RxMemoryData1->Post();
    BClose1Click(Sender);
}

void TForm1::BSave2Click(fw::TObject* Sender) {
    fw::TRxMemoryData& t = *RxMemoryData1;
    t.SetRecNo(ShownRecord(*this));
    CheckEditor(*this, t.RecNo());
    // Drop the mapping made for the old settings, so the next answered pass
    // maps the record as it is saved; a failure changes nothing here.
    Monitor->Disconnect(Trim(TConnectionRecord(t).Drive.Value()));
    t.Edit();
    Save();
    t.Post();
    BClose1Click(Sender);
}

void TForm1::BDel2Click(fw::TObject* Sender) {
    fw::TRxMemoryData& t = *RxMemoryData1;
    t.SetRecNo(ShownRecord(*this));
    const std::string drive = Trim(TConnectionRecord(t).Drive.Value());
    // On an empty table this raises, and nothing is disconnected.
    t.Delete();
    Monitor->Disconnect(drive);  // a failure is ignored: the record is gone either way
    BClose1Click(Sender);
}

void TForm1::BClose1Click(fw::TObject* /*Sender*/) {
    ShowView(*this, ListViewHeight);
}

void TForm1::BPrev1Click(fw::TObject* /*Sender*/) {
    RxMemoryData1->Prior();
    EID1->SetText(std::to_string(RxMemoryData1->RecNo()));
    Load();
    FocusHostName(*this);
}

void TForm1::BNext1Click(fw::TObject* /*Sender*/) {
    RxMemoryData1->Next();
    EID1->SetText(std::to_string(RxMemoryData1->RecNo()));
    Load();
    FocusHostName(*this);
}

}  // namespace quilvane
