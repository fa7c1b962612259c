#include "upgrade/auto_upgrader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/form.h"
#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/product.h"
#include "platform/registry.h"
#include "platform/resource.h"
#include "platform/shell_execute.h"
#include "platform/winsock.h"
#include "upgrade/password_form.h"
#include "upgrade/signature.h"
#include "upgrade/wizard_form.h"

extern char** environ;

namespace {

constexpr char kWindowClass[] = "TacAutoUpgraderWindow";
constexpr win::UINT_PTR kAutoCheckTimer = 1;
win::UINT g_autoCheckPeriod = 10000;
constexpr char kTemporarySuffix[] = ".uTMP";

std::string g_programPathForTesting;
// A signature file is a few lines.
constexpr std::int64_t kMaxSignatureFile = 4096;
constexpr char kNoticeKey[] = "AutoUpgrader";

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The default value of an HKEY_CLASSES_ROOT key; empty when missing.
std::string ClassesRootDefault(const std::string& key) {
    win::HKEY k = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CLASSES_ROOT, key.c_str(), 0, win::KEY_READ, &k) !=
        win::ERROR_SUCCESS)
        return {};
    char data[2048];
    win::DWORD size = sizeof data - 1;
    win::DWORD type = 0;
    std::string value;
    if (win::RegQueryValueExA(k, nullptr, nullptr, &type, reinterpret_cast<win::BYTE*>(data),
                              &size) == win::ERROR_SUCCESS &&
        (type == win::REG_SZ || type == win::REG_EXPAND_SZ)) {
        value.assign(data, size);
        value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    }
    win::RegCloseKey(k);
    return value;
}

// The names of the keys directly below an HKEY_CLASSES_ROOT key.
std::vector<std::string> ClassesRootChildren(const std::string& key) {
    std::vector<std::string> names;
    win::HKEY k = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CLASSES_ROOT, key.c_str(), 0, win::KEY_READ, &k) !=
        win::ERROR_SUCCESS)
        return names;
    for (win::DWORD i = 0;; ++i) {
        char name[256];
        win::DWORD size = sizeof name;
        if (win::RegEnumKeyExA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            win::ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    win::RegCloseKey(k);
    return names;
}

// The program registered for "html" documents, or empty.
std::string HtmlProgram() {
    const std::string fileClass = ClassesRootDefault(".html");
    if (fileClass.empty())
        return {};
    std::string command = ClassesRootDefault(fileClass + "\\shell\\open\\command");
    if (command.empty()) {
        const auto verbs = ClassesRootChildren(fileClass + "\\shell");
        for (const auto& verb : verbs)
            if (Lower(verb).find("open") != std::string::npos) {
                command = ClassesRootDefault(fileClass + "\\shell\\" + verb + "\\command");
                break;
            }
        for (size_t i = 0; command.empty() && i < verbs.size(); ++i)
            command = ClassesRootDefault(fileClass + "\\shell\\" + verbs[i] + "\\command");
    }
    if (command.empty())
        return {};
    if (command[0] == '"') {
        const size_t close = command.find('"', 1);
        return command.substr(1, close == std::string::npos ? close : close - 1);
    }
    size_t end = command.size();
    for (const char* stop : {" -", " /", " %"})
        end = std::min(end, command.find(stop));
    return command.substr(0, end);
}

// Only the web's own schemes; an address without one is taken as http.
bool IsWebAddress(const std::string& url) {
    if (url.empty())
        return false;
    const size_t sep = url.find("://");
    if (sep == std::string::npos)
        return true;
    const std::string scheme = Lower(url.substr(0, sep));
    return scheme == "http" || scheme == "https";
}

bool IsSha256(const std::string& hex) {
    return hex.size() == 64 && std::all_of(hex.begin(), hex.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

// The SHA-256 of a file in lower-case hex; empty when it cannot be read.
std::string FileSha256(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex().toStdString();
}

// Writes the helper image completely into its private folder, checks what
// was written through a descriptor of its own, and starts the helper from
// that descriptor, detached; false when any step fails (nothing runs then).
// The helper's folder as a box names it: the private runtime folder, or,
// where that cannot be had, which folder and why.
std::string HelperFolderText() {
    std::string why;
    const std::string folder = win::PrivateRuntimeFolder(&why);
    return folder.empty() ? why : folder;
}

bool StartHelper(const std::vector<std::string>& args) {
    const std::string& helper = args[0];
    const std::string folder = helper.substr(0, helper.rfind('/'));
    const std::string name = helper.substr(helper.rfind('/') + 1);
    const win::HRSRC resource = win::FindResourceA(nullptr, "ACUPG", "ACUPG");
    if (!resource || !win::EnsurePrivateFolder(folder))
        return false;
    const char* image = win::LockResource(win::LoadResource(nullptr, resource));
    const size_t size = win::SizeofResource(nullptr, resource);
    const uid_t me = ::geteuid();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(dir, &st) == 0 && st.st_uid == me && (st.st_mode & 022) == 0;
    int exe = -1;
    if (ok) {
        ::unlinkat(dir, name.c_str(), 0);
        const int out =
            ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
        ok = out >= 0 && ::fstat(out, &st) == 0;
        const ino_t written = st.st_ino;
        for (size_t done = 0; ok && done < size;) {
            const ssize_t n = ::write(out, image + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? static_cast<size_t>(n) : 0;
        }
        ok = ok && ::fsync(out) == 0;
        if (out >= 0 && ::close(out) != 0)
            ok = false;
        if (ok) {
            exe = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            ok = exe >= 0 && ::fstat(exe, &st) == 0 && S_ISREG(st.st_mode) &&
                 st.st_ino == written && st.st_uid == me && (st.st_mode & 07777) == 0700 &&
                 static_cast<size_t>(st.st_size) == size;
        }
        if (!ok)
            ::unlinkat(dir, name.c_str(), 0);
    }
    ::close(dir);
    if (!ok) {
        if (exe >= 0)
            ::close(exe);
        return false;
    }

    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The helper outlives the program, so it is started by a child that ends
    // at once; the grandchild reports a failed start through the pipe.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(exe);
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::fork() == 0) {
            ::fexecve(exe, argv.data(), environ);
            const int err = errno;
            [[maybe_unused]] const ssize_t n = ::write(report[1], &err, sizeof err);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(exe);
    bool started = false;
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        int err = 0;
        ssize_t n;
        while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
        }
        started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
    }
    ::close(report[0]);
    return started;
}

}  // namespace

// --- TacAutoUpgraderWizard ---------------------------------------------------

void TacAutoUpgraderWizard::SetLanguage(TacAutoUpgraderLanguage value) {
    language_ = value;
    upgrader_texts::SetLanguage(value);
}

// --- TacAutoUpgrader ---------------------------------------------------------

TacAutoUpgrader::TacAutoUpgrader(fw::TComponent* AOwner) : TacCustomHTTP(AOwner) {
    Wizard.SetLanguage(TacAutoUpgraderLanguage::wlAuto);
    VersionDate = upgrade_info::FormatDate(upgrade_info::Today());
    // The leftover helper of an earlier upgrade.
    if (!HelperPath().empty())
        ::unlink(HelperPath().c_str());

    const win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
    win::WNDCLASSA wc{};
    if (!win::GetClassInfoA(instance, kWindowClass, &wc)) {
        wc.lpfnWndProc = &TacAutoUpgrader::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kWindowClass;
        win::RegisterClassA(&wc);
    }
    window_ =
        win::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
    if (window_)
        win::SetWindowLongPtrA(window_, win::GWLP_USERDATA, reinterpret_cast<win::LONG_PTR>(this));
}

TacAutoUpgrader::~TacAutoUpgrader() {
    *alive_ = false;
    if (TacAutoUpgraderWizardForm* wizard = WizardForm()) {
        wizard->Upgrader = nullptr;
        wizard->Close();
    }
    if (window_) {
        win::KillTimer(window_, kAutoCheckTimer);
        win::SetWindowLongPtrA(window_, win::GWLP_USERDATA, 0);
        win::DestroyWindow(window_);
    }
}

std::string TacAutoUpgrader::HelperPath() {
    // The program's private runtime folder (made and checked by the platform
    // layer: the user's, closed to others, not a link, in folders no other
    // user may change), so nobody else can put a program of his there. Asked
    // again at each call: the environment may change between upgraders.
    const std::string folder = win::PrivateRuntimeFolder();
    return folder.empty() ? std::string() : folder + "/Upgrader3";
}

std::string TacAutoUpgrader::ProgramPath() {
    return g_programPathForTesting.empty() ? win::ExecutablePath() : g_programPathForTesting;
}

void TacAutoUpgrader::SetAutoCheckPeriodForTesting(win::UINT ms) {
    g_autoCheckPeriod = ms;
}

TacAutoUpgraderWizardForm* TacAutoUpgrader::WizardForm() const {
    TacAutoUpgraderWizardForm* wizard = TacAutoUpgraderWizardForm::Instance();
    return wizard && wizard->Upgrader == this ? wizard : nullptr;
}

void TacAutoUpgrader::SetProgramPathForTesting(const std::string& path) {
    g_programPathForTesting = path;
}

std::string TacAutoUpgrader::ProgramFolder() {
    const std::string path = ProgramPath();
    return path.substr(0, path.rfind('/') + 1);
}

bool TacAutoUpgrader::IsOnline() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return false;
    win::WSADATA data{};
    if (win::WSAStartup(0x0101, &data) != 0)
        return false;
    bool online = false;
    if (const win::hostent* host = win::gethostbyname(name); host && host->h_addr_list[0]) {
        win::in_addr addr{};
        std::memcpy(&addr, host->h_addr_list[0], sizeof addr);
        online = std::string(win::inet_ntoa(addr)) != "127.0.0.1";
    }
    win::WSACleanup();
    return online;
}

void TacAutoUpgrader::Loaded() {
    TacCustomHTTP::Loaded();
    const QStringList args = QCoreApplication::arguments();
    if (OnAfterRestart && args.size() > 1 && args[1].toStdString() == restartParams_)
        OnAfterRestart(this);
}

void TacAutoUpgrader::SetAutoCheck(bool value) {
    autoCheck_ = value;
    RestartTimer();
}

void TacAutoUpgrader::RestartTimer() {
    if (!window_)
        return;
    win::KillTimer(window_, kAutoCheckTimer);
    if (autoCheck_ && !autoCheckPending_ &&
        win::SetTimer(window_, kAutoCheckTimer, g_autoCheckPeriod, nullptr) == 0)
        throw fw::EOutOfResources("Not enough timers available");
}

win::LRESULT TacAutoUpgrader::WindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                         win::LPARAM lParam) {
    auto* self =
        reinterpret_cast<TacAutoUpgrader*>(win::GetWindowLongPtrA(hwnd, win::GWLP_USERDATA));
    if (msg == win::WM_TIMER && self) {
        fw::CallGuarded(self, [self] { self->AutoCheckTimer(); });
        return 0;
    }
    if (msg == win::WM_QUERYENDSESSION)
        return 1;
    return win::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void TacAutoUpgrader::AutoCheckTimer() {
    if (!autoCheck_ || !IsOnline())
        return;
    autoCheckPending_ = true;
    RestartTimer();
    CheckForUpgrade();
    automatic_ = true;
}

bool TacAutoUpgrader::CheckForUpgrade(bool ByUser) {
    aborted_ = false;
    automatic_ = false;
    if (Busy())
        return true;
    byUser_ = ByUser;
    mode_ = Mode::Info;
    TacCustomHTTP::UseCache = false;
    URL = InfoFileURL;
    FileName.clear();
    MaxSize = kMaxInfoFile;
    // Stored credentials belong to the publisher's site.
    CredentialHost = OriginFromURL(URL);
    ended_ = false;
    if (!IsWebAddress(InfoFileURL)) {
        Refuse("its address is not http or https");
        return true;
    }
    return Start();
}

bool TacAutoUpgrader::IsPackagedInstall() {
    return ProgramPath().rfind("/usr/", 0) == 0;
}

// --- results of a run ---------------------------------------------------------

bool TacAutoUpgrader::WantsHandOver(THTTPHandOver Step) const {
    switch (Step) {
        case THTTPHandOver::HeaderInfo:
            // A file's server date, its size check and OnFileStart.
            return mode_ == Mode::Files || TacCustomHTTP::WantsHandOver(Step);
        case THTTPHandOver::DownloadProgress:
            return (mode_ == Mode::Files && (OnProgress || WizardForm())) ||
                   TacCustomHTTP::WantsHandOver(Step);
        case THTTPHandOver::AuthenticationRequest:
            // OnPasswordRequest and the password dialog.
            return true;
        default:
            return TacCustomHTTP::WantsHandOver(Step);
    }
}

void TacAutoUpgrader::DoDone(const std::string& AContentType, std::int64_t ABytes,
                             fw::TStream* Data) {
    TacCustomHTTP::DoDone(AContentType, ABytes, Data);
    auto* memory = dynamic_cast<fw::TMemoryStream*>(Data);
    if (mode_ == Mode::Info) {
        // The signature comes from beside the file, and nothing is decided
        // before it is checked.
        infoText_ = memory ? memory->Data() : std::string();
        mode_ = Mode::Signature;
        URL = InfoFileURL + ".minisig";
        MaxSize = kMaxSignatureFile;
        if (!Start())
            Refuse("its signature could not be fetched");
    } else if (mode_ == Mode::Signature) {
        Verify(memory ? memory->Data() : std::string());
    } else {
        FileReceived();
    }
}

void TacAutoUpgrader::Verify(const std::string& signature) {
    const std::string version(upgrade_info::Info(infoText_).Value("#version"));
    const auto verdict = upgrade_signature::Verify(
        infoText_, signature, upgrade_signature::TrustedKeys(), win::ProductName() + " " + version);
    if (verdict != upgrade_signature::Verdict::Valid) {
        Refuse(upgrade_signature::VerdictText(verdict));
        return;
    }
    CheckResult(infoText_);
}

void TacAutoUpgrader::Refuse(const std::string& reason) {
    std::fprintf(stderr, "%s: upgrade information from %s refused (%s); nothing was changed\n",
                 win::ProductName().c_str(), InfoFileURL.c_str(), reason.c_str());
    if (OnUnverified)
        OnUnverified(this, reason);
    if (byUser_)
        ShowError(31, Text(31));
    infoText_.clear();
    ended_ = true;
}

void TacAutoUpgrader::CheckResult(const std::string& text) {
    const upgrade_info::Info info(text);
    files_ = info.Files();
    fileUrls_ = upgrade_info::FileUrls(files_);
    received_.clear();
    const std::string version(info.Value("#version"));
    const bool newer =
        VersionControl == byNumber
            ? upgrade_info::IsNewerNumber(version, VersionNumber)
            : upgrade_info::IsNewerDate(info.Value("#date"), VersionDate, upgrade_info::Today());
    if (!newer || fileUrls_.empty()) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(this);
        if (ShowMessages.Contains(mNoUpdateAvailable) && !automatic_)
            ShowError(24, Text(24));
        ended_ = true;
        return;
    }
    method_ = info.Method();
    for (const auto& file : files_) {
        if (!IsWebAddress(file.url)) {
            Refuse("an address that is not http or https");
            return;
        }
        if (method_ != umRedirectToURL && !IsSha256(file.sha256)) {
            Refuse("a file without its SHA-256");
            return;
        }
    }
    if (method_ != umRedirectToURL && !MayInstall(version)) {
        ended_ = true;
        return;
    }
    bool canUpgrade = true;
    const std::string message = info.Message();
    if (OnBeginUpgrade)
        OnBeginUpgrade(this, message, method_, fileUrls_, canUpgrade);
    if (!canUpgrade || (ShowMessages.Contains(mAskUpgrade) && !AskUpgrade(message))) {
        if (OnLaterUpgrade)
            OnLaterUpgrade(this);
        ended_ = true;
        return;
    }
    if (method_ == umRedirectToURL) {
        OpenWebPage(fileUrls_.front());
        ended_ = true;
        return;
    }
    BeginUpgrade();
}

bool TacAutoUpgrader::MayInstall(const std::string& version) {
    const std::string title = fw::Application ? fw::Application->Title() : win::ProductName();
    if (IsPackagedInstall()) {
        if (FirstNotice("Packaged", version))
            ShowNotice(upgrader_texts::Format(34, title, version));
        return false;
    }
    const std::string folder = ProgramFolder();
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0) {
        if (FirstNotice("Unwritable", version))
            ShowNotice(upgrader_texts::Format(35, folder, version));
        return false;
    }
    const std::string helper = HelperPath();
    const std::string helperFolder = helper.substr(0, helper.rfind('/'));
    if (helper.empty() || !win::EnsurePrivateFolder(helperFolder)) {
        ShowError(33, upgrader_texts::Format(33, HelperFolderText()));
        return false;
    }
    return true;
}

bool TacAutoUpgrader::FirstNotice(const std::string& what, const std::string& version) {
    if (byUser_)
        return true;
    // The version last told, in the user's registry.
    const std::string key = "Software\\" + win::ProductName() + "\\" + kNoticeKey;
    win::HKEY k = nullptr;
    if (win::RegCreateKeyExA(win::HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                             win::KEY_ALL_ACCESS, nullptr, &k, nullptr) != win::ERROR_SUCCESS)
        return true;
    char data[256] = {};
    win::DWORD size = sizeof data - 1;
    win::DWORD type = 0;
    const bool told =
        win::RegQueryValueExA(k, what.c_str(), nullptr, &type, reinterpret_cast<win::BYTE*>(data),
                              &size) == win::ERROR_SUCCESS &&
        type == win::REG_SZ && std::string(data) == version;
    if (!told)
        win::RegSetValueExA(k, what.c_str(), 0, win::REG_SZ,
                            reinterpret_cast<const win::BYTE*>(version.c_str()),
                            static_cast<win::DWORD>(version.size() + 1));
    win::RegCloseKey(k);
    return !told;
}

void TacAutoUpgrader::ShowNotice(const std::string& text) {
    if (NoticeBox)
        NoticeBox(Text(0), text);
    else
        win::MessageBoxA(0, text.c_str(), Text(0).c_str(), win::MB_OK | win::MB_ICONINFORMATION);
}

bool TacAutoUpgrader::AskUpgrade(const std::string& message) {
    std::string title = fw::Application ? fw::Application->Title() : std::string();
    const std::string environment =
        upgrader_texts::ResourceString(upgrader_texts::kDevelopmentEnvironment);
    if (!environment.empty() && title.find(environment) != std::string::npos)
        title = upgrader_texts::ResourceString(upgrader_texts::kAppTitlePlaceholder);
    const std::string extra = message.empty() ? std::string() : "\n" + message + "[DEF]\n";
    TacInfoBox box(nullptr);
    box.SetTitle(Text(0));
    box.SetText(upgrader_texts::Format(23, title, extra));
    box.SetInfoBoxButtons(ibYesNo);
    TacInfoBoxButtonCaptions captions;
    captions.Yes = Text(14);
    captions.No = Text(19);
    box.SetButtonCaptions(captions);
    box.SetShowCheckBox(false);
    box.SetIconResID("ACAUICO");
    return (QuestionBox ? QuestionBox(box) : box.Execute(false)) == fw::mrYes;
}

void TacAutoUpgrader::OpenWebPage(std::string address) {
    if (address.find("://") == std::string::npos)
        address = "http://" + address;
    const std::string program = HtmlProgram();
    if (!program.empty())
        win::ShellExecuteA(0, "open", program.c_str(), address.c_str(), nullptr,
                           win::SW_SHOWNORMAL);
    else
        win::ShellExecuteA(0, "open", address.c_str(), nullptr, nullptr, win::SW_SHOWNORMAL);
}

void TacAutoUpgrader::ShowError(int textIndex, const std::string& text) {
    (void)textIndex;
    if (ErrorBox)
        ErrorBox(Text(0), text);
    else
        win::MessageBoxA(0, text.c_str(), Text(0).c_str(), win::MB_OK | win::MB_ICONERROR);
}

void TacAutoUpgrader::Stop() {
    ended_ = true;
    Abort();
    if (TacAutoUpgraderWizardForm* wizard = WizardForm())
        wizard->Close();
}

void TacAutoUpgrader::DoHTTPError(fw::TStream* Data) {
    TacCustomHTTP::DoHTTPError(Data);
    if (mode_ == Mode::Signature) {
        Refuse("no signature (HTTP " + std::to_string(StatusCode) + ")");
    } else if (mode_ == Mode::Info) {
        if (OnNoInfoFile)
            OnNoInfoFile(this);
        if (ShowMessages.Contains(mNoInfoFile))
            ShowError(25, Text(25));
        ended_ = true;
    } else {
        LostFile(StatusCode);
    }
}

void TacAutoUpgrader::DoNoResponse() {
    TacCustomHTTP::DoNoResponse();
    if (mode_ == Mode::Signature) {
        Refuse("its signature could not be fetched");
        Stop();
        return;
    }
    const std::string url = mode_ == Mode::Info ? InfoFileURL : URL;
    const std::string host = HostFromURL(url);
    if (OnHostUnreachable)
        OnHostUnreachable(this, url, host);
    if (automatic_) {
        autoCheckPending_ = false;
        RestartTimer();
    } else if (ShowMessages.Contains(mHostUnreachable)) {
        ShowError(26, upgrader_texts::Format(26, "\"http://" + host + "\""));
    }
    Stop();
}

void TacAutoUpgrader::DoIncomplete(fw::TStream* Data) {
    TacCustomHTTP::DoIncomplete(Data);
    if (TooLarge && mode_ != Mode::Files) {
        Refuse(mode_ == Mode::Info ? "the file is larger than 1 MiB"
                                   : "its signature file is too large");
        Stop();
        return;
    }
    if (TooLarge) {
        // More than the file announced: never taken, whatever it holds.
        LostFile(0);
        return;
    }
    if (mode_ == Mode::Signature) {
        Refuse("its signature could not be fetched");
        Stop();
        return;
    }
    if (OnConnLost)
        OnConnLost(this);
    if (ShowMessages.Contains(mConnLost))
        ShowError(30, Text(30));
    Stop();
}

void TacAutoUpgrader::DoAuthenticationRequest(const std::string& Realm, bool& ATryAgain) {
    TacCustomHTTP::DoAuthenticationRequest(Realm, ATryAgain);
    if (OnPasswordRequest)
        OnPasswordRequest(this, Realm, ATryAgain);
    if (ATryAgain || !ShowMessages.Contains(mPasswordRequest))
        return;
    if (PasswordDialog ? PasswordDialog(this, URL)
                       : TacAutoUpgraderPasswordForm::Execute(this, URL))
        ATryAgain = true;
    else
        AbortUpgrade();
}

// --- the file loop ------------------------------------------------------------

void TacAutoUpgrader::BeginUpgrade() {
    mode_ = Mode::Files;
    TacCustomHTTP::UseCache = UseCache;
    received_.clear();
    index_ = 0;
    finished_ = false;
    if (Wizard.Enabled)
        TacAutoUpgraderWizardForm::ShowFor(this);
    NextFile();
}

void TacAutoUpgrader::NextFile() {
    while (!aborted_ && index_ < fileUrls_.size()) {
        URL = fileUrls_[index_];
        const std::string name = FileNameFromURL(URL);
        // No file of that name can be made beside the program: a lost file,
        // never a silent stop.
        if (name.empty() || name == "." || name == ".." ||
            name.size() + sizeof kTemporarySuffix - 1 > NAME_MAX) {
            LostFile(0);
            return;
        }
        if (TacAutoUpgraderWizardForm* wizard = WizardForm())
            wizard->ShowFile(URL, static_cast<int>(index_) + 1, static_cast<int>(fileUrls_.size()));
        localFile_ = ProgramFolder() + name + kTemporarySuffix;
        FileName = localFile_;
        MaxSize = files_[index_].size >= 0 ? files_[index_].size : MaxDownloadSize;
        serverDate_ = 0;
        // A leftover of a stopped upgrade is ours to replace.
        ::unlink(localFile_.c_str());
        if (Start())
            return;
        LostFile(0);
        return;
    }
    if (!aborted_ && index_ >= fileUrls_.size())
        EndUpgrade();
}

void TacAutoUpgrader::DoHeaderInfo(bool& AContinue) {
    TacCustomHTTP::DoHeaderInfo(AContinue);
    if (mode_ != Mode::Files || !AContinue)
        return;
    serverDate_ = LastModified;
    if (TacAutoUpgraderWizardForm* wizard = WizardForm())
        wizard->ShowFileSize(ContentLength);
    bool canUpgrade = true;
    if (MiscFilesUpgrade == mfuOnlyIfSizeDifferent && ContentLength != 0 && fileUrls_.size() > 1) {
        const std::string target = localFile_.substr(0, localFile_.size() - 5);
        const std::string targetName = target.substr(target.rfind('/') + 1);
        const std::string program = ProgramPath();
        struct stat st {};
        if (Lower(targetName) != Lower(program.substr(program.rfind('/') + 1)) &&
            ::stat(target.c_str(), &st) == 0)
            canUpgrade = st.st_size != ContentLength;
    }
    if (OnFileStart)
        OnFileStart(this, URL, static_cast<int>(ContentLength), LastModified, canUpgrade);
    AContinue = canUpgrade;
}

void TacAutoUpgrader::DoDeclined() {
    TacCustomHTTP::DoDeclined();
    if (mode_ != Mode::Files)
        return;
    ++index_;
    NextFile();
}

void TacAutoUpgrader::DoDownloadProgress(fw::TStream* Data) {
    TacCustomHTTP::DoDownloadProgress(Data);
    if (mode_ != Mode::Files)
        return;
    const size_t count = fileUrls_.size();
    const int total = static_cast<int>(std::lround(static_cast<double>(index_) * 100 / count)) +
                      PercentDone / static_cast<int>(count);
    if (OnProgress)
        OnProgress(this, URL, static_cast<int>(ContentLength), static_cast<int>(BytesTransferred),
                   ElapsedTime, TimeLeft, PercentDone, static_cast<win::BYTE>(std::min(total, 255)),
                   TransferRate);
    if (TacAutoUpgraderWizardForm* wizard = WizardForm())
        wizard->ShowProgress(PercentDone, total, TransferRate, TimeLeft);
}

void TacAutoUpgrader::FileReceived() {
    const std::string& expected = files_[index_].sha256;
    if (Lower(expected) != FileSha256(localFile_)) {
        ::unlink(localFile_.c_str());
        // Not a lost file to skip: what arrived is not what was published.
        bool continueUpgrade = false;
        if (OnLostFile)
            OnLostFile(this, URL, 0, continueUpgrade);
        if (ShowMessages.Contains(mLostFile) || byUser_)
            ShowError(32, upgrader_texts::Format(32, FileNameFromURL(URL)));
        AbortUpgrade();
        return;
    }
    received_.push_back({FileNameFromURL(URL), Lower(expected), files_[index_].size});
    if (serverDate_ != 0) {
        const double seconds = (serverDate_ - 25569.0) * 86400.0;
        struct stat st {};
        if (::stat(localFile_.c_str(), &st) == 0) {
            timespec times[2] = {st.st_atim, {static_cast<time_t>(std::floor(seconds)), 0}};
            // The server date is local time, as the date parser gives it.
            tm local{};
            const time_t t = static_cast<time_t>(std::floor(seconds));
            ::gmtime_r(&t, &local);
            local.tm_isdst = -1;
            times[1].tv_sec = ::mktime(&local);
            ::utimensat(AT_FDCWD, localFile_.c_str(), times, 0);
        }
    }
    if (OnFileDone)
        OnFileDone(this, localFile_);
    ++index_;
    NextFile();
}

void TacAutoUpgrader::LostFile(int code) {
    bool continueUpgrade = false;
    if (OnLostFile)
        OnLostFile(this, URL, code, continueUpgrade);
    if (ShowMessages.Contains(mLostFile)) {
        const std::string text = upgrader_texts::Format(28, FileNameFromURL(URL));
        const std::string caption = Text(21) + " #" + std::to_string(code);
        continueUpgrade = AskBox
                              ? AskBox(caption, text, win::MB_ICONWARNING)
                              : win::MessageBoxA(0, text.c_str(), caption.c_str(),
                                                 win::MB_YESNO | win::MB_ICONWARNING) == win::IDYES;
    }
    if (!continueUpgrade) {
        AbortUpgrade();
        return;
    }
    ++index_;
    NextFile();
}

void TacAutoUpgrader::EndUpgrade() {
    if (aborted_)
        return;
    if (TacAutoUpgraderWizardForm* wizard = WizardForm()) {
        // The completed page stays until the user closes it (which ends the
        // wait) or aborts.
        wizard->ShowCompleted();
        const std::shared_ptr<bool> alive = alive_;
        while (*alive && WizardForm() && !aborted_ &&
               !(fw::Application && fw::Application->Terminated()))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!*alive || aborted_)
            return;
    }
    finished_ = true;
    ended_ = true;
    bool restart = true;
    if (OnEndUpgrade)
        OnEndUpgrade(this, restart);
    if (restart)
        RestartApplication();
}

void TacAutoUpgrader::DeleteTemporaryFiles() {
    const std::string folder = ProgramFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && Lower(name.substr(name.size() - 5)) == Lower(kTemporarySuffix))
            ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

void TacAutoUpgrader::AbortUpgrade() {
    aborted_ = true;
    Stop();
    DeleteTemporaryFiles();
    if (OnAborted)
        OnAborted(this);
}

void TacAutoUpgrader::RestartApplication(const std::string& Params) {
    if (!finished_) {
        DeleteTemporaryFiles();
        received_.clear();
    }
    const char digit = static_cast<char>('0' + static_cast<int>(method_));
    const std::string params = Params.empty() ? restartParams_ + digit : Params;
    // The program's path is one argument of its own (blanks, "+" and quotes
    // stay in it), then the restart parameters, then what to install.
    std::vector<std::string> args{HelperPath(), ProgramPath(), "+" + params};
    for (const auto& file : received_) {
        args.push_back(file.url);
        args.push_back(file.sha256);
    }
    if (!StartHelper(args)) {
        // Without a helper the program stays: closing it would leave nothing
        // running and nothing upgraded.
        DeleteTemporaryFiles();
        received_.clear();
        ShowError(33, upgrader_texts::Format(33, HelperFolderText()));
        return;
    }
    restarting_ = true;
    if (OnDoOwnCloseAppMethod) {
        OnDoOwnCloseAppMethod(this);
        return;
    }
    if (fw::Application) {
        if (fw::TForm* form = fw::Application->MainForm())
            form->Close();
        fw::Application->Terminate();
    }
}
