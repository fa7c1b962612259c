#include "upgrade/wizard_form.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "framework/application.h"
#include "platform/user.h"
#include "upgrade/auto_upgrader.h"
#include "upgrade/upgrader_texts.h"

namespace {

TacAutoUpgraderWizardForm* g_instance = nullptr;

std::string AppTitle() {
    return fw::Application ? fw::Application->Title() : std::string();
}

// Labels show a lone CR of the texts as the line break it is on the system.
std::string LineBreaks(std::string s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n'))
            s[i] = '\n';
    return s;
}

fw::TLabel* MakeLabel(fw::TForm* form, fw::TControl* parent, const char* name, int left, int top,
                      int width = 0) {
    auto* label = new fw::TLabel(form);
    label->SetName(name);
    label->SetParent(parent);
    label->SetBounds(left, top, width ? width : 300, 13);
    return label;
}

fw::TControl* MakeBar(fw::TForm* form, fw::TControl* parent, const char* name, int top) {
    auto* bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    auto* control = new fw::TControl(form, bar);
    control->SetName(name);
    control->SetParent(parent);
    control->SetBounds(8, top, 303, 16);
    return control;
}

}  // namespace

QImage WizardSidePicture() {
    return QImage(":/upgrade/wizard_side.xpm");
}

TacAutoUpgraderWizardForm::TacAutoUpgraderWizardForm(fw::TComponent* AOwner) : TForm(AOwner) {
    SetName("acAutoUpgraderWizardForm");
    SetBorderIcons({fw::biSystemMenu});
    SetClientWidth(463);
    SetClientHeight(281);
    SetPosition(fw::poScreenCenter);

    auto* frame = new QFrame;
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(1);
    Panel = new fw::TControl(this, frame);
    Panel->SetName("Panel1");
    Panel->SetParent(this);
    Panel->SetBounds(10, 10, 120, 220);
    Picture = new fw::TImage(this);
    Picture->SetName("Image1");
    Picture->SetParent(Panel);
    Picture->SetBounds(1, 1, 118, 218);
    Picture->SetPicture(WizardSidePicture());

    WizardTitle = MakeLabel(this, this, "WizardTitle", 136, 10, 319);
    WizardTitle->SetHeight(24);
    QFont titleFont("Times New Roman");
    titleFont.setPixelSize(19);
    titleFont.setBold(true);
    titleFont.setItalic(true);
    WizardTitle->Widget()->setFont(titleFont);

    AfterNote = MakeLabel(this, this, "AfterNote", 136, 44, 319);
    AfterNote->Label()->setWordWrap(true);
    AfterNote->Label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    LCurrentFile = new fw::TGroupBox(this);
    LCurrentFile->SetName("LCurrentFile");
    LCurrentFile->SetParent(this);
    LCurrentFile->SetBounds(136, 34, 319, 125);
    LDownloadingFileFrom = MakeLabel(this, LCurrentFile, "LDownloadingFileFrom", 8, 14);
    FileURL = new fw::TEdit(this);
    FileURL->SetName("FileURL");
    FileURL->SetParent(LCurrentFile);
    FileURL->SetBounds(8, 28, 303, 16);
    FileURL->SetReadOnly(true);
    FileURL->LineEdit()->setFrame(false);
    FileURL->LineEdit()->setFocusPolicy(Qt::NoFocus);
    // The skin's style sheet would win over a palette.
    FileURL->LineEdit()->setStyleSheet(
        "QLineEdit { background: palette(highlight); color: palette(highlighted-text); "
        "border: none; }");
    LFileSize = MakeLabel(this, LCurrentFile, "LFileSize", 8, 44);
    LTransferRate = MakeLabel(this, LCurrentFile, "LTransferRate", 8, 60);
    LEstimatedTime = MakeLabel(this, LCurrentFile, "LEstimatedTime", 8, 76);
    ProgressCurrentFile = MakeBar(this, LCurrentFile, "ProgressCurrentFile", 96);

    LAllFiles = new fw::TGroupBox(this);
    LAllFiles->SetName("LAllFiles");
    LAllFiles->SetParent(this);
    LAllFiles->SetBounds(136, 162, 319, 67);
    AllDownloading = MakeLabel(this, LAllFiles, "AllDownloading", 8, 16);
    ProgressAllFiles = MakeBar(this, LAllFiles, "ProgressAllFiles", 38);

    auto* line = new QFrame;
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel = new fw::TControl(this, line);
    Bevel->SetName("Bevel1");
    Bevel->SetParent(this);
    Bevel->SetBounds(8, 238, 447, 2);

    // An engraved caption over the line: the highlight one pixel right and
    // down, the shadow on top.
    AboutShadow = MakeLabel(this, this, "AboutShadow", 31, 234, 0);
    LAbout = MakeLabel(this, this, "LAbout", 30, 233, 0);
    for (auto [label, role] :
         {std::pair{AboutShadow, QPalette::Light}, std::pair{LAbout, QPalette::Dark}}) {
        QPalette p = label->Label()->palette();
        p.setColor(QPalette::WindowText, p.color(role));
        label->Label()->setPalette(p);
    }
    LAbout->Label()->setAttribute(Qt::WA_TranslucentBackground);
    AboutShadow->Label()->setAutoFillBackground(true);

    OKBtn = new fw::TButton(this);
    OKBtn->SetName("OKBtn");
    OKBtn->SetParent(this);
    OKBtn->SetBounds(296, 248, 75, 25);
    OKBtn->SetEnabled(false);
    OKBtn->OnClick = [this](fw::TObject*) { Close(); };

    CancelBtn = new fw::TButton(this);
    CancelBtn->SetName("CancelBtn");
    CancelBtn->SetParent(this);
    CancelBtn->SetBounds(380, 248, 75, 25);
    CancelBtn->SetDefault(true);
    CancelBtn->SetCancel(true);
    CancelBtn->OnClick = [this](fw::TObject*) {
        win::PostMessageA(Handle(), win::WM_SYSCOMMAND, win::SC_CLOSE, 0);
    };

    // Closed is gone: the next upgrade makes a new window.
    OnClose = [this](fw::TObject*, fw::TCloseAction& Action) {
        Action = fw::caFree;
        closing_ = true;
        if (g_instance == this)
            g_instance = nullptr;
    };
}

TacAutoUpgraderWizardForm::~TacAutoUpgraderWizardForm() {
    if (g_instance == this)
        g_instance = nullptr;
    Destroying();
    DestroyComponents();
}

TacAutoUpgraderWizardForm* TacAutoUpgraderWizardForm::Instance() {
    return g_instance;
}

TacAutoUpgraderWizardForm* TacAutoUpgraderWizardForm::ShowFor(TacAutoUpgrader* upgrader) {
    if (!g_instance)
        g_instance = fw::TForm::Create<TacAutoUpgraderWizardForm>(fw::Application);
    g_instance->Setup(upgrader);
    return g_instance;
}

void TacAutoUpgraderWizardForm::Setup(TacAutoUpgrader* upgrader) {
    using upgrader_texts::Text;
    Upgrader = upgrader;
    const std::string about =
        " " + upgrader_texts::ResourceString(upgrader_texts::kComponentName) + " ";
    LAbout->SetCaption(about);
    AboutShadow->SetCaption(about);
    for (fw::TLabel* label : {LAbout, AboutShadow}) {
        label->Label()->adjustSize();
        label->SetBounds(label->Left(), label->Top(), label->Label()->width(),
                         label->Label()->height());
    }
    LAbout->BringToFront();
    // Topmost without moving, sizing or activating it.
    SetFormStyle(upgrader->Wizard.StayOnTop ? fw::fsStayOnTop : fw::fsNormal);
    if (upgrader->Wizard.HideFileLocation && FileURL->Visible())
        HideFileLocation();
    if (!upgrader->Wizard.Pic118x218.isNull())
        Picture->SetPicture(upgrader->Wizard.Pic118x218.scaled(118, 218, Qt::IgnoreAspectRatio,
                                                               Qt::SmoothTransformation));
    LEstimatedTime->SetCaption(Text(22));
    SetCaption(Text(0));
    WizardTitle->SetCaption(Text(1));
    LCurrentFile->SetCaption(" " + Text(3) + " ");
    LAllFiles->SetCaption(" " + Text(4) + " ");
    LDownloadingFileFrom->SetCaption(Text(5));
    OKBtn->SetCaption(Text(18));
    CancelBtn->SetCaption(Text(17));
    Show();
}

void TacAutoUpgraderWizardForm::HideFileLocation() {
    FileURL->Hide();
    LDownloadingFileFrom->Hide();
    LFileSize->SetTop(LDownloadingFileFrom->Top());
    LTransferRate->SetTop(LFileSize->Top() + 16);
    LEstimatedTime->SetTop(LTransferRate->Top() + 16);
    ProgressCurrentFile->SetTop(LEstimatedTime->Top() + 20);
    LCurrentFile->SetBounds(LCurrentFile->Left(), LCurrentFile->Top() + 10, LCurrentFile->Width(),
                            LCurrentFile->Height() - 30);
}

void TacAutoUpgraderWizardForm::ShowFile(const std::string& url, int number, int count) {
    FileURL->SetText(url);
    AllDownloading->SetCaption(upgrader_texts::Format(9, number, count));
}

void TacAutoUpgraderWizardForm::ShowFileSize(std::int64_t bytes) {
    LFileSize->SetCaption(upgrader_texts::Format(6, static_cast<double>(bytes) / 1024));
}

void TacAutoUpgraderWizardForm::SetBar(fw::TControl* bar, int percent) {
    static_cast<QProgressBar*>(bar->Widget())->setValue(std::clamp(percent, 0, 100));
}

void TacAutoUpgraderWizardForm::ShowProgress(int percent, int totalPercent, float rate,
                                             int secondsLeft) {
    SetBar(ProgressCurrentFile, percent);
    SetBar(ProgressAllFiles, totalPercent);
    LTransferRate->SetCaption(upgrader_texts::Format(7, static_cast<double>(rate)));
    const int minutes = secondsLeft / 60;
    LEstimatedTime->SetCaption(
        upgrader_texts::Format(8, minutes / 60, minutes % 60, secondsLeft % 60));
}

void TacAutoUpgraderWizardForm::ShowCompleted() {
    using upgrader_texts::Text;
    WizardTitle->SetCaption(Text(2));
    AfterNote->SetCaption(LineBreaks(upgrader_texts::Format(10, AppTitle())));
    AfterNote->SetHeight(AfterNote->Label()->heightForWidth(AfterNote->Width()));
    LCurrentFile->Hide();
    LAllFiles->Hide();
    CancelBtn->SetEnabled(false);
    OKBtn->SetCaption(Text(16));
    OKBtn->SetEnabled(true);
    OKBtn->SetDefault(true);
    OKBtn->Button()->setFocus();
}

void TacAutoUpgraderWizardForm::WndProc(fw::TMessage& Message) {
    if (Message.Msg == win::WM_SYSCOMMAND && (Message.WParam & 0xFFF0) == win::SC_CLOSE) {
        AskAbort();
        Message.Result = 0;
        return;
    }
    TForm::WndProc(Message);
}

void TacAutoUpgraderWizardForm::AskAbort() {
    // Asked once: a window on its way out (also when the application closes
    // every window as it ends) does not ask again.
    if (closing_)
        return;
    const std::string text = upgrader_texts::Text(27);
    if (win::MessageBoxA(Handle(), text.c_str(), AppTitle().c_str(),
                         win::MB_YESNO | win::MB_ICONQUESTION) != win::IDYES ||
        closing_)
        return;
    TacAutoUpgrader* upgrader = Upgrader;
    Close();
    if (upgrader)
        upgrader->AbortUpgrade();
}
