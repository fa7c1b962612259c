#pragma once
// Between the internet area's calls (inet_loader.cpp, in the program) and the
// library that serves them over libcurl (inet.cpp, loaded at run time as
// "wininet.dll" from the program's private library folder): the library
// exports "WinInetEntry", which answers this table of its calls. libcurl and
// its TLS chain are thus mapped only once the program makes its first
// internet call; a program that never makes one (the headless mode) never
// maps them.

#include "platform/inet.h"

namespace win {

struct WinInetFunctions {
    decltype(&InternetCrackUrlA) CrackUrl;
    decltype(&InternetOpenA) Open;
    decltype(&InternetSetStatusCallbackA) SetStatusCallback;
    decltype(&InternetConnectA) Connect;
    decltype(&HttpOpenRequestA) OpenRequest;
    decltype(&InternetSetOptionA) SetOption;
    decltype(&HttpAddRequestHeadersA) AddRequestHeaders;
    decltype(&HttpSendRequestA) SendRequest;
    decltype(&HttpSendRequestExA) SendRequestEx;
    decltype(&InternetWriteFile) WriteFile;
    decltype(&HttpEndRequestA) EndRequest;
    decltype(&HttpQueryInfoA) QueryInfo;
    decltype(&InternetReadFile) ReadFile;
    decltype(&InternetCloseHandle) CloseHandle;
};
using PWinInetEntry = const WinInetFunctions* (*)();

}  // namespace win
