#pragma once
// Internet area: the WinInet calls of the HTTP component, served by libcurl.
//
// Handles. A session (InternetOpenA) holds the agent and the proxy settings; a
// connection (InternetConnectA) the server, port and credentials; a request
// (HttpOpenRequestA) one resource. Settings are inherited downwards: an option
// set on a session or connection holds for the requests made under it unless
// the request sets its own.
//
// Transfers. HttpSendRequestA (or HttpSendRequestExA, InternetWriteFile and
// HttpEndRequestA) returns once the headers of the final response are in:
// redirects are followed (each one a INTERNET_STATUS_REDIRECT notice with the
// new URL), 1xx answers skipped. The status and headers are then read with
// HttpQueryInfoA and the body with InternetReadFile, which blocks until data
// arrives, and reports 0 bytes at the end of a complete body; a body cut short
// or a connection reset makes the read fail. Sending again on the same request
// (after a 401 or 407, with credentials set by options) drops what remains of
// the earlier answer. Only what the reader has not yet taken is buffered, so
// memory does not grow with the size of the body.
//
// Time-outs. INTERNET_OPTION_CONNECT_TIMEOUT bounds connecting,
// INTERNET_OPTION_RECEIVE_TIMEOUT and INTERNET_OPTION_SEND_TIMEOUT bound the
// time without a byte received or sent; 0 keeps the defaults (60 s, 30 s,
// 30 s). A time-out fails the call with ERROR_INTERNET_TIMEOUT.
//
// Security. HTTPS always verifies the server's certificate chain and host name;
// a failure fails the send with one of the ERROR_INTERNET_SEC_* codes or
// ERROR_INTERNET_SECURE_FAILURE. Trusted authorities are the system's, or the
// bundle named by SSL_CERT_FILE / the folder named by SSL_CERT_DIR (OpenSSL's
// own variables). Credentials are sent only to the host they were given for,
// never to a host a redirect leads to.
//
// Proxies. INTERNET_OPEN_TYPE_PRECONFIG takes the system's settings: the
// http_proxy, https_proxy and no_proxy variables. INTERNET_OPEN_TYPE_DIRECT
// ignores them; INTERNET_OPEN_TYPE_PROXY uses the given "host:port" and bypass
// list (entries separated by ";" or blanks).
//
// Status notices. The callback set on a session (InternetSetStatusCallbackA) is
// called on the thread that makes the call, for handles whose context is not 0
// (the context of the handle the notice is about): INTERNET_STATUS_HANDLE_CREATED
// and _HANDLE_CLOSING, _RESOLVING_NAME (host name), _CONNECTED_TO_SERVER
// (address), _SENDING_REQUEST, _REQUEST_SENT, _RECEIVING_RESPONSE,
// _RESPONSE_RECEIVED, _REDIRECT (new URL, NUL-terminated, length with the NUL)
// and _REQUEST_COMPLETE.
//
// Threads. A handle is used by one thread at a time, except InternetCloseHandle,
// which any thread may call at any time: a call blocked on that handle (or on a
// request under a closed session or connection) then returns at once, failing
// with ERROR_INTERNET_OPERATION_CANCELLED; the handle's resources go when the
// last call using it has returned. Errors are the thread's last error.

#include <string>

#include "platform/types.h"

namespace win {

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET hInternet, DWORD_PTR dwContext,
                                          DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                                          DWORD dwStatusInformationLength);
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(-1);

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Flags of InternetOpenA and HttpOpenRequestA.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_OFFLINE = 0x01000000;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;

// Options.
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr DWORD INTERNET_OPTION_USERNAME = 28;
constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;

constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// HttpQueryInfoA levels and modifier.
constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_CONTENT_LANGUAGE = 6;
constexpr DWORD HTTP_QUERY_DATE = 9;
constexpr DWORD HTTP_QUERY_EXPIRES = 10;
constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
constexpr DWORD HTTP_QUERY_RAW_HEADERS = 21;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_WWW_AUTHENTICATE = 40;
constexpr DWORD HTTP_QUERY_PROXY_AUTHENTICATE = 41;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Status notices.
constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr DWORD INTERNET_STATUS_REDIRECT = 110;

// URL schemes and InternetCrackUrlA flags.
enum INTERNET_SCHEME {
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_DEFAULT = 0,
    INTERNET_SCHEME_FTP = 1,
    INTERNET_SCHEME_HTTP = 3,
    INTERNET_SCHEME_HTTPS = 4,
    INTERNET_SCHEME_FILE = 5,
};
constexpr DWORD ICU_DECODE = 0x10000000;
constexpr DWORD ICU_ESCAPE = 0x80000000;

// Error codes.
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_DISCONNECTED = 12163;
constexpr DWORD ERROR_INTERNET_SECURE_FAILURE = 12175;

struct URL_COMPONENTSA {
    DWORD dwStructSize = sizeof(URL_COMPONENTSA);
    LPSTR lpszScheme = nullptr;
    DWORD dwSchemeLength = 0;
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
    LPSTR lpszHostName = nullptr;
    DWORD dwHostNameLength = 0;
    INTERNET_PORT nPort = 0;
    LPSTR lpszUserName = nullptr;
    DWORD dwUserNameLength = 0;
    LPSTR lpszPassword = nullptr;
    DWORD dwPasswordLength = 0;
    LPSTR lpszUrlPath = nullptr;
    DWORD dwUrlPathLength = 0;
    LPSTR lpszExtraInfo = nullptr;
    DWORD dwExtraInfoLength = 0;
};

struct INTERNET_BUFFERSA {
    DWORD dwStructSize = sizeof(INTERNET_BUFFERSA);
    INTERNET_BUFFERSA* Next = nullptr;
    LPCSTR lpcszHeader = nullptr;
    DWORD dwHeadersLength = 0;
    DWORD dwHeadersTotal = 0;
    LPVOID lpvBuffer = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBufferTotal = 0;
    DWORD dwOffsetLow = 0;
    DWORD dwOffsetHigh = 0;
};

// Splits a URL. Each part whose buffer is given is copied there (its length
// field: the buffer size on entry, the part's length on return; a part that
// does not fit fails the call with ERROR_INSUFFICIENT_BUFFER). The port is the
// scheme's default when the URL names none. With ICU_DECODE or ICU_ESCAPE the
// path of a "file" URL has its %xx escapes decoded (it names a local file); the
// parts of other URLs stay as written, since decoding them could not be undone.
BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSA* lpUrlComponents);

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags);
INTERNET_STATUS_CALLBACK InternetSetStatusCallbackA(HINTERNET hInternet,
                                                    INTERNET_STATUS_CALLBACK lpfnInternetCallback);
HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext);
HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers);
BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength);
// Starts a request whose body (dwBufferTotal bytes) the caller then writes with
// InternetWriteFile; HttpEndRequestA waits for the final response's headers.
BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetWriteFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       DWORD* lpdwNumberOfBytesWritten);
BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags,
                     DWORD_PTR dwContext);
BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead);
BOOL InternetCloseHandle(HINTERNET hInternet);

}  // namespace win
