#include "app/main_form.h"

#include <QPixmap>
#include <cstdio>

#include "app/install_location.h"
#include "app/record_editor.h"
#include "app/settings_file.h"
#include "app/version.h"
#include "framework/application.h"
#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"
#include "platform/window_pos.h"

namespace quilvane {

TForm1* Form1 = nullptr;

namespace {

fw::TButton* MakeButton(TForm1* form, const char* name, int left, int top, int width, int height,
                        const char* caption) {
    auto* button = new fw::TButton(form);
    button->SetName(name);
    button->SetParent(form);
    button->SetBounds(left, top, width, height);
    button->SetCaption(caption);
    return button;
}

fw::TMenuItem* MakeMenuItem(TForm1* form, fw::TPopupMenu* menu, const char* name,
                            const char* caption) {
    auto* item = new fw::TMenuItem(form);
    item->SetName(name);
    item->SetCaption(caption);
    menu->Items()->Add(item);
    return item;
}

// The About text's last line.
constexpr const char* AboutClosingLine =
    "Keeps your network drives mapped while their servers answer.";

}  // namespace

TForm1::TForm1(fw::TComponent* AOwner) : TForm(AOwner) {
    SetName("Form1");
    SetCaption("Quilvane");
    SetBorderIcons({});
    SetPosition(fw::poScreenCenter);
    SetClientWidth(455);
    // The stored layout is the editor view; FormCreate switches to the list view.
    SetHeight(EditorViewHeight);

    RxMemoryData1 = new fw::TRxMemoryData(this, ConnectionFields());
    RxMemoryData1->SetName("RxMemoryData1");

    DataSource1 = new fw::TDataSource(this);
    DataSource1->SetName("DataSource1");
    DataSource1->SetDataSet(RxMemoryData1);

    suiDBGrid1 = new fw::TDBGrid(this);
    suiDBGrid1->SetName("suiDBGrid1");
    suiDBGrid1->SetParent(this);
    suiDBGrid1->SetBounds(4, 4, 445, 189);
    fw::TDBGridView* grid = suiDBGrid1->View();
    grid->SetColor(QColor(0xE8, 0xE8, 0xE8));
    grid->SetTitleColors(QColor(0x44, 0x4A, 0xA0), Qt::white);
    grid->SetFocusedColor(QColor(0x00, 0x80, 0x00));
    grid->SetSelectedColor(QColor(0xFF, 0xFF, 0x00));
    suiDBGrid1->SetColumns({
        {field::HostName, "Host Name", Qt::AlignHCenter, 86},
        {field::Connected, "On", Qt::AlignHCenter, -1},
        {field::FalseCount, ".", Qt::AlignLeft, 16},
        {field::Drive, "Drive", Qt::AlignHCenter, -1},
        {field::UNC, "Universal Name Connection", Qt::AlignHCenter, 213},
        {field::Maped, "Maped", Qt::AlignHCenter, -1},
    });
    suiDBGrid1->SetDataSource(DataSource1);

    BAdd1 = MakeButton(this, "BAdd1", 8, 200, 49, 27, "&Add");
    BAdd1->OnClick = [this](fw::TObject* s) { BAdd1Click(s); };
    BEdit1 = MakeButton(this, "BEdit1", 56, 200, 49, 27, "&Edit");
    BEdit1->OnClick = [this](fw::TObject* s) { BEdit1Click(s); };
    BDel1 = MakeButton(this, "BDel1", 104, 200, 49, 27, "&Del");
    BDel1->OnClick = [this](fw::TObject* s) { BDel1Click(s); };
    BOk1 = MakeButton(this, "BOk1", 280, 200, 80, 27, "&Ok");
    BOk1->SetGlyph(QPixmap(":/glyphs/ok.xpm"));
    BOk1->SetDefault(true);
    BOk1->OnClick = [this](fw::TObject* s) { BOk1Click(s); };
    BExit1 = MakeButton(this, "BExit1", 368, 200, 80, 27, "E&xit");
    BExit1->SetGlyph(QPixmap(":/glyphs/exit.xpm"));
    BExit1->OnClick = [this](fw::TObject* s) { BExit1Click(s); };
    CreateRecordEditor(*this);

    zIni1 = new TzIni(this);
    zIni1->SetName("zIni1");
    SetUpSettingsStore(*zIni1);

    Timer1 = new fw::TTimer(this);
    Timer1->SetName("Timer1");
    Timer1->SetInterval(10000);
    Timer1->OnTimer = [this](fw::TObject* s) { Timer1Timer(s); };

    // The tray menu comes first here so that the tray icon can take it while
    // it loads; its place among the components changes nothing else.
    PopupMenu1 = new fw::TPopupMenu(this);
    PopupMenu1->SetName("PopupMenu1");
    About1 = MakeMenuItem(this, PopupMenu1, "About1", "About");
    About1->OnClick = [this](fw::TObject* s) { About1Click(s); };
    Setting1 = MakeMenuItem(this, PopupMenu1, "Setting1", "&Setting");
    Setting1->OnClick = [this](fw::TObject* s) { Setting1Click(s); };
    Exit1 = MakeMenuItem(this, PopupMenu1, "Exit1", "-");
    Exit2 = MakeMenuItem(this, PopupMenu1, "Exit2", "E&xit");
    Exit2->OnClick = [this](fw::TObject* s) { BExit1Click(s); };

    if (!headless_) {
        acTrayIcon1 = new TacTrayIcon(this);
        acTrayIcon1->SetName("acTrayIcon1");
        acTrayIcon1->SetOptions({oHideIconOnRestore, oDblClickRestore, oPlaySysActionSounds});
        acTrayIcon1->SetPopupMenu(PopupMenu1);
        acTrayIcon1->CaptionButton()->SetBtnOrder(0);
        acTrayIcon1->CaptionButton()->SetHint("Minimize to System Tray");
        acTrayIcon1->CaptionButton()->SetXPStyleColor(xpcRed);
        acTrayIcon1->CaptionButton()->SetVisible(true);
        acTrayIcon1->SystemMenu()->SetApplyToMenu(false);
        // Hides the application at once: the window is never seen at start.
        acTrayIcon1->SetStartMinimized(true);

        acAppAutoRun1 = new TacAppAutoRun(this);
        acAppAutoRun1->SetName("acAppAutoRun1");
        acAppAutoRun1->SetRunFor(rlLocalMachine);
        acAppAutoRun1->CaptionButton()->SetBtnOrder(1);
        acAppAutoRun1->CaptionButton()->SetHint("Auto-run at StartUp");
        acAppAutoRun1->CaptionButton()->SetVisible(true);
        acAppAutoRun1->SystemMenu()->SetCaption("Auto-run at &StartUp");
        acAppAutoRun1->SystemMenu()->SetPosition(7);
        acAppAutoRun1->SystemMenu()->SetSeparators({seBefore});
        acAppAutoRun1->SystemMenu()->SetApplyToMenu(false);
    }

    acCaptionButton1 = new TacCaptionButton(this);
    acCaptionButton1->SetName("acCaptionButton1");
    acCaptionButton1->SetBtnOrder(2);
    acCaptionButton1->Glyph()->LoadFromResourceName("ACCB_AUTOUPGRADE");
    acCaptionButton1->SetHint("Auto upgrade");
    {
        fw::TFont font;
        font.SetName("Arial");
        font.SetHeight(-18);
        acCaptionButton1->SetSignFont(font);
    }
    acCaptionButton1->OnClick = [this](fw::TObject* s) { acCaptionButton1Click(s); };

    acOnlyOne1 = new TacOnlyOne(this);
    acOnlyOne1->SetName("acOnlyOne1");
    acOnlyOne1->ShowFirst = ShowRequested;
    acOnlyOne1->OnShowRequest = [this](fw::TObject*) { BringWindowUp(); };

    acAutoUpgrader1 = new TacAutoUpgrader(this);
    acAutoUpgrader1->SetName("acAutoUpgrader1");
    acAutoUpgrader1->VersionNumber = ProgramVersion;
    acAutoUpgrader1->VersionDate = "09/26/2006";
    acAutoUpgrader1->VersionDateAutoSet = true;
    acAutoUpgrader1->VersionControl = byNumber;
    acAutoUpgrader1->ShowMessages = {mAskUpgrade, mConnLost, mLostFile};
    acAutoUpgrader1->Wizard.Enabled = false;
    acAutoUpgrader1->Wizard.HideFileLocation = true;
    acAutoUpgrader1->Wizard.SetLanguage(TacAutoUpgraderLanguage::wlIndonesian);
    acAutoUpgrader1->Wizard.StayOnTop = false;
    acAutoUpgrader1->InfoFileURL = BuiltInInfoFileURL;

    acInfoBox1 = new TacInfoBox(this);
    acInfoBox1->SetName("acInfoBox1");
    acInfoBox1->SetTitle("About");
    acInfoBox1->SetShowCheckBox(false);
    acInfoBox1->SetSound(stOpenProgram);
    acInfoBox1->SetButtonCaptions({"OK", "Cancel", "&Yes", "&No", "&Retry", "&Abort"});
    acInfoBox1->SetCheckBoxCaption("Don't show me this message again");
    acInfoBox1->SetRegKey("Software\\CompanyName\\ProgramName\\InfoBox");
    acInfoBox1->SetRegValue("Dlg1");
    acInfoBox1->SetDontShowOnWindowsShutdown(false);

    Ping1 = new TPing(this);
    Ping1->SetName("Ping1");
    Ping1->SetSize(1);
    Ping1->SetTimeout(1000);
    Ping1->SetTTL(64);
    Ping1->SetFlags(0);
    Ping1->OnEchoReply = [this](fw::TObject* s, TICMP* icmp, int status) {
        Ping1EchoReply(s, icmp, status);
    };

    Drives = &RealDriveOperations();
    Monitor = std::make_unique<TMonitorEngine>(*RxMemoryData1,
                                               [this]() -> TDriveOperations& { return *Drives; });
    Monitor->OnPost = [this](fw::TRxMemoryData& table) {
        if (OnMonitorPost)
            OnMonitorPost(table);
    };
    Monitor->OnPassEnd = [this] {
        if (OnMonitorPassEnd)
            OnMonitorPassEnd();
    };
    Monitor->OnNotice = [this](const std::string& text) {
        if (OnMonitorNotice) {
            OnMonitorNotice(text);
            return;
        }
        std::fprintf(stderr, "Quilvane: %s\n", text.c_str());
        if (acTrayIcon1) {
            TacWin2kInfoBalloon& balloon = *acTrayIcon1->Win2kInfoBalloon();
            balloon.Enabled = true;
            balloon.Icon = iiWarning;
            balloon.SetTitle("Quilvane");
            balloon.SetText(text);
            acTrayIcon1->ShowBalloon();
        }
    };

    OnCreate = [this](fw::TObject* s) { FormCreate(s); };
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::FormCreate(fw::TObject* /*Sender*/) {
    SetHeight(ListViewHeight);
    LoadSettings(*zIni1, *RxMemoryData1, acAutoUpgrader1->InfoFileURL, SettingsFolder());
    // A second start is on its way out (its guard ended it while loading): it
    // shows, checks and registers nothing.
    if (headless_ || (Application && Application->Terminated()))
        return;
    acTrayIcon1->MinimizeToTray();
    if (ShowRequested)
        BringWindowUp();
    const std::string version = "Quilvane\r\nVersion " + acAutoUpgrader1->VersionNumber;
    acInfoBox1->SetText(version + "\r\n" + AboutClosingLine);
    acTrayIcon1->SetHint(version);
    acAutoUpgrader1->CheckForUpgrade();
    if (!acAppAutoRun1->AutoRun())
        acAppAutoRun1->SetAutoRun(true);
}

void TForm1::BOk1Click(fw::TObject* /*Sender*/) {
    // A failure raises past the rest, so Exit does not close either.
    SaveSettings(*zIni1, *RxMemoryData1, acAutoUpgrader1->InfoFileURL);
    if (acTrayIcon1)
        acTrayIcon1->MinimizeToTray();
}

void TForm1::BExit1Click(fw::TObject* Sender) {
    BOk1Click(Sender);
    Close();
}

void TForm1::Setting1Click(fw::TObject* /*Sender*/) {
    if (acTrayIcon1)
        acTrayIcon1->RestoreFromTray();
}

void TForm1::BringWindowUp() {
    if (headless_ || !acTrayIcon1)
        return;
    acTrayIcon1->RestoreFromTray();
    if (win::IsIconic(Handle()))
        win::ShowWindow(Handle(), win::SW_RESTORE);
    win::BringWindowToTop(Handle());
    win::SetForegroundWindow(Handle());
}

void TForm1::About1Click(fw::TObject* /*Sender*/) {
    acInfoBox1->Execute(true);
}

void TForm1::acCaptionButton1Click(fw::TObject* /*Sender*/) {
    // The user asked: a refused upgrade is told in a box.
    if (!headless_)
        acAutoUpgrader1->CheckForUpgrade(true);
}

void TForm1::Timer1Timer(fw::TObject* /*Sender*/) {
    TEchoProbes::TRequest echo;
    echo.Size = Ping1->Size();
    echo.Timeout = Ping1->Timeout();
    echo.TTL = Ping1->TTL();
    echo.Flags = Ping1->Flags();
    Monitor->StartPass(echo);
}

void TForm1::Ping1EchoReply(fw::TObject* /*Sender*/, TICMP* /*Icmp*/, int Status) {
    if (HandleEchoReply(*RxMemoryData1, *Drives, Status) && OnMonitorPost)
        OnMonitorPost(*RxMemoryData1);
}

}  // namespace quilvane
