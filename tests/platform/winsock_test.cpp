// The sockets area: start-up counting, address texts, blocking and
// asynchronous name lookups. Names are "localhost" (from /etc/hosts) or names
// the resolver refuses by their syntax, so no lookup leaves the machine.
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/user.h"

namespace {

using namespace win;

// A name that fails at once: the resolver rejects its syntax.
constexpr char kBadName[] = "no such host";
constexpr UINT kReplyMsg = WM_USER + 7;

struct Started {
    Started() { EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0); }
    ~Started() { EXPECT_EQ(WSACleanup(), 0); }
    WSADATA data;
};

TEST(Winsock, StartupIsCountedAndGrantsVersion11) {
    WSADATA data;
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(gethostbyname("localhost"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);  // counts nothing
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_NE(gethostbyname("localhost"), nullptr);  // one start still holds
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(Winsock, AddressTexts) {
    struct Case {
        const char* text;
        ULONG address;  // network order, as bytes a.b.c.d
    };
    auto bytes = [](unsigned a, unsigned b, unsigned c, unsigned d) {
        return static_cast<ULONG>(a | (b << 8) | (c << 16) | (d << 24));
    };
    for (Case c :
         {Case{"127.0.0.1", bytes(127, 0, 0, 1)}, Case{"10.231.10.2", bytes(10, 231, 10, 2)},
          Case{"127.1", bytes(127, 0, 0, 1)},  // the short BSD form
          Case{"0.0.0.0", 0}, Case{"255.255.255.255", INADDR_NONE}, Case{"", INADDR_NONE},
          Case{"localhost", INADDR_NONE}, Case{"1.2.3.256", INADDR_NONE},
          Case{"1.2.3.4.5", INADDR_NONE}}) {
        EXPECT_EQ(inet_addr(c.text), c.address) << '"' << c.text << '"';
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
    EXPECT_STREQ(inet_ntoa(in_addr{bytes(10, 231, 10, 2)}), "10.231.10.2");
    EXPECT_STREQ(inet_ntoa(in_addr{INADDR_NONE}), "255.255.255.255");
}

TEST(Winsock, GetHostByNameGivesFirstIPv4AndOfficialName) {
    Started s;
    hostent* entry = gethostbyname("localhost");
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->h_name, "localhost");
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    ULONG address;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    EXPECT_STREQ(inet_ntoa(in_addr{address}), "127.0.0.1");
    EXPECT_EQ(entry->h_addr_list[1], nullptr);
    EXPECT_EQ(entry->h_aliases[0], nullptr);

    EXPECT_EQ(gethostbyname(kBadName), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

// Collects the lookup replies posted to a window on this (the Qt) thread.
class ReplyWindow {
public:
    ReplyWindow() {
        WNDCLASSA wc;
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "WinsockTestReply";
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, "WinsockTestReply", "", 0, 0, 0, 0, 0, 0, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        current = this;
    }
    ~ReplyWindow() {
        DestroyWindow(hwnd);
        UnregisterClassA("WinsockTestReply", GetModuleHandleA(nullptr));
        current = nullptr;
    }
    // Pumps until `count` replies came or 10 s passed.
    bool WaitFor(size_t count) {
        QDeadlineTimer deadline(10000);
        while (replies.size() < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return replies.size() >= count;
    }
    struct Reply {
        WPARAM handle;
        WORD length;
        WORD error;
    };
    HWND hwnd = 0;
    std::vector<Reply> replies;

private:
    static LRESULT Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        if (msg == kReplyMsg && current)
            current->replies.push_back({w, WSAGETASYNCBUFLEN(l), WSAGETASYNCERROR(l)});
        return DefWindowProcA(h, msg, w, l);
    }
    static inline ReplyWindow* current = nullptr;
};

TEST(Winsock, AsyncLookupFillsTheBufferThenPostsHandleAndError) {
    Started s;
    ReplyWindow window;
    alignas(hostent) char buffer[MAXGETHOSTSTRUCT];
    HANDLE ok = WSAAsyncGetHostByName(window.hwnd, kReplyMsg, "localhost", buffer, sizeof buffer);
    ASSERT_NE(ok, nullptr);
    alignas(hostent) char badBuffer[MAXGETHOSTSTRUCT];
    HANDLE bad =
        WSAAsyncGetHostByName(window.hwnd, kReplyMsg, kBadName, badBuffer, sizeof badBuffer);
    ASSERT_NE(bad, nullptr);
    EXPECT_NE(ok, bad);
    ASSERT_TRUE(window.WaitFor(2));

    for (const auto& r : window.replies) {
        if (r.handle == reinterpret_cast<WPARAM>(ok)) {
            EXPECT_EQ(r.error, 0);
            EXPECT_GT(r.length, sizeof(hostent));
            const auto* entry = reinterpret_cast<const hostent*>(buffer);
            EXPECT_STREQ(entry->h_name, "localhost");
            ULONG address;
            std::memcpy(&address, entry->h_addr_list[0], 4);
            EXPECT_STREQ(inet_ntoa(in_addr{address}), "127.0.0.1");
        } else {
            EXPECT_EQ(r.handle, reinterpret_cast<WPARAM>(bad));
            EXPECT_EQ(r.error, WSAHOST_NOT_FOUND);
        }
    }
    // Finished requests cannot be cancelled any more.
    EXPECT_EQ(WSACancelAsyncRequest(ok), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
    EXPECT_EQ(WSACancelAsyncRequest(reinterpret_cast<HANDLE>(~UINT_PTR{0} >> 1)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST(Winsock, CancelledLookupNeitherWritesNorPosts) {
    Started s;
    ReplyWindow window;
    alignas(hostent) char cancelled[MAXGETHOSTSTRUCT];
    std::memset(cancelled, 0x5A, sizeof cancelled);
    HANDLE first =
        WSAAsyncGetHostByName(window.hwnd, kReplyMsg, "localhost", cancelled, sizeof cancelled);
    ASSERT_NE(first, nullptr);
    // The lookup may finish before the cancel; only a cancel that succeeded
    // promises silence.
    const bool won = WSACancelAsyncRequest(first) == 0;
    alignas(hostent) char buffer[MAXGETHOSTSTRUCT];
    HANDLE second =
        WSAAsyncGetHostByName(window.hwnd, kReplyMsg, "localhost", buffer, sizeof buffer);
    ASSERT_TRUE(window.WaitFor(won ? 1 : 2));
    QCoreApplication::processEvents();
    if (won) {
        ASSERT_EQ(window.replies.size(), 1u);
        EXPECT_EQ(window.replies[0].handle, reinterpret_cast<WPARAM>(second));
        for (char c : cancelled)
            ASSERT_EQ(c, 0x5A);
    }
}

TEST(Winsock, AsyncLookupThatDoesNotFitReportsNoBuffers) {
    Started s;
    ReplyWindow window;
    alignas(hostent) char small[16];
    std::memset(small, 0x5A, sizeof small);
    HANDLE h = WSAAsyncGetHostByName(window.hwnd, kReplyMsg, "localhost", small, sizeof small);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(window.WaitFor(1));
    EXPECT_EQ(window.replies[0].error, WSAENOBUFS);
    EXPECT_GT(window.replies[0].length, sizeof small);  // what it would need
    for (char c : small)
        EXPECT_EQ(c, 0x5A);
}

TEST(Winsock, AsyncLookupRefusedWithoutWindowOrStart) {
    char buffer[64];
    ReplyWindow window;
    EXPECT_EQ(WSAAsyncGetHostByName(window.hwnd, kReplyMsg, "localhost", buffer, sizeof buffer),
              nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    Started s;
    EXPECT_EQ(WSAAsyncGetHostByName(0, kReplyMsg, "localhost", buffer, sizeof buffer), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

}  // namespace
