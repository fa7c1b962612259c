#pragma once
// TacAutoUpgrader: keeps the program current. A check fetches the upgrade
// information file (upgrade/upgrade_info.h) from InfoFileURL into memory,
// compares its version with the program's own and then does nothing, asks
// the user, opens a web page, or downloads every listed file beside the
// executable as "<name>.uTMP" and restarts the program through the helper
// program (upgrade/helper/), which puts the files in place once the program
// has ended. Every user-facing text comes from the language table
// (upgrade/upgrader_texts.h); the built-in boxes appear only where
// ShowMessages says so.
//
// Nothing fetched is trusted unless it is verified:
// - the information file (at most 1 MiB) is taken only with a valid minisign
//   signature fetched from its address + ".minisig", made by a trusted key
//   (upgrade/signature.h) with the trusted comment "Quilvane <#version>";
// - every address in it (and every redirect) is http or https, and every
//   file it names carries its SHA-256 ("#sha256", "#sha2560",
//   "#sha256<n>" beside the URL keys of the same suffix); a file may also
//   give its length ("#size<n>"), which caps its download, else the cap is
//   MaxDownloadSize (512 MiB); a file whose SHA-256 differs is never put in place (a box
//   says so) and the upgrade stops;
// - a refused information file asks nothing and downloads nothing: a check
//   the user started (CheckForUpgrade(true)) says so in a box, any other
//   check writes one line to standard error;
// - a packaged install (under /usr) never downloads or replaces itself: the
//   check tells once per version that the package manager installs the new
//   one; a program folder this user cannot write is told the same way,
//   without the question.
// A file name from a URL that is empty, "." or "..", or too long for a file
// name, is a lost file; nothing is ever written outside the executable's
// folder.
//
// The helper is written completely into the private runtime folder of this
// user (HelperPath()), never a shared temporary folder, checked, and started
// from the descriptor it was checked through; where no such folder can be
// had, nothing runs and a box says why. It gets the program's path as one
// argument and the files to install with their SHA-256
// (upgrade/helper/upgrader_helper.cpp); the next upgrader created removes it.
//
// The boxes: the question before an upgrade is an info box (dialogs/) with
// the "ACAUICO" icon; errors and the lost-file question are standard message
// boxes; the progress window and the password dialog are
// upgrade/wizard_form.h and upgrade/password_form.h.
//
// AutoCheck: every 10 s, while the computer is online, a check starts by
// itself (an unreachable server resumes the timer, any other outcome stops
// it). Online means that the local host name resolves to an address other
// than 127.0.0.1. (Older Windows systems read a "Remote Connection" value
// of the RemoteAccess service from the registry first; no such value exists
// here, so the address test is the whole test.)
//
// Threads: main thread only (the HTTP transfers run on the worker of the
// inherited component; every event arrives on the main thread).

#include <QImage>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/info_box.h"
#include "framework/sets.h"
#include "platform/user.h"
#include "upgrade/custom_http.h"
#include "upgrade/upgrade_info.h"
#include "upgrade/upgrader_texts.h"

enum class TacAutoUpgraderVersionControl { byDate, byNumber };
using enum TacAutoUpgraderVersionControl;

enum class TacAutoUpgraderShowMessages {
    mAskUpgrade,
    mConnLost,
    mHostUnreachable,
    mLostFile,
    mNoInfoFile,
    mNoUpdateAvailable,
    mPasswordRequest
};
using enum TacAutoUpgraderShowMessages;
using TacAutoUpgraderShowMessagesSet = fw::TSet<TacAutoUpgraderShowMessages>;

enum class TacMiscFilesUpgradeBehavior { mfuAlwaysDownload, mfuOnlyIfSizeDifferent };
using enum TacMiscFilesUpgradeBehavior;
using enum TacUpgradeMethod;

// What the publisher puts into the info file, kept with the form; a running
// check reads none of it.
class TacAutoUpgraderInfo : public fw::TObject {
public:
    std::vector<std::string> Files;
    TacUpgradeMethod UpgradeMethod = umSelfUpgrade;
    std::string UpgradeMsg;
};

class TacAutoUpgraderWizard : public fw::TObject {
public:
    bool Enabled = true;
    bool HideFileLocation = false;
    bool StayOnTop = true;
    // The progress window's side picture (stretched to 118 x 218); empty:
    // the built-in one.
    QImage Pic118x218;
    // Process-wide: setting it sets every upgrader's language.
    TacAutoUpgraderLanguage Language() const { return language_; }
    void SetLanguage(TacAutoUpgraderLanguage value);

private:
    TacAutoUpgraderLanguage language_ = TacAutoUpgraderLanguage::wlAuto;
};

using TacAUBeginUpgradeEvent = std::function<void(
    fw::TObject* Sender, const std::string& UpgradeMsg, TacUpgradeMethod UpgradeMethod,
    const std::vector<std::string>& Files, bool& CanUpgrade)>;
using TacAUHostUnreachableEvent =
    std::function<void(fw::TObject* Sender, const std::string& URL, const std::string& Hostname)>;
using TacAUFileStartEvent = std::function<void(fw::TObject* Sender, const std::string& FileURL,
                                               int FileSize, TDateTime FileTime, bool& CanUpgrade)>;
using TacAUProgressEvent =
    std::function<void(fw::TObject* Sender, const std::string& FileURL, int FileSize, int BytesRead,
                       int ElapsedTime, int EstimatedTimeLeft, win::BYTE PercentsDone,
                       win::BYTE TotalPercentsDone, float TransferRate)>;
using TacAUFileDoneEvent = std::function<void(fw::TObject* Sender, const std::string& FileName)>;
using TacAULostFileEvent = std::function<void(fw::TObject* Sender, const std::string& FileURL,
                                              int ErrorCode, bool& ContinueUpgrade)>;
using TacAUEndUpgradeEvent = std::function<void(fw::TObject* Sender, bool& RestartImediately)>;

class TacAutoUpgrader : public TacCustomHTTP {
public:
    explicit TacAutoUpgrader(fw::TComponent* AOwner);
    ~TacAutoUpgrader() override;

    // Starts a check; true at once (nothing new starts) while a run is busy.
    // The result arrives through the events. ByUser: the user asked (a
    // refused information file is then told in a box).
    bool CheckForUpgrade(bool ByUser = false);
    // Stops the upgrade, deletes every "*.uTMP" beside the executable and
    // raises OnAborted.
    void AbortUpgrade();
    // Writes the helper out, starts it with the executable's path and
    // `Params` (empty: RestartParams and the method digit) and closes the
    // program (or raises OnDoOwnCloseAppMethod).
    void RestartApplication(const std::string& Params = {});

    // Where the helper is written: "Upgrader3" in the program's private
    // runtime folder (win::PrivateRuntimeFolder), which no other user can
    // make, enter or swap; empty where no such folder can be had.
    static std::string HelperPath();
    // The executable's folder with its trailing "/".
    static std::string ProgramFolder();
    // Whether the program is a packaged install (under /usr), which only the
    // package manager replaces.
    static bool IsPackagedInstall();
    // The largest information file taken, and the cap of a download whose
    // length the information file does not give.
    static constexpr std::int64_t kMaxInfoFile = 1 << 20;
    static constexpr std::int64_t kMaxFileSize = std::int64_t(512) << 20;
    // The cap of a download whose length is not given (kMaxFileSize).
    std::int64_t MaxDownloadSize = kMaxFileSize;
    // The running executable's full path (tests may point it elsewhere).
    static std::string ProgramPath();
    static void SetProgramPathForTesting(const std::string& path);
    // The text of the language in use.
    static std::string Text(int index) { return upgrader_texts::Text(index); }
    // Whether the local host name resolves to an address other than
    // 127.0.0.1.
    static bool IsOnline();

    // The hidden window of the automatic check.
    win::HWND Handle() const { return window_; }
    // The automatic check's period (10000 ms; tests shorten it).
    static void SetAutoCheckPeriodForTesting(win::UINT ms);

    // True while a check or an upgrade is under way (the end event is not
    // signalled).
    bool Running() const { return !ended_; }
    bool Finished() const { return finished_; }

    // Published settings.
    std::string InfoFileURL = "http://";
    TacAutoUpgraderVersionControl VersionControl = byDate;
    std::string VersionNumber;
    std::string VersionDate;
    bool VersionDateAutoSet = true;
    TacAutoUpgraderShowMessagesSet ShowMessages{mAskUpgrade, mConnLost, mLostFile,
                                                mPasswordRequest};
    TacAutoUpgraderInfo InfoFile;
    TacMiscFilesUpgradeBehavior MiscFilesUpgrade = mfuAlwaysDownload;
    // File downloads may come from the cache; the info file never does (the
    // inherited setting is derived from this one for each run).
    bool UseCache = true;
    TacAutoUpgraderWizard Wizard;
    // Empty stands for a single blank, as stored.
    const std::string& RestartParams() const { return restartParams_; }
    void SetRestartParams(const std::string& value) {
        restartParams_ = value.empty() ? " " : value;
    }
    bool AutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool value);

    TacAUBeginUpgradeEvent OnBeginUpgrade;
    fw::TNotifyEvent OnLaterUpgrade;
    fw::TNotifyEvent OnNoUpdateAvailable;
    fw::TNotifyEvent OnNoInfoFile;
    TacAUHostUnreachableEvent OnHostUnreachable;
    fw::TNotifyEvent OnConnLost;
    TacHTTPPasswordRequestEvent OnPasswordRequest;
    fw::TNotifyEvent OnAborted;
    fw::TNotifyEvent OnAfterRestart;
    fw::TNotifyEvent OnDoOwnCloseAppMethod;
    TacAUEndUpgradeEvent OnEndUpgrade;
    TacAUFileStartEvent OnFileStart;
    TacAUFileDoneEvent OnFileDone;
    TacAULostFileEvent OnLostFile;
    TacAUProgressEvent OnProgress;
    // An information file was refused (unsigned, badly signed, an unknown
    // key, another version's signature, a file without its SHA-256, an
    // address that is not http or https, too large); nothing was changed.
    std::function<void(fw::TObject* Sender, const std::string& Reason)> OnUnverified;

    // The built-in boxes, replaceable (tests answer them).
    // The question before an upgrade: shows the prepared info box (default:
    // Execute without the remembered state) and answers its modal result.
    std::function<fw::TModalResult(TacInfoBox& Box)> QuestionBox;
    // A yes/no message box (the lost file); true for yes.
    std::function<bool(const std::string& Caption, const std::string& Text, win::UINT Icon)> AskBox;
    std::function<void(const std::string& Caption, const std::string& Text)> ErrorBox;
    // An information box (a packaged install, a folder that cannot be written).
    std::function<void(const std::string& Caption, const std::string& Text)> NoticeBox;
    // The password dialog; true for OK (with the two entries stored).
    // Default: TacAutoUpgraderPasswordForm.
    std::function<bool(TacAutoUpgrader* Upgrader, const std::string& FileURL)> PasswordDialog;

protected:
    void Loaded() override;
    bool WantsHandOver(THTTPHandOver Step) const override;
    void DoDone(const std::string& AContentType, std::int64_t ABytes, fw::TStream* Data) override;
    void DoHeaderInfo(bool& AContinue) override;
    void DoDeclined() override;
    void DoDownloadProgress(fw::TStream* Data) override;
    void DoIncomplete(fw::TStream* Data) override;
    void DoNoResponse() override;
    void DoHTTPError(fw::TStream* Data) override;
    void DoAuthenticationRequest(const std::string& Realm, bool& ATryAgain) override;

private:
    enum class Mode { Info, Signature, Files };
    void Verify(const std::string& signature);
    void Refuse(const std::string& reason);
    void CheckResult(const std::string& text);
    // Whether the upgrade may go on here; tells why not.
    bool MayInstall(const std::string& version);
    // Once per version for a check the user did not start.
    bool FirstNotice(const std::string& what, const std::string& version);
    void ShowNotice(const std::string& text);
    bool AskUpgrade(const std::string& message);
    void OpenWebPage(std::string address);
    void BeginUpgrade();
    void NextFile();
    void FileReceived();
    void LostFile(int code);
    void EndUpgrade();
    // Ends the run: the end event, the HTTP run, the progress window.
    void Stop();
    // The progress window while it belongs to this upgrader, else nullptr.
    class TacAutoUpgraderWizardForm* WizardForm() const;
    void ShowError(int textIndex, const std::string& text);
    void DeleteTemporaryFiles();
    void AutoCheckTimer();
    void RestartTimer();
    static win::LRESULT WindowProc(win::HWND, win::UINT, win::WPARAM, win::LPARAM);

    Mode mode_ = Mode::Info;
    bool autoCheck_ = false;
    bool autoCheckPending_ = false;
    bool automatic_ = false;
    bool aborted_ = false;
    bool finished_ = false;
    bool restarting_ = false;
    bool ended_ = true;
    TacUpgradeMethod method_ = umSelfUpgrade;
    std::vector<upgrade_info::FileEntry> files_;
    std::vector<std::string> fileUrls_;
    std::string infoText_;
    bool byUser_ = false;
    // The files received and verified: what the helper installs.
    std::vector<upgrade_info::FileEntry> received_;
    size_t index_ = 0;
    std::string localFile_;
    TDateTime serverDate_ = 0;
    std::string restartParams_ = "/afterupgrade";
    win::HWND window_ = 0;
    // Cleared by the destructor, for the wait on the completed page.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
