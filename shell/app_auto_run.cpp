#include "shell/app_auto_run.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "framework/application.h"
#include "platform/kernel.h"
#include "platform/menu.h"
#include "platform/registry.h"

using namespace win;

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Closes a registry key when it goes out of scope.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The glyphs of the two states, loaded once.
const fw::TBitmap& StateGlyph(bool enabled) {
    static const fw::TBitmap* glyphs[2] = {nullptr, nullptr};
    const fw::TBitmap*& glyph = glyphs[enabled ? 1 : 0];
    if (!glyph) {
        auto* loaded = new fw::TBitmap;
        loaded->LoadFromResourceName(enabled ? "ACCB_AUTORUN_ENABLED" : "ACCB_AUTORUN_DISABLED");
        glyph = loaded;
    }
    return *glyph;
}

}  // namespace

// --- TacAutoRunLogonNotice ----------------------------------------------------------

const char* TacAutoRunLogonNotice::KeyPath() {
    // The key of every system but NT 3.x to XP: this one is none of those, as
    // the tray icon counts it too.
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Winlogon";
}

void TacAutoRunLogonNotice::SetCaption(const std::string& v) {
    if (v == caption_)
        return;
    caption_ = v;
    Apply();
}

void TacAutoRunLogonNotice::SetEnabled(bool v) {
    if (v == enabled_)
        return;
    enabled_ = v;
    Apply();
}

void TacAutoRunLogonNotice::SetText(const std::string& v) {
    if (v == text_)
        return;
    text_ = v;
    Apply();
}

void TacAutoRunLogonNotice::Apply() const {
    if (owner_->ComponentState().Contains(fw::csDesigning))
        return;
    // The key is opened, never created, and every failure is ignored.
    Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath(), 0, KEY_ALL_ACCESS, key.Out()) != ERROR_SUCCESS)
        return;
    if (enabled_) {
        RegSetValueExA(key.Get(), "LegalNoticeCaption", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(caption_.c_str()),
                       static_cast<DWORD>(caption_.size() + 1));
        RegSetValueExA(key.Get(), "LegalNoticeText", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text_.c_str()),
                       static_cast<DWORD>(text_.size() + 1));
    } else {
        RegDeleteValueA(key.Get(), "LegalNoticeCaption");
        RegDeleteValueA(key.Get(), "LegalNoticeText");
    }
}

// --- TacAppAutoRun ------------------------------------------------------------------

TacAppAutoRun::TacAppAutoRun(fw::TComponent* AOwner)
    : TacCaptionButtonWithMenuItem(AOwner), logonNotice_(new TacAutoRunLogonNotice(this)) {
    CaptionButton()->SetVisible(false);
    Glyph()->Assign(StateGlyph(false));
    CaptionButton()->SetHint("Auto-run at StartUp");
    SystemMenu()->SetCaption("Auto-run at &StartUp");
    const HMENU menu = HookedWindow() ? SystemMenuHandle() : nullptr;
    SystemMenu()->SetPosition(menu ? static_cast<WORD>(GetMenuItemCount(menu)) : 0);
    SystemMenu()->SetSeparators({seBefore});
}

TacAppAutoRun::~TacAppAutoRun() {
    delete logonNotice_;
}

std::string TacAppAutoRun::KeyPath() const {
    return runOnce_ ? std::string(kRunKey) + "Once" : std::string(kRunKey);
}

std::string TacAppAutoRun::ValueName() {
    const std::string title = fw::Application ? fw::Application->Title() : std::string();
    return title.empty() ? ExecutablePath() : title;
}

std::string TacAppAutoRun::ValueData() {
    // The path as one quoted argument that CommandLineToArgvA reads back
    // whole, whatever it holds: a quote as \", and the backslashes before a
    // quote (or the closing one) doubled. A Windows path holds neither, so it
    // is written as ever: "C:\dir\prog.exe" /autorun.
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : ExecutablePath()) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\" /autorun";
}

bool TacAppAutoRun::AutoRun() const {
    if (Designing())
        return cached_;
    Key key;
    cached_ = RegOpenKeyExA(RegLocationRoot(runFor_), KeyPath().c_str(), 0, KEY_READ, key.Out()) ==
                  ERROR_SUCCESS &&
              RegQueryValueExA(key.Get(), ValueName().c_str(), nullptr, nullptr, nullptr,
                               nullptr) == ERROR_SUCCESS;
    return cached_;
}

void TacAppAutoRun::SetAutoRun(bool Value) {
    if (Value != AutoRun() && !Designing()) {
        cached_ = Value;
        // Failures leave the program unregistered, without a word.
        Key key;
        if (Value) {
            if (RegCreateKeyExA(RegLocationRoot(runFor_), KeyPath().c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                                nullptr) == ERROR_SUCCESS) {
                const std::string data = ValueData();
                // A path that no autostart entry can hold is the one failure
                // the user can act on (by moving the program): it is said.
                if (RegSetValueExA(key.Get(), ValueName().c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>(data.size() + 1)) == ERROR_BAD_PATHNAME) {
                    std::fprintf(stderr,
                                 "%s: auto-run at start-up is not set: the program's path "
                                 "cannot be written in an autostart entry (it is not UTF-8, "
                                 "or holds a backslash or a control character); move the "
                                 "program to a plain path\n",
                                 ValueName().c_str());
                }
            }
        } else if (RegOpenKeyExA(RegLocationRoot(runFor_), KeyPath().c_str(), 0, KEY_ALL_ACCESS,
                                 key.Out()) == ERROR_SUCCESS) {
            RegDeleteValueA(key.Get(), ValueName().c_str());
        }
        UpdateIndicator();
        if (OnAutoRunChanged)
            OnAutoRunChanged(this);
    }
    TacCaptionButtonWithMenuItem::SetAutoRun(Value);
}

void TacAppAutoRun::UpdateIndicator() {
    const bool on = AutoRun();
    Glyph()->Assign(StateGlyph(on));
    CheckSystemMenuItem(cached_);
}

void TacAppAutoRun::Move(TacRegLocation runFor, bool runOnce) {
    const bool registered = cached_;
    if (registered)
        SetAutoRun(false);
    runFor_ = runFor;
    runOnce_ = runOnce;
    if (registered && !cached_)
        SetAutoRun(true);
}

void TacAppAutoRun::SetRunFor(TacRegLocation v) {
    if (v != runFor_)
        Move(v, runOnce_);
}

void TacAppAutoRun::SetRunOnce(bool v) {
    if (v != runOnce_)
        Move(runFor_, v);
}

void TacAppAutoRun::Click() {
    TacCaptionButtonWithMenuItem::Click();
    SetAutoRun(!cached_);
    if (OnButtonClick)
        OnButtonClick(this, cached_);
}

void TacAppAutoRun::Loaded() {
    TacCaptionButtonWithMenuItem::Loaded();
    UpdateIndicator();
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i)
        if (args[i].compare("/autorun", Qt::CaseInsensitive) == 0)
            startedByAutoRun_ = true;
    if (startedByAutoRun_ && OnAutoRun)
        OnAutoRun(this);
}
