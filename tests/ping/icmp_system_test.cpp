// Real echo requests against real peers: loopback, and a host in a network
// namespace that answers, drops or rejects, or whose replies a scripted
// responder writes. The client runs either in this namespace or, to choose
// the kind of ICMP socket, on a thread inside a client namespace linked
// straight to the host:
//   raw       ping_group_range "1 0" there: datagram sockets refused, CAP_NET_RAW kept
//   datagram  ping_group_range widened there, CAP_NET_RAW dropped from the thread
// Needs root; skipped with the reason outside CI, failed inside.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ping/icmp_engine.h"
#include "ping/ping_component.h"
#include "platform/icmp.h"
#include "platform/icmp_packet.h"
#include "platform/kernel.h"
#include "platform/module.h"
#include "tests/support/test_host.h"

namespace {

using quilvane_test::RunCommand;
using quilvane_test::TestHost;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Host "ph" (10.231.15.2 from here), client namespace "pc" linked to it:
// pc is 10.231.16.1, ph 10.231.16.2 on that link.
constexpr int kHostIndex = 15;
constexpr int kClientIndex = 14;
constexpr int kLinkIndex = 16;
constexpr char kLinkTarget[] = "10.231.16.2";
constexpr char kLinkClient[] = "10.231.16.1";
constexpr char kElsewhere[] = "10.231.16.3";  // no one has it: a "router" or a stranger

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

win::IPAddr Addr(const char* text) {
    return ::inet_addr(text);
}

// Drops CAP_NET_RAW from the calling thread only.
bool DropNetRaw() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2];
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective &= ~(1u << CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

struct Fd {
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

// An echo request as the host saw it.
struct Seen {
    Bytes ip;  // the whole packet, IP header first
    win::IPAddr src = 0, dst = 0;
    std::uint16_t id = 0, seq = 0;
    std::uint8_t ttl = 0;
    bool df = false;
    Bytes data;
};

bool ParseRequest(const Bytes& p, Seen* out) {
    if (p.size() < 28 || (p[0] >> 4) != 4)
        return false;
    size_t hl = (p[0] & 0x0F) * 4u;
    if (p.size() < hl + 8 || p[9] != 1 || p[hl] != win::icmp::kEchoRequest)
        return false;
    out->ip = p;
    std::memcpy(&out->src, &p[12], 4);
    std::memcpy(&out->dst, &p[16], 4);
    out->ttl = p[8];
    out->df = (p[6] & 0x40) != 0;
    out->id = static_cast<std::uint16_t>((p[hl + 4] << 8) | p[hl + 5]);
    out->seq = static_cast<std::uint16_t>((p[hl + 6] << 8) | p[hl + 7]);
    out->data.assign(p.begin() + static_cast<long>(hl + 8), p.end());
    return true;
}

// An IP packet for an IPPROTO_RAW socket; the system fills in length and checksum.
// Packets are sized once and filled: GCC 12 at -O3 misreads appending to a
// short vector.
Bytes Ip(win::IPAddr from, win::IPAddr to, const Bytes& icmp) {
    Bytes b(20 + icmp.size(), 0);
    b[0] = 0x45;
    b[8] = 64;
    b[9] = 1;
    std::memcpy(&b[12], &from, 4);
    std::memcpy(&b[16], &to, 4);
    std::copy(icmp.begin(), icmp.end(), b.begin() + 20);
    return b;
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
           const Bytes& data, bool corrupt = false) {
    Bytes b(8 + data.size(), 0);
    b[0] = type;
    b[1] = code;
    b[4] = static_cast<std::uint8_t>(id >> 8);
    b[5] = static_cast<std::uint8_t>(id);
    b[6] = static_cast<std::uint8_t>(seq >> 8);
    b[7] = static_cast<std::uint8_t>(seq);
    std::copy(data.begin(), data.end(), b.begin() + 8);
    std::uint16_t sum = win::icmp::Checksum(b.data(), b.size());
    if (corrupt)
        sum ^= 0x0101;
    b[2] = static_cast<std::uint8_t>(sum >> 8);
    b[3] = static_cast<std::uint8_t>(sum);
    return b;
}

struct ReplyShape {
    win::IPAddr from = 0;  // 0: the address the request went to
    int idDelta = 0;
    int seqDelta = 0;
    bool corrupt = false;
};

Bytes ReplyTo(const Seen& r, ReplyShape s = {}) {
    return Ip(s.from ? s.from : r.dst, r.src,
              Icmp(win::icmp::kEchoReply, 0, static_cast<std::uint16_t>(r.id + s.idDelta),
                   static_cast<std::uint16_t>(r.seq + s.seqDelta), r.data, s.corrupt));
}

Bytes TimeExceededAbout(const Seen& r, win::IPAddr router) {
    size_t hl = (r.ip[0] & 0x0F) * 4u;
    Bytes icmp(8, 0);
    icmp[0] = win::icmp::kTimeExceeded;
    icmp.insert(icmp.end(), r.ip.begin(), r.ip.begin() + static_cast<long>(hl + 8));
    std::uint16_t sum = win::icmp::Checksum(icmp.data(), icmp.size());
    icmp[2] = static_cast<std::uint8_t>(sum >> 8);
    icmp[3] = static_cast<std::uint8_t>(sum);
    return Ip(router, r.src, icmp);
}

// Raw sockets opened inside a host's namespace, usable from any thread.
struct HostSockets {
    explicit HostSockets(const TestHost& host) {
        host.RunInside([&] {
            in.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            out.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        });
    }
    bool Ok() const { return in.fd >= 0 && out.fd >= 0; }
    void Send(const Bytes& packet) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr.s_addr, &packet[16], 4);
        ::sendto(out.fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    // The next echo request to `dst` that arrives within `ms`.
    bool Next(win::IPAddr dst, int ms, Seen* seen) const {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{in.fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0)
                return false;
            Bytes buf(70000);
            ssize_t n = ::recv(in.fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                return false;
            buf.resize(static_cast<size_t>(n));
            if (ParseRequest(buf, seen) && seen->dst == dst)
                return true;
        }
    }
    Fd in, out;
};

// Answers echo requests to `target` on the host as the script says; the
// host's own answers are switched off meanwhile.
class Responder {
public:
    using Script =
        std::function<std::vector<Bytes>(const Seen& request, const std::vector<Seen>& earlier)>;

    Responder(TestHost& host, win::IPAddr target, Script script)
        : host_(host), sockets_(host), stop_(::eventfd(0, EFD_CLOEXEC)) {
        host_.Exec({"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1"});
        thread_ = std::thread([this, target, script = std::move(script)] {
            std::vector<Seen> earlier;
            auto deadline = Clock::now() + std::chrono::seconds(30);
            while (Clock::now() < deadline) {
                pollfd p[2] = {{sockets_.in.fd, POLLIN, 0}, {stop_.fd, POLLIN, 0}};
                if (::poll(p, 2, 1000) < 0 || (p[1].revents & POLLIN))
                    return;
                if (!(p[0].revents & POLLIN))
                    continue;
                Seen seen;
                if (!sockets_.Next(target, 0, &seen))
                    continue;
                for (const Bytes& packet : script(seen, earlier))
                    sockets_.Send(packet);
                earlier.push_back(seen);
            }
        });
    }
    ~Responder() {
        std::uint64_t one = 1;
        (void)!::write(stop_.fd, &one, sizeof one);
        thread_.join();
        host_.Exec({"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=0"});
    }
    bool Ok() const { return sockets_.Ok() && stop_.fd >= 0; }

private:
    TestHost& host_;
    HostSockets sockets_;
    Fd stop_;
    std::thread thread_;
};

// Sends echo replies from `from` to `to` as fast as it can: every identifier,
// sequence numbers no request of ours uses.
class Flood {
public:
    Flood(const TestHost& host, win::IPAddr from, win::IPAddr to) : sockets_(host) {
        thread_ = std::thread([this, from, to] {
            auto deadline = Clock::now() + std::chrono::seconds(20);
            Bytes data(56, 'F');
            for (std::uint32_t i = 0; !stop_ && Clock::now() < deadline; ++i) {
                auto id = static_cast<std::uint16_t>(i * 40503u);
                auto seq = static_cast<std::uint16_t>(0x8000 | (i & 0x7FFF));
                sockets_.Send(Ip(from, to, Icmp(win::icmp::kEchoReply, 0, id, seq, data)));
                if (++sent_ == 2000) {
                    std::lock_guard l(lock_);
                    started_.notify_all();
                }
            }
        });
    }
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    bool Ok() const { return sockets_.Ok(); }
    // Waits (bounded) until the flood runs at full speed.
    bool WaitRunning() {
        std::unique_lock l(lock_);
        return started_.wait_for(l, std::chrono::seconds(10), [this] { return sent_ >= 2000; });
    }
    std::uint64_t Sent() const { return sent_; }

private:
    HostSockets sockets_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::mutex lock_;
    std::condition_variable started_;
    std::thread thread_;
};

struct Net {
    TestHost host{"ph", kHostIndex};
    TestHost client{"pc", kClientIndex};
    bool linked = host.Ok() && client.Ok() && client.LinkTo(host, kLinkIndex);
    std::string Error() const {
        if (!host.Ok())
            return host.Error();
        if (!client.Ok())
            return client.Error();
        return linked ? "" : "could not link the client namespace to the host";
    }
};

class IcmpSystemTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (TestHost::Unavailable().empty())
            net_ = std::make_unique<Net>();
    }
    static void TearDownTestSuite() { net_.reset(); }

    void SetUp() override {
        std::string why = TestHost::Unavailable();
        if (why.empty() && net_)
            why = net_->Error();
        if (!why.empty())
            QUILVANE_SKIP_OR_FAIL(why);
        ASSERT_TRUE(net_->host.SetMode("answer"));
    }

    TestHost& Host() { return net_->host; }
    TestHost& Client() { return net_->client; }

    static inline std::unique_ptr<Net> net_;
};

enum class Kind { Raw, Datagram };

std::string KindName(const testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::Raw ? "raw" : "datagram";
}

// The same behaviour with either kind of ICMP socket.
class SocketKindTest : public IcmpSystemTest, public testing::WithParamInterface<Kind> {
protected:
    // Runs `fn` on a thread in the client namespace, set up for this kind.
    void RunClient(const std::function<void()>& fn) {
        const bool datagram = GetParam() == Kind::Datagram;
        ASSERT_EQ(Client()
                      .Exec({"sysctl", "-qw",
                             datagram ? "net.ipv4.ping_group_range=0 2147483647"
                                      : "net.ipv4.ping_group_range=1 0"})
                      .exitCode,
                  0);
        ASSERT_TRUE(Client().RunInside([&] {
            if (datagram) {
                ASSERT_TRUE(DropNetRaw());
            }
            fn();
        }));
    }

    struct Outcome {
        int result = -1;
        win::DWORD lastError = 0;
        win::ICMP_ECHO_REPLY reply{};
        std::vector<int> events;
        long long ms = 0;
    };
    // One Ping of the link target from the client namespace.
    Outcome PingTarget(int timeout, int size = 56, const char* target = kLinkTarget) {
        Outcome o;
        RunClient([&] {
            TICMP icmp;
            icmp.Timeout = timeout;
            icmp.Size = size;
            icmp.SetAddress(target);
            icmp.OnEchoReply = [&](fw::TObject*, int status) { o.events.push_back(status); };
            auto start = Clock::now();
            o.result = icmp.Ping();
            o.ms = MsSince(start);
            o.lastError = icmp.LastError();
            o.reply = icmp.Reply();
        });
        return o;
    }
};

INSTANTIATE_TEST_SUITE_P(Kinds, SocketKindTest, testing::Values(Kind::Raw, Kind::Datagram),
                         KindName);

TEST_P(SocketKindTest, AnsweringHostGivesOneReplyWithItsFields) {
    Outcome o = PingTarget(2000);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.events, std::vector<int>{1});
    EXPECT_EQ(o.lastError, 0u);
    EXPECT_EQ(o.reply.Status, win::IP_SUCCESS);
    EXPECT_EQ(o.reply.Address, Addr(kLinkTarget));
    EXPECT_EQ(o.reply.DataSize, 56);
    EXPECT_LT(o.reply.RoundTripTime, 2000u);
    EXPECT_EQ(o.reply.Options.Ttl, 64);  // the host's default
}

TEST_P(SocketKindTest, EchoedDataComesBackAfterTheRecord) {
    RunClient([&] {
        win::HMODULE lib = win::LoadLibraryA("icmp.dll");
        ASSERT_NE(lib, nullptr);
        auto create =
            reinterpret_cast<win::PIcmpCreateFile>(win::GetProcAddress(lib, "IcmpCreateFile"));
        auto close =
            reinterpret_cast<win::PIcmpCloseHandle>(win::GetProcAddress(lib, "IcmpCloseHandle"));
        auto send = reinterpret_cast<win::PIcmpSendEcho>(win::GetProcAddress(lib, "IcmpSendEcho"));
        win::HANDLE h = create();
        char data[] = "abcdefghij";
        win::IP_OPTION_INFORMATION options{64, 0, 0, 0, nullptr};
        std::vector<unsigned char> buffer(sizeof(win::ICMP_ECHO_REPLY) + 10 + 8, 0xEE);
        win::DWORD n = send(h, Addr(kLinkTarget), data, 10, &options, buffer.data(),
                            static_cast<win::DWORD>(buffer.size()), 2000);
        EXPECT_EQ(n, 1u);
        win::ICMP_ECHO_REPLY record;
        std::memcpy(&record, buffer.data(), sizeof record);
        EXPECT_EQ(record.DataSize, 10);
        EXPECT_EQ(record.Data, sizeof(win::ICMP_ECHO_REPLY));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + record.Data, 10),
                  "abcdefghij");
        // A buffer with room for the record only still counts the reply.
        n = send(h, Addr(kLinkTarget), data, 10, &options, buffer.data(),
                 sizeof(win::ICMP_ECHO_REPLY), 2000);
        EXPECT_EQ(n, 1u);
        std::memcpy(&record, buffer.data(), sizeof record);
        EXPECT_EQ(record.DataSize, 0);
        close(h);
        win::FreeLibrary(lib);
    });
}

TEST_P(SocketKindTest, DroppingHostTimesOutAfterTheTimeout) {
    ASSERT_TRUE(Host().SetMode("drop"));
    Outcome o = PingTarget(1000);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, std::vector<int>{0});
    EXPECT_EQ(o.lastError, win::IP_REQ_TIMED_OUT);
    EXPECT_EQ(o.reply.Status, win::IP_REQ_TIMED_OUT);
    EXPECT_GE(o.ms, 990);
    EXPECT_LT(o.ms, 3000);
}

TEST_P(SocketKindTest, RejectingHostGivesUnreachableAndNoEcho) {
    ASSERT_TRUE(Host().SetMode("reject"));
    Outcome o = PingTarget(3000);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, std::vector<int>{0});
    EXPECT_EQ(o.reply.Status, win::IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(o.lastError, win::IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(o.reply.Address, Addr(kLinkTarget));
    EXPECT_LT(o.ms, 3000);  // the answer ends the wait
}

TEST_P(SocketKindTest, TimeExceededFromARouterGivesItsStatus) {
    Responder responder(Host(), Addr(kLinkTarget), [](const Seen& r, const std::vector<Seen>&) {
        return std::vector<Bytes>{TimeExceededAbout(r, Addr(kElsewhere))};
    });
    ASSERT_TRUE(responder.Ok());
    Outcome o = PingTarget(3000);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.reply.Status, win::IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(o.reply.Address, Addr(kElsewhere));
    EXPECT_EQ(o.lastError, win::IP_TTL_EXPIRED_TRANSIT);
    EXPECT_LT(o.ms, 3000);
}

TEST_P(SocketKindTest, OnlyAReplyToThisVeryRequestCounts) {
    // Every request gets replies that answer something else: another
    // identifier, another sequence, another sender, a broken checksum, and
    // the reply to the request before. From the third request on, the real
    // reply follows them.
    Responder responder(
        Host(), Addr(kLinkTarget), [](const Seen& r, const std::vector<Seen>& earlier) {
            std::vector<Bytes> out = {
                ReplyTo(r, {.idDelta = 1}),    ReplyTo(r, {.seqDelta = 1}),
                ReplyTo(r, {.seqDelta = -1}),  ReplyTo(r, {.from = Addr(kElsewhere)}),
                ReplyTo(r, {.corrupt = true}),
            };
            if (!earlier.empty())
                out.push_back(ReplyTo(earlier.back()));
            if (earlier.size() >= 2)
                out.push_back(ReplyTo(r));
            return out;
        });
    ASSERT_TRUE(responder.Ok());
    // One engine for all three, as the monitor keeps one: its socket and
    // identifier stay, so the late reply reaches it and must not count.
    std::vector<int> results;
    std::vector<win::ULONG> statuses;
    RunClient([&] {
        TICMP icmp;
        icmp.SetAddress(kLinkTarget);
        for (int timeout : {500, 500, 2000}) {
            icmp.Timeout = timeout;
            results.push_back(icmp.Ping());
            statuses.push_back(icmp.Reply().Status);
        }
    });
    EXPECT_EQ(results, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(statuses, (std::vector<win::ULONG>{win::IP_REQ_TIMED_OUT, win::IP_REQ_TIMED_OUT,
                                                 win::IP_SUCCESS}));
    // And a fresh engine, whose socket is new, is not fooled either.
    Outcome fresh = PingTarget(2000);
    EXPECT_EQ(fresh.result, 1);
    EXPECT_EQ(fresh.reply.Address, Addr(kLinkTarget));
}

TEST_P(SocketKindTest, FloodOfUnrelatedRepliesNeitherCountsNorStretchesTheWait) {
    ASSERT_TRUE(Host().SetMode("drop"));
    Flood flood(Host(), Addr(kLinkTarget), Addr(kLinkClient));
    ASSERT_TRUE(flood.Ok());
    ASSERT_TRUE(flood.WaitRunning());
    const auto before = flood.Sent();
    Outcome silent = PingTarget(1000);
    const auto during = flood.Sent() - before;
    EXPECT_EQ(silent.result, 0);
    EXPECT_EQ(silent.reply.Status, win::IP_REQ_TIMED_OUT);
    EXPECT_GE(silent.ms, 990);
    EXPECT_LT(silent.ms, 3000);
    EXPECT_GT(during, 1000u) << "the flood did not run during the wait";

    ASSERT_TRUE(Host().SetMode("answer"));
    Outcome answered = PingTarget(2000);
    EXPECT_EQ(answered.result, 1);
}

// Where the system forbids both kinds of ICMP socket, the engine and so the
// ping component fail at creation, with the reason as last error, instead of
// reading every host as silent.
TEST_F(IcmpSystemTest, NeitherKindOfSocketAllowedFailsAtCreationWithAccessDenied) {
    ASSERT_EQ(Client().Exec({"sysctl", "-qw", "net.ipv4.ping_group_range=1 0"}).exitCode, 0);
    std::vector<std::string> messages;
    std::vector<win::DWORD> reasons;
    ASSERT_TRUE(Client().RunInside([&] {
        ASSERT_TRUE(DropNetRaw());
        for (int component = 0; component < 2; ++component) {
            try {
                if (component)
                    TPing ping(nullptr);
                else
                    TICMP icmp;
                messages.push_back("created");
            } catch (const TICMPException& e) {
                messages.push_back(e.what());
                reasons.push_back(e.Reason);
                if (!component)
                    reasons.push_back(win::GetLastError());
            }
        }
    }));
    EXPECT_EQ(messages,
              (std::vector<std::string>{"Unable to get ping handle", "Unable to get ping handle"}));
    EXPECT_EQ(reasons, std::vector<win::DWORD>(3, win::ERROR_ACCESS_DENIED));

    // Either kind alone is enough.
    ASSERT_EQ(Client().Exec({"sysctl", "-qw", "net.ipv4.ping_group_range=0 2147483647"}).exitCode,
              0);
    bool created = false;
    ASSERT_TRUE(Client().RunInside([&] {
        ASSERT_TRUE(DropNetRaw());
        TICMP icmp;
        created = true;
    }));
    EXPECT_TRUE(created);
}

TEST_F(IcmpSystemTest, RequestDataOnTheWire) {
    HostSockets capture(Host());
    ASSERT_TRUE(capture.Ok());
    const std::string signature = TICMP::EchoSignature;
    struct Case {
        int size;
        std::string data;
    };
    for (const Case& c : {Case{1, "P"}, Case{56, signature + std::string(11, ' ')}, Case{0, ""},
                          Case{45, signature}, Case{200, signature + std::string(155, ' ')}}) {
        TICMP icmp;
        icmp.SetAddress(Host().Address());
        icmp.Size = c.size;
        icmp.Timeout = 2000;
        EXPECT_EQ(icmp.Ping(), 1) << c.size;
        Seen seen;
        ASSERT_TRUE(capture.Next(Addr(Host().Address().c_str()), 2000, &seen)) << c.size;
        EXPECT_EQ(std::string(seen.data.begin(), seen.data.end()), c.data) << c.size;
        EXPECT_EQ(icmp.Reply().DataSize, c.size);
    }
}

TEST_F(IcmpSystemTest, TtlAndDontFragmentAreSentAndOutOfRangeSendsNothing) {
    HostSockets capture(Host());
    ASSERT_TRUE(capture.Ok());
    const win::IPAddr host = Addr(Host().Address().c_str());
    TICMP icmp;
    icmp.SetAddress(Host().Address());
    icmp.Timeout = 2000;

    icmp.TTL = 256;
    EXPECT_THROW(icmp.Ping(), ERangeError);
    icmp.TTL = 37;
    icmp.Flags = win::IP_FLAG_DF;
    EXPECT_EQ(icmp.Ping(), 1);
    icmp.TTL = 64;
    icmp.Flags = 0;
    EXPECT_EQ(icmp.Ping(), 1);

    Seen seen;
    ASSERT_TRUE(capture.Next(host, 2000, &seen));
    EXPECT_EQ(seen.ttl, 37);  // the first to arrive: the refused one never left
    EXPECT_TRUE(seen.df);
    ASSERT_TRUE(capture.Next(host, 2000, &seen));
    EXPECT_EQ(seen.ttl, 64);
    EXPECT_FALSE(seen.df);
}

TEST_F(IcmpSystemTest, DontFragmentRefusesWhatDoesNotFitTheLink) {
    TICMP icmp;
    icmp.SetAddress(Host().Address());
    icmp.Timeout = 2000;
    icmp.Size = 3000;  // over the link's 1500 bytes
    icmp.Flags = win::IP_FLAG_DF;
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.LastError(), win::IP_PACKET_TOO_BIG);
    icmp.Flags = 0;  // fragments are fine without the flag
    EXPECT_EQ(icmp.Ping(), 1);
    EXPECT_EQ(icmp.Reply().DataSize, 3000);
}

// The ping component as the monitor uses it: Size 1, Timeout 1000, TTL 64.
class MonitorUseTest : public IcmpSystemTest {
protected:
    void SetUp() override {
        IcmpSystemTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ping_ = std::make_unique<TPing>(nullptr);
        ping_->SetSize(1);
        ping_->SetTimeout(1000);
        ping_->SetTTL(64);
        ping_->SetFlags(0);
        ping_->OnEchoRequest = [this](fw::TObject* sender, TICMP* icmp) {
            EXPECT_EQ(sender, ping_.get());
            EXPECT_EQ(icmp, ping_->Icmp());
            events_.push_back(-1);
        };
        ping_->OnEchoReply = [this](fw::TObject*, TICMP*, int status) {
            events_.push_back(status);
        };
    }
    int PingHost(const std::string& address) {
        ping_->SetAddress(address);
        events_.clear();
        auto start = Clock::now();
        int result = ping_->Ping();
        ms_ = MsSince(start);
        return result;
    }
    std::unique_ptr<TPing> ping_;
    std::vector<int> events_;
    long long ms_ = 0;
};

TEST_F(MonitorUseTest, LoopbackAnswers) {
    EXPECT_EQ(PingHost("127.0.0.1"), 1);
    EXPECT_EQ(events_, (std::vector<int>{-1, 1}));
    EXPECT_EQ(ping_->Icmp()->Reply().Address, Addr("127.0.0.1"));
    EXPECT_EQ(ping_->Icmp()->Reply().DataSize, 1);
    EXPECT_EQ(PingHost("localhost"), 1);
    EXPECT_EQ(ping_->Icmp()->ResolvedName(), "localhost");
}

TEST_F(MonitorUseTest, HostThatStopsAnsweringGivesStatusZeroAfterASecond) {
    EXPECT_EQ(PingHost(Host().Address()), 1);
    EXPECT_EQ(events_, (std::vector<int>{-1, 1}));
    ASSERT_TRUE(Host().SetMode("drop"));
    EXPECT_EQ(PingHost(Host().Address()), 0);
    EXPECT_EQ(events_, (std::vector<int>{-1, 0}));
    EXPECT_GE(ms_, 990);
    EXPECT_LT(ms_, 3000);
    ASSERT_TRUE(Host().SetMode("reject"));
    EXPECT_EQ(PingHost(Host().Address()), 0);
    EXPECT_EQ(events_, (std::vector<int>{-1, 0}));
    EXPECT_EQ(ping_->Icmp()->Reply().Status, win::IP_DEST_HOST_UNREACHABLE);
    ASSERT_TRUE(Host().SetMode("answer"));
    EXPECT_EQ(PingHost(Host().Address()), 1);
}

}  // namespace
