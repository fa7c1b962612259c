#pragma once
// ICMP area: the records and entry points of the ICMP library "icmp.dll".
//
// The library is a shared library of ours (libquilvane_icmp.so) that callers
// load by name at run time (LoadLibraryA("icmp.dll"), platform/module.h) and
// reach through GetProcAddress with the names "IcmpCreateFile",
// "IcmpCloseHandle" and "IcmpSendEcho"; nothing links to it directly.
//
// IcmpSendEcho sends one echo request and waits for the first answer to that
// very request: an echo reply from the destination carrying our identifier
// and sequence number, or an ICMP error (destination unreachable, time
// exceeded, ...) about it. Anything else that arrives meanwhile is ignored and
// does not extend the wait past the time-out. It uses an ICMP datagram socket
// where net.ipv4.ping_group_range admits the caller's group, a raw socket
// otherwise (root or CAP_NET_RAW).
//
// Results:
//   echo reply       returns 1; the record: Status IP_SUCCESS, the replying
//                    address, round trip in ms, the echoed data (copied after
//                    the record, as much as fits), the reply's TTL, TOS and
//                    don't-fragment flag. Last error 0.
//   ICMP error       returns 0; the record: Status (IP_DEST_*_UNREACHABLE,
//                    IP_TTL_EXPIRED_*, ...) and the address that sent it; the
//                    same status as last error.
//   no answer        returns 0 after the time-out; Status and last error
//                    IP_REQ_TIMED_OUT.
//   cannot send      returns 0; last error: ERROR_ACCESS_DENIED when neither
//                    kind of ICMP socket is allowed, ERROR_INVALID_PARAMETER
//                    for bad arguments (TTL 0, data over 65500 bytes, option
//                    data), ERROR_INSUFFICIENT_BUFFER for a reply buffer
//                    smaller than the record, IP_BAD_DESTINATION for the
//                    addresses 0 and 255.255.255.255, an IP_* status when the
//                    system refuses to send (no route, packet too big).
//
// IcmpCreateFile answers INVALID_HANDLE_VALUE, last error ERROR_ACCESS_DENIED,
// when the caller may open neither kind of ICMP socket (its group is outside
// net.ipv4.ping_group_range and it lacks CAP_NET_RAW), IP_NO_RESOURCES when
// the system has no socket to give.
//
// A handle keeps the socket of the first thread that sends with it and reuses
// it (with its identifier) for that thread's later requests, throwing away
// whatever arrived in between; a socket lives in the network namespace, and
// with the rights, of the thread that opened it.
//
// Threads: any thread; a handle may be used by several threads at once
// (other threads, and overlapping calls, use a socket of their own per call).

#include "platform/types.h"

namespace win {

using IPAddr = ULONG;  // IPv4 address, network byte order
using UCHAR = unsigned char;
using USHORT = unsigned short;

// What IcmpSendEcho sends with the request. Option data is not supported:
// OptionsSize must be 0.
struct IP_OPTION_INFORMATION {
    UCHAR Ttl = 0;
    UCHAR Tos = 0;
    UCHAR Flags = 0;
    UCHAR OptionsSize = 0;
    UCHAR* OptionsData = nullptr;
};

// The reply's options as the reply record holds them (32-bit layout).
struct IP_OPTION_INFORMATION32 {
    UCHAR Ttl;
    UCHAR Tos;
    UCHAR Flags;
    UCHAR OptionsSize;
    ULONG OptionsData;  // always 0
};

// One reply record, the 28-byte layout of a 32-bit process, which callers
// size their reply buffers by. The echoed data follows the record in the
// reply buffer; Data holds its offset from the start of the buffer.
struct ICMP_ECHO_REPLY {
    IPAddr Address;
    ULONG Status;
    ULONG RoundTripTime;  // milliseconds
    USHORT DataSize;
    USHORT Reserved;
    ULONG Data;
    IP_OPTION_INFORMATION32 Options;
};
static_assert(sizeof(ICMP_ECHO_REPLY) == 28);

// IP_OPTION_INFORMATION::Flags
constexpr UCHAR IP_FLAG_REVERSE = 0x1;
constexpr UCHAR IP_FLAG_DF = 0x2;

// Statuses (ICMP_ECHO_REPLY::Status and last errors).
constexpr ULONG IP_SUCCESS = 0;
constexpr ULONG IP_STATUS_BASE = 11000;
constexpr ULONG IP_BUF_TOO_SMALL = 11001;
constexpr ULONG IP_DEST_NET_UNREACHABLE = 11002;
constexpr ULONG IP_DEST_HOST_UNREACHABLE = 11003;
constexpr ULONG IP_DEST_PROT_UNREACHABLE = 11004;
constexpr ULONG IP_DEST_PORT_UNREACHABLE = 11005;
constexpr ULONG IP_NO_RESOURCES = 11006;
constexpr ULONG IP_BAD_OPTION = 11007;
constexpr ULONG IP_HW_ERROR = 11008;
constexpr ULONG IP_PACKET_TOO_BIG = 11009;
constexpr ULONG IP_REQ_TIMED_OUT = 11010;
constexpr ULONG IP_BAD_REQ = 11011;
constexpr ULONG IP_BAD_ROUTE = 11012;
constexpr ULONG IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr ULONG IP_TTL_EXPIRED_REASSEM = 11014;
constexpr ULONG IP_PARAM_PROBLEM = 11015;
constexpr ULONG IP_SOURCE_QUENCH = 11016;
constexpr ULONG IP_OPTION_TOO_BIG = 11017;
constexpr ULONG IP_BAD_DESTINATION = 11018;
constexpr ULONG IP_GENERAL_FAILURE = 11050;

// Entry points, as GetProcAddress returns them.
using PIcmpCreateFile = HANDLE (*)();
using PIcmpCloseHandle = BOOL (*)(HANDLE icmpHandle);
using PIcmpSendEcho = DWORD (*)(HANDLE icmpHandle, IPAddr destinationAddress, LPVOID requestData,
                                WORD requestSize, IP_OPTION_INFORMATION* requestOptions,
                                LPVOID replyBuffer, DWORD replySize, DWORD timeout);

}  // namespace win
