#include "upgrade/password_form.h"

#include <QLineEdit>

#include "framework/application.h"
#include "upgrade/auto_upgrader.h"
#include "upgrade/upgrader_texts.h"

namespace {

TacAutoUpgraderPasswordForm* g_instance = nullptr;

constexpr int kBottomPanelHeight = 98;

}  // namespace

QImage PasswordKeyPicture() {
    return QImage(":/upgrade/password_key.xpm");
}

std::string TacAutoUpgraderPasswordForm::PasswordText(const std::string& fileName,
                                                      bool hideFileLocation) {
    if (!hideFileLocation)
        return upgrader_texts::Format(29, fileName);
    // The quoted name goes with the blank before it, so no double blank stays.
    std::string text = upgrader_texts::Text(29);
    const std::string quoted = "\"[b]%s[]\"";
    const size_t at = text.find(quoted);
    if (at != std::string::npos) {
        const size_t from = at > 0 ? at - 1 : at;
        text.erase(from, at + quoted.size() - from);
    }
    return text;
}

TacAutoUpgraderPasswordForm::TacAutoUpgraderPasswordForm(fw::TComponent* AOwner) : TForm(AOwner) {
    SetName("acAutoUpgraderPasswordForm");
    SetBorderIcons({fw::biSystemMenu});
    SetClientWidth(303);
    SetClientHeight(141);
    SetPosition(fw::poScreenCenter);

    acRichLabel1 = new fw::TRichLabel(this);
    acRichLabel1->SetName("acRichLabel1");
    acRichLabel1->SetParent(this);
    acRichLabel1->SetBounds(45, 5, 246, 13);
    acRichLabel1->SetWordWrap(true);
    acRichLabel1->SetAutoSize(true);

    Image1 = new fw::TImage(this);
    Image1->SetName("Image1");
    Image1->SetParent(this);
    Image1->SetBounds(7, 5, 32, 32);
    Image1->SetPicture(PasswordKeyPicture());

    BottomPanel = new fw::TControl(this);
    BottomPanel->SetName("Panel1");
    BottomPanel->SetParent(this);
    BottomPanel->SetBounds(0, ClientHeight() - kBottomPanelHeight, 303, kBottomPanelHeight);

    auto edit = [this](const char* name, int top) {
        auto* e = new fw::TEdit(this);
        e->SetName(name);
        e->SetParent(BottomPanel);
        e->SetBounds(128, top, 157, 21);
        return e;
    };
    UsernameEdit = edit("UsernameEdit", 8);
    PasswordEdit = edit("PasswordEdit", 36);
    PasswordEdit->SetPasswordChar('*');
    auto label = [this](const char* name, fw::TEdit* e) {
        auto* l = new fw::TLabel(this);
        l->SetName(name);
        l->SetParent(BottomPanel);
        l->SetBounds(0, e->Top() + 4, 80, 13);
        l->SetFocusControl(e);
        return l;
    };
    UsernameLabel = label("UsernameLabel", UsernameEdit);
    PasswordLabel = label("PasswordLabel", PasswordEdit);

    OKBtn = new fw::TButton(this);
    OKBtn->SetName("OKBtn");
    OKBtn->SetParent(BottomPanel);
    OKBtn->SetBounds(128, 66, 75, 25);
    OKBtn->SetDefault(true);
    OKBtn->SetModalResult(fw::mrOk);
    CancelBtn = new fw::TButton(this);
    CancelBtn->SetName("CancelBtn");
    CancelBtn->SetParent(BottomPanel);
    CancelBtn->SetBounds(210, 66, 75, 25);
    CancelBtn->SetCancel(true);
    CancelBtn->SetModalResult(fw::mrCancel);

    OnShow = [this](fw::TObject*) { UsernameEdit->LineEdit()->setFocus(); };
}

TacAutoUpgraderPasswordForm::~TacAutoUpgraderPasswordForm() {
    if (g_instance == this)
        g_instance = nullptr;
    Destroying();
    DestroyComponents();
}

TacAutoUpgraderPasswordForm* TacAutoUpgraderPasswordForm::Instance() {
    return g_instance;
}

void TacAutoUpgraderPasswordForm::Setup(TacAutoUpgrader* upgrader, const std::string& fileURL) {
    using upgrader_texts::Text;
    Upgrader = upgrader;
    if (upgrader->Wizard.StayOnTop)
        SetFormStyle(fw::fsStayOnTop);
    acRichLabel1->SetCaption(
        PasswordText(TacAutoUpgrader::FileNameFromURL(fileURL), upgrader->Wizard.HideFileLocation));
    SetCaption(Text(11));
    UsernameLabel->SetCaption(Text(12));
    PasswordLabel->SetCaption(Text(13));
    // Each caption sits between the rich label's left edge and its edit.
    for (auto [l, e] :
         {std::pair{UsernameLabel, UsernameEdit}, std::pair{PasswordLabel, PasswordEdit}})
        l->SetBounds(acRichLabel1->Left(), l->Top(), e->Left() - acRichLabel1->Left() - 4,
                     l->Height());
    UsernameEdit->SetText(upgrader->HTTPUsername);
    OKBtn->SetCaption(Text(16));
    CancelBtn->SetCaption(Text(17));
    SetClientHeight(acRichLabel1->Top() + acRichLabel1->Height() + kBottomPanelHeight);
    BottomPanel->SetTop(ClientHeight() - kBottomPanelHeight);
}

bool TacAutoUpgraderPasswordForm::Execute(TacAutoUpgrader* upgrader, const std::string& fileURL) {
    // One dialog at a time: a second request while one is open is refused.
    if (g_instance)
        return false;
    auto* form = fw::TForm::Create<TacAutoUpgraderPasswordForm>(fw::Application);
    g_instance = form;
    struct Free {
        TacAutoUpgraderPasswordForm* form;
        ~Free() { delete form; }
    } free{form};
    form->Setup(upgrader, fileURL);
    if (form->ShowModal() != fw::mrOk)
        return false;
    upgrader->HTTPUsername = form->UsernameEdit->Text();
    upgrader->HTTPPassword = form->PasswordEdit->Text();
    return true;
}
