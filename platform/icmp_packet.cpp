#include "platform/icmp_packet.h"

#include <cstring>

namespace win::icmp {
namespace {

constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::size_t kMinIpHeader = 20;

std::uint16_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

IPAddr ReadAddr(const std::uint8_t* p) {
    IPAddr a;
    std::memcpy(&a, p, sizeof a);
    return a;
}

// Length of a well-formed IPv4 header at `p`, or 0.
std::size_t IpHeaderLength(const std::uint8_t* p, std::size_t size) {
    if (size < kMinIpHeader || (p[0] >> 4) != 4)
        return 0;
    std::size_t length = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    return length >= kMinIpHeader && length <= size ? length : 0;
}

// Whether an ICMP error quotes our request: the quoted IP header (with at
// least the 8 bytes of ICMP header after it) went to our destination and
// carried our echo request.
bool QuotesRequest(const std::uint8_t* quoted, std::size_t size, const Request& request) {
    std::size_t ipLength = IpHeaderLength(quoted, size);
    if (!ipLength || size < ipLength + kHeaderSize)
        return false;
    if (quoted[9] != kProtocolIcmp || ReadAddr(quoted + 16) != request.destination)
        return false;
    const std::uint8_t* echo = quoted + ipLength;
    return echo[0] == kEchoRequest && Read16(echo + 4) == request.id &&
           Read16(echo + 6) == request.seq;
}

}  // namespace

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (; size > 1; data += 2, size -= 2)
        sum += Read16(data);
    if (size)
        sum += static_cast<std::uint32_t>(data[0]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> EchoRequest(std::uint16_t id, std::uint16_t seq, const void* data,
                                      std::size_t size) {
    std::vector<std::uint8_t> packet(kHeaderSize + size, 0);
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(id >> 8);
    packet[5] = static_cast<std::uint8_t>(id);
    packet[6] = static_cast<std::uint8_t>(seq >> 8);
    packet[7] = static_cast<std::uint8_t>(seq);
    if (size)
        std::memcpy(packet.data() + kHeaderSize, data, size);
    std::uint16_t sum = Checksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    return packet;
}

ULONG ErrorStatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
        case kDestUnreachable:
            switch (code) {
                case 0:   // network
                case 6:   // network unknown
                case 9:   // network prohibited
                case 11:  // network for this type of service
                    return IP_DEST_NET_UNREACHABLE;
                case 2:
                    return IP_DEST_PROT_UNREACHABLE;
                case 3:
                    return IP_DEST_PORT_UNREACHABLE;
                case 4:
                    return IP_PACKET_TOO_BIG;
                case 5:
                    return IP_BAD_ROUTE;
                default:
                    return IP_DEST_HOST_UNREACHABLE;  // host, unknown, prohibited, ...
            }
        case kTimeExceeded:
            return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
        case kParameterProblem:
            return IP_PARAM_PROBLEM;
        case kSourceQuench:
            return IP_SOURCE_QUENCH;
        default:
            return IP_SUCCESS;
    }
}

Answer FromRawPacket(const std::uint8_t* packet, std::size_t size, const Request& request) {
    Answer answer;
    std::size_t ipLength = IpHeaderLength(packet, size);
    if (!ipLength || packet[9] != kProtocolIcmp || size < ipLength + kHeaderSize)
        return answer;
    std::size_t totalLength = Read16(packet + 2);
    if (totalLength >= ipLength + kHeaderSize && totalLength < size)
        size = totalLength;
    const std::uint8_t* icmp = packet + ipLength;
    const std::size_t icmpSize = size - ipLength;
    const IPAddr from = ReadAddr(packet + 12);
    const UCHAR ttl = packet[8];
    const UCHAR tos = packet[1];
    const UCHAR flags = (packet[6] & 0x40) ? IP_FLAG_DF : 0;

    if (icmp[0] == kEchoReply) {
        if (icmp[1] != 0 || from != request.destination || Read16(icmp + 4) != request.id ||
            Read16(icmp + 6) != request.seq || Checksum(icmp, icmpSize) != 0)
            return answer;
        answer.matches = true;
        answer.data = icmp + kHeaderSize;
        answer.dataSize = icmpSize - kHeaderSize;
    } else {
        ULONG status = ErrorStatus(icmp[0], icmp[1]);
        if (status == IP_SUCCESS ||
            !QuotesRequest(icmp + kHeaderSize, icmpSize - kHeaderSize, request))
            return answer;
        answer.matches = true;
        answer.status = status;
    }
    answer.from = from;
    answer.ttl = ttl;
    answer.tos = tos;
    answer.flags = flags;
    return answer;
}

Answer FromDatagram(const std::uint8_t* message, std::size_t size, IPAddr from,
                    const Request& request) {
    Answer answer;
    if (size < kHeaderSize || message[0] != kEchoReply || message[1] != 0)
        return answer;
    if (from != request.destination || Read16(message + 4) != request.id ||
        Read16(message + 6) != request.seq)
        return answer;
    answer.matches = true;
    answer.from = from;
    answer.data = message + kHeaderSize;
    answer.dataSize = size - kHeaderSize;
    return answer;
}

}  // namespace win::icmp
