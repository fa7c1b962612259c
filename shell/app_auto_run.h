#pragma once
// TacAppAutoRun: starts the program when the user logs in, through one string
// value under the registry's Run key (or RunOnce), and shows the state on its
// title-bar button (hidden until made visible), its system-menu item and a
// bound menu item or caption button. A click on any of them toggles it.
//
// The value: named after the application's title (the executable's full path
// when the title is empty), holding "<executable's full path>" /autorun,
// under HKEY_CURRENT_USER (rlCurrentUser) or HKEY_LOCAL_MACHINE
// (rlLocalMachine), key Software\Microsoft\Windows\CurrentVersion\Run, or
// ...\RunOnce. On this system a Run value is the freedesktop autostart entry
// of the user (~/.config/autostart) or of the machine (/etc/xdg/autostart),
// which the desktop starts at login; only root may write the machine's, so
// for a normal user rlLocalMachine stays unregistered, silently. A RunOnce
// value is only kept in the registry: nothing starts it (platform/registry.h).
//
// AutoRun reads whether the value exists (not what it holds): a value that
// names another executable still counts, and is not rewritten. Every
// registry failure reads as "not registered", silently but for one: a program
// path that no autostart entry can hold (not UTF-8, a backslash, or a control
// character other than tab and line breaks) is said on standard error, and no entry is
// written. The value's data quotes the path so that it reads back whole,
// whatever it holds ("...", with \" for a quote).
//
// The logon notice (LogonNotice) writes the legal-notice values of the
// machine's WinLogon key; no login manager on this system reads them.
//
// Threads: main thread only.

#include <functional>
#include <string>

#include "platform/registry.h"
#include "shell/caption_button.h"

class TacAppAutoRun;

// The machine's logon notice: when Enabled, "LegalNoticeCaption" = Caption and
// "LegalNoticeText" = Text, else neither value; written on every change.
class TacAutoRunLogonNotice : public fw::TObject {
public:
    explicit TacAutoRunLogonNotice(TacAppAutoRun* owner) : owner_(owner) {}

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    const std::string& Text() const { return text_; }
    void SetText(const std::string& v);

    // The WinLogon key of the machine's registry that holds the values.
    static const char* KeyPath();

private:
    void Apply() const;

    TacAppAutoRun* owner_;
    std::string caption_;
    bool enabled_ = false;
    std::string text_;
};

using TacAutoRunButtonClickEvent = std::function<void(fw::TObject* Sender, bool AutoRun)>;

class TacAppAutoRun : public TacCaptionButtonWithMenuItem {
public:
    explicit TacAppAutoRun(fw::TComponent* AOwner);
    ~TacAppAutoRun() override;

    // Whether the value exists (outside design time this reads the registry).
    bool AutoRun() const override;
    // Writes or deletes the value when the state changes, then updates the
    // indicator and raises OnAutoRunChanged; a bound item follows in any case.
    void SetAutoRun(bool Value) override;

    TacRegLocation RunFor() const { return runFor_; }
    // Moves a registered program to the new place.
    void SetRunFor(TacRegLocation v);
    bool RunOnce() const { return runOnce_; }
    void SetRunOnce(bool v);
    TacAutoRunLogonNotice* LogonNotice() const { return logonNotice_; }

    // Whether the program was started with "/autorun" (any case).
    bool StartedByAutoRun() const { return startedByAutoRun_; }

    // Where the value is: the root, the key path and the value's name and data.
    std::string KeyPath() const;
    static std::string ValueName();
    static std::string ValueData();

    // Raised when loading ends in a program started with "/autorun".
    fw::TNotifyEvent OnAutoRun;
    // Raised after the value was written or deleted.
    fw::TNotifyEvent OnAutoRunChanged;
    // Raised after the title-bar button or the system-menu item toggled the
    // state, with the new state.
    TacAutoRunButtonClickEvent OnButtonClick;

    void Loaded() override;

protected:
    void Click() override;
    // The system-menu item's check mark shows the state.
    bool MenuItemChecked() const override { return cached_; }

private:
    bool Designing() const { return ComponentState().Contains(fw::csDesigning); }
    void UpdateIndicator();
    void Move(TacRegLocation runFor, bool runOnce);

    mutable bool cached_ = false;
    bool startedByAutoRun_ = false;
    TacRegLocation runFor_ = rlCurrentUser;
    bool runOnce_ = false;
    TacAutoRunLogonNotice* logonNotice_;
};
