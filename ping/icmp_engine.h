#pragma once
// TICMP: sends one ICMP echo request at a time to one IPv4 host through the
// platform's ICMP library ("icmp.dll", loaded at construction) and waits for
// the reply. It resolves the host name or dotted address, fills the request
// with the configured size, TTL, flags and time-out, and reports through
// three callbacks: before sending, after the reply or time-out, and text
// messages.
//
// Construction fails with TICMPException when the socket layer cannot start
// ("Error initialising Winsock"), the library cannot be loaded ("Unable to
// register icmp.dll"), one of its entry points is missing ("Error loading dll
// functions") or it gives no handle ("Unable to get ping handle").
//
// Threads: an engine is used by one thread at a time; Ping blocks it for up
// to Timeout milliseconds (plus a blocking name lookup), and every callback
// runs on it, inside Ping. No locks.

#include <functional>
#include <string>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "platform/icmp.h"
#include "platform/module.h"

class TICMPException : public fw::Exception {
public:
    using fw::Exception::Exception;
    TICMPException(const std::string& message, win::DWORD reason)
        : fw::Exception(message), Reason(reason) {}
    // The platform's last error behind the failure (0 when none was given),
    // for a program that says why; the message stays the fixed text.
    win::DWORD Reason = 0;
};

// The run-time range error: a value does not fit where it must go.
class ERangeError : public fw::Exception {
public:
    ERangeError() : fw::Exception("Range check error") {}
};

class TICMP;
using TICMPDisplay = std::function<void(fw::TObject* Sender, const std::string& Msg)>;
using TICMPReply = std::function<void(fw::TObject* Sender, int Status)>;

class TICMP : public fw::TObject {
public:
    // The request data starts with this 45-byte text, then spaces.
    static constexpr char EchoSignature[] = "Pinging from Quilvane drive monitor echo test";
    static constexpr int EchoSignatureLength = 45;
    static_assert(sizeof(EchoSignature) == EchoSignatureLength + 1);

    TICMP();
    ~TICMP() override;

    // Sends one echo request and returns the number of replies (0 or 1).
    // Resolves Address first when it is not resolved. An address that does
    // not resolve: OnDisplay "Invalid host address", LastError 11018,
    // returns 0 and neither OnEchoRequest nor OnEchoReply is called. TTL or
    // Flags outside 0-255, a negative Timeout or Size outside 0-65535 raise
    // ERangeError after OnEchoRequest, before anything is sent.
    int Ping();
    // Fills IPAddress, ResolvedName and ResolvedIP from Address; on failure
    // LastError holds the resolver's error and OnDisplay gets
    // "Unable to resolve " + Address.
    void ResolveAddress();

    const std::string& Address() const { return FAddress; }
    // A different text (case-sensitive) forgets the resolution; the same
    // text keeps it.
    void SetAddress(const std::string& value);

    const win::ICMP_ECHO_REPLY& Reply() const { return FReply; }
    const std::string& ResolvedName() const { return FResolvedName; }
    const std::string& ResolvedIP() const { return FResolvedIP; }
    // Network byte order; all bits set while not resolved or invalid.
    win::ULONG IPAddress() const { return FIPAddress; }
    win::DWORD LastError() const { return FLastError; }
    bool AddressResolved() const { return FAddressResolved; }

    // Read at each send.
    int Size = 56;
    int Timeout = 4000;  // milliseconds
    int TTL = 64;
    int Flags = 0;

    TICMPDisplay OnDisplay;
    fw::TNotifyEvent OnEchoRequest;
    TICMPReply OnEchoReply;

private:
    void Cleanup();

    bool FSocketsStarted = false;
    win::HMODULE hICMPdll = nullptr;
    win::PIcmpCreateFile IcmpCreateFile = nullptr;
    win::PIcmpCloseHandle IcmpCloseHandle = nullptr;
    win::PIcmpSendEcho IcmpSendEcho = nullptr;
    win::HANDLE hICMP = win::INVALID_HANDLE_VALUE;

    win::ICMP_ECHO_REPLY FReply{};
    std::string FAddress;
    std::string FResolvedName;
    std::string FResolvedIP;
    win::ULONG FIPAddress = 0;
    win::DWORD FLastError = 0;
    bool FAddressResolved = false;
};
