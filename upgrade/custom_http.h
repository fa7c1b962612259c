#pragma once
// TacCustomHTTP: fetches one resource per run, over HTTP or HTTPS through the
// platform's internet calls, or from a local path given as a "file" URL, into
// memory or into a local file. The transfer runs on the worker of a
// TacCustomThread; every event is handed over to the main thread, except
// OnStatus and OnRedirect, which run on the worker and must not touch the
// user interface.
//
// A run ends in its completion step (main thread) with exactly one of:
// OnDone; OnFailure followed by OnIncomplete (status 200, or 206 for a
// range, with the body short or broken off), OnNoResponse (no status line) or OnHTTPError (any
// other status); OnFailure alone (a run that succeeded without a stream to put the body in); or
// OnDeclined (OnHeaderInfo cleared Continue). Abort of a busy run raises OnCancelled instead. A run
// that fails leaves no local file behind; the local file is readable by its owner only until it is
// complete.
//
// Descendants (the upgrader) hook the events by overriding the protected Do*
// operations, each of which raises its event by default. The worker hands the
// header, progress and authentication steps over to the main thread only when
// someone listens (each is a blocking hand-over, per block for progress);
// a descendant that overrides one of those Do* operations says so through
// WantsHandOver, so its override runs whether or not the event is set.
//
// Threads: the settings and Start, Abort and Busy belong to the main thread;
// the results are written by the worker and read in the events.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "platform/inet.h"
#include "upgrade/custom_thread.h"
#include "upgrade/http_date.h"
#include "upgrade/login_component.h"

enum class TacHTTPAccessType { atPreconfig, atDirect, atUseProxy };
using enum TacHTTPAccessType;

class TacHTTPProxy : public fw::TObject {
public:
    TacHTTPAccessType AccessType = atPreconfig;
    int ProxyPort = 8080;
    std::string ProxyServer;
    std::string ProxyBypass = "127.0.0.1;";
    // ProxyServer and ProxyBypass are stored only for a named proxy.
    bool StoresProxyServer() const { return AccessType == atUseProxy; }
};

class TacHTTPRange : public fw::TObject {
public:
    int StartRange = 0;
    int EndRange = 0;
};

// Milliseconds; 0 keeps the library's default.
class TacHTTPTimeouts : public fw::TObject {
public:
    win::DWORD ConnectTimeout = 0;
    win::DWORD ReceiveTimeout = 0;
    win::DWORD SendTimeout = 0;
};

// The worker's optional hand-overs (see WantsHandOver).
enum class THTTPHandOver {
    HeaderInfo,
    DownloadProgress,
    UploadProgress,
    AuthenticationRequest,
    ProxyAuthenticationRequest
};

// Bytes per read or write call: 255 to 2147483647.
using TauBufferSize = int;

using TacHTTPDoneEvent = std::function<void(fw::TObject* Sender, const std::string& ContentType,
                                            std::int64_t BytesTransferred, fw::TStream* Data)>;
using TacHTTPHeaderInfoEvent = std::function<void(
    fw::TObject* Sender, int StatusCode, const std::string& RawHeaders,
    const std::string& ContentType, const std::string& ContentLanguage,
    const std::string& ContentEncoding, const std::string& Location, std::int64_t ContentLength,
    TDateTime Date, TDateTime LastModified, TDateTime Expires, bool& Continue)>;
using TacHTTPDownloadProgressEvent =
    std::function<void(fw::TObject* Sender, const std::string& ContentType,
                       std::int64_t ContentLength, std::int64_t BytesTransferred, int ElapsedTime,
                       int TimeLeft, win::BYTE PercentDone, float TransferRate, fw::TStream* Data)>;
using TacHTTPUploadProgressEvent = std::function<void(
    fw::TObject* Sender, std::int64_t ContentLength, std::int64_t BytesTransferred, int ElapsedTime,
    int TimeLeft, win::BYTE PercentDone, float TransferRate)>;
using TacHTTPStatusEvent = std::function<void(fw::TObject* Sender, win::DWORD StatusNumber,
                                              const std::string& StatusText)>;
using TacHTTPRedirectEvent = std::function<void(fw::TObject* Sender, const std::string& NewURL)>;
using TacHTTPIncompleteEvent = std::function<void(
    fw::TObject* Sender, const std::string& ContentType, std::int64_t ContentLength,
    std::int64_t BytesTransferred, fw::TStream* Data)>;
using TacHTTPErrorEvent =
    std::function<void(fw::TObject* Sender, int StatusCode, fw::TStream* Data)>;
using TacHTTPPasswordRequestEvent =
    std::function<void(fw::TObject* Sender, const std::string& Realm, bool& TryAgain)>;
using TacHTTPProxyAuthenticationEvent = std::function<void(
    fw::TObject* Sender, std::string& ProxyUsername, std::string& ProxyPassword, bool& TryAgain)>;

// The status text of an internet status number ("Unknown status" for others).
std::string HTTPStatusText(win::DWORD StatusNumber);

class TacCustomHTTP : public TacLoginComponent {
public:
    explicit TacCustomHTTP(fw::TComponent* AOwner);
    // Stops a busy run (its worker cut off, no events) and frees everything.
    ~TacCustomHTTP() override;

    // False while a run is busy; otherwise starts one.
    bool Start();
    // Starts a run that sends Data (taken over) as a POST body in
    // TransferBufferSize blocks with OnUploadProgress after each.
    bool StartUpload(std::unique_ptr<fw::TStream> Data);
    // Closes the internet handles; a busy run is stopped and OnCancelled
    // raised; the run's buffer and stream are freed and its partial file
    // removed.
    void Abort();
    // From Start until the completion step begins (so a handler of the
    // completion may start the next run).
    bool Busy() const;

    static std::string HostFromURL(const std::string& URL);
    // "host:port" of a URL, the host in lower case ("http://" is assumed
    // without a scheme); empty when it cannot be read.
    static std::string OriginFromURL(const std::string& URL);
    static std::string FileNameFromURL(const std::string& URL);

    TacCustomThread* Thread() const { return thread_; }

    // Settings.
    std::string URL;
    std::string FileName;
    bool HideFileName = false;
    std::string PostData;
    std::string Referer;
    std::vector<std::string> CustomHeaders;
    std::string AcceptTypes = "text/html, */*";
    std::string UserAgent;
    TacHTTPRange Range;
    TacHTTPTimeouts Timeouts;
    TacHTTPProxy Proxy;
    TauBufferSize TransferBufferSize = 4096;
    int RequestMethod = 0;  // 0 automatic, 1 "GET", 2 "POST"
    bool PostFromStream = false;
    std::string UploadHeaders;
    bool UseCache = true;
    bool UseCookies = true;
    bool WorkOffline = false;
    // The largest body a run takes, 0 for no limit: a larger announced length
    // ends the run before any body byte, a body growing past it is cut off;
    // either way the run is incomplete (OnIncomplete) with TooLarge set and
    // its partial file removed.
    std::int64_t MaxSize = 0;
    // The server ("host:port", as OriginFromURL gives it) that HTTPUsername
    // and HTTPPassword belong to; empty: whatever server URL names. They go
    // to no other server, and to this one only once it asks with a 401
    // (never up front); a 401 answered with TryAgain makes its server this
    // one.
    std::string CredentialHost;

    // Results of the run.
    int StatusCode = -1;
    bool Success = false;
    bool TryAgain = false;
    bool Continue = true;
    bool TooLarge = false;
    std::string RawHeaders, ContentType, ContentLanguage, ContentEncoding, Location;
    TDateTime Date = 0, LastModified = 0, Expires = 0;
    std::int64_t ContentLength = 0;
    std::int64_t BytesTransferred = 0;
    win::BYTE PercentDone = 0;
    int ElapsedTime = 0;
    int TimeLeft = 0;
    float TransferRate = 0;
    std::string ProxyUsername, ProxyPassword;

    // Events.
    TacHTTPDoneEvent OnDone;
    TacHTTPHeaderInfoEvent OnHeaderInfo;
    fw::TNotifyEvent OnDeclined;
    TacHTTPDownloadProgressEvent OnDownloadProgress;
    TacHTTPUploadProgressEvent OnUploadProgress;
    TacHTTPStatusEvent OnStatus;
    TacHTTPRedirectEvent OnRedirect;
    fw::TNotifyEvent OnFailure;
    fw::TNotifyEvent OnCancelled;
    TacHTTPIncompleteEvent OnIncomplete;
    fw::TNotifyEvent OnNoResponse;
    TacHTTPErrorEvent OnHTTPError;
    TacHTTPPasswordRequestEvent OnAuthenticationRequest;
    TacHTTPProxyAuthenticationEvent OnProxyAuthenticationRequest;
    TacWaitTimeoutEvent OnWaitTimeout;

protected:
    // Whether the worker hands `Step` over to the main thread (and so calls
    // its Do* operation) during the run about to start. Asked on the main
    // thread as each run starts; by default true when the matching event is
    // set.
    virtual bool WantsHandOver(THTTPHandOver Step) const;

    virtual void DoDone(const std::string& AContentType, std::int64_t ABytes, fw::TStream* Data);
    virtual void DoHeaderInfo(bool& AContinue);
    virtual void DoDeclined();
    virtual void DoDownloadProgress(fw::TStream* Data);
    virtual void DoUploadProgress();
    virtual void DoStatus(win::DWORD StatusNumber, const std::string& StatusText);
    virtual void DoRedirect(const std::string& NewURL);
    virtual void DoFailure();
    virtual void DoCancelled();
    virtual void DoIncomplete(fw::TStream* Data);
    virtual void DoNoResponse();
    virtual void DoHTTPError(fw::TStream* Data);
    virtual void DoAuthenticationRequest(const std::string& Realm, bool& ATryAgain);
    virtual void DoProxyAuthenticationRequest(bool& ATryAgain);
    virtual void DoWaitTimeout(bool& Terminate);

private:
    // One run's settings, results, handles and data, shared by the component
    // and the run's worker: a worker cut off and left to end by itself keeps
    // its run alive and never touches the component, whose results are taken
    // from the run on the main thread (in each hand-over and at completion).
    struct Run;
    static void StatusCallback(win::HINTERNET hInternet, win::DWORD_PTR dwContext,
                               win::DWORD dwInternetStatus, win::LPVOID lpvStatusInformation,
                               win::DWORD dwStatusInformationLength);
    bool StartRun(std::unique_ptr<fw::TStream> upload);
    // The run, on the worker: it reads and writes nothing but `r`.
    static void Transfer(Run& r);
    static bool SendRequest(Run& r, bool post);  // one send of step 10
    static void ReadResponseHeaders(Run& r);     // step 11
    static bool OpenTarget(Run& r);              // step 12
    static void Receive(Run& r, int fd);         // step 13; fd >= 0 reads a local file
    static void UpdateProgress(Run& r);
    // Runs `step` on the main thread with the run's results made the
    // component's; skipped for a run the component has let go.
    static void HandOver(Run& r, const std::function<void(TacCustomHTTP&)>& step);
    // Stores a handle the worker opened (see the .cpp for the race it closes).
    static void Keep(std::atomic<win::HINTERNET>& slot, win::HINTERNET handle);
    void TakeResults(const Run& r);
    void Completion();  // the finish handler, on the main thread
    void CloseHandles();
    // 200, or 206 for a run that asked for a range.
    bool BodyStatus() const;
    // Lets the run go: its worker may still hold it, and its partial file
    // goes with its last holder.
    void FreeRun();

    TacCustomThread* thread_;
    std::shared_ptr<Run> run_;
    // Set by the destructor: no more status notices.
    std::atomic<bool> closing_{false};
};
