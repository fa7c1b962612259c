// Which received packets answer an echo request: hand-made packets against
// the matching rules of the ICMP library.
#include "platform/icmp_packet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace win;
using Bytes = std::vector<std::uint8_t>;

const IPAddr kHost = ::inet_addr("10.231.10.2");
const IPAddr kOther = ::inet_addr("10.231.10.3");
const IPAddr kUs = ::inet_addr("10.231.10.1");
constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSeq = 7;
const icmp::Request kRequest{kHost, kId, kSeq};

void Put16(Bytes& b, size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

// An IPv4 header (20 bytes, or more with `optionWords` of options) + payload.
Bytes Ip(IPAddr from, IPAddr to, const Bytes& payload, int optionWords = 0, std::uint8_t ttl = 61) {
    const size_t hl = 20 + 4 * static_cast<size_t>(optionWords);
    // Sized once and filled: GCC 12 at -O3 misreads appending to a short vector.
    Bytes b(hl + payload.size(), 0);
    b[0] = static_cast<std::uint8_t>(0x40 | (hl / 4));
    b[1] = 0x10;  // TOS
    Put16(b, 2, static_cast<std::uint16_t>(hl + payload.size()));
    b[6] = 0x40;  // DF
    b[8] = ttl;
    b[9] = 1;  // ICMP
    std::memcpy(&b[12], &from, 4);
    std::memcpy(&b[16], &to, 4);
    for (size_t i = 20; i < hl; ++i)
        b[i] = 1;  // NOP options
    std::copy(payload.begin(), payload.end(), b.begin() + static_cast<std::ptrdiff_t>(hl));
    return b;
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
           const Bytes& data) {
    Bytes b(8 + data.size(), 0);
    b[0] = type;
    b[1] = code;
    Put16(b, 4, id);
    Put16(b, 6, seq);
    std::copy(data.begin(), data.end(), b.begin() + 8);
    Put16(b, 2, icmp::Checksum(b.data(), b.size()));
    return b;
}

Bytes Echo(std::uint16_t id = kId, std::uint16_t seq = kSeq) {
    return Icmp(icmp::kEchoRequest, 0, id, seq, {'P', 'i', 'n'});
}

// An ICMP error quoting the request as the router saw it.
Bytes ErrorAbout(std::uint8_t type, std::uint8_t code, const Bytes& quotedIp) {
    Bytes b(8 + quotedIp.size(), 0);
    b[0] = type;
    b[1] = code;
    std::copy(quotedIp.begin(), quotedIp.end(), b.begin() + 8);
    Put16(b, 2, icmp::Checksum(b.data(), b.size()));
    return b;
}

struct RawCase {
    const char* name;
    Bytes packet;
    bool matches;
    ULONG status;
};

class RawPacketTest : public testing::TestWithParam<RawCase> {};

TEST_P(RawPacketTest, MatchesOnlyAnswersToThisRequest) {
    const RawCase& c = GetParam();
    icmp::Answer a = icmp::FromRawPacket(c.packet.data(), c.packet.size(), kRequest);
    EXPECT_EQ(a.matches, c.matches);
    if (c.matches) {
        EXPECT_EQ(a.status, c.status);
    }
}

Bytes Corrupted(Bytes b) {
    b.back() ^= 0xFF;
    return b;
}

Bytes Truncated(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

const Bytes kQuoted = Ip(kUs, kHost, Echo());

INSTANTIATE_TEST_SUITE_P(
    Packets, RawPacketTest,
    testing::Values(
        RawCase{"reply", Ip(kHost, kUs, Icmp(0, 0, kId, kSeq, {'P'})), true, IP_SUCCESS},
        RawCase{"reply_after_ip_options", Ip(kHost, kUs, Icmp(0, 0, kId, kSeq, {'P'}), 2), true,
                IP_SUCCESS},
        RawCase{"reply_from_another_host", Ip(kOther, kUs, Icmp(0, 0, kId, kSeq, {'P'})), false, 0},
        RawCase{"reply_to_another_program", Ip(kHost, kUs, Icmp(0, 0, kId + 1, kSeq, {})), false, 0},
        RawCase{"reply_to_an_earlier_request", Ip(kHost, kUs, Icmp(0, 0, kId, kSeq - 1, {})), false,
                0},
        RawCase{"reply_with_bad_checksum", Ip(kHost, kUs, Corrupted(Icmp(0, 0, kId, kSeq, {'P'}))),
                false, 0},
        RawCase{"our_own_request_looped_back", Ip(kUs, kHost, Echo()), false, 0},
        RawCase{"host_unreachable_from_router", Ip(kOther, kUs, ErrorAbout(3, 1, kQuoted)), true,
                IP_DEST_HOST_UNREACHABLE},
        RawCase{"port_unreachable", Ip(kHost, kUs, ErrorAbout(3, 3, kQuoted)), true,
                IP_DEST_PORT_UNREACHABLE},
        RawCase{"net_unreachable", Ip(kOther, kUs, ErrorAbout(3, 0, kQuoted)), true,
                IP_DEST_NET_UNREACHABLE},
        RawCase{"admin_prohibited", Ip(kOther, kUs, ErrorAbout(3, 13, kQuoted)), true,
                IP_DEST_HOST_UNREACHABLE},
        RawCase{"fragmentation_needed", Ip(kOther, kUs, ErrorAbout(3, 4, kQuoted)), true,
                IP_PACKET_TOO_BIG},
        RawCase{"ttl_expired_in_transit", Ip(kOther, kUs, ErrorAbout(11, 0, kQuoted)), true,
                IP_TTL_EXPIRED_TRANSIT},
        RawCase{"reassembly_time_exceeded", Ip(kOther, kUs, ErrorAbout(11, 1, kQuoted)), true,
                IP_TTL_EXPIRED_REASSEM},
        RawCase{"parameter_problem", Ip(kOther, kUs, ErrorAbout(12, 0, kQuoted)), true,
                IP_PARAM_PROBLEM},
        RawCase{"redirect_is_no_answer", Ip(kOther, kUs, ErrorAbout(5, 1, kQuoted)), false, 0},
        RawCase{"error_about_another_programs_request",
                Ip(kOther, kUs, ErrorAbout(3, 1, Ip(kUs, kHost, Echo(kId + 1)))), false, 0},
        RawCase{"error_about_an_earlier_request",
                Ip(kOther, kUs, ErrorAbout(3, 1, Ip(kUs, kHost, Echo(kId, kSeq - 1)))), false, 0},
        RawCase{"error_about_a_request_to_another_host",
                Ip(kOther, kUs, ErrorAbout(3, 1, Ip(kUs, kOther, Echo()))), false, 0},
        RawCase{"error_quoting_too_little", Ip(kOther, kUs, ErrorAbout(3, 1, Truncated(kQuoted, 24))),
                false, 0},
        RawCase{"truncated_reply", Truncated(Ip(kHost, kUs, Icmp(0, 0, kId, kSeq, {})), 24), false, 0},
        RawCase{"not_ipv4", [] {
                    Bytes b = Ip(kHost, kUs, Icmp(0, 0, kId, kSeq, {}));
                    b[0] = 0x65;
                    return b;
                }(), false, 0},
        RawCase{"empty", Bytes{}, false, 0}),
    [](const testing::TestParamInfo<RawCase>& info) { return std::string(info.param.name); });

TEST(RawPacket, ReplyGivesItsDataAndOptions) {
    Bytes packet = Ip(kHost, kUs, Icmp(0, 0, kId, kSeq, {'P', 'i', 'n', 'g'}), 0, 57);
    packet.push_back(0xEE);  // link-layer padding beyond the IP total length
    icmp::Answer a = icmp::FromRawPacket(packet.data(), packet.size(), kRequest);
    ASSERT_TRUE(a.matches);
    EXPECT_EQ(a.from, kHost);
    EXPECT_EQ(std::string(a.data, a.data + a.dataSize), "Ping");
    EXPECT_EQ(a.ttl, 57);
    EXPECT_EQ(a.tos, 0x10);
    EXPECT_EQ(a.flags, IP_FLAG_DF);
}

TEST(RawPacket, ErrorNamesTheRouterThatSentIt) {
    Bytes packet = Ip(kOther, kUs, ErrorAbout(11, 0, kQuoted));
    icmp::Answer a = icmp::FromRawPacket(packet.data(), packet.size(), kRequest);
    ASSERT_TRUE(a.matches);
    EXPECT_EQ(a.from, kOther);
    EXPECT_EQ(a.dataSize, 0u);
}

TEST(DatagramMessage, MatchesReplyFromTheDestinationWithOurSequence) {
    const Bytes reply = Icmp(0, 0, kId, kSeq, {'P'});
    EXPECT_TRUE(icmp::FromDatagram(reply.data(), reply.size(), kHost, kRequest).matches);
    EXPECT_FALSE(icmp::FromDatagram(reply.data(), reply.size(), kOther, kRequest).matches);
    const Bytes earlier = Icmp(0, 0, kId, kSeq + 1, {'P'});
    EXPECT_FALSE(icmp::FromDatagram(earlier.data(), earlier.size(), kHost, kRequest).matches);
    const Bytes request = Echo();
    EXPECT_FALSE(icmp::FromDatagram(request.data(), request.size(), kHost, kRequest).matches);
    EXPECT_FALSE(icmp::FromDatagram(reply.data(), 7, kHost, kRequest).matches);
}

TEST(EchoRequest, CarriesIdSequenceDataAndAValidChecksum) {
    const char data[] = "Pinging";
    Bytes packet = icmp::EchoRequest(0xABCD, 0x0102, data, 7);
    ASSERT_EQ(packet.size(), 15u);
    EXPECT_EQ(packet[0], icmp::kEchoRequest);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ(packet[4], 0xAB);
    EXPECT_EQ(packet[5], 0xCD);
    EXPECT_EQ(packet[6], 0x01);
    EXPECT_EQ(packet[7], 0x02);
    EXPECT_EQ(std::string(packet.begin() + 8, packet.end()), "Pinging");
    EXPECT_EQ(icmp::Checksum(packet.data(), packet.size()), 0);  // odd length included
    EXPECT_EQ(icmp::EchoRequest(1, 1, nullptr, 0).size(), 8u);
}

}  // namespace
