// The HTTP download component against real servers on loopback: lighttpd for
// what a real server does (plain, no length, large with progress, range, 404,
// redirect, basic authentication, HTTPS), a scripted server for what it will
// not do (bodies cut short or reset, no status line, a stall, a proxy asking
// for credentials). Each run is checked by the events it raised, in order.
#include "upgrade/custom_http.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "platform/inet.h"
#include "tests/support/http_servers.h"
#include "tests/support/qt_wait.h"

namespace {

using quilvane_test::FaultServer;
using quilvane_test::ReadFile;
using quilvane_test::TempFolder;
using quilvane_test::WebServer;

using quilvane_test::RunUntil;

std::string StreamText(fw::TStream* s) {
    if (!s)
        return {};
    std::string out(static_cast<size_t>(s->Size()), '\0');
    s->SetPosition(0);
    out.resize(s->Read(out.data(), out.size()));
    return out;
}

// Records the events of one component: their names in order, the body handed
// to the last event that carries a stream, and a few figures.
struct Recorder {
    explicit Recorder(TacCustomHTTP& h) : http(h) {
        h.OnDone = [this](fw::TObject*, const std::string&, std::int64_t, fw::TStream* s) {
            body = StreamText(s);
            End("Done");
        };
        h.OnFailure = [this](fw::TObject*) { events.push_back("Failure"); };
        h.OnIncomplete = [this](fw::TObject*, const std::string&, std::int64_t, std::int64_t,
                                fw::TStream* s) {
            body = StreamText(s);
            End("Incomplete");
        };
        h.OnNoResponse = [this](fw::TObject*) { End("NoResponse"); };
        h.OnHTTPError = [this](fw::TObject*, int, fw::TStream* s) {
            body = StreamText(s);
            End("HTTPError");
        };
        h.OnDeclined = [this](fw::TObject*) { End("Declined"); };
        h.OnCancelled = [this](fw::TObject*) { End("Cancelled"); };
        h.OnRedirect = [this](fw::TObject*, const std::string& url) { redirects.push_back(url); };
    }
    void End(const char* name) {
        events.push_back(name);
        ended = true;
    }
    // Starts the run and waits for its last event.
    bool Run() {
        ended = false;
        events.clear();
        body.clear();
        redirects.clear();
        if (!http.Start())
            return false;
        return RunUntil([this] { return ended; });
    }
    std::string Events() const {
        std::string s;
        for (const auto& e : events)
            s += (s.empty() ? "" : " ") + e;
        return s;
    }

    TacCustomHTTP& http;
    std::vector<std::string> events;
    std::string body;
    std::vector<std::string> redirects;  // on the worker, read after the run
    bool ended = false;
};

class CustomHttp : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        web_ = std::make_unique<WebServer>();
        faults_ = std::make_unique<FaultServer>();
    }
    static void TearDownTestSuite() {
        web_.reset();
        faults_.reset();
    }
    void SetUp() override {
        if (!web_->Ok())
            QUILVANE_SKIP_OR_FAIL(web_->Error());
        if (!faults_->Ok())
            QUILVANE_SKIP_OR_FAIL(faults_->Error());
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("http_proxy");
    }
    static std::string Big() { return ReadFile(web_->Root() + "/big.bin"); }

    static std::unique_ptr<WebServer> web_;
    static std::unique_ptr<FaultServer> faults_;
    TempFolder folder_;
};
std::unique_ptr<WebServer> CustomHttp::web_;
std::unique_ptr<FaultServer> CustomHttp::faults_;

TEST_F(CustomHttp, FetchesIntoMemoryWithTheRightEvents) {
    struct Case {
        std::string url;
        std::string events;
        int status;
        std::string body;
        std::int64_t contentLength;
    };
    const std::string hello = "Hello, Quilvane!\n";
    const std::string noScheme = web_->Url("/hello.txt").substr(7);
    const Case cases[] = {
        {web_->Url("/hello.txt"), "Done", 200, hello, 17},
        {noScheme, "Done", 200, hello, 17},  // no "://": HTTP
        {web_->Url("/nolength.sh"), "Done", 200, "no length here", 0},
        {web_->Url("/missing.txt"), "Failure HTTPError", 404, "", -1},
        {web_->Url("/old"), "Done", 200, hello, 17},
        {"file://" + web_->Root() + "/hello.txt", "Done", 200, hello, 17},
        {"file://" + web_->Root() + "/missing.txt", "Failure HTTPError", 404, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = c.url;
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), c.events);
        EXPECT_EQ(http.StatusCode, c.status);
        if (c.status == 200) {
            EXPECT_EQ(r.body, c.body);
        }
        if (c.contentLength >= 0) {
            EXPECT_EQ(http.ContentLength, c.contentLength);
        }
        EXPECT_FALSE(http.Busy());
    }
}

TEST_F(CustomHttp, RedirectIsAnnouncedOnTheWorkerWithTheNewUrl) {
    TacCustomHTTP http(nullptr);
    Recorder r(http);
    http.URL = web_->Url("/old");
    std::vector<std::pair<win::DWORD, std::string>> statuses;
    http.OnStatus = [&](fw::TObject*, win::DWORD n, const std::string& text) {
        statuses.emplace_back(n, text);
    };
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.Events(), "Done");
    ASSERT_EQ(r.redirects.size(), 1u);
    EXPECT_EQ(r.redirects[0], web_->Url("/hello.txt"));
    bool sawRedirect = false, sawComplete = false;
    for (const auto& [n, text] : statuses) {
        if (n == 110)
            sawRedirect = text == "Redirect";
        if (n == 100)
            sawComplete = text == "Request complete";
    }
    EXPECT_TRUE(sawRedirect);
    EXPECT_TRUE(sawComplete);
}

TEST_F(CustomHttp, LargeFileGoesToAPrivateFileWithProgress) {
    TacCustomHTTP http(nullptr);
    Recorder r(http);
    const std::string target = folder_.Path() + "/big.bin";
    http.URL = web_->Url("/big.bin");
    http.FileName = target;
    http.TransferBufferSize = 65536;
    int progress = 0;
    std::int64_t last = 0;
    bool monotonic = true;
    mode_t modeWhileWriting = 0;
    win::BYTE percent = 0;
    http.OnDownloadProgress = [&](fw::TObject*, const std::string&, std::int64_t length,
                                  std::int64_t bytes, int, int, win::BYTE done, float,
                                  fw::TStream*) {
        EXPECT_EQ(length, 4 << 20);
        monotonic = monotonic && bytes > last;
        last = bytes;
        percent = done;
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0)
            modeWhileWriting = st.st_mode & 0777;
        ++progress;
    };
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.Events(), "Done");
    EXPECT_GE(progress, 64);  // one event a block
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(modeWhileWriting, 0600u);
    EXPECT_EQ(ReadFile(target), Big());
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u);  // complete: readable as any new file
}

TEST_F(CustomHttp, RangeFromOffsetFetchesTheRest) {
    TacCustomHTTP http(nullptr);
    Recorder r(http);
    http.URL = web_->Url("/big.bin");
    http.Range.StartRange = 100;
    std::string raw;
    size_t capacity = 0;
    http.OnDownloadProgress = [&](fw::TObject*, const std::string&, std::int64_t, std::int64_t, int,
                                  int, win::BYTE, float, fw::TStream* data) {
        if (!capacity)
            capacity = static_cast<fw::TMemoryStream*>(data)->Capacity();
    };
    http.OnHeaderInfo = [&](fw::TObject*, int, const std::string& headers, const std::string&,
                            const std::string&, const std::string&, const std::string&,
                            std::int64_t, TDateTime, TDateTime, TDateTime,
                            bool&) { raw = headers; };
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.Events(), "Done");
    EXPECT_EQ(http.StatusCode, 206);
    EXPECT_NE(raw.find("Content-Range: bytes 100-"), std::string::npos) << raw;
    EXPECT_TRUE(r.body == Big().substr(100));
    EXPECT_GE(capacity, (4u << 20) - 100);  // sized to the announced length at once
}

TEST_F(CustomHttp, HeaderInfoCarriesTheResponseAndCanDecline) {
    for (bool decline : {false, true}) {
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = web_->Url("/hello.txt");
        http.FileName = folder_.Path() + (decline ? "/declined.txt" : "/taken.txt");
        int status = 0;
        std::string type, raw;
        TDateTime date = 0, modified = 0;
        http.OnHeaderInfo = [&](fw::TObject*, int s, const std::string& headers,
                                const std::string& t, const std::string&, const std::string&,
                                const std::string&, std::int64_t, TDateTime d, TDateTime lm,
                                TDateTime, bool& go) {
            status = s;
            type = t;
            raw = headers;
            date = d;
            modified = lm;
            go = !decline;
        };
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), decline ? "Declined" : "Done");
        EXPECT_EQ(status, 200);
        EXPECT_EQ(type, "text/plain");
        EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << raw;
        EXPECT_GT(date, 40000);
        EXPECT_GT(modified, 40000);
        EXPECT_EQ(std::filesystem::exists(http.FileName), !decline);
    }
}

TEST_F(CustomHttp, BasicAuthenticationAsksAndRetries) {
    struct Case {
        bool handler;
        bool retry;
        std::string events;
    };
    for (const Case& c : {Case{false, false, "Failure HTTPError"},
                          Case{true, false, "Failure HTTPError"}, Case{true, true, "Done"}}) {
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = web_->Url("/private/secret.txt");
        std::string realm;
        int asked = 0;
        if (c.handler)
            http.OnAuthenticationRequest = [&](fw::TObject*, const std::string& rlm, bool& again) {
                realm = rlm;
                ++asked;
                if (c.retry) {
                    http.HTTPUsername = "quilvane";
                    http.HTTPPassword = "s3cret";
                    again = true;
                }
            };
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), c.events);
        EXPECT_EQ(http.StatusCode, c.retry ? 200 : 401);
        if (c.handler) {
            EXPECT_EQ(realm, "Quilvane test");
            EXPECT_EQ(asked, 1);
        }
        if (c.retry) {
            EXPECT_EQ(r.body, "the secret\n");
        }
    }
}

TEST_F(CustomHttp, HttpsVerifiesTheAuthorityAndTheName) {
    struct Case {
        bool trustFixtureCa;
        std::string host;
        std::string events;
    };
    for (const Case& c :
         {Case{true, "localhost", "Done"}, Case{false, "localhost", "Failure NoResponse"},
          Case{true, "127.0.0.1", "Failure NoResponse"}}) {
        SCOPED_TRACE(c.host + (c.trustFixtureCa ? " trusted" : " untrusted"));
        if (c.trustFixtureCa)
            ::setenv("SSL_CERT_FILE", web_->CaFile().c_str(), 1);
        else
            ::unsetenv("SSL_CERT_FILE");
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = web_->TlsUrl("/hello.txt", c.host);
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), c.events);
        if (c.events == "Done") {
            EXPECT_EQ(r.body, "Hello, Quilvane!\n");
        }
    }
    ::unsetenv("SSL_CERT_FILE");
}

TEST_F(CustomHttp, FaultsEndTheRunAsFailuresAndLeaveNoFile) {
    struct Case {
        std::string path;
        std::string events;
        int status;
    };
    for (const Case& c :
         {Case{"/short", "Failure Incomplete", 200}, Case{"/nostatus", "Failure NoResponse", -1},
          Case{"/stall", "Failure Incomplete", 200}, Case{"/reset", "Failure Incomplete", 200},
          Case{"/chunkcut", "Failure Incomplete", 200}}) {
        SCOPED_TRACE(c.path);
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = faults_->Url(c.path);
        http.FileName = folder_.Path() + "/partial.bin";
        http.Timeouts.ReceiveTimeout = 500;
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), c.events);
        EXPECT_EQ(http.StatusCode, c.status);
        EXPECT_FALSE(std::filesystem::exists(http.FileName));
        if (c.path == "/short") {
            EXPECT_EQ(http.BytesTransferred, 500);
        }
        if (c.path == "/stall") {
            EXPECT_EQ(http.BytesTransferred, 10);
        }
    }
}

TEST_F(CustomHttp, ProxyAskingForCredentialsGetsThemOnRetry) {
    for (bool retry : {false, true}) {
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = "http://127.0.0.1:1/through-the-proxy";
        http.Proxy.AccessType = atUseProxy;
        http.Proxy.ProxyServer = "127.0.0.1";
        http.Proxy.ProxyPort = faults_->Port();
        http.Proxy.ProxyBypass.clear();
        http.OnProxyAuthenticationRequest = [&](fw::TObject*, std::string& user,
                                                std::string& password, bool& again) {
            if (!retry)
                return;
            user = "proxyuser";
            password = "proxypass";
            again = true;
        };
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), retry ? "Done" : "Failure HTTPError");
        EXPECT_EQ(http.StatusCode, retry ? 200 : 407);
        EXPECT_EQ(r.body, retry ? "via proxy" : "proxy says no");
    }
}

TEST_F(CustomHttp, PreconfiguredAccessTakesTheProxyFromTheEnvironment) {
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(faults_->Port())).c_str(), 1);
    for (auto [type, status] : {std::pair{atPreconfig, 407}, std::pair{atDirect, 200}}) {
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = web_->Url("/hello.txt");
        http.Proxy.AccessType = type;
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(http.StatusCode, status);
    }
    ::unsetenv("http_proxy");
}

TEST_F(CustomHttp, PostsAFormAndAStreamWithUploadProgress) {
    TacCustomHTTP form(nullptr);
    Recorder r(form);
    form.URL = web_->Url("/echo.sh");
    form.PostData = "a=1&b=2";
    form.CustomHeaders = {"X-Quilvane: custom", "X-Other: too"};
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.Events(), "Done");
    EXPECT_EQ(r.body, "POST custom application/x-www-form-urlencoded a=1&b=2");

    TacCustomHTTP upload(nullptr);
    Recorder u(upload);
    upload.URL = web_->Url("/echo.sh");
    upload.UploadHeaders = "Content-Type: application/octet-stream\r\n";
    auto data = std::make_unique<fw::TMemoryStream>();
    const std::string payload(100000, 'q');
    data->Write(payload.data(), payload.size());
    std::int64_t sent = 0;
    int blocks = 0;
    upload.OnUploadProgress = [&](fw::TObject*, std::int64_t length, std::int64_t bytes, int, int,
                                  win::BYTE, float) {
        EXPECT_EQ(length, 100000);
        sent = bytes;
        ++blocks;
    };
    ASSERT_TRUE(upload.StartUpload(std::move(data)));
    ASSERT_TRUE(RunUntil([&] { return u.ended; }));
    EXPECT_EQ(u.Events(), "Done");
    EXPECT_EQ(sent, 100000);
    EXPECT_EQ(blocks, (100000 + 4095) / 4096);
    EXPECT_EQ(u.body, "POST  application/octet-stream " + payload);
}

TEST_F(CustomHttp, AbortStopsAStalledRunAndRemovesItsFile) {
    TacCustomHTTP http(nullptr);
    Recorder r(http);
    http.URL = faults_->Url("/stall");
    http.FileName = folder_.Path() + "/stalled.bin";
    std::atomic<bool> bodyStarted{false};
    http.OnStatus = [&](fw::TObject*, win::DWORD n, const std::string&) {
        if (n == win::INTERNET_STATUS_REQUEST_COMPLETE)
            bodyStarted = true;
    };
    ASSERT_TRUE(http.Start());
    EXPECT_FALSE(http.Start());  // one run at a time
    ASSERT_TRUE(
        RunUntil([&] { return bodyStarted.load() && std::filesystem::exists(http.FileName); }));
    ASSERT_TRUE(http.Busy());
    http.Abort();
    EXPECT_FALSE(http.Busy());
    EXPECT_EQ(r.Events(), "Cancelled");
    EXPECT_FALSE(std::filesystem::exists(http.FileName));
    QCoreApplication::processEvents();
    EXPECT_EQ(r.Events(), "Cancelled");  // nothing from the cut-off run
}

TEST_F(CustomHttp, AbortFromInsideAProgressEventCutsTheRunOff) {
    TacCustomHTTP http(nullptr);
    Recorder r(http);
    http.URL = web_->Url("/big.bin");
    http.FileName = folder_.Path() + "/aborted.bin";
    int progress = 0;
    http.OnDownloadProgress = [&](fw::TObject*, const std::string&, std::int64_t, std::int64_t, int,
                                  int, win::BYTE, float, fw::TStream*) {
        if (++progress == 2)
            http.Abort();
    };
    ASSERT_TRUE(http.Start());
    ASSERT_TRUE(RunUntil([&] { return r.ended; }));
    EXPECT_EQ(r.Events(), "Cancelled");
    EXPECT_FALSE(http.Busy());
    EXPECT_FALSE(std::filesystem::exists(http.FileName));
    // The worker unwinds once the event has returned and raises nothing more.
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(progress, 2);
    EXPECT_EQ(r.Events(), "Cancelled");
}

TEST_F(CustomHttp, StartFromInsideOnDoneRunsTheNextFetch) {
    TacCustomHTTP http(nullptr);
    std::vector<std::string> bodies;
    http.OnDone = [&](fw::TObject*, const std::string&, std::int64_t, fw::TStream* s) {
        bodies.push_back(StreamText(s));
        if (bodies.size() == 1) {
            http.URL = web_->Url("/private/secret.txt");
            http.HTTPUsername = "quilvane";
            http.HTTPPassword = "s3cret";
            EXPECT_TRUE(http.Start());
        }
    };
    http.URL = web_->Url("/hello.txt");
    ASSERT_TRUE(http.Start());
    ASSERT_TRUE(RunUntil([&] { return bodies.size() == 2; }));
    EXPECT_EQ(bodies[0], "Hello, Quilvane!\n");
    EXPECT_EQ(bodies[1], "the secret\n");
}

TEST_F(CustomHttp, StartOverAStalledTransferStartsAFreshOne) {
    // The thread component on its own, with a run that blocks in a transfer
    // until its handle is closed.
    TacCustomThread thread(nullptr);
    std::atomic<win::HINTERNET> request{nullptr};
    std::atomic<int> runs{0};
    std::atomic<int> readsEnded{0};
    const std::string host = "127.0.0.1";
    const auto port = static_cast<win::INTERNET_PORT>(faults_->Port());
    thread.OnStop = [&] {
        if (win::HINTERNET h = request.exchange(nullptr))
            win::InternetCloseHandle(h);
    };
    thread.SetOnRun([&](fw::TObject*, int) {
        ++runs;
        win::HINTERNET session =
            win::InternetOpenA("test", win::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        win::HINTERNET conn = win::InternetConnectA(session, host.c_str(), port, nullptr, nullptr,
                                                    win::INTERNET_SERVICE_HTTP, 0, 0);
        win::HINTERNET req =
            win::HttpOpenRequestA(conn, "GET", "/stall", nullptr, nullptr, nullptr, 0, 0);
        request = req;
        if (win::HttpSendRequestA(req, nullptr, 0, nullptr, 0)) {
            char buf[256];
            win::DWORD n = 0;
            while (win::InternetReadFile(req, buf, sizeof buf, &n) && n > 0) {
            }
        }
        ++readsEnded;
        if (request.exchange(nullptr))
            win::InternetCloseHandle(req);
        win::InternetCloseHandle(conn);
        win::InternetCloseHandle(session);
    });
    thread.Start();
    ASSERT_TRUE(RunUntil([&] { return request.load() != nullptr; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well into the stall
    EXPECT_EQ(readsEnded, 0);
    thread.Start();
    EXPECT_EQ(readsEnded, 1);  // the old run ended before Start returned
    ASSERT_TRUE(RunUntil([&] { return runs == 2 && request.load() != nullptr; }));
    EXPECT_TRUE(thread.Running());
    thread.Kill();
    EXPECT_EQ(readsEnded, 2);
}

// Stored credentials go to the server they belong to, and only once it asks
// with a 401: the scripted server says whether its request carried any.
TEST_F(CustomHttp, CredentialsGoOnlyToTheirServerAfterItsAsking) {
    const struct {
        std::string credentialHost;
        std::string body;
    } cases[] = {
        {TacCustomHTTP::OriginFromURL(web_->Url("/")), "no credentials"},
        {TacCustomHTTP::OriginFromURL(faults_->Url("/")), "had credentials"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.credentialHost);
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = faults_->Url("/auth");
        http.HTTPUsername = "quilvane";
        http.HTTPPassword = "s3cret";
        http.CredentialHost = c.credentialHost;
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), "Failure HTTPError");
        EXPECT_EQ(http.StatusCode, 401);
        EXPECT_EQ(r.body, c.body);
    }
    EXPECT_EQ(TacCustomHTTP::OriginFromURL("HTTPS://Example.ORG/x"), "example.org:443");
    EXPECT_EQ(TacCustomHTTP::OriginFromURL("example.org:8080/x"), "example.org:8080");
    EXPECT_EQ(TacCustomHTTP::OriginFromURL("http://u:p@Host.Example:81/a?b@c"), "host.example:81");
    EXPECT_EQ(TacCustomHTTP::OriginFromURL("http:///x"), "");
}

// A body beyond MaxSize: an announced length ends the run before any body
// byte, an endless one is cut off; neither leaves a file.
TEST_F(CustomHttp, MaxSizeEndsTheRunAndLeavesNoFile) {
    for (const std::string path : {"/huge", "/endless"}) {
        SCOPED_TRACE(path);
        TacCustomHTTP http(nullptr);
        Recorder r(http);
        http.URL = faults_->Url(path);
        http.FileName = folder_.Path() + "/capped.bin";
        http.MaxSize = 1 << 20;
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.Events(), "Failure Incomplete");
        EXPECT_TRUE(http.TooLarge);
        EXPECT_LE(http.BytesTransferred, 1 << 20);
        EXPECT_FALSE(std::filesystem::exists(http.FileName));
    }
}

// The component freed from inside its own event while its worker waits in
// the hand-over: the worker is left to end by itself, with the run it holds;
// it touches nothing of the freed component (the sanitizer build sees any
// such access) and its partial file goes with the run.
TEST_F(CustomHttp, ComponentFreedInsideItsEventLeavesTheWorkerItsRun) {
    auto* http = new TacCustomHTTP(nullptr);
    http->URL = web_->Url("/big.bin");
    http->FileName = folder_.Path() + "/partial.bin";
    const std::string file = http->FileName;
    int progress = 0;
    bool later = false;
    http->OnDownloadProgress = [&](fw::TObject*, const std::string&, std::int64_t, std::int64_t,
                                   int, int, win::BYTE, float, fw::TStream*) {
        if (++progress == 2)
            delete http;
    };
    http->OnDone = [&](fw::TObject*, const std::string&, std::int64_t, fw::TStream*) {
        later = true;
    };
    http->OnFailure = [&](fw::TObject*) { later = true; };
    ASSERT_TRUE(http->Start());
    ASSERT_TRUE(RunUntil([&] { return progress >= 2; }));
    ASSERT_TRUE(RunUntil([&] { return !std::filesystem::exists(file); }, 10000));
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(progress, 2);
    EXPECT_FALSE(later);
}

}  // namespace
