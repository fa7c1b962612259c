#pragma once
// TPing: the component that pings hosts. It owns one TICMP engine, publishes
// its settings and forwards its callbacks as events with the component as
// Sender and the engine as Icmp (handlers read Reply, IPAddress,
// ResolvedName, ResolvedIP and LastError through it).
//
// Ping is synchronous: the request is sent, the reply or time-out awaited
// and OnEchoReply fired, all inside the call. DnsLookup is asynchronous: the
// answer arrives as a message on the component's hidden window and is
// reported by OnDnsLookupDone from the window thread's message loop (for a
// dotted address at once, inside the call).
//
// The component is attached to its hidden window from construction to
// destruction, with two message numbers: the release message and the
// lookup reply. Construction fails with the engine's TICMPException when
// the ICMP library cannot be had.
//
// Threads: the thread that created the component, for everything.

#include <memory>
#include <string>

#include "ping/hidden_window.h"
#include "ping/icmp_engine.h"
#include "platform/winsock.h"

using TPingDisplay = std::function<void(fw::TObject* Sender, TICMP* Icmp, const std::string& Msg)>;
using TPingRequest = std::function<void(fw::TObject* Sender, TICMP* Icmp)>;
using TPingReply = std::function<void(fw::TObject* Sender, TICMP* Icmp, int Status)>;
// Error: 0 on success, else the socket error code.
using TDnsLookupDone = std::function<void(fw::TObject* Sender, win::WORD Error)>;

class TPing : public TIcsWndControl {
public:
    explicit TPing(fw::TComponent* AOwner);
    ~TPing() override;

    // The engine's Ping: Status as OnEchoReply received it, or 0.
    virtual int Ping();
    // Starts a lookup of HostName, cancelling a running one silently. A
    // dotted address is answered at once; an empty name raises ERangeError;
    // a lookup the platform refuses raises
    // "<HostName>: can't start DNS lookup, error #<n>".
    virtual void DnsLookup(const std::string& HostName);
    // Stops a running lookup and reports Error 10004; nothing when idle.
    // Raises "WSACancelAsyncRequest failed, error #<n>" when the platform
    // refuses, and the lookup stays running.
    void CancelDnsLookup();

    // Dotted-decimal result of the last successful lookup.
    const std::string& DnsResult() const { return FDnsResult; }
    bool DnsLookupRunning() const { return FDnsLookupHandle != nullptr; }
    win::UINT MsgDnsLookup() const { return FMsg_WM_ASYNCGETHOSTBYNAME; }
    TICMP* Icmp() const { return FIcmp.get(); }

    // The engine's settings; reads give ""/0 and writes do nothing without one.
    std::string Address() const;
    void SetAddress(const std::string& value);
    int Size() const;
    void SetSize(int value);
    int Timeout() const;
    void SetTimeout(int value);
    int TTL() const;
    void SetTTL(int value);
    int Flags() const;
    void SetFlags(int value);

    TPingDisplay OnDisplay;
    TPingRequest OnEchoRequest;
    TPingReply OnEchoReply;
    TDnsLookupDone OnDnsLookupDone;

    void WindowProc(fw::TMessage& Msg) override;

protected:
    int MessageSlotCount() override;
    void AllocateMessageSlots() override;
    void FreeMessageSlots() override;
    // The reply of the running lookup: wParam its handle, the high word of
    // lParam its error.
    virtual void WMAsyncGetHostByName(fw::TMessage& Msg);

private:
    std::unique_ptr<TICMP> FIcmp;
    alignas(win::hostent) char FDnsLookupBuffer[1025] = {};
    win::HANDLE FDnsLookupHandle = nullptr;
    std::string FDnsResult;
    win::UINT FMsg_WM_ASYNCGETHOSTBYNAME = 0;
};
