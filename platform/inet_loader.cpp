// The internet area's calls in the program: each forwards to the library of
// platform/inet_library.h, loaded on the first call. Without the library
// every call fails with ERROR_INTERNET_INTERNAL_ERROR.
#include "platform/inet_library.h"
#include "platform/kernel.h"
#include "platform/module.h"

namespace win {
namespace {

const WinInetFunctions* Library() {
    // Loaded once and kept: handles of the library outlive any caller.
    static const WinInetFunctions* const functions = []() -> const WinInetFunctions* {
        const HMODULE module = LoadLibraryA("wininet.dll");
        const auto entry = reinterpret_cast<PWinInetEntry>(GetProcAddress(module, "WinInetEntry"));
        return entry ? entry() : nullptr;
    }();
    if (!functions)
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return functions;
}

}  // namespace

BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSA* lpUrlComponents) {
    const auto* f = Library();
    return f ? f->CrackUrl(lpszUrl, dwUrlLength, dwFlags, lpUrlComponents) : FALSE;
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    const auto* f = Library();
    return f ? f->Open(lpszAgent, dwAccessType, lpszProxy, lpszProxyBypass, dwFlags) : nullptr;
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackA(HINTERNET hInternet,
                                                    INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
    const auto* f = Library();
    return f ? f->SetStatusCallback(hInternet, lpfnInternetCallback)
             : INTERNET_INVALID_STATUS_CALLBACK;
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) {
    const auto* f = Library();
    return f ? f->Connect(hInternet, lpszServerName, nServerPort, lpszUserName, lpszPassword,
                          dwService, dwFlags, dwContext)
             : nullptr;
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext) {
    const auto* f = Library();
    return f ? f->OpenRequest(hConnect, lpszVerb, lpszObjectName, lpszVersion, lpszReferrer,
                              lplpszAcceptTypes, dwFlags, dwContext)
             : nullptr;
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
    const auto* f = Library();
    return f ? f->SetOption(hInternet, dwOption, lpBuffer, dwBufferLength) : FALSE;
}

BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) {
    const auto* f = Library();
    return f ? f->AddRequestHeaders(hRequest, lpszHeaders, dwHeadersLength, dwModifiers) : FALSE;
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    const auto* f = Library();
    return f ? f->SendRequest(hRequest, lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength)
             : FALSE;
}

BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags, DWORD_PTR dwContext) {
    const auto* f = Library();
    return f ? f->SendRequestEx(hRequest, lpBuffersIn, lpBuffersOut, dwFlags, dwContext) : FALSE;
}

BOOL InternetWriteFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       DWORD* lpdwNumberOfBytesWritten) {
    const auto* f = Library();
    return f ? f->WriteFile(hFile, lpBuffer, dwNumberOfBytesToWrite, lpdwNumberOfBytesWritten)
             : FALSE;
}

BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags,
                     DWORD_PTR dwContext) {
    const auto* f = Library();
    return f ? f->EndRequest(hRequest, lpBuffersOut, dwFlags, dwContext) : FALSE;
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex) {
    const auto* f = Library();
    return f ? f->QueryInfo(hRequest, dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex) : FALSE;
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead) {
    const auto* f = Library();
    return f ? f->ReadFile(hFile, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead) : FALSE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    const auto* f = Library();
    return f ? f->CloseHandle(hInternet) : FALSE;
}

}  // namespace win
