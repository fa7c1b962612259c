#pragma once
// TacInfoBox: a configurable modal message box. An icon, a message in the
// rich label's markup, an optional picture under it, an optional check box
// "Don't show me this message again" whose state is remembered in the
// registry, one of five button sets, and a system sound when it shows.
//
//     TacInfoBox box(owner);
//     box.SetText("Quilvane\r\nVersion [b]1.0[]");
//     box.SetInfoBoxButtons(ibYesNo);
//     if (box.Execute(true) == fw::mrYes) ...
//
// Execute(true) shows nothing and answers 0 while another info box is open
// (process-wide) or when the remembered state is set; otherwise it shows the
// box modally and answers the modal result of the button that closed it:
// OK 1, Cancel 2, Abort 3, Retry 4, Yes 6, No 7 (Cancel also for a box
// closed from its title bar).
//
// Remembered state: a REG_DWORD `RegValue` under `RegKey` in the root of
// `RegLocation`, non-zero meaning "do not show". A registry that cannot be
// read reads as 0; a write that fails is left undone; nothing is reported.
//
// Threads: main thread only.

#include <QFont>
#include <QImage>
#include <functional>
#include <string>

#include "framework/form.h"
#include "framework/rich_label.h"
#include "platform/types.h"
#include "shell/ac_component.h"

class TacInfoBoxForm;

enum class TacInfoBoxButtons { ibOK, ibOKCancel, ibYesNo, ibRetryAbort, ibYesNoCancel };
using enum TacInfoBoxButtons;

struct TacInfoBoxButtonCaptions {
    std::string OK = "OK";
    std::string Cancel = "Cancel";
    std::string Yes = "&Yes";
    std::string No = "&No";
    std::string Retry = "&Retry";
    std::string Abort = "&Abort";
};

enum class TacSystemSoundType {
    stNoSound,
    stAsterisk,
    stCloseProgram,
    stCriticalStop,
    stDefaultSound,
    stExclamation,
    stExitWindows,
    stMaximize,
    stMenuCommand,
    stMenuPopup,
    stMinimize,
    stNewMailNotification,
    stOpenProgram,
    stProgramError,
    stQuestion,
    stRestoreDown,
    stRestoreUp,
    stStartWindows
};
using enum TacSystemSoundType;

// The registered sound alias of a sound ("SystemAsterisk", ...); nullptr for
// stNoSound.
const char* SystemSoundAlias(TacSystemSoundType sound);

using TacInfoBoxCheckBoxCheckedEvent = std::function<void(fw::TObject* Sender, bool Checked)>;

class TacInfoBox : public TacComponent {
public:
    explicit TacInfoBox(fw::TComponent* AOwner);
    ~TacInfoBox() override;

    // Shows the box (see the file comment); `CheckState` asks to check the
    // showing flag and the remembered state first.
    fw::TModalResult Execute(bool CheckState);

    // The remembered state; setting it writes the registry only when the
    // value differs from the stored one.
    bool DontShowAgain() const;
    void SetDontShowAgain(bool value);

    // The window's handle while the box is open, else 0.
    win::HWND Handle() const { return FHandle; }

    const std::string& Text() const { return FText; }
    void SetText(const std::string& value) { FText = value; }
    // Empty: the application's title.
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }
    const fw::TacTextStyle& TextStyle() const { return FTextStyle; }
    void SetTextStyle(const fw::TacTextStyle& value) { FTextStyle = value; }
    const QFont& Font() const { return FFont; }
    void SetFont(const QFont& value) { FFont = value; }
    // Empty: the built-in icon.
    const QImage& Icon() const { return FIcon; }
    void SetIcon(const QImage& value) { FIcon = value; }
    // An icon resource of the program to show instead: a name, or a number.
    const std::string& IconResID() const { return FIconResID; }
    void SetIconResID(const std::string& value) { FIconResID = value; }
    const QImage& Picture() const { return FPicture; }
    void SetPicture(const QImage& value) { FPicture = value; }
    // A bitmap resource number (or JPEG resource of that number) to show
    // under the message; 0: none.
    int PictureResID() const { return FPictureResID; }
    void SetPictureResID(int value) { FPictureResID = value; }
    TacInfoBoxButtons InfoBoxButtons() const { return FInfoBoxButtons; }
    void SetInfoBoxButtons(TacInfoBoxButtons value) { FInfoBoxButtons = value; }
    const TacInfoBoxButtonCaptions& ButtonCaptions() const { return FButtonCaptions; }
    void SetButtonCaptions(const TacInfoBoxButtonCaptions& value) { FButtonCaptions = value; }
    // Escape closes the box; when false the system menu's Close is greyed.
    bool EscCancel() const { return FEscCancel; }
    void SetEscCancel(bool value) { FEscCancel = value; }
    bool ShowCheckBox() const { return FShowCheckBox; }
    void SetShowCheckBox(bool value) { FShowCheckBox = value; }
    const std::string& CheckBoxCaption() const { return FCheckBoxCaption; }
    void SetCheckBoxCaption(const std::string& value) { FCheckBoxCaption = value; }
    const std::string& RegKey() const { return FRegKey; }
    // A trailing backslash is removed.
    void SetRegKey(const std::string& value);
    const std::string& RegValue() const { return FRegValue; }
    void SetRegValue(const std::string& value) { FRegValue = value; }
    TacRegLocation RegLocation() const { return FRegLocation; }
    void SetRegLocation(TacRegLocation value) { FRegLocation = value; }
    fw::TPosition Position() const { return FPosition; }
    void SetPosition(fw::TPosition value) { FPosition = value; }
    TacSystemSoundType Sound() const { return FSound; }
    void SetSound(TacSystemSoundType value) { FSound = value; }
    // Kept and stored with the layout; showing the box does not consult it.
    bool DontShowOnWindowsShutdown() const { return FDontShowOnWindowsShutdown; }
    void SetDontShowOnWindowsShutdown(bool value) { FDontShowOnWindowsShutdown = value; }

    // Raised when the user toggles the check box, with the stored state.
    TacInfoBoxCheckBoxCheckedEvent OnCheckBoxChecked;

private:
    friend class TacInfoBoxForm;
    // The check box's click: stores the state and raises OnCheckBoxChecked.
    void CheckBoxClick(bool checked);
    void Layout(TacInfoBoxForm& form);

    std::string FText;
    std::string FTitle;
    fw::TacTextStyle FTextStyle;
    QFont FFont;
    QImage FIcon;
    std::string FIconResID;
    QImage FPicture;
    int FPictureResID = 0;
    TacInfoBoxButtons FInfoBoxButtons = ibOK;
    TacInfoBoxButtonCaptions FButtonCaptions;
    bool FEscCancel = true;
    bool FShowCheckBox = true;
    std::string FCheckBoxCaption = "Don't show me this message again";
    std::string FRegKey = "Software\\CompanyName\\ProgramName\\InfoBox";
    std::string FRegValue = "Dlg1";
    TacRegLocation FRegLocation = rlCurrentUser;
    fw::TPosition FPosition = fw::poScreenCenter;
    TacSystemSoundType FSound = stNoSound;
    bool FDontShowOnWindowsShutdown = false;
    win::HWND FHandle = 0;
};

// True while an info box is open (process-wide).
bool InfoBoxShowing();
// The open info box's window, or nullptr.
TacInfoBoxForm* InfoBoxForm();
