#include "platform/inet.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/inet_library.h"
#include "platform/kernel.h"
#include "platform/module.h"
#include "platform/text.h"

namespace win {
namespace {

using Clock = std::chrono::steady_clock;

// The program's last error, handed over when it loads this library.
std::atomic<void (*)(DWORD)> g_setLastError{nullptr};

void SetError(DWORD code) {
    if (auto set = g_setLastError.load())
        set(code);
}

constexpr DWORD kDefaultConnectMs = 60000;
constexpr DWORD kDefaultReceiveMs = 30000;
constexpr DWORD kDefaultSendMs = 30000;
constexpr int kMaxRedirects = 10;
// Body bytes held for the reader before the transfer pauses.
constexpr size_t kHighWater = 1 << 20;
constexpr long kCurlBuffer = 256 * 1024;

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool SameName(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

struct Session;

struct Handle {
    enum class Kind { Session, Connection, Request };
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    virtual void Wake() {}

    const Kind kind;
    HINTERNET id = nullptr;
    std::shared_ptr<Handle> parent;
    DWORD_PTR context = 0;
    std::atomic<bool> closed{false};
    // Options; unset ones are inherited from the parent.
    std::optional<DWORD> connectTimeout, receiveTimeout, sendTimeout;
    std::optional<std::string> user, password, proxyUser, proxyPassword;

    std::mutex childLock;  // guards children
    std::vector<std::weak_ptr<Handle>> children;

    bool Cancelled() const {
        for (const Handle* h = this; h; h = h->parent.get())
            if (h->closed)
                return true;
        return false;
    }
    template <typename T>
    std::optional<T> Inherited(std::optional<T> Handle::*field) const {
        for (const Handle* h = this; h; h = h->parent.get())
            if ((h->*field).has_value())
                return h->*field;
        return std::nullopt;
    }
    Session* OwnSession();
};

struct Session : Handle {
    Session() : Handle(Kind::Session) {}
    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    std::string bypass;
    DWORD flags = 0;
    std::atomic<INTERNET_STATUS_CALLBACK> callback{nullptr};
};

Session* Handle::OwnSession() {
    Handle* h = this;
    while (h->parent)
        h = h->parent.get();
    return h->kind == Kind::Session ? static_cast<Session*>(h) : nullptr;
}

struct Connection : Handle {
    Connection() : Handle(Kind::Connection) {}
    std::string host;
    INTERNET_PORT port = 0;
};

struct Response {
    int status = -1;
    std::string statusLine;
    std::string statusText;
    std::vector<std::pair<std::string, std::string>> headers;
    const std::string* Find(const std::string& name, DWORD index) const {
        for (const auto& [n, v] : headers)
            if (SameName(n, name) && index-- == 0)
                return &v;
        return nullptr;
    }
};

struct Request : Handle {
    Request() : Handle(Kind::Request) {
        easy = curl_easy_init();
        multi = curl_multi_init();
    }
    ~Request() override {
        if (active)
            curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        curl_slist_free_all(headerList);
    }
    void Wake() override { curl_multi_wakeup(multi); }

    std::string verb, object, referer, accept;
    DWORD flags = 0;
    std::vector<std::string> headers;  // added with HttpAddRequestHeadersA

    CURL* easy;
    CURLM* multi;
    curl_slist* headerList = nullptr;
    bool active = false;
    bool used = false;  // the easy handle made a transfer already
    bool done = false;
    CURLcode result = CURLE_OK;
    std::string url;

    Response building, final;
    bool haveFinal = false;
    // Credentials are set: libcurl asks without them first and answers a 401
    // itself, so the first 401 is not the final response.
    bool authProbe = false;
    Response probed;  // that 401, final when libcurl does not ask again
    int redirects = 0;
    bool connected = false;
    Clock::time_point lastActivity;

    std::string body;
    size_t bodyPos = 0;
    bool writePaused = false;

    std::string postData;
    bool uploading = false;
    std::string upload;
    size_t uploadPos = 0;
    curl_off_t uploadLeft = 0;
    bool readPaused = false;

    size_t Buffered() const { return body.size() - bodyPos; }
};

std::mutex g_tableLock;  // guards g_handles and g_nextId
std::unordered_map<HINTERNET, std::shared_ptr<Handle>> g_handles;
std::uintptr_t g_nextId = 0x1000;

template <typename T = Handle>
std::shared_ptr<T> Find(HINTERNET h, std::optional<Handle::Kind> kind = std::nullopt) {
    std::shared_ptr<Handle> found;
    {
        std::lock_guard l(g_tableLock);
        auto it = g_handles.find(h);
        if (it != g_handles.end())
            found = it->second;
    }
    if (!found || found->closed) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (kind && found->kind != *kind) {
        SetError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(found);
}

HINTERNET Register(const std::shared_ptr<Handle>& h) {
    {
        std::lock_guard l(g_tableLock);
        h->id = reinterpret_cast<HINTERNET>(g_nextId++);
        g_handles[h->id] = h;
    }
    if (h->parent) {
        std::lock_guard l(h->parent->childLock);
        h->parent->children.push_back(h);
    }
    return h->id;
}

void Notice(Handle& h, DWORD status, const void* info, DWORD length) {
    if (h.context == 0)
        return;
    Session* s = h.OwnSession();
    INTERNET_STATUS_CALLBACK cb = s ? s->callback.load() : nullptr;
    if (!cb || cb == INTERNET_INVALID_STATUS_CALLBACK)
        return;
    cb(h.id, h.context, status, const_cast<void*>(info), length);
}

void NoticeText(Handle& h, DWORD status, const std::string& text) {
    Notice(h, status, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void Init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// --- libcurl callbacks ---------------------------------------------------

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string ResolveUrl(const std::string& base, const std::string& location) {
    CURLU* u = curl_url();
    std::string out;
    if (curl_url_set(u, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(u, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK) {
        char* s = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &s, 0) == CURLUE_OK)
            out = s;
        curl_free(s);
    }
    curl_url_cleanup(u);
    return out;
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
    auto& r = *static_cast<Request*>(user);
    const size_t len = size * n;
    std::string line(data, len);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    r.lastActivity = Clock::now();
    if (line.compare(0, 5, "HTTP/") == 0) {
        if (r.building.status == -1 && r.redirects == 0) {
            Notice(r, INTERNET_STATUS_REQUEST_SENT, nullptr, 0);
            Notice(r, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
        }
        r.building = Response{};
        r.building.statusLine = line;
        const size_t sp = line.find(' ');
        if (sp != std::string::npos) {
            r.building.status = std::atoi(line.c_str() + sp + 1);
            const size_t sp2 = line.find(' ', sp + 1);
            if (sp2 != std::string::npos)
                r.building.statusText = line.substr(sp2 + 1);
        }
        return len;
    }
    if (!line.empty()) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
            r.building.headers.emplace_back(Trim(line.substr(0, colon)),
                                            Trim(line.substr(colon + 1)));
        return len;
    }
    // End of one response's headers: 1xx answers and followed redirects are
    // not the final response.
    const int status = r.building.status;
    if (status >= 100 && status < 200)
        return len;
    if (status == 401 && r.authProbe) {
        r.authProbe = false;
        r.probed = r.building;
        return len;
    }
    if (IsRedirect(status) && r.redirects < kMaxRedirects) {
        if (const std::string* loc = r.building.Find("Location", 0)) {
            // A redirect the transfer may not follow (another scheme than
            // http or https, or from https to http) is the answer itself.
            const std::string next = ResolveUrl(r.url, *loc);
            const bool secure = Lower(r.url).rfind("https://", 0) == 0;
            const std::string scheme = Lower(next.substr(0, next.find("://") + 3));
            if (scheme == "https://" || (scheme == "http://" && !secure)) {
                ++r.redirects;
                r.url = next;
                NoticeText(r, INTERNET_STATUS_REDIRECT, r.url);
                return len;
            }
        }
    }
    r.final = r.building;
    r.haveFinal = true;
    Notice(r, INTERNET_STATUS_RESPONSE_RECEIVED, nullptr, 0);
    return len;
}

size_t OnWrite(char* data, size_t size, size_t n, void* user) {
    auto& r = *static_cast<Request*>(user);
    if (r.Buffered() >= kHighWater) {
        r.writePaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (r.bodyPos == r.body.size()) {
        r.body.clear();
        r.bodyPos = 0;
    }
    r.body.append(data, size * n);
    r.lastActivity = Clock::now();
    return size * n;
}

size_t OnRead(char* buffer, size_t size, size_t n, void* user) {
    auto& r = *static_cast<Request*>(user);
    const size_t avail = r.upload.size() - r.uploadPos;
    if (avail == 0) {
        if (r.uploadLeft > 0) {
            r.readPaused = true;
            return CURL_READFUNC_PAUSE;
        }
        return 0;
    }
    const size_t k = std::min(avail, size * n);
    std::memcpy(buffer, r.upload.data() + r.uploadPos, k);
    r.uploadPos += k;
    r.lastActivity = Clock::now();
    return k;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    // The safe point where a closed handle stops its transfer.
    return static_cast<Request*>(user)->Cancelled() ? 1 : 0;
}

int OnConnected(void* user, char* remoteIp, char*, int, int) {
    auto& r = *static_cast<Request*>(user);
    r.connected = true;
    r.lastActivity = Clock::now();
    const std::string ip = remoteIp ? remoteIp : "";
    NoticeText(r, INTERNET_STATUS_NAME_RESOLVED, ip);
    NoticeText(r, INTERNET_STATUS_CONNECTED_TO_SERVER, ip);
    Notice(r, INTERNET_STATUS_SENDING_REQUEST, nullptr, 0);
    return CURL_PREREQFUNC_OK;
}

DWORD MapError(Request& r) {
    switch (r.result) {
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_ABORTED_BY_CALLBACK:
            return ERROR_INTERNET_OPERATION_CANCELLED;
        case CURLE_PEER_FAILED_VERIFICATION: {
            long verify = 0;
            curl_easy_getinfo(r.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
            if (verify == 9 || verify == 10)
                return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
            if (verify == 0 || verify == 62)
                return ERROR_INTERNET_SEC_CERT_CN_INVALID;
            return ERROR_INTERNET_INVALID_CA;
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return ERROR_INTERNET_SECURE_FAILURE;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return ERROR_INTERNET_CONNECTION_RESET;
        case CURLE_PARTIAL_FILE:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_HTTP_REDIRECT_FAILED;
        default:
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

void CollectDone(Request& r) {
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(r.multi, &left)) {
        if (m->msg == CURLMSG_DONE) {
            r.done = true;
            r.result = m->data.result;
        }
    }
}

// Runs the transfer until `until` holds or it has ended. False (with the last
// error set) when the handle was closed or the time-out passed.
bool Drive(Request& r, const std::function<bool()>& until) {
    for (;;) {
        if (r.Cancelled()) {
            SetError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        if (until() || r.done)
            return true;
        int running = 0;
        if (curl_multi_perform(r.multi, &running) != CURLM_OK) {
            SetError(ERROR_INTERNET_INTERNAL_ERROR);
            return false;
        }
        CollectDone(r);
        if (until() || r.done)
            return true;

        // Connecting is bounded by libcurl's connect time-out; after that, the
        // receive or send time-out bounds the time without a byte.
        const bool sending = r.uploading && r.uploadLeft > 0;
        const DWORD limit = sending
                                ? r.Inherited(&Handle::sendTimeout).value_or(kDefaultSendMs)
                                : r.Inherited(&Handle::receiveTimeout).value_or(kDefaultReceiveMs);
        int waitMs = 1000;
        if (r.connected) {
            const auto quiet =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - r.lastActivity)
                    .count();
            if (quiet >= limit) {
                SetError(ERROR_INTERNET_TIMEOUT);
                return false;
            }
            waitMs = static_cast<int>(std::min<long long>(waitMs, limit - quiet));
        }
        if (curl_multi_poll(r.multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
            SetError(ERROR_INTERNET_INTERNAL_ERROR);
            return false;
        }
    }
}

std::string EscapeObject(const std::string& object) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : object) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.empty() || out[0] != '/')
        out.insert(out.begin(), '/');
    return out;
}

std::string BypassList(const std::string& bypass) {
    std::string out;
    std::string item;
    auto flush = [&] {
        if (!item.empty() && item != "<local>")
            out += (out.empty() ? "" : ",") + item;
        item.clear();
    };
    for (char c : bypass) {
        if (c == ';' || c == ' ' || c == ',' || c == '\t')
            flush();
        else
            item += c;
    }
    flush();
    return out;
}

std::vector<std::string> SplitHeaderLines(LPCSTR text, DWORD length) {
    std::vector<std::string> lines;
    if (!text)
        return lines;
    const size_t n = length == static_cast<DWORD>(-1) || length == 0 ? std::strlen(text) : length;
    std::string cur;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') {
            if (!cur.empty())
                lines.push_back(cur);
            cur.clear();
        } else {
            cur += text[i];
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    return lines;
}

// Starts (or starts again) the request's transfer. `extra` are the headers of
// this send only.
bool StartTransfer(Request& r, const std::vector<std::string>& extra, bool streamBody,
                   curl_off_t bodySize) {
    if (r.active) {
        curl_multi_remove_handle(r.multi, r.easy);
        r.active = false;
    }
    auto* conn = static_cast<Connection*>(r.parent.get());
    Session* s = r.OwnSession();
    if (s->flags & INTERNET_FLAG_OFFLINE) {
        // Offline work serves from a cache; there is none.
        SetError(ERROR_INTERNET_DISCONNECTED);
        return false;
    }
    r.done = false;
    r.result = CURLE_OK;
    r.building = Response{};
    r.final = Response{};
    r.haveFinal = false;
    r.authProbe = false;
    r.probed = Response{};
    r.redirects = 0;
    r.connected = false;
    r.lastActivity = Clock::now();
    r.body.clear();
    r.bodyPos = 0;
    r.writePaused = false;
    r.uploading = streamBody;
    r.upload.clear();
    r.uploadPos = 0;
    r.uploadLeft = streamBody ? bodySize : 0;
    r.readPaused = false;

    const bool secure = (r.flags & INTERNET_FLAG_SECURE) != 0;
    std::string host = conn->host;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    r.url = std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(conn->port) +
            EscapeObject(r.object);

    // A fresh easy handle a send (the connections stay in the multi handle's
    // pool); resetting one would keep its cookie engine's list for ever.
    if (r.used) {
        curl_easy_cleanup(r.easy);
        r.easy = curl_easy_init();
        if (!r.easy) {
            SetError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    r.used = true;
    CURL* e = r.easy;
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request stays secure: no redirect to plain http.
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kCurlBuffer);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* f = std::getenv("SSL_CERT_FILE"); f && *f)
        curl_easy_setopt(e, CURLOPT_CAINFO, f);
    if (const char* d = std::getenv("SSL_CERT_DIR"); d && *d)
        curl_easy_setopt(e, CURLOPT_CAPATH, d);
    curl_easy_setopt(
        e, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(r.Inherited(&Handle::connectTimeout).value_or(kDefaultConnectMs)));
    if (!s->agent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, s->agent.c_str());
    if (!r.referer.empty())
        curl_easy_setopt(e, CURLOPT_REFERER, r.referer.c_str());
    if (!(r.flags & INTERNET_FLAG_NO_COOKIES))
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");

    switch (s->accessType) {
        case INTERNET_OPEN_TYPE_DIRECT:
            curl_easy_setopt(e, CURLOPT_PROXY, "");
            break;
        case INTERNET_OPEN_TYPE_PROXY:
            curl_easy_setopt(e, CURLOPT_PROXY, s->proxy.c_str());
            curl_easy_setopt(e, CURLOPT_NOPROXY, BypassList(s->bypass).c_str());
            curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
            break;
        default:  // the environment's http_proxy, https_proxy and no_proxy
            curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
            break;
    }

    auto user = r.Inherited(&Handle::user);
    auto password = r.Inherited(&Handle::password);
    if (user && !user->empty()) {
        // More than one scheme: the server is asked first, so credentials
        // go only in answer to its 401, and never to a host a redirect
        // leads to.
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L);
        r.authProbe = true;
        curl_easy_setopt(e, CURLOPT_USERNAME, user->c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password ? password->c_str() : "");
    }
    auto proxyUser = r.Inherited(&Handle::proxyUser);
    auto proxyPassword = r.Inherited(&Handle::proxyPassword);
    if (proxyUser && !proxyUser->empty()) {
        curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxyUser->c_str());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxyPassword ? proxyPassword->c_str() : "");
    }

    const std::string verb = r.verb.empty() ? "GET" : r.verb;
    if (verb == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        if (streamBody) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
            curl_easy_setopt(e, CURLOPT_READFUNCTION, OnRead);
            curl_easy_setopt(e, CURLOPT_READDATA, &r);
        } else {
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.postData.data());
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(r.postData.size()));
        }
        if (verb != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    curl_slist_free_all(r.headerList);
    r.headerList = nullptr;
    // The request goes out at once; it does not wait for "100 Continue".
    r.headerList = curl_slist_append(r.headerList, "Expect:");
    r.headerList = curl_slist_append(
        r.headerList, ("Accept: " + (r.accept.empty() ? std::string("*/*") : r.accept)).c_str());
    if (r.flags & INTERNET_FLAG_PRAGMA_NOCACHE) {
        r.headerList = curl_slist_append(r.headerList, "Pragma: no-cache");
        r.headerList = curl_slist_append(r.headerList, "Cache-Control: no-cache");
    }
    for (const auto& h : r.headers)
        r.headerList = curl_slist_append(r.headerList, h.c_str());
    for (const auto& h : extra)
        r.headerList = curl_slist_append(r.headerList, h.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList);

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &r);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);

    NoticeText(r, INTERNET_STATUS_RESOLVING_NAME, conn->host);
    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) {
        SetError(ERROR_INTERNET_INTERNAL_ERROR);
        return false;
    }
    r.active = true;
    return true;
}

// Waits for the final response's headers of a started transfer.
BOOL FinishSend(Request& r) {
    if (!Drive(r, [&] { return r.haveFinal; }))
        return FALSE;
    if (!r.haveFinal && r.probed.status == 401) {
        // The server's 401 stands: libcurl had nothing to answer it with.
        r.final = r.probed;
        r.haveFinal = true;
    }
    if (!r.haveFinal) {
        long connectCode = 0;
        curl_easy_getinfo(r.easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (connectCode == 407) {
            // A proxy that refused the tunnel: its answer is the response.
            r.final = Response{};
            r.final.status = 407;
            r.final.statusLine = "HTTP/1.1 407 Proxy Authentication Required";
            r.final.statusText = "Proxy Authentication Required";
            r.haveFinal = true;
        } else {
            SetError(r.result == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : MapError(r));
            return FALSE;
        }
    }
    Notice(r, INTERNET_STATUS_REQUEST_COMPLETE, nullptr, 0);
    return TRUE;
}

void CloseTree(Handle& h) {
    h.closed = true;
    h.Wake();
    std::vector<std::shared_ptr<Handle>> children;
    {
        std::lock_guard l(h.childLock);
        for (auto& w : h.children)
            if (auto c = w.lock())
                children.push_back(c);
    }
    for (auto& c : children)
        CloseTree(*c);
}

bool CopyPart(const std::string& value, LPSTR buffer, DWORD* length) {
    if (value.size() + 1 > *length) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<DWORD>(value.size());
    return true;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags, URL_COMPONENTSA* uc) {
    if (!lpszUrl || !uc) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string url(lpszUrl, dwUrlLength ? dwUrlLength : std::strlen(lpszUrl));
    const size_t sep = url.find("://");
    if (sep == std::string::npos || sep == 0) {
        SetError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return FALSE;
    }
    struct Part {
        size_t pos = 0;
        std::string value;
    };
    Part scheme{0, url.substr(0, sep)};
    for (char c : scheme.value) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            SetError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
            return FALSE;
        }
    }
    const std::string lower = Lower(scheme.value);
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT port = 0;
    if (lower == "http") {
        nScheme = INTERNET_SCHEME_HTTP;
        port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (lower == "https") {
        nScheme = INTERNET_SCHEME_HTTPS;
        port = INTERNET_DEFAULT_HTTPS_PORT;
    } else if (lower == "file") {
        nScheme = INTERNET_SCHEME_FILE;
    } else if (lower == "ftp") {
        nScheme = INTERNET_SCHEME_FTP;
        port = 21;
    }

    const size_t authStart = sep + 3;
    size_t authEnd = url.find_first_of("/?#", authStart);
    if (authEnd == std::string::npos)
        authEnd = url.size();
    const std::string authority = url.substr(authStart, authEnd - authStart);
    Part user, password, host;
    size_t hostStart = 0;
    if (size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string info = authority.substr(0, at);
        const size_t colon = info.find(':');
        user = {authStart, info.substr(0, colon)};
        if (colon != std::string::npos)
            password = {authStart + colon + 1, info.substr(colon + 1)};
        hostStart = at + 1;
    }
    std::string hostPort = authority.substr(hostStart);
    size_t portSep = std::string::npos;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos) {
            SetError(ERROR_INTERNET_INVALID_URL);
            return FALSE;
        }
        host = {authStart + hostStart + 1, hostPort.substr(1, close - 1)};
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') {
                SetError(ERROR_INTERNET_INVALID_URL);
                return FALSE;
            }
            portSep = close + 1;
        }
    } else {
        portSep = hostPort.rfind(':');
        host = {authStart + hostStart, hostPort.substr(0, portSep)};
    }
    if (portSep != std::string::npos) {
        const std::string digits = hostPort.substr(portSep + 1);
        if (!digits.empty()) {
            if (digits.size() > 5 || !IsAllDigits(digits) || std::stoul(digits) > 65535) {
                SetError(ERROR_INTERNET_INVALID_URL);
                return FALSE;
            }
            port = static_cast<INTERNET_PORT>(std::stoul(digits));
        }
    }
    if (host.value.empty() && nScheme != INTERNET_SCHEME_FILE) {
        SetError(ERROR_INTERNET_INVALID_URL);
        return FALSE;
    }
    size_t pathEnd = url.find_first_of("?#", authEnd);
    if (pathEnd == std::string::npos)
        pathEnd = url.size();
    Part path{authEnd, url.substr(authEnd, pathEnd - authEnd)};
    Part extra{pathEnd, url.substr(pathEnd)};
    bool decoded = false;
    if (nScheme == INTERNET_SCHEME_FILE && (dwFlags & (ICU_DECODE | ICU_ESCAPE))) {
        path.value = PercentDecode(path.value);
        decoded = true;
    }

    // A part without a buffer but with a non-zero length asks for a pointer
    // into the URL itself.
    auto give = [&](const Part& p, LPSTR& buffer, DWORD& length, bool canPoint) {
        if (buffer)
            return CopyPart(p.value, buffer, &length);
        if (length) {
            if (!canPoint) {
                SetError(ERROR_INVALID_PARAMETER);
                return false;
            }
            buffer = p.value.empty() ? nullptr : const_cast<LPSTR>(lpszUrl + p.pos);
            length = static_cast<DWORD>(p.value.size());
        }
        return true;
    };
    if (!give(scheme, uc->lpszScheme, uc->dwSchemeLength, true) ||
        !give(host, uc->lpszHostName, uc->dwHostNameLength, true) ||
        !give(user, uc->lpszUserName, uc->dwUserNameLength, true) ||
        !give(password, uc->lpszPassword, uc->dwPasswordLength, true) ||
        !give(path, uc->lpszUrlPath, uc->dwUrlPathLength, !decoded) ||
        !give(extra, uc->lpszExtraInfo, uc->dwExtraInfoLength, true))
        return FALSE;
    uc->nScheme = nScheme;
    uc->nPort = port;
    return TRUE;
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    Init();
    if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
        dwAccessType != INTERNET_OPEN_TYPE_PROXY) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY && (!lpszProxy || !*lpszProxy)) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto s = std::make_shared<Session>();
    s->agent = lpszAgent ? lpszAgent : "";
    s->accessType = dwAccessType;
    s->proxy = lpszProxy ? lpszProxy : "";
    s->bypass = lpszProxyBypass ? lpszProxyBypass : "";
    s->flags = dwFlags;
    return Register(s);
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackA(HINTERNET hInternet,
                                                    INTERNET_STATUS_CALLBACK callback) {
    auto s = Find<Session>(hInternet, Handle::Kind::Session);
    if (!s)
        return INTERNET_INVALID_STATUS_CALLBACK;
    return s->callback.exchange(callback);
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD,
                           DWORD_PTR dwContext) {
    auto s = Find<Session>(hInternet, Handle::Kind::Session);
    if (!s)
        return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!lpszServerName || !*lpszServerName) {
        SetError(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    auto c = std::make_shared<Connection>();
    c->parent = s;
    c->context = dwContext;
    c->host = lpszServerName;
    c->port = nServerPort ? nServerPort : INTERNET_DEFAULT_HTTP_PORT;
    if (lpszUserName && *lpszUserName)
        c->user = lpszUserName;
    if (lpszPassword && *lpszPassword)
        c->password = lpszPassword;
    HINTERNET h = Register(c);
    Notice(*c, INTERNET_STATUS_HANDLE_CREATED, &h, sizeof h);
    return h;
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName, LPCSTR,
                           LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes, DWORD dwFlags,
                           DWORD_PTR dwContext) {
    auto c = Find<Connection>(hConnect, Handle::Kind::Connection);
    if (!c)
        return nullptr;
    auto r = std::make_shared<Request>();
    if (!r->easy || !r->multi) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    r->parent = c;
    r->context = dwContext;
    r->verb = lpszVerb && *lpszVerb ? lpszVerb : "GET";
    r->object = lpszObjectName ? lpszObjectName : "";
    r->referer = lpszReferrer ? lpszReferrer : "";
    for (LPCSTR* t = lplpszAcceptTypes; t && *t; ++t)
        r->accept += (r->accept.empty() ? "" : ", ") + std::string(*t);
    r->flags = dwFlags;
    HINTERNET h = Register(r);
    Notice(*r, INTERNET_STATUS_HANDLE_CREATED, &h, sizeof h);
    return h;
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
    auto h = Find(hInternet);
    if (!h)
        return FALSE;
    if (!lpBuffer) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto text = [&] {
        const char* p = static_cast<const char*>(lpBuffer);
        return dwBufferLength ? std::string(p, strnlen(p, dwBufferLength)) : std::string(p);
    };
    auto number = [&](std::optional<DWORD>& field) {
        if (dwBufferLength < sizeof(DWORD)) {
            SetError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        field = *static_cast<const DWORD*>(lpBuffer);
        return TRUE;
    };
    switch (dwOption) {
        case INTERNET_OPTION_CONNECT_TIMEOUT:
            return number(h->connectTimeout);
        case INTERNET_OPTION_RECEIVE_TIMEOUT:
            return number(h->receiveTimeout);
        case INTERNET_OPTION_SEND_TIMEOUT:
            return number(h->sendTimeout);
        case INTERNET_OPTION_USERNAME:
            h->user = text();
            return TRUE;
        case INTERNET_OPTION_PASSWORD:
            h->password = text();
            return TRUE;
        case INTERNET_OPTION_PROXY_USERNAME:
            h->proxyUser = text();
            return TRUE;
        case INTERNET_OPTION_PROXY_PASSWORD:
            h->proxyPassword = text();
            return TRUE;
        default:
            SetError(ERROR_INTERNET_INVALID_OPTION);
            return FALSE;
    }
}

BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) {
    auto r = Find<Request>(hRequest, Handle::Kind::Request);
    if (!r)
        return FALSE;
    auto lines = SplitHeaderLines(lpszHeaders, dwHeadersLength);
    for (const auto& line : lines) {
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos) {
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    for (const auto& line : lines) {
        const std::string name = Trim(line.substr(0, line.find(':')));
        if (dwModifiers & HTTP_ADDREQ_FLAG_REPLACE)
            std::erase_if(r->headers, [&](const std::string& h) {
                return SameName(Trim(h.substr(0, h.find(':'))), name);
            });
        r->headers.push_back(line);
    }
    return TRUE;
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    auto r = Find<Request>(hRequest, Handle::Kind::Request);
    if (!r)
        return FALSE;
    r->postData.assign(lpOptional ? static_cast<const char*>(lpOptional) : "",
                       lpOptional ? dwOptionalLength : 0);
    if (!StartTransfer(*r, SplitHeaderLines(lpszHeaders, dwHeadersLength), false, 0))
        return FALSE;
    return FinishSend(*r);
}

BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn, INTERNET_BUFFERSA*,
                        DWORD, DWORD_PTR) {
    auto r = Find<Request>(hRequest, Handle::Kind::Request);
    if (!r)
        return FALSE;
    std::vector<std::string> extra;
    curl_off_t total = 0;
    if (lpBuffersIn) {
        extra = SplitHeaderLines(lpBuffersIn->lpcszHeader, lpBuffersIn->dwHeadersLength);
        total = lpBuffersIn->dwBufferTotal;
    }
    return StartTransfer(*r, extra, true, total) ? TRUE : FALSE;
}

BOOL InternetWriteFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       DWORD* lpdwNumberOfBytesWritten) {
    auto r = Find<Request>(hFile, Handle::Kind::Request);
    if (!r)
        return FALSE;
    if (!r->active || !r->uploading) {
        SetError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (lpdwNumberOfBytesWritten)
        *lpdwNumberOfBytesWritten = 0;
    const curl_off_t n = std::min<curl_off_t>(dwNumberOfBytesToWrite, r->uploadLeft);
    r->upload.assign(static_cast<const char*>(lpBuffer), static_cast<size_t>(n));
    r->uploadPos = 0;
    r->uploadLeft -= n;
    if (r->readPaused) {
        r->readPaused = false;
        curl_easy_pause(r->easy, CURLPAUSE_CONT);
    }
    if (!Drive(*r, [&] { return r->uploadPos == r->upload.size() || r->haveFinal; }))
        return FALSE;
    if (r->done && r->result != CURLE_OK) {
        SetError(MapError(*r));
        return FALSE;
    }
    if (lpdwNumberOfBytesWritten)
        *lpdwNumberOfBytesWritten = static_cast<DWORD>(n);
    return TRUE;
}

BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA*, DWORD, DWORD_PTR) {
    auto r = Find<Request>(hRequest, Handle::Kind::Request);
    if (!r)
        return FALSE;
    if (!r->active) {
        SetError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (r->readPaused) {
        r->readPaused = false;
        curl_easy_pause(r->easy, CURLPAUSE_CONT);
    }
    return FinishSend(*r);
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex) {
    auto r = Find<Request>(hRequest, Handle::Kind::Request);
    if (!r)
        return FALSE;
    if (!lpdwBufferLength) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!r->haveFinal) {
        SetError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    const Response& resp = r->final;
    const DWORD level = dwInfoLevel & 0xFFFF;
    const DWORD index = lpdwIndex ? *lpdwIndex : 0;
    std::optional<std::string> value;
    auto header = [&](const char* name) {
        if (const std::string* v = resp.Find(name, index))
            value = *v;
    };
    switch (level) {
        case HTTP_QUERY_STATUS_CODE:
            value = std::to_string(resp.status);
            break;
        case HTTP_QUERY_STATUS_TEXT:
            value = resp.statusText;
            break;
        case HTTP_QUERY_RAW_HEADERS:
        case HTTP_QUERY_RAW_HEADERS_CRLF: {
            const std::string sep = level == HTTP_QUERY_RAW_HEADERS ? std::string(1, '\0') : "\r\n";
            std::string raw = resp.statusLine + sep;
            for (const auto& [n, v] : resp.headers)
                raw += n + ": " + v + sep;
            raw += sep;
            value = raw;
            break;
        }
        case HTTP_QUERY_CONTENT_TYPE:
            header("Content-Type");
            break;
        case HTTP_QUERY_CONTENT_LENGTH:
            header("Content-Length");
            break;
        case HTTP_QUERY_CONTENT_LANGUAGE:
            header("Content-Language");
            break;
        case HTTP_QUERY_DATE:
            header("Date");
            break;
        case HTTP_QUERY_EXPIRES:
            header("Expires");
            break;
        case HTTP_QUERY_LAST_MODIFIED:
            header("Last-Modified");
            break;
        case HTTP_QUERY_CONTENT_ENCODING:
            header("Content-Encoding");
            break;
        case HTTP_QUERY_LOCATION:
            header("Location");
            break;
        case HTTP_QUERY_WWW_AUTHENTICATE:
            header("WWW-Authenticate");
            break;
        case HTTP_QUERY_PROXY_AUTHENTICATE:
            header("Proxy-Authenticate");
            break;
        default:
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    if (!value) {
        SetError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) {
        if (*lpdwBufferLength < sizeof(DWORD) || !lpBuffer) {
            *lpdwBufferLength = sizeof(DWORD);
            SetError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        *static_cast<DWORD*>(lpBuffer) =
            static_cast<DWORD>(std::strtoul(value->c_str(), nullptr, 10));
        *lpdwBufferLength = sizeof(DWORD);
    } else {
        if (!lpBuffer || *lpdwBufferLength < value->size() + 1) {
            *lpdwBufferLength = static_cast<DWORD>(value->size() + 1);
            SetError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(lpBuffer, value->data(), value->size());
        static_cast<char*>(lpBuffer)[value->size()] = '\0';
        *lpdwBufferLength = static_cast<DWORD>(value->size());
    }
    if (lpdwIndex)
        ++*lpdwIndex;
    return TRUE;
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead) {
    auto r = Find<Request>(hFile, Handle::Kind::Request);
    if (!r)
        return FALSE;
    if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead)) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpdwNumberOfBytesRead = 0;
    if (!r->active) {
        SetError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (r->Buffered() == 0 && r->writePaused) {
        r->writePaused = false;
        curl_easy_pause(r->easy, CURLPAUSE_CONT);
    }
    if (!Drive(*r, [&] { return r->Buffered() > 0; }))
        return FALSE;
    const size_t n = std::min<size_t>(r->Buffered(), dwNumberOfBytesToRead);
    if (n > 0) {
        std::memcpy(lpBuffer, r->body.data() + r->bodyPos, n);
        r->bodyPos += n;
        *lpdwNumberOfBytesRead = static_cast<DWORD>(n);
        return TRUE;
    }
    if (r->result != CURLE_OK) {
        SetError(MapError(*r));
        return FALSE;
    }
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    std::shared_ptr<Handle> h;
    {
        std::lock_guard l(g_tableLock);
        auto it = g_handles.find(hInternet);
        if (it != g_handles.end()) {
            h = it->second;
            g_handles.erase(it);
        }
    }
    if (!h) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Notice(*h, INTERNET_STATUS_HANDLE_CLOSING, &hInternet, sizeof hInternet);
    CloseTree(*h);
    return TRUE;
}

}  // namespace win

extern "C" {

__attribute__((visibility("default"))) void WinAttachModule(const win::KernelServices* services) {
    if (services && services->SetLastError)
        win::g_setLastError.store(services->SetLastError);
}

__attribute__((visibility("default"))) const win::WinInetFunctions* WinInetEntry() {
    static const win::WinInetFunctions functions{
        &win::InternetCrackUrlA,      &win::InternetOpenA,      &win::InternetSetStatusCallbackA,
        &win::InternetConnectA,       &win::HttpOpenRequestA,   &win::InternetSetOptionA,
        &win::HttpAddRequestHeadersA, &win::HttpSendRequestA,   &win::HttpSendRequestExA,
        &win::InternetWriteFile,      &win::HttpEndRequestA,    &win::HttpQueryInfoA,
        &win::InternetReadFile,       &win::InternetCloseHandle};
    return &functions;
}

}  // extern "C"
