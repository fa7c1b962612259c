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

TacCustomHTTP::TacCustomHTTP(fw::TComponent* AOwner)
    : TacLoginComponent(AOwner), UserAgent("acHTTP component (https://quilvane.example/achttp)") {
    thread_ = new TacCustomThread(this);
    thread_->SetOnRun([this](fw::TObject*, int) { Transfer(); });
    thread_->SetOnError([this](fw::TObject*) { DoFailure(); });
    thread_->SetOnFinish([this](fw::TObject*, int) { Completion(); });
    thread_->OnStop = [this] { CloseHandles(); };
    thread_->OnWaitTimeout = [this](fw::TObject*, bool& Terminate) {
        DoWaitTimeout(Terminate);
        if (Terminate) {
            // The worker still reads into the buffer and writes the stream:
            // it is stopped before they go.
            thread_->Kill();
            CloseHandles();
            FreeRun();
        }
    };
}

TacCustomHTTP::~TacCustomHTTP() {
    closing_ = true;
    CloseHandles();
    // The thread component stops its worker (bounded) before this object's
    // state goes away.
    delete thread_;
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
    return StartRun();
}

bool TacCustomHTTP::StartUpload(std::unique_ptr<fw::TStream> Data) {
    if (Busy() || !Data)
        return false;
    FreeRun();
    stream_ = std::move(Data);
    PostFromStream = true;
    return StartRun();
}

bool TacCustomHTTP::StartRun() {
    // Asked here, on the main thread, once a run: the worker then reads a
    // plain copy instead of the events and the descendant's state.
    unsigned wanted = 0;
    for (const THTTPHandOver step :
         {THTTPHandOver::HeaderInfo, THTTPHandOver::DownloadProgress, THTTPHandOver::UploadProgress,
          THTTPHandOver::AuthenticationRequest, THTTPHandOver::ProxyAuthenticationRequest})
        if (WantsHandOver(step))
            wanted |= 1u << static_cast<unsigned>(step);
    wanted_ = wanted;
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
    for (auto* h : {&request_, &connection_, &session_})
        if (win::HINTERNET old = h->exchange(nullptr))
            win::InternetCloseHandle(old);
}

void TacCustomHTTP::FreeRun() {
    buffer_ = {};
    stream_.reset();
    streamIsFile_ = false;
    if (!createdFile_.empty()) {
        ::unlink(createdFile_.c_str());
        createdFile_.clear();
    }
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
    auto* self = reinterpret_cast<TacCustomHTTP*>(dwContext);
    if (!self || self->closing_)
        return;
    // A worker that was cut off raises nothing more.
    if (TacEventThread* t = TacEventThread::Current(); t && t->IsCutOff())
        return;
    if (self->OnStatus)
        self->DoStatus(dwInternetStatus, HTTPStatusText(dwInternetStatus));
    if (dwInternetStatus == win::INTERNET_STATUS_REDIRECT && self->OnRedirect &&
        lpvStatusInformation && dwStatusInformationLength > 0)
        self->DoRedirect(std::string(static_cast<const char*>(lpvStatusInformation),
                                     dwStatusInformationLength - 1));
}

// --- The transfer, on the worker -----------------------------------------------

void TacCustomHTTP::Transfer() {
    StatusCode = -1;
    ContentType.clear();
    const size_t bufferSize = static_cast<size_t>(std::max(TransferBufferSize, 255));
    startTick_ = Clock::now();
    Continue = true;
    Success = false;
    readFailed_ = false;
    BytesTransferred = 0;
    ContentLength = 0;
    RawHeaders.clear();
    ContentLanguage.clear();
    ContentEncoding.clear();
    Location.clear();
    Date = LastModified = Expires = 0;
    PercentDone = 0;
    ElapsedTime = TimeLeft = 0;
    TransferRate = 0;
    buffer_.assign(bufferSize, '\0');

    std::string url = URL;
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
        // The file owns its descriptor for the rest of the run.
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            ContentLength = st.st_size;
            StatusCode = 200;
        } else {
            StatusCode = 404;
        }
        fw::TFileStream source(fd);
        if (OpenTarget())
            Receive(StatusCode == 200 ? fd : -1);
        Success =
            StatusCode == 200 && !readFailed_ && (!stream_ || BytesTransferred == ContentLength);
        return;
    }

    win::DWORD openType = win::INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    if (Proxy.AccessType == atDirect)
        openType = win::INTERNET_OPEN_TYPE_DIRECT;
    if (Proxy.AccessType == atUseProxy) {
        openType = win::INTERNET_OPEN_TYPE_PROXY;
        proxy = Proxy.ProxyServer + ":" + std::to_string(Proxy.ProxyPort);
    }
    Keep(session_,
         win::InternetOpenA(UserAgent.c_str(), openType, proxy.empty() ? nullptr : proxy.c_str(),
                            openType == win::INTERNET_OPEN_TYPE_PROXY && !Proxy.ProxyBypass.empty()
                                ? Proxy.ProxyBypass.c_str()
                                : nullptr,
                            WorkOffline ? win::INTERNET_FLAG_OFFLINE : 0));
    win::InternetSetStatusCallbackA(session_, &TacCustomHTTP::StatusCallback);
    Success = session_ != nullptr;
    if (!Success)
        return;

    const std::string& loginUser = urlUser.empty() ? HTTPUsername : urlUser;
    const std::string& loginPassword = urlPassword.empty() ? HTTPPassword : urlPassword;
    Keep(connection_, win::InternetConnectA(session_, host, uc.nPort, loginUser.c_str(),
                                            loginPassword.c_str(), win::INTERNET_SERVICE_HTTP, 0,
                                            reinterpret_cast<win::DWORD_PTR>(this)));
    Success = connection_ != nullptr;
    if (!Success)
        return;

    bool post = RequestMethod == 2;
    if (RequestMethod == 0)
        post = !PostData.empty() || PostFromStream;
    win::DWORD flags = 0;
    if (uc.nScheme == win::INTERNET_SCHEME_HTTPS)
        flags |= win::INTERNET_FLAG_SECURE;
    if (!UseCache)
        flags |= win::INTERNET_FLAG_RELOAD | win::INTERNET_FLAG_NO_CACHE_WRITE |
                 win::INTERNET_FLAG_PRAGMA_NOCACHE;
    if (!UseCookies)
        flags |= win::INTERNET_FLAG_NO_COOKIES;
    const std::string object =
        std::string(path, uc.dwUrlPathLength) + std::string(extra, uc.dwExtraInfoLength);
    win::LPCSTR accept[] = {AcceptTypes.c_str(), nullptr};
    // The request carries the component as its context too, so that its
    // status and redirect notices reach OnStatus and OnRedirect.
    Keep(request_, win::HttpOpenRequestA(connection_, post ? "POST" : "GET", object.c_str(),
                                         nullptr, Referer.empty() ? nullptr : Referer.c_str(),
                                         accept, flags, reinterpret_cast<win::DWORD_PTR>(this)));
    if (!request_) {
        Success = false;
        return;
    }

    const std::pair<win::DWORD, win::DWORD> timeouts[] = {
        {win::INTERNET_OPTION_CONNECT_TIMEOUT, Timeouts.ConnectTimeout},
        {win::INTERNET_OPTION_RECEIVE_TIMEOUT, Timeouts.ReceiveTimeout},
        {win::INTERNET_OPTION_SEND_TIMEOUT, Timeouts.SendTimeout}};
    for (auto [option, value] : timeouts)
        if (value)
            win::InternetSetOptionA(request_, option, &value, sizeof value);

    std::string headers;
    for (const auto& line : CustomHeaders)
        headers += line + "\r\n";
    if (Range.StartRange || Range.EndRange) {
        headers += "RANGE: bytes=" + std::to_string(Range.StartRange) + "-";
        if (Range.EndRange)
            headers += std::to_string(Range.EndRange);
        headers += "\r\n";
    }
    if (!headers.empty() && !win::HttpAddRequestHeadersA(request_, headers.c_str(),
                                                         static_cast<win::DWORD>(headers.size()),
                                                         win::HTTP_ADDREQ_FLAG_ADD)) {
        Success = false;
        return;
    }

    do {
        TryAgain = false;
        if (!SendRequest(post)) {
            stream_.reset();
            Success = false;
            return;
        }
        bool found = false;
        const std::string status = QueryText(request_, win::HTTP_QUERY_STATUS_CODE, &found);
        StatusCode = found ? std::atoi(status.c_str()) : -1;
        if (StatusCode == 401 && Wants(THTTPHandOver::AuthenticationRequest)) {
            const std::string header =
                QueryText(request_, win::HTTP_QUERY_WWW_AUTHENTICATE, &found);
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
            thread_->Synchronize([&] { DoAuthenticationRequest(realm, TryAgain); });
            win::InternetSetOptionA(request_, win::INTERNET_OPTION_USERNAME, HTTPUsername.data(),
                                    static_cast<win::DWORD>(HTTPUsername.size()));
            win::InternetSetOptionA(request_, win::INTERNET_OPTION_PASSWORD, HTTPPassword.data(),
                                    static_cast<win::DWORD>(HTTPPassword.size()));
        } else if (StatusCode == 407 && Wants(THTTPHandOver::ProxyAuthenticationRequest)) {
            thread_->Synchronize([&] { DoProxyAuthenticationRequest(TryAgain); });
            win::InternetSetOptionA(request_, win::INTERNET_OPTION_PROXY_USERNAME,
                                    ProxyUsername.data(),
                                    static_cast<win::DWORD>(ProxyUsername.size()));
            win::InternetSetOptionA(request_, win::INTERNET_OPTION_PROXY_PASSWORD,
                                    ProxyPassword.data(),
                                    static_cast<win::DWORD>(ProxyPassword.size()));
        }
    } while (TryAgain && !thread_->Terminated());

    ReadResponseHeaders();
    if (!Continue)
        return;
    if (OpenTarget())
        Receive(-1);
    Success = BodyStatus() && !readFailed_ &&
              (!stream_ || ContentLength == 0 || BytesTransferred == ContentLength);
}

bool TacCustomHTTP::SendRequest(bool post) {
    if (!post)
        return win::HttpSendRequestA(request_, nullptr, 0, nullptr, 0);
    if (!PostFromStream) {
        static const char kForm[] = "Content-Type: application/x-www-form-urlencoded";
        return win::HttpSendRequestA(request_, kForm, sizeof kForm - 1, PostData.data(),
                                     static_cast<win::DWORD>(PostData.size()));
    }
    if (!stream_)
        return false;
    win::INTERNET_BUFFERSA buffers;
    buffers.lpcszHeader = UploadHeaders.empty() ? nullptr : UploadHeaders.c_str();
    buffers.dwHeadersLength = static_cast<win::DWORD>(UploadHeaders.size());
    buffers.dwHeadersTotal = buffers.dwHeadersLength;
    buffers.dwBufferTotal = static_cast<win::DWORD>(stream_->Size());
    if (!win::HttpSendRequestExA(request_, &buffers, nullptr, 0, 0))
        return false;
    ContentLength = stream_->Size();
    BytesTransferred = 0;
    stream_->SetPosition(0);
    for (;;) {
        const size_t n = stream_->Read(buffer_.data(), buffer_.size());
        if (n == 0)
            break;
        win::DWORD written = 0;
        if (!win::InternetWriteFile(request_, buffer_.data(), static_cast<win::DWORD>(n), &written))
            return false;
        BytesTransferred += written;
        if (Wants(THTTPHandOver::UploadProgress)) {
            UpdateProgress();
            thread_->Synchronize([this] { DoUploadProgress(); });
        }
    }
    return win::HttpEndRequestA(request_, nullptr, 0, 0);
}

void TacCustomHTTP::ReadResponseHeaders() {
    stream_.reset();  // the upload's data
    ContentType = QueryText(request_, win::HTTP_QUERY_CONTENT_TYPE);
    bool found = false;
    const std::string length = QueryText(request_, win::HTTP_QUERY_CONTENT_LENGTH, &found);
    ContentLength = found ? std::max(0LL, std::atoll(length.c_str())) : 0;
    BytesTransferred = 0;
    if (!Wants(THTTPHandOver::HeaderInfo))
        return;
    RawHeaders = QueryText(request_, win::HTTP_QUERY_RAW_HEADERS_CRLF);
    ContentLanguage = QueryText(request_, win::HTTP_QUERY_CONTENT_LANGUAGE);
    ContentEncoding = QueryText(request_, win::HTTP_QUERY_CONTENT_ENCODING);
    Location = QueryText(request_, win::HTTP_QUERY_LOCATION);
    Date = HTTPDateToDateTime(QueryText(request_, win::HTTP_QUERY_DATE));
    LastModified = HTTPDateToDateTime(QueryText(request_, win::HTTP_QUERY_LAST_MODIFIED));
    Expires = HTTPDateToDateTime(QueryText(request_, win::HTTP_QUERY_EXPIRES));
    thread_->Synchronize([this] { DoHeaderInfo(Continue); });
}

bool TacCustomHTTP::OpenTarget() {
    if (!FileName.empty()) {
        // Whatever had the name goes (a link is removed, not followed); the new
        // file is private until it is complete. HideFileName has no
        // counterpart here: a file is hidden only by its name.
        ::unlink(FileName.c_str());
        const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            stream_ = std::make_unique<fw::TFileStream>(fd);
            streamIsFile_ = true;
            createdFile_ = FileName;
            return true;
        }
        if (ContentLength > 0)
            return false;
    }
    auto memory = std::make_unique<fw::TMemoryStream>();
    if (ContentLength > 0)
        memory->SetCapacity(static_cast<size_t>(std::min(ContentLength, kMaxPresize)));
    stream_ = std::move(memory);
    streamIsFile_ = false;
    return true;
}

void TacCustomHTTP::Receive(int fd) {
    if (fd < 0 && !request_.load())
        return;
    for (;;) {
        size_t n = 0;
        if (fd >= 0) {
            if (thread_->Terminated()) {
                readFailed_ = true;
                break;
            }
            const ssize_t r = ::read(fd, buffer_.data(), buffer_.size());
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                readFailed_ = true;
            if (r <= 0)
                break;
            n = static_cast<size_t>(r);
        } else {
            win::DWORD got = 0;
            if (!win::InternetReadFile(request_, buffer_.data(),
                                       static_cast<win::DWORD>(buffer_.size()), &got)) {
                // A broken-off body is not a complete one, announced length
                // or not.
                readFailed_ = true;
                break;
            }
            if (got == 0)
                break;
            n = got;
        }
        if (stream_->Write(buffer_.data(), n) != n) {
            readFailed_ = true;
            break;
        }
        BytesTransferred += static_cast<std::int64_t>(n);
        if (Wants(THTTPHandOver::DownloadProgress)) {
            UpdateProgress();
            thread_->Synchronize([this] { DoDownloadProgress(stream_.get()); });
        }
    }
    // A file refusing the last gathered bytes makes the body incomplete too.
    if (streamIsFile_ && !static_cast<fw::TFileStream*>(stream_.get())->Flush())
        readFailed_ = true;
}

void TacCustomHTTP::UpdateProgress() {
    const double length = static_cast<double>(ContentLength);
    const double bytes = static_cast<double>(BytesTransferred);
    PercentDone =
        length > 0 ? static_cast<win::BYTE>(std::clamp(std::lround(bytes * 100 / length), 0L, 255L))
                   : 0;
    ElapsedTime = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - startTick_).count());
    TimeLeft =
        bytes > 0 ? static_cast<int>(std::lround(length / bytes * ElapsedTime)) - ElapsedTime : 0;
    TransferRate = static_cast<float>(bytes / 1024);
    if (ElapsedTime != 0)
        TransferRate /= static_cast<float>(ElapsedTime);
}

// --- Completion, on the main thread ----------------------------------------------

void TacCustomHTTP::Completion() {
    CloseHandles();
    // The run's stream and file are this step's own from here on, so a run
    // started from one of the events below starts clean.
    std::unique_ptr<fw::TStream> stream = std::move(stream_);
    const bool isFile = std::exchange(streamIsFile_, false);
    std::string file = std::exchange(createdFile_, {});
    buffer_ = {};
    if (stream)
        stream->SetPosition(0);
    // Read once: a handler may start the next run, whose worker resets them.
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
