// TICMP without sending: construction failures, the address and its
// resolution, unresolvable names and the range checks. Sending is in
// icmp_system_test.cpp.
#include "ping/icmp_engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/winsock.h"

namespace {

// A name the resolver refuses by its syntax: fails without any query.
constexpr char kBadName[] = "no such host";

// Sets the ICMP library's path for the life of the object.
class LibraryOverride {
public:
    explicit LibraryOverride(const char* path) { ::setenv("QUILVANE_ICMP_LIBRARY", path, 1); }
    ~LibraryOverride() { ::unsetenv("QUILVANE_ICMP_LIBRARY"); }
};

// No socket layer start is left over by an engine that is gone.
bool SocketLayerIdle() {
    if (win::WSACleanup() == 0)
        return false;
    return win::WSAGetLastError() == win::WSANOTINITIALISED;
}

TEST(IcmpEngine, ConstructionFailuresRaiseTheirTextsAndCleanUp) {
    struct Case {
        const char* library;
        const char* message;
    };
    for (Case c : {Case{"/nonexistent/libquilvane_icmp.so", "Unable to register icmp.dll"},
                   Case{FAKE_ICMP_NO_SEND_ECHO_PATH, "Error loading dll functions"},
                   Case{FAKE_ICMP_NO_HANDLE_PATH, "Unable to get ping handle"}}) {
        LibraryOverride library(c.library);
        try {
            TICMP icmp;
            ADD_FAILURE() << c.library << ": constructed";
        } catch (const TICMPException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_TRUE(SocketLayerIdle()) << c.message;
    }
}

TEST(IcmpEngine, InitialValues) {
    TICMP icmp;
    EXPECT_EQ(icmp.Size, 56);
    EXPECT_EQ(icmp.Timeout, 4000);
    EXPECT_EQ(icmp.TTL, 64);
    EXPECT_EQ(icmp.Flags, 0);
    EXPECT_EQ(icmp.Address(), "");
    EXPECT_FALSE(icmp.AddressResolved());
    EXPECT_EQ(icmp.IPAddress(), 0u);
    EXPECT_EQ(icmp.LastError(), 0u);
    EXPECT_EQ(std::string(TICMP::EchoSignature).substr(0, 13), "Pinging from ");
}

TEST(IcmpEngine, ResolutionIsKeptWhileTheAddressTextIsTheSame) {
    TICMP icmp;
    icmp.SetAddress("localhost");
    icmp.ResolveAddress();
    ASSERT_TRUE(icmp.AddressResolved());
    EXPECT_EQ(icmp.ResolvedName(), "localhost");
    EXPECT_EQ(icmp.ResolvedIP(), "127.0.0.1");
    EXPECT_EQ(icmp.IPAddress(), win::inet_addr("127.0.0.1"));

    icmp.SetAddress("localhost");
    EXPECT_TRUE(icmp.AddressResolved());
    icmp.SetAddress("LOCALHOST");  // case counts
    EXPECT_FALSE(icmp.AddressResolved());

    icmp.SetAddress("127.0.0.1");
    icmp.ResolveAddress();
    EXPECT_TRUE(icmp.AddressResolved());
    EXPECT_EQ(icmp.ResolvedName(), "127.0.0.1");  // a dotted address names itself
    EXPECT_EQ(icmp.ResolvedIP(), "127.0.0.1");
}

struct Events {
    std::vector<std::string> display;
    int requests = 0;
    std::vector<int> replies;
    void Attach(TICMP& icmp) {
        icmp.OnDisplay = [this, &icmp](fw::TObject* sender, const std::string& msg) {
            EXPECT_EQ(sender, &icmp);
            display.push_back(msg);
        };
        icmp.OnEchoRequest = [this](fw::TObject*) { ++requests; };
        icmp.OnEchoReply = [this](fw::TObject*, int status) { replies.push_back(status); };
    }
};

TEST(IcmpEngine, UnresolvableNameSendsNothingAndTriesAgainNextTime) {
    TICMP icmp;
    Events events;
    events.Attach(icmp);
    icmp.SetAddress(kBadName);
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(events.display,
              (std::vector<std::string>{std::string("Unable to resolve ") + kBadName,
                                        "Invalid host address"}));
    EXPECT_EQ(events.requests, 0);
    EXPECT_TRUE(events.replies.empty());
    EXPECT_EQ(icmp.LastError(), 11018u);
    EXPECT_FALSE(icmp.AddressResolved());
    EXPECT_EQ(icmp.IPAddress(), INADDR_NONE);

    // A failed resolution is not remembered: the next Ping asks again.
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(events.display.size(), 4u);
}

TEST(IcmpEngine, ResolverErrorIsKeptByResolveAddress) {
    TICMP icmp;
    icmp.SetAddress(kBadName);
    icmp.ResolveAddress();
    EXPECT_EQ(icmp.LastError(), static_cast<win::DWORD>(win::WSAHOST_NOT_FOUND));
}

TEST(IcmpEngine, BroadcastAddressIsNoTarget) {
    TICMP icmp;
    Events events;
    events.Attach(icmp);
    icmp.SetAddress("255.255.255.255");
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.LastError(), 11018u);
    EXPECT_EQ(events.display.back(), "Invalid host address");
    EXPECT_EQ(events.requests, 0);
    EXPECT_TRUE(events.replies.empty());
}

TEST(IcmpEngine, OutOfRangeSettingsRaiseAfterTheRequestEvent) {
    struct Case {
        const char* name;
        void (*set)(TICMP&);
    };
    const Case cases[] = {
        {"TTL 256", [](TICMP& i) { i.TTL = 256; }},
        {"TTL -1", [](TICMP& i) { i.TTL = -1; }},
        {"Flags 256", [](TICMP& i) { i.Flags = 256; }},
        {"Timeout -1", [](TICMP& i) { i.Timeout = -1; }},
        {"Size 65536", [](TICMP& i) { i.Size = 65536; }},
        {"Size -1", [](TICMP& i) { i.Size = -1; }},
    };
    for (const Case& c : cases) {
        TICMP icmp;
        Events events;
        events.Attach(icmp);
        icmp.SetAddress("127.0.0.1");
        c.set(icmp);
        EXPECT_THROW(icmp.Ping(), ERangeError) << c.name;
        EXPECT_EQ(events.requests, 1) << c.name;
        EXPECT_TRUE(events.replies.empty()) << c.name;
    }
    try {
        TICMP icmp;
        icmp.SetAddress("127.0.0.1");
        icmp.TTL = 300;
        icmp.Ping();
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

}  // namespace
