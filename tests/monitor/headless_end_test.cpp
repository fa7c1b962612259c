// SIGTERM and SIGINT end the headless program within 2 seconds whatever it is
// doing, without writing the settings file: in the middle of a pass over many
// silent hosts, while a name lookup waits for a DNS server that never
// answers, and while a mapping waits on a host whose SMB ports drop every
// packet. Needs root (namespaces, ICMP, mounts).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/monitor/headless_program.h"
#include "tests/support/test_host.h"

namespace quilvane_test {
namespace {

using namespace std::chrono_literals;

// The first pass comes 10 s after the start.
constexpr auto kFirstPass = 30s;

void ExpectEndsWithin2s(HeadlessProgram& program, int signo, const std::string& settings) {
    const int status = program.Stop(signo, 2s);
    ASSERT_NE(status, -1) << "signal " << signo << " did not end the program within 2 s";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(program.ReadSettings(), settings) << "ending by signal writes nothing";
}

TEST(HeadlessEnd, SignalInThePassOverSilentHostsEndsWithin2s) {
    if (std::string why = TestHost::Unavailable(); !why.empty())
        QUILVANE_SKIP_OR_FAIL(why);
    TestHost host("qvsilent", 72);
    if (!host.Ok())
        QUILVANE_SKIP_OR_FAIL(host.Error());
    ASSERT_TRUE(host.SetMode("drop"));
    for (const int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signo);
        HeadlessProgram program;
        ASSERT_TRUE(program.Ready());
        // 200 silent hosts: a pass takes over 200 s.
        program.WriteSettings(
            std::vector<ConnectionRecord>(200, {host.Address(), "u", "p", "data", "", 5}));
        const std::string settings = program.ReadSettings();
        ASSERT_TRUE(program.Start());
        const auto line = program.NextLine(kFirstPass);
        ASSERT_TRUE(line.has_value()) << "no pass began";
        EXPECT_NE(line->find("HostName=" + host.Address() + " Connected=False FalseCount=1 "),
                  std::string::npos)
            << *line;
        ExpectEndsWithin2s(program, signo, settings);
    }
}

TEST(HeadlessEnd, SignalWhileAMappingWaitsEndsWithin2s) {
    if (std::string why = TestHost::Unavailable(); !why.empty())
        QUILVANE_SKIP_OR_FAIL(why);
    TestHost silent("hsilent", 86), dropping("hdropsmb", 87);
    for (const TestHost* h : {&silent, &dropping}) {
        if (!h->Ok())
            QUILVANE_SKIP_OR_FAIL(h->Error());
    }
    ASSERT_TRUE(silent.SetMode("drop"));
    ASSERT_TRUE(dropping.DropSmb());
    for (const int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signo);
        HeadlessProgram program;
        ASSERT_TRUE(program.Ready());
        // The silent record's line comes first; the other's mapping follows it
        // and waits for gvfs to give up.
        program.WriteSettings({{silent.Address(), "u", "p", "data", "", 5},
                               {dropping.Address(), "u", "p", "data", "R:", 5}});
        const std::string settings = program.ReadSettings();
        ASSERT_TRUE(program.Start());
        const auto line = program.NextLine(kFirstPass);
        ASSERT_TRUE(line.has_value()) << "no pass began";
        EXPECT_NE(line->find("HostName=" + silent.Address() + " "), std::string::npos) << *line;
        EXPECT_FALSE(program.NextLine(1s).has_value()) << "the mapping did not wait";
        ExpectEndsWithin2s(program, signo, settings);
    }
}

// A DNS server on a loopback address of its own that reads every query and
// never answers.
class SilentDnsServer {
public:
    SilentDnsServer() {
        address_ = "127.53." + std::to_string(::getpid() % 250 + 1) + ".53";
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(53);
        ::inet_pton(AF_INET, address_.c_str(), &sa.sin_addr);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~SilentDnsServer() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Ok() const { return ok_; }
    const std::string& Address() const { return address_; }
    // Whether a query came within `timeout`.
    bool QueryCame(std::chrono::milliseconds timeout) const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
    }

private:
    std::string address_;
    int fd_ = -1;
    bool ok_ = false;
};

TEST(HeadlessEnd, SignalWhileDnsDoesNotAnswerEndsWithin2s) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("needs root for a mount namespace, port 53 and ICMP");
    if (RunCommand({"unshare", "--mount", "true"}).exitCode != 0)
        QUILVANE_SKIP_OR_FAIL("needs unshare (util-linux) and mount namespaces");
    for (const int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signo);
        SilentDnsServer dns;
        ASSERT_TRUE(dns.Ok()) << "cannot listen on " << dns.Address() << ":53";
        HeadlessProgram program;
        ASSERT_TRUE(program.Ready());
        const std::string resolv = program.SettingsFile() + ".resolv.conf";
        std::ofstream(resolv) << "nameserver " << dns.Address()
                              << "\noptions timeout:5 attempts:2\n";
        program.WriteSettings({{"a.qv-nodns.test", "", "", "d", "", 5},
                               {"b.qv-nodns.test", "", "", "d", "", 5},
                               {"c.qv-nodns.test", "", "", "d", "", 5}});
        const std::string settings = program.ReadSettings();
        // The program sees the silent server in place of the system's.
        ASSERT_TRUE(program.Start({"unshare", "--mount", "sh", "-c",
                                   "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"", resolv}));
        ASSERT_TRUE(dns.QueryCame(kFirstPass)) << "no lookup began";
        ExpectEndsWithin2s(program, signo, settings);
    }
}

}  // namespace
}  // namespace quilvane_test
