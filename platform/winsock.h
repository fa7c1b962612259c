#pragma once
// Sockets area: the Windows Sockets 1.1 calls the components use for name
// resolution, over the system resolver (getaddrinfo, so /etc/hosts counts).
//
// WSAStartup and WSACleanup are counted per process; the resolver calls fail
// with WSANOTINITIALISED while the count is 0. The last socket error is the
// thread's last error (WSAGetLastError is GetLastError).
//
// Threads: every call may be made from any thread. gethostbyname's result
// belongs to the calling thread and lives until its next call there.
// WSAAsyncGetHostByName resolves on a thread of its own and posts its reply
// to the given window, so the reply runs on the window's thread.

#include <netinet/in.h>  // AF_INET, INADDR_NONE and in_addr, with the Windows values

#include "platform/types.h"

namespace win {

using ::in_addr;

constexpr int SOCKET_ERROR = -1;
// Room the caller gives WSAAsyncGetHostByName for the host entry.
constexpr int MAXGETHOSTSTRUCT = 1024;

// Socket error codes.
constexpr int WSAEINTR = 10004;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOBUFS = 10055;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

constexpr WORD MAKEWORD(BYTE lo, BYTE hi) {
    return static_cast<WORD>(lo | (hi << 8));
}

// Reply parameter of WSAAsyncGetHostByName's message: the buffer length the
// entry needs in the low word, the error in the high word.
constexpr WORD WSAGETASYNCBUFLEN(LPARAM lParam) {
    return LOWORD(static_cast<DWORD_PTR>(lParam));
}
constexpr WORD WSAGETASYNCERROR(LPARAM lParam) {
    return HIWORD(static_cast<DWORD_PTR>(lParam));
}

struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    unsigned short iMaxSockets = 0;
    unsigned short iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// A host entry. Every pointer points into the same block: the thread's own
// storage for gethostbyname, the caller's buffer for WSAAsyncGetHostByName.
struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
using HOSTENT = hostent;

// Version 1.0 or 1.1 asked for is granted, a higher one gets 1.1; a major
// version 0 fails with WSAVERNOTSUPPORTED and counts nothing.
int WSAStartup(WORD versionRequested, WSADATA* data);
// Ends one WSAStartup; the last one also cancels every lookup still running.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Dotted form "a.b.c.d" (and the shorter BSD forms) to a network-order
// address; INADDR_NONE when it is none (also for "255.255.255.255").
ULONG inet_addr(const char* text);
// Network-order address to dotted-decimal text, in the calling thread's buffer.
char* inet_ntoa(in_addr address);

// First IPv4 address of the name and its official name, or nullptr with the
// error in WSAGetLastError.
hostent* gethostbyname(const char* name);

// Starts resolving `name` and returns a non-zero handle. When done, the host
// entry is laid out in `buffer` (WSAENOBUFS if it does not fit) and `msg` is
// posted to `hwnd` with wParam = the handle and lParam = MAKELONG(needed
// length, error). A cancelled request neither touches the buffer nor posts.
// Returns 0 with the error in WSAGetLastError when it cannot start.
HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buffer, int bufferLength);
// Cancels a running request: 0; SOCKET_ERROR with WSAEALREADY for one that
// has finished or was cancelled already, WSAEINVAL for a handle never made.
int WSACancelAsyncRequest(HANDLE asyncTask);

}  // namespace win
