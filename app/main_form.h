#pragma once
// TForm1: the program's main window. It owns the connection table
// (RxMemoryData1) and the program's components, shows the table read-only in
// its grid with the list view's buttons below it, and is the application's main
// form: closing it ends the program.
//
// It lives in the notification area: it starts hidden behind its tray icon,
// comes up from the tray menu or a double click on the icon, goes back with Ok
// or the title bar's tray button, registers the program to run at start-up,
// refuses a second copy, checks for a newer version at every start and on
// its "Auto upgrade" button, and shows a short About text.
//
// Views: the list view (window height 265: grid and button row) after
// creation; the record editor below them makes it 440 high while it is open.
//
// Threads: main thread only; every handler runs inside the message loop.

#include <functional>
#include <memory>
#include <string>

#include "app/settings_file.h"
#include "dialogs/info_box.h"
#include "framework/combo_box.h"
#include "framework/data_source.h"
#include "framework/db_grid.h"
#include "framework/form.h"
#include "framework/group_box.h"
#include "framework/memory_data.h"
#include "framework/menus.h"
#include "framework/number_edit.h"
#include "framework/std_controls.h"
#include "framework/timer.h"
#include "ini/ini_store.h"
#include "monitor/monitor_engine.h"
#include "ping/ping_component.h"
#include "shell/app_auto_run.h"
#include "shell/caption_button.h"
#include "shell/only_one.h"
#include "shell/tray_icon.h"
#include "upgrade/auto_upgrader.h"

namespace quilvane {

// Window heights of the two views.
constexpr int ListViewHeight = 265;
constexpr int EditorViewHeight = 440;

class TForm1 : public fw::TForm {
public:
    // Set before the headless monitor creates its offscreen form: that form
    // has no tray icon and no auto-run, checks for no upgrade and leaves the
    // desktop alone.
    static inline bool Headless = false;
    // Started with --show (the launcher): the window comes up at start, and a
    // copy that runs already is asked to bring its window up instead.
    static inline bool ShowRequested = false;
    // Brings the window up out of the tray: restored, raised and active.
    void BringWindowUp();

    explicit TForm1(fw::TComponent* AOwner);
    ~TForm1() override;

    // The creation handler: list-view height, the settings, then (with a
    // desktop) to the tray, the About text and tray tip, the upgrade check in
    // the background and auto-run switched on.
    void FormCreate(fw::TObject* Sender);
    // Ok: writes the settings and goes to the tray.
    void BOk1Click(fw::TObject* Sender);
    // Exit (button and tray item): Ok's work, then closes the main window.
    void BExit1Click(fw::TObject* Sender);
    // Open the record editor in add, edit and delete mode.
    void BAdd1Click(fw::TObject* Sender);
    void BEdit1Click(fw::TObject* Sender);
    void BDel1Click(fw::TObject* Sender);

    // The record editor (record_editor.cpp). It copies a record into its boxes
    // (Load) and its boxes into the record being appended or edited (Save)
    // only when a button says so, and remembers the record it shows by number
    // in EID1, since a monitor pass leaves the cursor on the last record.
    void Load();
    void Save();
    void BClear1Click(fw::TObject* Sender);
    void BSave1Click(fw::TObject* Sender);
    void BSave2Click(fw::TObject* Sender);
    void BDel2Click(fw::TObject* Sender);
    void BClose1Click(fw::TObject* Sender);
    void BPrev1Click(fw::TObject* Sender);
    void BNext1Click(fw::TObject* Sender);
    // The monitor pass: starts Monitor's pass with Ping1's settings (every
    // record's host pinged at once, off the main thread).
    void Timer1Timer(fw::TObject* Sender);
    // Ping1's reply for the current record (Status 1 answered, 0 not), for
    // a caller of Ping1->Ping(); the monitor's passes go through Monitor.
    void Ping1EchoReply(fw::TObject* Sender, TICMP* Icmp, int Status);

    fw::TRxMemoryData* RxMemoryData1;
    fw::TDataSource* DataSource1;
    fw::TDBGrid* suiDBGrid1;
    fw::TButton* BAdd1;
    fw::TButton* BEdit1;
    fw::TButton* BDel1;
    fw::TButton* BOk1;
    fw::TButton* BExit1;
    // The record editor's group box and its controls, in tab order.
    fw::TGroupBox* suiGroupBox1;
    fw::TEdit* EHostName1;
    fw::TNumberEdit* EMaxPing1;
    fw::TEdit* EUserName1;
    fw::TEdit* EPassword1;
    fw::TEdit* EUNC1;
    fw::TComboBox* EDrive1;
    fw::TButton* BSave1;
    fw::TButton* BSave2;
    fw::TButton* BDel2;
    fw::TButton* BClear1;
    fw::TButton* BPrev1;
    fw::TButton* BNext1;
    fw::TButton* BClose1;
    fw::TEdit* EID1;
    // The settings file's store: no placement, name set by the program,
    // every value enciphered.
    TzIni* zIni1;
    // The monitor: a pass every 10 s from creation, one echo request a record.
    fw::TTimer* Timer1;
    // The tray icon (nullptr in the headless form): the program starts in the
    // tray; its title-bar button (order 0) minimises to the tray.
    TacTrayIcon* acTrayIcon1 = nullptr;
    // Registers the program for every user's log-in (nullptr in the headless
    // form); its title-bar button (order 1) toggles it.
    TacAppAutoRun* acAppAutoRun1 = nullptr;
    // The title-bar button that starts the upgrade check; no system-menu item.
    TacCaptionButton* acCaptionButton1;
    void acCaptionButton1Click(fw::TObject* Sender);
    // A second start asks this one to the front and ends (all defaults).
    TacOnlyOne* acOnlyOne1;
    // The upgrade check. Its InfoFileURL is read from and written to the
    // settings file ("UpGradeURL"); the headless form never starts a check.
    TacAutoUpgrader* acAutoUpgrader1;
    // The About box.
    TacInfoBox* acInfoBox1;
    // The tray menu: About, Setting, a separator, Exit.
    fw::TPopupMenu* PopupMenu1;
    fw::TMenuItem* About1;
    fw::TMenuItem* Setting1;
    fw::TMenuItem* Exit1;
    fw::TMenuItem* Exit2;
    // "&Setting": the window comes back from the tray as it was left.
    void Setting1Click(fw::TObject* Sender);
    // "About": the About box, unless an info box is open already or the user
    // asked not to see it again.
    void About1Click(fw::TObject* Sender);
    TPing* Ping1;

    // What the monitor does to drives; the platform's operations unless a test
    // puts others here (before drive work is queued).
    TDriveOperations* Drives;
    // The monitor's engine over RxMemoryData1: passes, drive work, and the
    // editor's disconnections, none of which the main thread waits for.
    std::unique_ptr<TMonitorEngine> Monitor;
    // Called after the monitor posted a record, with the record current (the
    // headless mode prints it).
    std::function<void(fw::TRxMemoryData& Table)> OnMonitorPost;
    // Whether a monitor pass's pings are out: the headless mode reloads a
    // changed list between passes.
    bool MonitorPassRunning() const { return Monitor->PassRunning(); }
    // Called after each monitor pass (the headless mode reloads a list that
    // changed during the pass).
    std::function<void()> OnMonitorPassEnd;
    // What the monitor tells the user (why a record is not mapped): the
    // headless mode prints it; the window shows it in the tray icon's balloon
    // and on standard error, unless a handler is set here.
    std::function<void(const std::string& Text)> OnMonitorNotice;

private:
    // Whether this form was made as the headless monitor's.
    const bool headless_ = Headless;
};

// The main form, set by Application->CreateForm.
extern TForm1* Form1;

}  // namespace quilvane
