// TPing without sending: its window and numbers, settings, the asynchronous
// name lookup, events of an unresolvable Ping, release and failures.
#include "ping/ping_component.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/user.h"

namespace {

constexpr char kBadName[] = "no such host";

struct Lookups {
    std::vector<win::WORD> errors;
    std::vector<std::string> results;
    void Attach(TPing& ping) {
        ping.OnDnsLookupDone = [this, &ping](fw::TObject* sender, win::WORD error) {
            EXPECT_EQ(sender, &ping);
            errors.push_back(error);
            results.push_back(ping.DnsResult());
        };
    }
    // Pumps the main thread's messages until `count` lookups reported, 10 s at most.
    bool WaitFor(size_t count) {
        QDeadlineTimer deadline(10000);
        while (errors.size() < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return errors.size() >= count;
    }
};

// Lets queued messages through: the lookup threads have had their time when
// the next lookup of the same name has reported.
void Settle(TPing& ping) {
    Lookups marker;
    auto saved = ping.OnDnsLookupDone;
    marker.Attach(ping);
    ping.DnsLookup("localhost");
    EXPECT_TRUE(marker.WaitFor(1));
    QCoreApplication::processEvents();
    ping.OnDnsLookupDone = saved;
}

TEST(PingComponent, OwnsAWindowWithReleaseAndLookupNumbers) {
    fw::TComponent owner(nullptr);
    auto* ping = new TPing(&owner);
    EXPECT_NE(ping->Handle(), 0u);
    EXPECT_EQ(ping->MsgRelease(), 1025u);
    EXPECT_EQ(ping->MsgDnsLookup(), 1026u);
    EXPECT_EQ(IcsHiddenWindowCount(), 1);
    EXPECT_EQ(owner.ComponentCount(), 1);

    EXPECT_EQ(ping->Size(), 56);
    EXPECT_EQ(ping->Timeout(), 4000);
    EXPECT_EQ(ping->TTL(), 64);
    EXPECT_EQ(ping->Flags(), 0);
    ping->SetSize(1);
    ping->SetTimeout(1000);
    ping->SetTTL(32);
    ping->SetFlags(2);
    ping->SetAddress("localhost");
    EXPECT_EQ(ping->Icmp()->Size, 1);
    EXPECT_EQ(ping->Icmp()->Timeout, 1000);
    EXPECT_EQ(ping->Icmp()->TTL, 32);
    EXPECT_EQ(ping->Icmp()->Flags, 2);
    EXPECT_EQ(ping->Address(), "localhost");

    delete ping;
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(IcsHiddenWindowCount(), 0);
}

TEST(PingComponent, ConstructionWithoutTheIcmpLibraryFailsAndLeavesNothing) {
    fw::TComponent owner(nullptr);
    ::setenv("QUILVANE_ICMP_LIBRARY", "/nonexistent/libquilvane_icmp.so", 1);
    try {
        new TPing(&owner);
        ADD_FAILURE() << "constructed";
    } catch (const TICMPException& e) {
        EXPECT_STREQ(e.what(), "Unable to register icmp.dll");
    }
    ::unsetenv("QUILVANE_ICMP_LIBRARY");
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(IcsHiddenWindowCount(), 0);
    EXPECT_TRUE(GWndHandlerPool().Lists().empty());
}

TEST(PingComponent, UnresolvableHostGivesTwoTextsAndNoEchoEvents) {
    TPing ping(nullptr);
    std::vector<std::string> display;
    int requests = 0, replies = 0;
    ping.OnDisplay = [&](fw::TObject* sender, TICMP* icmp, const std::string& msg) {
        EXPECT_EQ(sender, &ping);
        EXPECT_EQ(icmp, ping.Icmp());
        display.push_back(msg);
    };
    ping.OnEchoRequest = [&](fw::TObject*, TICMP*) { ++requests; };
    ping.OnEchoReply = [&](fw::TObject*, TICMP*, int) { ++replies; };
    ping.SetAddress(kBadName);
    EXPECT_EQ(ping.Ping(), 0);
    EXPECT_EQ(display, (std::vector<std::string>{std::string("Unable to resolve ") + kBadName,
                                                 "Invalid host address"}));
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(replies, 0);
    EXPECT_EQ(ping.Icmp()->LastError(), 11018u);
}

TEST(PingComponent, DottedLookupReportsInsideTheCall) {
    TPing ping(nullptr);
    Lookups lookups;
    lookups.Attach(ping);
    ping.DnsLookup("127.0.0.1");
    EXPECT_EQ(lookups.errors, std::vector<win::WORD>{0});
    EXPECT_EQ(lookups.results, std::vector<std::string>{"127.0.0.1"});
    EXPECT_FALSE(ping.DnsLookupRunning());
    ping.DnsLookup("127.1");
    EXPECT_EQ(ping.DnsResult(), "127.0.0.1");  // as inet_ntoa writes it
}

TEST(PingComponent, NameLookupReportsLaterFromTheMessageLoop) {
    TPing ping(nullptr);
    Lookups lookups;
    lookups.Attach(ping);
    ping.DnsLookup("localhost");
    EXPECT_TRUE(lookups.errors.empty());
    EXPECT_TRUE(ping.DnsLookupRunning());
    ASSERT_TRUE(lookups.WaitFor(1));
    EXPECT_EQ(lookups.errors[0], 0);
    EXPECT_EQ(lookups.results[0], "127.0.0.1");
    EXPECT_FALSE(ping.DnsLookupRunning());

    ping.DnsLookup(kBadName);
    ASSERT_TRUE(lookups.WaitFor(2));
    EXPECT_EQ(lookups.errors[1], win::WSAHOST_NOT_FOUND);
    EXPECT_EQ(lookups.results[1], "");
}

TEST(PingComponent, SecondLookupCancelsTheFirstSilently) {
    TPing ping(nullptr);
    Lookups lookups;
    lookups.Attach(ping);
    ping.DnsLookup("localhost");
    ping.DnsLookup(kBadName);
    ASSERT_TRUE(lookups.WaitFor(1));
    Settle(ping);
    EXPECT_EQ(lookups.errors, std::vector<win::WORD>{win::WSAHOST_NOT_FOUND});
}

// A lookup of "localhost" may finish before the next statement runs, so the
// tests that need one still running start lookups until they catch one.
constexpr int kCatchTries = 100;

TEST(PingComponent, CancelReportsInterruptedOnlyWhenALookupRuns) {
    TPing ping(nullptr);
    Lookups lookups;
    lookups.Attach(ping);
    ping.CancelDnsLookup();
    EXPECT_TRUE(lookups.errors.empty());

    bool caught = false;
    for (int i = 0; i < kCatchTries && !caught; ++i) {
        ping.DnsLookup("localhost");
        try {
            ping.CancelDnsLookup();
            caught = true;
        } catch (const fw::Exception&) {
            // It had finished: take its reply and start another.
            ping.ProcessPendingMessages();
            lookups.errors.clear();
        }
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(lookups.errors, std::vector<win::WORD>{win::WSAEINTR});
    EXPECT_FALSE(ping.DnsLookupRunning());
    Settle(ping);
    EXPECT_EQ(lookups.errors.size(), 1u);  // the cancelled lookup stays silent
}

TEST(PingComponent, DestroyingDuringALookupReportsInterrupted) {
    std::vector<win::WORD> errors;
    // A lookup that finished first dies silently with its component.
    for (int i = 0; i < kCatchTries && errors.empty(); ++i) {
        TPing ping(nullptr);
        ping.OnDnsLookupDone = [&](fw::TObject*, win::WORD error) { errors.push_back(error); };
        ping.DnsLookup("localhost");
    }
    EXPECT_EQ(errors, std::vector<win::WORD>{win::WSAEINTR});
    EXPECT_EQ(IcsHiddenWindowCount(), 0);
}

void QuitWaiting(win::HWND, win::UINT, win::UINT_PTR, win::DWORD) {}

TEST(PingComponent, CancelOfAFinishedLookupRaisesAndTheReplyStillCounts) {
    TPing ping(nullptr);
    Lookups lookups;
    lookups.Attach(ping);
    ping.DnsLookup("localhost");
    // Wait, without dispatching, until the reply is queued.
    win::UINT_PTR guard = win::SetTimer(0, 0, 10000, &QuitWaiting);
    win::MSG msg;
    QDeadlineTimer deadline(10000);
    while (!win::PeekMessageA(&msg, ping.Handle(), ping.MsgDnsLookup(), ping.MsgDnsLookup(),
                              win::PM_NOREMOVE) &&
           !deadline.hasExpired())
        win::WaitMessage();
    win::KillTimer(0, guard);
    try {
        ping.CancelDnsLookup();
        ADD_FAILURE() << "cancelled a finished lookup";
    } catch (const fw::Exception& e) {
        EXPECT_EQ(e.Message(), "WSACancelAsyncRequest failed, error #10037");
    }
    EXPECT_TRUE(ping.DnsLookupRunning());
    ping.ProcessPendingMessages();  // takes the queued reply
    EXPECT_EQ(lookups.errors, std::vector<win::WORD>{0});
    EXPECT_EQ(ping.DnsResult(), "127.0.0.1");
}

TEST(PingComponent, EmptyLookupNameIsARangeError) {
    TPing ping(nullptr);
    EXPECT_THROW(ping.DnsLookup(""), ERangeError);
}

TEST(PingComponent, ExceptionInALookupHandlerGoesToBackgroundError) {
    TPing ping(nullptr);
    std::string reported;
    bool done = false;
    ping.OnDnsLookupDone = [&](fw::TObject*, win::WORD) {
        done = true;
        throw std::runtime_error("handler failed");
    };
    ping.OnBackgroundError = [&](fw::TObject* sender, const std::exception& e, bool&) {
        EXPECT_EQ(sender, &ping);
        reported = e.what();
    };
    ping.DnsLookup("localhost");
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(reported, "handler failed");
}

TEST(PingComponent, PostReleaseDestroysTheComponent) {
    fw::TComponent owner(nullptr);
    auto* ping = new TPing(&owner);
    ping->PostRelease();
    EXPECT_EQ(owner.ComponentCount(), 1);
    for (int i = 0; i < 10 && owner.ComponentCount(); ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(IcsHiddenWindowCount(), 0);
}

}  // namespace
