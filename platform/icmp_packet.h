#pragma once
// The packet logic of the ICMP library: building echo requests and deciding
// whether a received packet answers one. Kept apart from the sockets so it
// can be checked against hand-made packets.
//
// Threads: pure functions.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/icmp.h"

namespace win::icmp {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::size_t kHeaderSize = 8;

// Internet checksum of `size` bytes (the sum field included as it stands).
std::uint16_t Checksum(const std::uint8_t* data, std::size_t size);

// An echo request: the ICMP header with identifier and sequence (host byte
// order here, network order on the wire) and checksum, then the data.
std::vector<std::uint8_t> EchoRequest(std::uint16_t id, std::uint16_t seq, const void* data,
                                      std::size_t size);

// The status an ICMP error of this type and code reports, or IP_SUCCESS for
// a message that is no final answer (a redirect, say).
ULONG ErrorStatus(std::uint8_t type, std::uint8_t code);

// The request a packet must answer.
struct Request {
    IPAddr destination;  // network byte order
    std::uint16_t id;
    std::uint16_t seq;
};

struct Answer {
    bool matches = false;
    ULONG status = IP_SUCCESS;  // IP_SUCCESS for the echo reply, else the error's
    IPAddr from = 0;            // who sent it
    UCHAR ttl = 0, tos = 0, flags = 0;
    const std::uint8_t* data = nullptr;  // echoed data (replies only)
    std::size_t dataSize = 0;
};

// A packet as a raw socket receives it: IP header, then ICMP. Matches an echo
// reply from the destination with our identifier and sequence and a sound
// checksum, and an ICMP error whose quoted request is ours.
Answer FromRawPacket(const std::uint8_t* packet, std::size_t size, const Request& request);

// A message as an ICMP datagram socket receives it: the ICMP header without
// the IP header, the sender from recvmsg. The identifier is the socket's own
// (the system rewrites it), so `request.id` is what the socket is bound to.
Answer FromDatagram(const std::uint8_t* message, std::size_t size, IPAddr from,
                    const Request& request);

}  // namespace win::icmp
