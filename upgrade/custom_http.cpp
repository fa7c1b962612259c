#include "upgrade/custom_http.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>

#include "platform/kernel.h"

namespace {

using Clock = std::chrono::steady_clock;

// A memory target is pre-sized to the announced length, up to this much; a
// larger announcement grows as the body really arrives.
constexpr std::int64_t kMaxPresize = 64 << 20;

std::string QueryText(win::HINTERNET request, win::DWORD level, bool* found = nullptr) {
    std::string value(4096, '\0');
    win::DWORD len = static_cast<win::DWORD>(value.size());
    if (!win::HttpQueryInfoA(request, level, value.data(), &len, nullptr)) {
        if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER) {
            if (found)
                *found = false;
            return {};
        }
        value.assign(len, '\0');
        if (!win::HttpQueryInfoA(request, level, value.data(), &len, nullptr)) {
            if (found)
                *found = false;
            return {};
        }
    }
    if (found)
        *found = true;
    value.resize(len);
    return value;
}

// The permissions a new file gets under the process's umask.
mode_t FinalMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
    }
    return 0644;
}

}  // namespace

std::string HTTPStatusText(win::DWORD StatusNumber) {
    switch (StatusNumber) {
        case 10:
            return "Resolving name";
        case 11:
            return "Name resolved";
        case 20:
            return "Connecting to server";
        case 21:
            return "Connected";
        case 30:
            return "Sending Request";
        case 31:
            return "Request sent";
        case 40:
            return "Receiving response";
        case 41:
            return "Response received";
        case 42:
            return "CTL Response received";
        case 43:
            return "Prefetch";
        case 50:
            return "Closing connection";
        case 51:
            return "Connection closed";
        case 60:
            return "Handle created";
        case 70:
            return "Handle closing";
        case 100:
            return "Request complete";
        case 110:
            return "Redirect";
        case 120:
            return "Intermediate response";
        case 200:
            return "State change";
        default:
            return "Unknown status";
    }
}

struct TacCustomHTTP::Run {
    ~Run() {
        {
            std::lock_guard l(ownerLock);
            owner = nullptr;
        }
        for (auto* h : {&request, &connection, &session})
            if (win::HINTERNET old = h->exchange(nullptr))
                win::InternetCloseHandle(old);
        stream.reset();
        // A file the run made and did not complete.
        if (!createdFile.empty())
            ::unlink(createdFile.c_str());
    }
    bool Wants(THTTPHandOver step) const {
        return (wanted & (1u << static_cast<unsigned>(step))) != 0;
    }

    // Settings, copied as the run starts.
    std::string url, fileName, postData, referer, acceptTypes, userAgent, uploadHeaders;
    std::vector<std::string> customHeaders;
    int startRange = 0, endRange = 0;
    win::DWORD connectTimeout = 0, receiveTimeout = 0, sendTimeout = 0;
    TacHTTPAccessType accessType = atPreconfig;
    int proxyPort = 0;
    std::string proxyServer, proxyBypass;
    size_t bufferSize = 4096;
    int requestMethod = 0;
    bool postFromStream = false, useCache = true, useCookies = true, workOffline = false;
    std::int64_t maxSize = 0;
    std::string credentialHost, user, password;
    unsigned wanted = 0;  // WantsHandOver's answers, one bit a step

    // Results.
    int statusCode = -1;
    bool success = false, tryAgain = false, cont = true, tooLarge = false;
    std::string rawHeaders, contentType, contentLanguage, contentEncoding, location;
    TDateTime date = 0, lastModified = 0, expires = 0;
    std::int64_t contentLength = 0, bytes = 0;
    win::BYTE percentDone = 0;
    int elapsedTime = 0, timeLeft = 0;
    float transferRate = 0;
    std::string proxyUser, proxyPassword;

    // Handles and data. The handles are closed from the main thread while
    // the worker may be blocked in a call on them, so they are swapped
    // atomically.
    std::atomic<win::HINTERNET> session{nullptr}, connection{nullptr}, request{nullptr};
    std::unique_ptr<fw::TStream> stream;
    bool streamIsFile = false;
    std::string createdFile;  // the local file this run made, until complete (ownerLock)
    std::vector<char> buffer;
    bool readFailed = false;
    Clock::time_point startTick;

    // The component, for the status notices raised on the worker; cleared
    // when the component lets the run go. The lock keeps a notice from
    // outliving that moment.
    std::mutex ownerLock;
    TacCustomHTTP* owner = nullptr;
};

TacCustomHTTP::TacCustomHTTP(fw::TComponent* AOwner)
    : TacLoginComponent(AOwner), UserAgent("acHTTP component (https://quilvane.example/achttp)") {
    thread_ = new TacCustomThread(this);
    thread_->SetOnError([this](fw::TObject*) { DoFailure(); });
    thread_->SetOnFinish([this](fw::TObject*, int) { Completion(); });
    thread_->OnStop = [this] { CloseHandles(); };
    thread_->OnWaitTimeout = [this](fw::TObject*, bool& Terminate) {
        DoWaitTimeout(Terminate);
        if (Terminate) {
            thread_->Kill();
            CloseHandles();
            FreeRun();
        }
    };
}

TacCustomHTTP::~TacCustomHTTP() {
    closing_ = true;
    CloseHandles();
    // The thread component stops its worker (bounded); one that does not end
    // keeps its run, never this object.
    delete thread_;
    thread_ = nullptr;
    FreeRun();
}

bool TacCustomHTTP::Busy() const {
    // Busy until the completion step begins, so that Abort after the transfer
    // ended but before its completion still cancels the run as a whole.
    return thread_->Active();
}

bool TacCustomHTTP::Start() {
    if (Busy())
        return false;
    PostFromStream = false;
    return StartRun(nullptr);
}

bool TacCustomHTTP::StartUpload(std::unique_ptr<fw::TStream> Data) {
    if (Busy() || !Data)
        return false;
    PostFromStream = true;
    return StartRun(std::move(Data));
}

bool TacCustomHTTP::StartRun(std::unique_ptr<fw::TStream> upload) {
    FreeRun();
    auto run = std::make_shared<Run>();
    Run& r = *run;
    r.owner = this;
    r.url = URL;
    r.fileName = FileName;
    r.postData = PostData;
    r.referer = Referer;
    r.acceptTypes = AcceptTypes;
    r.userAgent = UserAgent;
    r.uploadHeaders = UploadHeaders;
    r.customHeaders = CustomHeaders;
    r.startRange = Range.StartRange;
    r.endRange = Range.EndRange;
    r.connectTimeout = Timeouts.ConnectTimeout;
    r.receiveTimeout = Timeouts.ReceiveTimeout;
    r.sendTimeout = Timeouts.SendTimeout;
    r.accessType = Proxy.AccessType;
    r.proxyPort = Proxy.ProxyPort;
    r.proxyServer = Proxy.ProxyServer;
    r.proxyBypass = Proxy.ProxyBypass;
    r.bufferSize = static_cast<size_t>(std::max(TransferBufferSize, 255));
    r.requestMethod = RequestMethod;
    r.postFromStream = PostFromStream;
    r.useCache = UseCache;
    r.useCookies = UseCookies;
    r.workOffline = WorkOffline;
    r.maxSize = MaxSize;
    r.credentialHost = CredentialHost;
    r.user = HTTPUsername;
    r.password = HTTPPassword;
    r.proxyUser = ProxyUsername;
    r.proxyPassword = ProxyPassword;
    r.stream = std::move(upload);
    // Asked here, on the main thread, once a run: the worker then reads a
    // plain copy instead of the events and the descendant's state.
    for (const THTTPHandOver step :
         {THTTPHandOver::HeaderInfo, THTTPHandOver::DownloadProgress, THTTPHandOver::UploadProgress,
          THTTPHandOver::AuthenticationRequest, THTTPHandOver::ProxyAuthenticationRequest})
        if (WantsHandOver(step))
            r.wanted |= 1u << static_cast<unsigned>(step);
    run_ = run;
    // The worker holds its run: whatever becomes of this component, the run
    // lives as long as the worker needs it.
    thread_->SetOnRun([run](fw::TObject*, int) { Transfer(*run); });
    thread_->Start();
    return true;
}

void TacCustomHTTP::Abort() {
    // The worker is cut off before its handles are closed, so a transfer that
    // the closing ends cannot complete in between.
    if (Busy()) {
        thread_->Kill();
        if (!IsDestroying())
            DoCancelled();
    }
    CloseHandles();
    FreeRun();
}

bool TacCustomHTTP::BodyStatus() const {
    // The part asked for is as good as the whole: 206 answers a range.
    return StatusCode == 200 || (StatusCode == 206 && (Range.StartRange || Range.EndRange));
}

void TacCustomHTTP::Keep(std::atomic<win::HINTERNET>& slot, win::HINTERNET handle) {
    slot = handle;
    // Cut off while the handle was being opened: the stop handler may have
    // closed the slots already, so this one is closed here.
    TacEventThread* t = TacEventThread::Current();
    if (t && t->IsCutOff())
        if (win::HINTERNET h = slot.exchange(nullptr))
            win::InternetCloseHandle(h);
}

void TacCustomHTTP::CloseHandles() {
    if (!run_)
        return;
    for (auto* h : {&run_->request, &run_->connection, &run_->session})
        if (win::HINTERNET old = h->exchange(nullptr))
            win::InternetCloseHandle(old);
}

void TacCustomHTTP::FreeRun() {
    if (!run_)
        return;
    std::string file;
    {
        std::lock_guard l(run_->ownerLock);
        run_->owner = nullptr;
        file = std::exchange(run_->createdFile, {});
    }
    run_.reset();
    // A partial file goes now, also while a worker left to end by itself
    // still writes into it.
    if (!file.empty())
        ::unlink(file.c_str());
    // The thread object waiting for the next start holds the run handler
    // (a clone of the last); only a worker still running keeps its run.
    if (thread_ && !thread_->Active())
        thread_->SetOnRun(nullptr);
}

void TacCustomHTTP::TakeResults(const Run& r) {
    StatusCode = r.statusCode;
    Success = r.success;
    TryAgain = r.tryAgain;
    Continue = r.cont;
    TooLarge = r.tooLarge;
    RawHeaders = r.rawHeaders;
    ContentType = r.contentType;
    ContentLanguage = r.contentLanguage;
    ContentEncoding = r.contentEncoding;
    Location = r.location;
    Date = r.date;
    LastModified = r.lastModified;
    Expires = r.expires;
    ContentLength = r.contentLength;
    BytesTransferred = r.bytes;
    PercentDone = r.percentDone;
    ElapsedTime = r.elapsedTime;
    TimeLeft = r.timeLeft;
    TransferRate = r.transferRate;
}

void TacCustomHTTP::HandOver(Run& r, const std::function<void(TacCustomHTTP&)>& step) {
    auto run = [&r, &step] {
        // On the main thread: the component is alive unless it let the run go.
        if (TacCustomHTTP* self = r.owner) {
            self->TakeResults(r);
            step(*self);
        }
    };
    if (TacEventThread* t = TacEventThread::Current())
        t->Synchronize(run);  // a cut-off worker unwinds from here
    else
        run();
}

std::string TacCustomHTTP::HostFromURL(const std::string& URL) {
    char host[256];
    win::URL_COMPONENTSA uc;
    uc.lpszHostName = host;
    uc.dwHostNameLength = sizeof host;
    if (!win::InternetCrackUrlA(URL.c_str(), 0, 0, &uc))
        return {};
    return std::string(host, uc.dwHostNameLength);
}

std::string TacCustomHTTP::OriginFromURL(const std::string& URL) {
    // Read here rather than by the internet library: a check asks this on the
    // main thread, which must not wait for the library to load.
    std::string url = URL;
    std::string scheme = "http";
    if (const size_t sep = url.find("://"); sep != std::string::npos) {
        scheme = url.substr(0, sep);
        url.erase(0, sep + 3);
    }
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string authority = url.substr(0, url.find_first_of("/?#"));
    if (const size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    std::string host = authority, port;
    const size_t close = authority.find(']');
    const size_t colon = authority.find(':', close == std::string::npos ? 0 : close);
    if (colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        return {};
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (port.empty())
        port = scheme == "https" ? "443" : "80";
    return host + ":" + std::to_string(std::atoi(port.c_str()));
}

std::string TacCustomHTTP::FileNameFromURL(const std::string& URL) {
    std::string s = URL;
    for (char& c : s)
        if (c == '/')
            c = '\\';
    const size_t slash = s.rfind('\\');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

void TacCustomHTTP::StatusCallback(win::HINTERNET, win::DWORD_PTR dwContext,
                                   win::DWORD dwInternetStatus, win::LPVOID lpvStatusInformation,
                                   win::DWORD dwStatusInformationLength) {
    auto* run = reinterpret_cast<Run*>(dwContext);
    if (!run)
        return;
    // A worker that was cut off raises nothing more.
    if (TacEventThread* t = TacEventThread::Current(); t && t->IsCutOff())
        return;
    std::lock_guard l(run->ownerLock);
    TacCustomHTTP* self = run->owner;
    if (!self || self->closing_)
        return;
    if (self->OnStatus)
        self->DoStatus(dwInternetStatus, HTTPStatusText(dwInternetStatus));
    if (dwInternetStatus == win::INTERNET_STATUS_REDIRECT && self->OnRedirect &&
        lpvStatusInformation && dwStatusInformationLength > 0)
        self->DoRedirect(std::string(static_cast<const char*>(lpvStatusInformation),
                                     dwStatusInformationLength - 1));
}

// --- The transfer, on the worker -----------------------------------------------

namespace {

bool Terminated() {
    TacEventThread* t = TacEventThread::Current();
    return t && t->Terminated();
}

}  // namespace

void TacCustomHTTP::Transfer(Run& r) {
    r.startTick = Clock::now();
    r.buffer.assign(r.bufferSize, '\0');

    std::string url = r.url;
    if (url.find("://") == std::string::npos)
        url = "http://" + url;
    char scheme[32], host[256], user[128], password[128], path[2048], extra[2048];
    win::URL_COMPONENTSA uc;
    uc.lpszScheme = scheme;
    uc.dwSchemeLength = sizeof scheme;
    uc.lpszHostName = host;
    uc.dwHostNameLength = sizeof host;
    uc.lpszUserName = user;
    uc.dwUserNameLength = sizeof user;
    uc.lpszPassword = password;
    uc.dwPasswordLength = sizeof password;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = sizeof path;
    uc.lpszExtraInfo = extra;
    uc.dwExtraInfoLength = sizeof extra;
    if (!win::InternetCrackUrlA(url.c_str(), 0, win::ICU_ESCAPE, &uc))
        return;
    const std::string urlUser(user, uc.dwUserNameLength);
    const std::string urlPassword(password, uc.dwPasswordLength);

    if (uc.nScheme == win::INTERNET_SCHEME_FILE) {
        // The file owns its descriptor for the rest of the run. Opened without
        // waiting: a FIFO or a device is no file to fetch.
        const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            r.contentLength = st.st_size;
            r.statusCode = 200;
        } else {
            r.statusCode = 404;
        }
        fw::TFileStream source(fd);
        if (r.statusCode == 200 && r.maxSize > 0 && r.contentLength > r.maxSize) {
            r.tooLarge = true;
            return;
        }
        if (OpenTarget(r))
            Receive(r, r.statusCode == 200 ? fd : -1);
        r.success =
            r.statusCode == 200 && !r.readFailed && (!r.stream || r.bytes == r.contentLength);
        return;
    }

    win::DWORD openType = win::INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    if (r.accessType == atDirect)
        openType = win::INTERNET_OPEN_TYPE_DIRECT;
    if (r.accessType == atUseProxy) {
        openType = win::INTERNET_OPEN_TYPE_PROXY;
        proxy = r.proxyServer + ":" + std::to_string(r.proxyPort);
    }
    Keep(r.session,
         win::InternetOpenA(r.userAgent.c_str(), openType, proxy.empty() ? nullptr : proxy.c_str(),
                            openType == win::INTERNET_OPEN_TYPE_PROXY && !r.proxyBypass.empty()
                                ? r.proxyBypass.c_str()
                                : nullptr,
                            r.workOffline ? win::INTERNET_FLAG_OFFLINE : 0));
    win::InternetSetStatusCallbackA(r.session, &TacCustomHTTP::StatusCallback);
    r.success = r.session != nullptr;
    if (!r.success)
        return;

    // Credentials of the URL belong to its host; the properties' only to the
    // host they were given for (CredentialHost).
    std::string origin(host, uc.dwHostNameLength);
    for (char& c : origin)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    origin += ":" + std::to_string(uc.nPort);
    const bool ours = r.credentialHost.empty() || r.credentialHost == origin;
    const std::string loginUser = !urlUser.empty() ? urlUser : ours ? r.user : std::string();
    const std::string loginPassword = !urlUser.empty() ? urlPassword
                                      : ours           ? r.password
                                                       : std::string();
    Keep(r.connection, win::InternetConnectA(r.session, host, uc.nPort, loginUser.c_str(),
                                             loginPassword.c_str(), win::INTERNET_SERVICE_HTTP, 0,
                                             reinterpret_cast<win::DWORD_PTR>(&r)));
    r.success = r.connection != nullptr;
    if (!r.success)
        return;

    bool post = r.requestMethod == 2;
    if (r.requestMethod == 0)
        post = !r.postData.empty() || r.postFromStream;
    win::DWORD flags = 0;
    if (uc.nScheme == win::INTERNET_SCHEME_HTTPS)
        flags |= win::INTERNET_FLAG_SECURE;
    if (!r.useCache)
        flags |= win::INTERNET_FLAG_RELOAD | win::INTERNET_FLAG_NO_CACHE_WRITE |
                 win::INTERNET_FLAG_PRAGMA_NOCACHE;
    if (!r.useCookies)
        flags |= win::INTERNET_FLAG_NO_COOKIES;
    const std::string object =
        std::string(path, uc.dwUrlPathLength) + std::string(extra, uc.dwExtraInfoLength);
    win::LPCSTR accept[] = {r.acceptTypes.c_str(), nullptr};
    // The request carries the run as its context too, so that its status and
    // redirect notices reach OnStatus and OnRedirect.
    Keep(r.request, win::HttpOpenRequestA(r.connection, post ? "POST" : "GET", object.c_str(),
                                          nullptr, r.referer.empty() ? nullptr : r.referer.c_str(),
                                          accept, flags, reinterpret_cast<win::DWORD_PTR>(&r)));
    if (!r.request) {
        r.success = false;
        return;
    }

    const std::pair<win::DWORD, win::DWORD> timeouts[] = {
        {win::INTERNET_OPTION_CONNECT_TIMEOUT, r.connectTimeout},
        {win::INTERNET_OPTION_RECEIVE_TIMEOUT, r.receiveTimeout},
        {win::INTERNET_OPTION_SEND_TIMEOUT, r.sendTimeout}};
    for (auto [option, value] : timeouts)
        if (value)
            win::InternetSetOptionA(r.request, option, &value, sizeof value);

    std::string headers;
    for (const auto& line : r.customHeaders)
        headers += line + "\r\n";
    if (r.startRange || r.endRange) {
        headers += "RANGE: bytes=" + std::to_string(r.startRange) + "-";
        if (r.endRange)
            headers += std::to_string(r.endRange);
        headers += "\r\n";
    }
    if (!headers.empty() && !win::HttpAddRequestHeadersA(r.request, headers.c_str(),
                                                         static_cast<win::DWORD>(headers.size()),
                                                         win::HTTP_ADDREQ_FLAG_ADD)) {
        r.success = false;
        return;
    }

    do {
        r.tryAgain = false;
        if (!SendRequest(r, post)) {
            r.stream.reset();
            r.success = false;
            return;
        }
        bool found = false;
        const std::string status = QueryText(r.request, win::HTTP_QUERY_STATUS_CODE, &found);
        r.statusCode = found ? std::atoi(status.c_str()) : -1;
        if (r.statusCode == 401 && r.Wants(THTTPHandOver::AuthenticationRequest)) {
            const std::string header =
                QueryText(r.request, win::HTTP_QUERY_WWW_AUTHENTICATE, &found);
            std::string realm;
            if (found) {
                // The quoted text after the first '="'; a header with more
                // parameters after the realm does not end with its quote.
                const size_t eq = header.find("=\"");
                const size_t close = eq == std::string::npos ? eq : header.find('"', eq + 2);
                if (eq == std::string::npos)
                    realm = header;
                else if (close != std::string::npos)
                    realm = header.substr(eq + 2, close - eq - 2);
                else
                    realm = header.substr(eq + 2, header.size() - eq - 3);
            }
            HandOver(r, [&](TacCustomHTTP& self) {
                self.DoAuthenticationRequest(realm, self.TryAgain);
                if (!r.owner)
                    return;  // the handler freed the component
                r.tryAgain = self.TryAgain;
                // The answer was given for this server alone.
                if (r.tryAgain)
                    self.CredentialHost = origin;
                r.user = self.HTTPUsername;
                r.password = self.HTTPPassword;
            });
            if (r.tryAgain) {
                win::InternetSetOptionA(r.request, win::INTERNET_OPTION_USERNAME, r.user.data(),
                                        static_cast<win::DWORD>(r.user.size()));
                win::InternetSetOptionA(r.request, win::INTERNET_OPTION_PASSWORD, r.password.data(),
                                        static_cast<win::DWORD>(r.password.size()));
            }
        } else if (r.statusCode == 407 && r.Wants(THTTPHandOver::ProxyAuthenticationRequest)) {
            HandOver(r, [&](TacCustomHTTP& self) {
                self.DoProxyAuthenticationRequest(self.TryAgain);
                if (!r.owner)
                    return;
                r.tryAgain = self.TryAgain;
                r.proxyUser = self.ProxyUsername;
                r.proxyPassword = self.ProxyPassword;
            });
            win::InternetSetOptionA(r.request, win::INTERNET_OPTION_PROXY_USERNAME,
                                    r.proxyUser.data(),
                                    static_cast<win::DWORD>(r.proxyUser.size()));
            win::InternetSetOptionA(r.request, win::INTERNET_OPTION_PROXY_PASSWORD,
                                    r.proxyPassword.data(),
                                    static_cast<win::DWORD>(r.proxyPassword.size()));
        }
    } while (r.tryAgain && !Terminated());

    ReadResponseHeaders(r);
    if (!r.cont)
        return;
    if ((r.statusCode == 200 || (r.statusCode == 206 && (r.startRange || r.endRange))) &&
        r.maxSize > 0 && r.contentLength > r.maxSize) {
        r.tooLarge = true;
        r.success = false;
        return;
    }
    if (OpenTarget(r))
        Receive(r, -1);
    r.success = (r.statusCode == 200 || (r.statusCode == 206 && (r.startRange || r.endRange))) &&
                !r.readFailed && (!r.stream || r.contentLength == 0 || r.bytes == r.contentLength);
}

bool TacCustomHTTP::SendRequest(Run& r, bool post) {
    if (!post)
        return win::HttpSendRequestA(r.request, nullptr, 0, nullptr, 0);
    if (!r.postFromStream) {
        static const char kForm[] = "Content-Type: application/x-www-form-urlencoded";
        return win::HttpSendRequestA(r.request, kForm, sizeof kForm - 1, r.postData.data(),
                                     static_cast<win::DWORD>(r.postData.size()));
    }
    if (!r.stream)
        return false;
    win::INTERNET_BUFFERSA buffers;
    buffers.lpcszHeader = r.uploadHeaders.empty() ? nullptr : r.uploadHeaders.c_str();
    buffers.dwHeadersLength = static_cast<win::DWORD>(r.uploadHeaders.size());
    buffers.dwHeadersTotal = buffers.dwHeadersLength;
    buffers.dwBufferTotal = static_cast<win::DWORD>(r.stream->Size());
    if (!win::HttpSendRequestExA(r.request, &buffers, nullptr, 0, 0))
        return false;
    r.contentLength = r.stream->Size();
    r.bytes = 0;
    r.stream->SetPosition(0);
    for (;;) {
        const size_t n = r.stream->Read(r.buffer.data(), r.buffer.size());
        if (n == 0)
            break;
        win::DWORD written = 0;
        if (!win::InternetWriteFile(r.request, r.buffer.data(), static_cast<win::DWORD>(n),
                                    &written))
            return false;
        r.bytes += written;
        if (r.Wants(THTTPHandOver::UploadProgress)) {
            UpdateProgress(r);
            HandOver(r, [](TacCustomHTTP& self) { self.DoUploadProgress(); });
        }
    }
    return win::HttpEndRequestA(r.request, nullptr, 0, 0);
}

void TacCustomHTTP::ReadResponseHeaders(Run& r) {
    r.stream.reset();  // the upload's data
    r.contentType = QueryText(r.request, win::HTTP_QUERY_CONTENT_TYPE);
    bool found = false;
    const std::string length = QueryText(r.request, win::HTTP_QUERY_CONTENT_LENGTH, &found);
    r.contentLength = found ? std::max(0LL, std::atoll(length.c_str())) : 0;
    r.bytes = 0;
    if (!r.Wants(THTTPHandOver::HeaderInfo))
        return;
    r.rawHeaders = QueryText(r.request, win::HTTP_QUERY_RAW_HEADERS_CRLF);
    r.contentLanguage = QueryText(r.request, win::HTTP_QUERY_CONTENT_LANGUAGE);
    r.contentEncoding = QueryText(r.request, win::HTTP_QUERY_CONTENT_ENCODING);
    r.location = QueryText(r.request, win::HTTP_QUERY_LOCATION);
    r.date = HTTPDateToDateTime(QueryText(r.request, win::HTTP_QUERY_DATE));
    r.lastModified = HTTPDateToDateTime(QueryText(r.request, win::HTTP_QUERY_LAST_MODIFIED));
    r.expires = HTTPDateToDateTime(QueryText(r.request, win::HTTP_QUERY_EXPIRES));
    HandOver(r, [&r](TacCustomHTTP& self) {
        self.DoHeaderInfo(self.Continue);
        if (r.owner)
            r.cont = self.Continue;
    });
}

bool TacCustomHTTP::OpenTarget(Run& r) {
    if (!r.fileName.empty()) {
        // Whatever had the name goes (a link is removed, not followed); the new
        // file is private until it is complete. HideFileName has no
        // counterpart here: a file is hidden only by its name.
        ::unlink(r.fileName.c_str());
        const int fd =
            ::open(r.fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            r.stream = std::make_unique<fw::TFileStream>(fd);
            r.streamIsFile = true;
            std::lock_guard l(r.ownerLock);
            r.createdFile = r.fileName;
            return true;
        }
        if (r.contentLength > 0)
            return false;
    }
    auto memory = std::make_unique<fw::TMemoryStream>();
    if (r.contentLength > 0)
        memory->SetCapacity(static_cast<size_t>(std::min(r.contentLength, kMaxPresize)));
    r.stream = std::move(memory);
    r.streamIsFile = false;
    return true;
}

void TacCustomHTTP::Receive(Run& r, int fd) {
    if (fd < 0 && !r.request.load())
        return;
    for (;;) {
        size_t n = 0;
        if (fd >= 0) {
            if (Terminated()) {
                r.readFailed = true;
                break;
            }
            const ssize_t got = ::read(fd, r.buffer.data(), r.buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                r.readFailed = true;
            if (got <= 0)
                break;
            n = static_cast<size_t>(got);
        } else {
            win::DWORD got = 0;
            if (!win::InternetReadFile(r.request, r.buffer.data(),
                                       static_cast<win::DWORD>(r.buffer.size()), &got)) {
                // A broken-off body is not a complete one, announced length
                // or not.
                r.readFailed = true;
                break;
            }
            if (got == 0)
                break;
            n = got;
        }
        if (r.maxSize > 0 && r.bytes + static_cast<std::int64_t>(n) > r.maxSize) {
            r.tooLarge = true;
            r.readFailed = true;
            break;
        }
        if (r.stream->Write(r.buffer.data(), n) != n) {
            r.readFailed = true;
            break;
        }
        r.bytes += static_cast<std::int64_t>(n);
        if (r.Wants(THTTPHandOver::DownloadProgress)) {
            UpdateProgress(r);
            HandOver(r, [&r](TacCustomHTTP& self) { self.DoDownloadProgress(r.stream.get()); });
        }
    }
    // A file refusing the last gathered bytes makes the body incomplete too.
    if (r.streamIsFile && !static_cast<fw::TFileStream*>(r.stream.get())->Flush())
        r.readFailed = true;
}

void TacCustomHTTP::UpdateProgress(Run& r) {
    const double length = static_cast<double>(r.contentLength);
    const double bytes = static_cast<double>(r.bytes);
    r.percentDone =
        length > 0 ? static_cast<win::BYTE>(std::clamp(std::lround(bytes * 100 / length), 0L, 255L))
                   : 0;
    r.elapsedTime = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - r.startTick).count());
    r.timeLeft = bytes > 0
                     ? static_cast<int>(std::lround(length / bytes * r.elapsedTime)) - r.elapsedTime
                     : 0;
    r.transferRate = static_cast<float>(bytes / 1024);
    if (r.elapsedTime != 0)
        r.transferRate /= static_cast<float>(r.elapsedTime);
}

// --- Completion, on the main thread ----------------------------------------------

void TacCustomHTTP::Completion() {
    CloseHandles();
    const std::shared_ptr<Run> run = run_;
    if (!run)
        return;
    TakeResults(*run);
    // The run's stream and file are this step's own from here on, so a run
    // started from one of the events below starts clean.
    std::unique_ptr<fw::TStream> stream = std::move(run->stream);
    const bool isFile = std::exchange(run->streamIsFile, false);
    std::string file = std::exchange(run->createdFile, {});
    run->buffer = {};
    if (stream)
        stream->SetPosition(0);
    // Read once: a handler may start the next run.
    const bool cont = Continue, success = Success, partOk = BodyStatus();
    const int status = StatusCode;

    if (cont) {
        if (success && !stream) {
            DoFailure();
        } else if (success) {
            if (isFile) {
                auto* fileStream = static_cast<fw::TFileStream*>(stream.get());
                ::fchmod(fileStream->Handle(), FinalMode());
                stream.reset();
                file.clear();  // complete: it stays
                DoDone(ContentType, BytesTransferred, nullptr);
            } else {
                DoDone(ContentType, BytesTransferred, stream.get());
            }
        } else {
            DoFailure();
            if (partOk)
                DoIncomplete(stream.get());
            else if (status == -1)
                DoNoResponse();
            else
                DoHTTPError(stream.get());
        }
    }
    stream.reset();
    if (!file.empty())
        ::unlink(file.c_str());
    if (!cont)
        DoDeclined();
}

// --- Events ------------------------------------------------------------------------

bool TacCustomHTTP::WantsHandOver(THTTPHandOver Step) const {
    switch (Step) {
        case THTTPHandOver::HeaderInfo:
            return static_cast<bool>(OnHeaderInfo);
        case THTTPHandOver::DownloadProgress:
            return static_cast<bool>(OnDownloadProgress);
        case THTTPHandOver::UploadProgress:
            return static_cast<bool>(OnUploadProgress);
        case THTTPHandOver::AuthenticationRequest:
            return static_cast<bool>(OnAuthenticationRequest);
        case THTTPHandOver::ProxyAuthenticationRequest:
            return static_cast<bool>(OnProxyAuthenticationRequest);
    }
    return false;
}

void TacCustomHTTP::DoDone(const std::string& AContentType, std::int64_t ABytes,
                           fw::TStream* Data) {
    if (OnDone)
        OnDone(this, AContentType, ABytes, Data);
}

void TacCustomHTTP::DoHeaderInfo(bool& AContinue) {
    if (OnHeaderInfo)
        OnHeaderInfo(this, StatusCode, RawHeaders, ContentType, ContentLanguage, ContentEncoding,
                     Location, ContentLength, Date, LastModified, Expires, AContinue);
}

void TacCustomHTTP::DoDeclined() {
    if (OnDeclined)
        OnDeclined(this);
}

void TacCustomHTTP::DoDownloadProgress(fw::TStream* Data) {
    if (OnDownloadProgress)
        OnDownloadProgress(this, ContentType, ContentLength, BytesTransferred, ElapsedTime,
                           TimeLeft, PercentDone, TransferRate, Data);
}

void TacCustomHTTP::DoUploadProgress() {
    if (OnUploadProgress)
        OnUploadProgress(this, ContentLength, BytesTransferred, ElapsedTime, TimeLeft, PercentDone,
                         TransferRate);
}

void TacCustomHTTP::DoStatus(win::DWORD StatusNumber, const std::string& StatusText) {
    if (OnStatus)
        OnStatus(this, StatusNumber, StatusText);
}

void TacCustomHTTP::DoRedirect(const std::string& NewURL) {
    if (OnRedirect)
        OnRedirect(this, NewURL);
}

void TacCustomHTTP::DoFailure() {
    if (OnFailure)
        OnFailure(this);
}

void TacCustomHTTP::DoCancelled() {
    if (OnCancelled)
        OnCancelled(this);
}

void TacCustomHTTP::DoIncomplete(fw::TStream* Data) {
    if (OnIncomplete)
        OnIncomplete(this, ContentType, ContentLength, BytesTransferred, Data);
}

void TacCustomHTTP::DoNoResponse() {
    if (OnNoResponse)
        OnNoResponse(this);
}

void TacCustomHTTP::DoHTTPError(fw::TStream* Data) {
    if (OnHTTPError)
        OnHTTPError(this, StatusCode, Data);
}

void TacCustomHTTP::DoAuthenticationRequest(const std::string& Realm, bool& ATryAgain) {
    if (OnAuthenticationRequest)
        OnAuthenticationRequest(this, Realm, ATryAgain);
}

void TacCustomHTTP::DoProxyAuthenticationRequest(bool& ATryAgain) {
    if (OnProxyAuthenticationRequest)
        OnProxyAuthenticationRequest(this, ProxyUsername, ProxyPassword, ATryAgain);
}

void TacCustomHTTP::DoWaitTimeout(bool& Terminate) {
    if (OnWaitTimeout)
        OnWaitTimeout(this, Terminate);
}
