#include "shell/only_one.h"

#include "framework/application.h"
#include "framework/form.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/window_pos.h"

using namespace win;

namespace {

constexpr const char* kClassName = "TacSimpleMessageHook";

// The live message-hook objects (the class lives as long as one does), and
// the one whose window is being created.
int g_hooks = 0;
TacSimpleMessageHook* g_creating = nullptr;

std::string Title() {
    return fw::Application ? fw::Application->Title() : std::string();
}

}  // namespace

// --- TacSimpleMessageHook -----------------------------------------------------------

TacSimpleMessageHook::TacSimpleMessageHook(TacOnlyOne* owner) : owner_(owner) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (g_hooks++ == 0) {
        WNDCLASSA wc;
        wc.lpfnWndProc = &TacSimpleMessageHook::InitialWndProc;
        wc.hInstance = instance;
        wc.lpszClassName = kClassName;
        RegisterClassA(&wc);
    }
    proc_ = MakeWindowProcInstance([this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        return WndProc(hwnd, msg, wParam, lParam);
    });
    g_creating = this;
    CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0,
                    fw::Application ? fw::Application->Handle() : 0, nullptr, instance, nullptr);
    g_creating = nullptr;
}

TacSimpleMessageHook::~TacSimpleMessageHook() {
    if (handle_)
        DestroyWindow(handle_);
    FreeWindowProcInstance(proc_);
    if (--g_hooks == 0)
        UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}

// The class's procedure sees only the first message of a new window: it puts
// the window's own object in its place.
LRESULT TacSimpleMessageHook::InitialWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TacSimpleMessageHook* self = g_creating;
    if (!self)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    g_creating = nullptr;
    self->handle_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->proc_));
    return self->WndProc(hwnd, msg, wParam, lParam);
}

LRESULT TacSimpleMessageHook::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    fw::TMessage m{msg, wParam, lParam, 0};
    fw::CallGuarded(owner_, [&] { owner_->MessageHandler(m); });
    return m.Result != 0 ? m.Result : DefWindowProcA(hwnd, msg, wParam, lParam);
}

// --- TacOnlyOne ---------------------------------------------------------------------

TacOnlyOne::TacOnlyOne(fw::TComponent* AOwner)
    : TacComponent(AOwner), hook_(new TacSimpleMessageHook(this)) {}

TacOnlyOne::~TacOnlyOne() {
    // The value goes while the guard still holds: a start that takes the
    // free guard at once publishes its own value, which a later withdrawal of
    // ours could race.
    Withdraw();
    if (guard_)
        CloseHandle(guard_);
    delete hook_;
}

void TacOnlyOne::Withdraw() {
    if (!registered_ || PublishedWindow() != registered_)
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, RegistryKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, ValueName().c_str());
        RegCloseKey(key);
    }
    registered_ = 0;
}

std::string TacOnlyOne::MutexName() {
    return "TacOnlyOne" + Title();
}

std::string TacOnlyOne::ValueName() {
    return Title();
}

HWND TacOnlyOne::PublishedWindow() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, RegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    const LONG r = RegQueryValueExA(key, ValueName().c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value : 0;
}

bool TacOnlyOne::AlreadyExists() {
    if (guard_)
        return exists_;
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName().c_str());
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex)
            CloseHandle(mutex);
        exists_ = true;
        return true;
    }
    guard_ = mutex;
    exists_ = false;
    return false;
}

void TacOnlyOne::SendSwitchToFirst() {
    SendMessageA(PublishedWindow(), WM_ACONLYONE_SWITCHTOFIRST, 0, 0);
}

void TacOnlyOne::SendShowFirst() {
    SendMessageA(PublishedWindow(), WM_ACONLYONE_SHOWFIRST, 0, 0);
}

void TacOnlyOne::SendCloseFirst() {
    SendMessageA(PublishedWindow(), WM_ACONLYONE_CLOSEFIRST, 0, 0);
}

bool TacOnlyOne::Terminate() {
    bool close = true;
    if (OnForcedTermination)
        OnForcedTermination(this, close);
    if (!close || !fw::Application)
        return false;
    if (fw::TForm* main = fw::Application->MainForm())
        main->Close();
    fw::Application->Terminate();
    return true;
}

void TacOnlyOne::Publish() {
    registered_ = MessageWindow();
    HKEY key = nullptr;
    // Without the right to write the key nothing is published; the mutex
    // still ends later instances.
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, RegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const DWORD value = registered_;
    RegSetValueExA(key, ValueName().c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
}

void TacOnlyOne::Loaded() {
    TacComponent::Loaded();
    if (Designing())
        return;
    if (AlreadyExists()) {
        if (OnAlreadyExist)
            OnAlreadyExist(this);
        if (ShowFirst)
            SendShowFirst();
        else if (SwitchToFirst)
            SendSwitchToFirst();
        if (CloseFirst)
            SendCloseFirst();
        if (CloseSecond && Terminate())
            return;
    }
    Publish();
}

void TacOnlyOne::MessageHandler(fw::TMessage& Message) {
    switch (Message.Msg) {
        case WM_ACONLYONE_SHOWFIRST:
            if (OnShowRequest) {
                OnShowRequest(this);
                Message.Result = 1;
                break;
            }
            [[fallthrough]];
        case WM_ACONLYONE_SWITCHTOFIRST: {
            if (!fw::Application)
                break;
            // The application's window has no pixels of its own here: what the
            // user sees of it is the main form, when that is shown. A program
            // hidden in the tray stays hidden.
            const HWND app = fw::Application->Handle();
            fw::TForm* main = fw::Application->MainForm();
            const HWND form = main && main->Visible() ? main->Handle() : 0;
            if (IsIconic(app) || (form && IsIconic(form))) {
                ShowWindow(app, SW_RESTORE);
                fw::Application->Restore();
            } else {
                BringWindowToTop(app);
                if (form)
                    BringWindowToTop(form);
            }
            SetForegroundWindow(app);
            if (form)
                SetForegroundWindow(form);
            Message.Result = 1;
            break;
        }
        case WM_ACONLYONE_CLOSEFIRST:
            // The later instance publishes its own window as soon as this
            // answer reaches it: withdraw ours now, or removing it at the end
            // could remove theirs.
            if (Terminate())
                Withdraw();
            Message.Result = 1;
            break;
        default:
            break;
    }
}
