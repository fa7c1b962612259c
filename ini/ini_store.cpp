#include "ini/ini_store.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "framework/application.h"
#include "framework/form.h"
#include "ini/ini_text.h"
#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/user.h"

namespace {

constexpr unsigned char kMarker = 0xB6;
constexpr unsigned char kKey = 0x13;

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of a path with its trailing separator ("" when there is none).
std::string ExtractFilePath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ReadWholeFile's own failures, beside the errno values.
constexpr int kNotRegular = -1;
constexpr int kTooLarge = -2;
// No settings file comes near this; a larger file is refused rather than
// read into memory.
constexpr std::size_t kMaxFileSize = 64 << 20;

std::string SysErrorMessage(int err) {
    switch (err) {
        case kNotRegular:
            return "It is not a regular file (a FIFO, device or socket), so it cannot hold "
                   "settings";
        case kTooLarge:
            return "It is larger than 64 MiB, too large for a settings file";
        default:
            return std::strerror(err);
    }
}

[[noreturn]] void RaiseInOutError(int err, const std::string& path) {
    if (err == kNotRegular || err == kTooLarge) {
        throw EInOutError("Cannot read file \"" + path + "\". " + SysErrorMessage(err), 5);
    }
    const int code = static_cast<int>(win::WindowsErrorFromErrno(err));
    std::string message;
    switch (code) {
        case 2:
            message = "File not found";
            break;
        case 3:
            message = "Invalid filename";
            break;
        case 4:
            message = "Too many open files";
            break;
        case 5:
            message = "File access denied";
            break;
        default:
            message = "I/O error " + std::to_string(code);
            break;
    }
    // The run-time library's message does not say which file; the user needs
    // to know.
    throw EInOutError(message + ": \"" + path + "\"", code);
}

// Reads a whole regular file; 0, the errno of the failure, kNotRegular or
// kTooLarge. Opening does not wait for a writer (a FIFO would block it).
int ReadWholeFile(const std::string& path, std::string& out) {
    const int err = win::ReadFileContents(path, out, kMaxFileSize);
    return err == EINVAL || err == EISDIR ? kNotRegular : err == EFBIG ? kTooLarge : err;
}

// Replaces the file at path by one holding data, all or nothing, through a
// symbolic link, keeping its mode (new files are the owner's only: they hold
// passwords), and refusing a read-only file. 0 or the errno of the failure.
int ReplaceFile(const std::string& path, const std::string& data) {
    return win::ReplaceFileContents(path, data, 0600);
}

// A value as read: deciphered when it carries the marker.
std::string StoredValue(std::string_view value) {
    if (!value.empty() && static_cast<unsigned char>(value[0]) == kMarker)
        return TzIni::DecryptValue(std::string(value));
    return std::string(value);
}

bool BreaksLine(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// The class name of an object as its declaration spells it ("TForm1"),
// without namespaces.
std::string ClassNameOf(const fw::TObject& object) {
    const char* mangled = typeid(object).name();
    int status = 0;
    char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && plain) ? plain : mangled;
    std::free(plain);
    const std::size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

// The path with the extension of its file name replaced by (or given) ext.
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
}

std::string ZeroPad4(int value) {
    std::string text = std::to_string(value);
    if (text.size() < 4)
        text.insert(0, 4 - text.size(), '0');
    return text;
}

}  // namespace

// The replacement window procedure's state. It outlives the store when another
// procedure was put in front of ours later: then ours must stay callable and
// only pass messages on.
struct TzIni::Hook {
    TzIni* Store = nullptr;
    win::HWND Wnd = 0;
    win::WNDPROC Previous = nullptr;
    win::WNDPROC Own = nullptr;
};

TzIni::TzIni(fw::TComponent* AOwner) : fw::TComponent(AOwner) {
    if (AOwner) {
        OwnerForm = dynamic_cast<fw::TForm*>(AOwner);
        if (!OwnerForm)
            throw fw::EInvalidOperation("TzIni must be owned by a form");
    }
    if (Application && Application->MainForm() && Application->MainForm() != AOwner) {
        fw::TForm* main = Application->MainForm();
        for (int i = 0; i < main->ComponentCount(); ++i) {
            if (auto* first = dynamic_cast<TzIni*>(main->Components(i))) {
                // Copied directly: the lent file name restores no placement.
                FFileName = first->FFileName;
                FFormSave = first->FFormSave;
                FFileNameAutoSet = first->FFileNameAutoSet;
                FEncryptValues = first->FEncryptValues;
                break;
            }
        }
    }
    if (OwnerForm)
        HookOwner();
}

TzIni::~TzIni() {
    // The framework frees a form's components before it destroys the form's
    // window, so a store that dies with its owner saves the placement here,
    // while the form is still whole; WM_DESTROY covers the other cases.
    if (OwnerForm && OwnerForm->IsDestroying() && FHook && win::IsWindow(FHook->Wnd)) {
        fw::CallGuarded(this, [this] { SaveFormPlacement(); });
    }
    UnhookOwner();
}

void TzIni::HookOwner() {
    auto hook = std::make_shared<Hook>();
    hook->Store = this;
    hook->Wnd = OwnerForm->Handle();
    hook->Previous =
        reinterpret_cast<win::WNDPROC>(win::GetWindowLongPtrA(hook->Wnd, win::GWLP_WNDPROC));
    std::weak_ptr<Hook> weak = hook;
    hook->Own = win::MakeWindowProcInstance([weak](win::HWND hwnd, win::UINT msg,
                                                   win::WPARAM wParam, win::LPARAM lParam) {
        const std::shared_ptr<Hook> h = weak.lock();
        if (!h)
            return win::DefWindowProcA(hwnd, msg, wParam, lParam);
        const win::LRESULT result = win::CallWindowProcA(h->Previous, hwnd, msg, wParam, lParam);
        if (msg == win::WM_DESTROY && h->Store) {
            TzIni* store = h->Store;
            fw::CallGuarded(store, [store] { store->SaveFormPlacement(); });
        }
        return result;
    });
    win::SetWindowLongPtrA(hook->Wnd, win::GWLP_WNDPROC,
                           reinterpret_cast<win::LONG_PTR>(hook->Own));
    FHook = std::move(hook);
}

void TzIni::UnhookOwner() {
    if (!FHook)
        return;
    FHook->Store = nullptr;
    const bool alive = win::IsWindow(FHook->Wnd);
    const auto current =
        alive
            ? reinterpret_cast<win::WNDPROC>(win::GetWindowLongPtrA(FHook->Wnd, win::GWLP_WNDPROC))
            : nullptr;
    if (!alive || current == FHook->Own) {
        if (alive) {
            win::SetWindowLongPtrA(FHook->Wnd, win::GWLP_WNDPROC,
                                   reinterpret_cast<win::LONG_PTR>(FHook->Previous));
        }
        win::FreeWindowProcInstance(FHook->Own);
    } else {
        // A later hook still calls ours: keep it as a pass-through for the
        // window's life (the state stays alive through that procedure).
        static std::vector<std::shared_ptr<Hook>> passThrough;
        passThrough.push_back(FHook);
    }
    FHook.reset();
}

std::string TzIni::OwnerClassName() {
    // While the form is being freed its dynamic type is no longer its own
    // class: the name from before stands.
    if (!OwnerForm->IsDestroying())
        FOwnerClassName = ClassNameOf(*OwnerForm);
    return FOwnerClassName;
}

void TzIni::SetFileName(const std::string& value) {
    if (value == FFileName)
        return;
    FFileName = value;
    LoadFormPlacement();
}

void TzIni::Loaded() {
    fw::TComponent::Loaded();
    if (OwnerForm)
        (void)OwnerClassName();  // the form is complete now
    if (!FFileName.empty() || FFileNameAutoSet == fspNone)
        return;
    const std::string exe = win::ExecutablePath();
    if (FFileNameAutoSet == fspAppDir) {
        FFileName = ChangeFileExt(exe, ".ini");
    } else {
        // The Windows directory's counterpart here is the user's configuration
        // folder ($XDG_CONFIG_HOME, else ~/.config): see GetWindowsDirectoryA.
        char dir[255];
        const win::UINT n = win::GetWindowsDirectoryA(dir, sizeof dir);
        if (n == 0 || n >= sizeof dir)
            return;
        const std::size_t slash = exe.rfind('/');
        FFileName = std::string(dir, n) + "/" +
                    ChangeFileExt(slash == std::string::npos ? exe : exe.substr(slash + 1), ".ini");
    }
    LoadFormPlacement();
}

void TzIni::LoadFormPlacement() {
    if (!OwnerForm || FFormSave == fsfNone || !FileExists(FFileName))
        return;
    const std::string value = ReadString(OwnerClassName(), "");
    if (value.size() != 16)
        return;
    int left = OwnerForm->Left(), top = OwnerForm->Top();
    int width = OwnerForm->Width(), height = OwnerForm->Height();
    if (FFormSave != fsfSize) {
        left = NumberTextToInt(value.substr(0, 4));
        top = NumberTextToInt(value.substr(4, 4));
    }
    if (FFormSave != fsfPosition) {
        width = NumberTextToInt(value.substr(8, 4));
        height = NumberTextToInt(value.substr(12, 4));
    }
    OwnerForm->SetBounds(left, top, width, height);
}

template <class Change>
void TzIni::InRound(Change change) {
    const bool opened = Edit();
    try {
        change();
        if (!opened)
            Post();
    } catch (...) {
        // A round this call opened must not leave a working copy behind:
        // later writes would change only that copy and never reach the file.
        if (!opened)
            Working.reset();
        throw;
    }
}

void TzIni::SaveFormPlacement() {
    if (!OwnerForm || FFormSave == fsfNone || FFileName.empty())
        return;
    const QWidget* window = OwnerForm->Widget();
    if (window && (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
        return;
    InRound([&] {
        WriteString(OwnerClassName(),
                    ZeroPad4(OwnerForm->Left()) + ZeroPad4(OwnerForm->Top()) +
                        ZeroPad4(OwnerForm->Width()) + ZeroPad4(OwnerForm->Height()),
                    false);
    });
}

namespace {

// The file-creation error, with what the user can do about a refusal.
[[noreturn]] void RaiseCreateError(const std::string& file, int err) {
    std::string text = "Cannot create file \"" + file + "\". " + SysErrorMessage(err);
    if (err == EACCES || err == EPERM || err == EROFS) {
        const std::string target = win::FileWriteTarget(file);
        std::string dir = ExtractFilePath(target);
        if (dir.empty())
            dir = "./";
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
            text += ". The file is read-only; make it writable to save the settings";
        } else if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            // A shared install: saving replaces the file, which needs a new
            // file beside it; writing in place could leave half a file.
            text +=
                ". The settings are saved by replacing the file, which needs a new file "
                "in its folder, and the folder \"" +
                dir +
                "\" cannot be written to; make the folder writable for you, or keep "
                "Quilvane in a folder of your own";
        }
    }
    throw EFCreateError(text);
}

}  // namespace

bool TzIni::Edit() {
    if (Working)
        return true;
    std::vector<std::string> lines;
    if (FileExists(FFileName)) {
        std::string text;
        if (const int err = ReadWholeFile(FFileName, text)) {
            throw EFOpenError("Cannot open file \"" + FFileName + "\". " + SysErrorMessage(err));
        }
        lines = zini::SplitLines(text);
    } else if (!DirectoryExists(ExtractFilePath(FFileName))) {
        throw EzIniError("Can't create file:\r" + FFileName);
    } else if (const int err = ReplaceFile(FFileName, std::string())) {
        RaiseCreateError(FFileName, err);
    }
    Working.emplace(std::move(lines));
    return false;
}

void TzIni::Post() {
    if (!Working)
        throw EzIniError("Post: Not edit mode");
    if (const int err = ReplaceFile(FFileName, Working->Text())) {
        RaiseCreateError(FFileName, err);
    }
    Working.reset();
}

std::vector<std::string_view> TzIni::WorkingNames() const {
    return Working ? Working->EntryNames() : std::vector<std::string_view>();
}

bool TzIni::FindValue(const std::string& name, std::string& value) const {
    if (!FileExists(FFileName))
        return false;
    std::string text;
    if (const int err = ReadWholeFile(FFileName, text))
        RaiseInOutError(err, FFileName);
    return zini::ForEachLine(text, [&](std::string_view line) {
        std::string_view lineName;
        if (!zini::EntryName(line, lineName) || !zini::SameName(lineName, name))
            return false;
        value = StoredValue(line.substr(lineName.size() + 1));
        return true;
    });
}

std::string TzIni::ReadString(const std::string& name, const std::string& defaultValue) const {
    std::string value;
    return FindValue(name, value) ? value : defaultValue;
}

std::int32_t TzIni::ReadInteger(const std::string& name, std::int32_t defaultValue) const {
    std::string value;
    return FindValue(name, value) ? NumberTextToInt(value) : defaultValue;
}

TzIniEntries TzIni::ReadEntries() const {
    if (!FileExists(FFileName))
        return TzIniEntries();
    std::string text;
    if (const int err = ReadWholeFile(FFileName, text))
        RaiseInOutError(err, FFileName);
    return TzIniEntries(zini::TLineList(zini::SplitLines(text)));
}

bool TzIniEntries::FindValue(const std::string& name, std::string& value) const {
    const std::size_t i = Lines.Find(name);
    if (i == zini::TLineList::npos)
        return false;
    value = StoredValue(Lines.Value(i));
    return true;
}

std::string TzIniEntries::ReadString(const std::string& name,
                                     const std::string& defaultValue) const {
    std::string value;
    return FindValue(name, value) ? value : defaultValue;
}

std::int32_t TzIniEntries::ReadInteger(const std::string& name, std::int32_t defaultValue) const {
    std::string value;
    return FindValue(name, value) ? TzIni::NumberTextToInt(value) : defaultValue;
}

void TzIni::WriteString(const std::string& name, const std::string& value, bool encrypt) {
    const std::string stored = (encrypt || FEncryptValues) ? EncryptValue(value) : value;
    if (BreaksLine(name) || BreaksLine(stored)) {
        throw EzIniError("Value can't be stored in a line:\r" + name);
    }
    InRound([&] {
        const std::size_t i = Working->Find(name);
        if (i == zini::TLineList::npos) {
            Working->Append(name + "=" + stored);
        } else if (!stored.empty()) {
            const std::string& line = Working->Line(i);
            Working->Replace(i, line.substr(0, line.find('=') + 1) + stored);
        } else {
            Working->Erase(i);
        }
    });
}

void TzIni::WriteInteger(const std::string& name, std::int32_t value, bool encrypt) {
    WriteString(name, std::to_string(value), encrypt);
}

void TzIni::DeleteKey(const std::string& name) {
    InRound([&] {
        const std::size_t i = Working->Find(name);
        if (i != zini::TLineList::npos)
            Working->Erase(i);
    });
}

std::string TzIni::EncryptValue(const std::string& value) {
    if (value.size() < 2)
        return value;
    std::string out;
    out.reserve(value.size() + 1);
    out += static_cast<char>(kMarker);
    for (char c : value)
        out += static_cast<char>(static_cast<unsigned char>(c) ^ kKey);
    return out;
}

std::string TzIni::DecryptValue(const std::string& value) {
    if (value.size() < 3 || static_cast<unsigned char>(value[0]) != kMarker)
        return value;
    std::string out;
    out.reserve(value.size() - 1);
    for (std::size_t i = 1; i < value.size(); ++i) {
        out += static_cast<char>(static_cast<unsigned char>(value[i]) ^ kKey);
    }
    return out;
}

std::int32_t TzIni::NumberTextToInt(const std::string& text) {
    return zini::NumberTextToInt(text, zini::SystemSeparators());
}

double TzIni::NumberTextToFloat(const std::string& text) {
    return zini::NumberTextToFloat(text, zini::SystemSeparators());
}

std::string TzIni::CleanNumberText(const std::string& text) {
    return zini::CleanNumberText(text, zini::SystemSeparators());
}
