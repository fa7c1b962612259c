#include "dialogs/info_box_form.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QWhatsThis>
#include <QWidget>

#include "dialogs/info_box.h"
#include "framework/application.h"
#include "platform/menu.h"
#include "platform/sound.h"

namespace {

// The system menu command of context help ("What's This?").
constexpr win::UINT SC_CONTEXTHELP = 0xF180;
constexpr win::UINT SC_CLOSE = static_cast<win::UINT>(win::SC_CLOSE);

}  // namespace

// --- TacButtonPanel ------------------------------------------------------

TacButtonPanel::TacButtonPanel(fw::TComponent* AOwner) : TControl(AOwner) {
    auto make = [this](const char* name) {
        auto* b = new fw::TButton(Owner());
        b->SetName(name);
        b->SetParent(this);
        b->SetBounds(0, verticalMargin_, ButtonWidth, ButtonHeight);
        return b;
    };
    OKButton = make("OK");
    OKButton->SetCaption("OK");
    OKButton->SetModalResult(fw::mrOk);
    CancelButton = make("Cancel");
    CancelButton->SetCaption("Cancel");
    CancelButton->SetModalResult(fw::mrCancel);
    CustomButton = make("Custom");
    CustomButton->SetVisible(false);
}

void TacButtonPanel::SetSpacing(int value) {
    spacing_ = value;
    Arrange();
}

void TacButtonPanel::SetVerticalMargin(int value) {
    verticalMargin_ = value;
    Arrange();
}

void TacButtonPanel::PlaceAtBottom(int parentClientWidth, int parentClientHeight) {
    SetBounds(0, parentClientHeight - PanelHeight(), parentClientWidth, PanelHeight());
    Arrange();
}

void TacButtonPanel::Arrange() {
    std::vector<fw::TButton*> shown;
    for (fw::TButton* b : {OKButton, CancelButton, CustomButton})
        if (b->Visible())
            shown.push_back(b);
    if (shown.empty())
        return;
    const int n = static_cast<int>(shown.size());
    const int total = n * ButtonWidth + (n - 1) * spacing_;
    int x = (Width() - total) / 2;
    for (fw::TButton* b : shown) {
        b->SetBounds(x, verticalMargin_, ButtonWidth, ButtonHeight);
        x += ButtonWidth + spacing_;
    }
}

// --- TacInfoBoxForm ------------------------------------------------------

TacInfoBoxForm::TacInfoBoxForm(fw::TComponent* AOwner) : TForm(AOwner) {
    SetName("acInfoBoxForm");
    SetBorderIcons({fw::biSystemMenu});
    SetClientWidth(366);
    SetClientHeight(177);

    Icon = new fw::TImage(this);
    Icon->SetName("Icon");
    Icon->SetParent(this);
    Icon->SetBounds(12, 12, 32, 32);
    Icon->SetAutoSize(true);

    Text = new fw::TRichLabel(this);
    Text->SetName("Text");
    Text->SetParent(this);
    Text->SetBounds(52, 12, 299, 13);
    Text->SetWordWrap(true);
    Text->SetAutoSize(true);

    Picture = new fw::TImage(this);
    Picture->SetName("Picture");
    Picture->SetParent(this);
    Picture->SetBounds(86, 48, 32, 32);
    Picture->SetAutoSize(true);
    Picture->SetVisible(false);

    CheckBox = new fw::TCheckBox(this);
    CheckBox->SetName("CheckBox");
    CheckBox->SetParent(this);
    CheckBox->SetBounds(52, 118, 210, 17);
    CheckBox->SetHint("|Check this box if you don't want this message appear in future.");
    CheckBox->OnClick = [this](fw::TObject* s) { CheckBoxClick(s); };

    btns = new TacButtonPanel(this);
    btns->SetName("btns");
    btns->SetParent(this);
    btns->PlaceAtBottom(ClientWidth(), ClientHeight());
    btns->OKButton->SetDefault(true);

    // Key preview: the copy keys work wherever the focus is in the window.
    for (const QKeySequence& key :
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}) {
        auto* shortcut = new QShortcut(key, Widget());
        QObject::connect(shortcut, &QShortcut::activated, Widget(),
                         [this] { fw::CallGuarded(this, [this] { CopyText(); }); });
    }

    AddWhatsThisItem();
    OnShow = [this](fw::TObject* s) { FormShow(s); };
}

void TacInfoBoxForm::AddWhatsThisItem() {
    win::HMENU menu = win::GetSystemMenu(Handle(), win::FALSE);
    if (!menu)
        return;
    win::MENUITEMINFOA separator;
    separator.fMask = win::MIIM_FTYPE;
    separator.fType = win::MFT_SEPARATOR;
    win::InsertMenuItemA(menu, WhatsThisPosition, win::TRUE, &separator);
    std::string caption = WhatsThisCaption;
    win::MENUITEMINFOA item;
    item.fMask = win::MIIM_FTYPE | win::MIIM_ID | win::MIIM_STRING;
    item.fType = win::MFT_STRING;
    item.wID = SC_CONTEXTHELP;
    item.dwTypeData = caption.data();
    item.cch = static_cast<win::UINT>(caption.size());
    win::InsertMenuItemA(menu, WhatsThisPosition + 1, win::TRUE, &item);
}

void TacInfoBoxForm::WndProc(fw::TMessage& Message) {
    if (Message.Msg == win::WM_SYSCOMMAND) {
        const win::WPARAM command = Message.WParam & 0xFFF0;
        if (command == SC_CONTEXTHELP) {
            QWhatsThis::enterWhatsThisMode();
            Message.Result = 0;
            return;
        }
        // The system's boxes never close from the title bar or Alt+F4 once
        // their Close is greyed: the user must answer with a button.
        if (command == SC_CLOSE) {
            const win::UINT state = win::GetMenuState(win::GetSystemMenu(Handle(), win::FALSE),
                                                      SC_CLOSE, win::MF_BYCOMMAND);
            if (state != static_cast<win::UINT>(-1) && (state & win::MF_GRAYED)) {
                Message.Result = 0;
                return;
            }
        }
    }
    TForm::WndProc(Message);
}

TacInfoBoxForm::~TacInfoBoxForm() {
    Destroying();
    DestroyComponents();
}

void TacInfoBoxForm::CopyText() {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(Text->PlainCaption()));
}

void TacInfoBoxForm::FormShow(fw::TObject*) {
    if (DisableClose)
        win::EnableMenuItem(win::GetSystemMenu(Handle(), win::FALSE), SC_CLOSE,
                            win::MF_BYCOMMAND | win::MF_GRAYED);
    BringToFront();
    // As in the system's message boxes, the keyboard starts on the first button.
    btns->OKButton->Button()->setFocus();
    if (!SoundAlias.empty())
        win::PlaySoundA(SoundAlias.c_str(), nullptr,
                        win::SND_ASYNC | win::SND_NODEFAULT | win::SND_ALIAS);
}

void TacInfoBoxForm::CheckBoxClick(fw::TObject*) {
    if (InfoBox)
        InfoBox->CheckBoxClick(CheckBox->Checked());
}
