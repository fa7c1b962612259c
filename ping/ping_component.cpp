#include "ping/ping_component.h"

#include <cstdio>
#include <cstring>

TPing::TPing(fw::TComponent* AOwner) : TIcsWndControl(AOwner) {
    try {
        AllocateWindow();
        FIcmp = std::make_unique<TICMP>();
    } catch (...) {
        // The base destructor would free only the base's message number.
        ReleaseWindow();
        throw;
    }
    FIcmp->OnDisplay = [this](fw::TObject*, const std::string& Msg) {
        if (OnDisplay)
            OnDisplay(this, FIcmp.get(), Msg);
    };
    FIcmp->OnEchoRequest = [this](fw::TObject*) {
        if (OnEchoRequest)
            OnEchoRequest(this, FIcmp.get());
    };
    FIcmp->OnEchoReply = [this](fw::TObject*, int Status) {
        if (OnEchoReply)
            OnEchoReply(this, FIcmp.get(), Status);
    };
}

TPing::~TPing() {
    try {
        CancelDnsLookup();
    } catch (const fw::Exception&) {
        // The lookup finished as we cancelled it: its reply is queued and dies
        // with our message numbers, and it wrote our buffer before posting.
    }
    FIcmp.reset();
    // Our own message number is ours to free while we are still a TPing.
    Dispose(true);
}

int TPing::MessageSlotCount() {
    return TIcsWndControl::MessageSlotCount() + 1;
}

void TPing::AllocateMessageSlots() {
    TIcsWndControl::AllocateMessageSlots();
    FMsg_WM_ASYNCGETHOSTBYNAME = WndHandler()->AllocateMessage(this);
}

void TPing::FreeMessageSlots() {
    WndHandler()->FreeMessage(FMsg_WM_ASYNCGETHOSTBYNAME);
    TIcsWndControl::FreeMessageSlots();
}

void TPing::WindowProc(fw::TMessage& Msg) {
    Guarded([&] {
        if (Msg.Msg == FMsg_WM_ASYNCGETHOSTBYNAME && FMsg_WM_ASYNCGETHOSTBYNAME != 0)
            WMAsyncGetHostByName(Msg);
        else
            TIcsWndControl::WindowProc(Msg);
    });
}

int TPing::Ping() {
    return FIcmp ? FIcmp->Ping() : 0;
}

namespace {

// Digits and dots that parse as an address.
bool IsDottedAddress(const std::string& name) {
    if (name.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    return win::inet_addr(name.c_str()) != INADDR_NONE;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

}  // namespace

void TPing::DnsLookup(const std::string& HostName) {
    if (FDnsLookupHandle) {
        // The running lookup is replaced silently; if it has just finished,
        // its reply no longer matches and is dropped.
        win::WSACancelAsyncRequest(FDnsLookupHandle);
        FDnsLookupHandle = nullptr;
    }
    FDnsResult.clear();
    if (HostName.empty())
        throw ERangeError();
    if (IsDottedAddress(HostName)) {
        FDnsResult = win::inet_ntoa(in_addr{win::inet_addr(HostName.c_str())});
        if (OnDnsLookupDone)
            OnDnsLookupDone(this, 0);
        return;
    }
    FDnsLookupHandle =
        win::WSAAsyncGetHostByName(GetHandle(), FMsg_WM_ASYNCGETHOSTBYNAME, HostName.c_str(),
                                   FDnsLookupBuffer, sizeof FDnsLookupBuffer);
    if (!FDnsLookupHandle)
        throw fw::Exception(Format("%s: can't start DNS lookup, error #%d", HostName.c_str(),
                                   win::WSAGetLastError()));
}

void TPing::CancelDnsLookup() {
    if (!FDnsLookupHandle)
        return;
    if (win::WSACancelAsyncRequest(FDnsLookupHandle) != 0)
        throw fw::Exception(
            Format("WSACancelAsyncRequest failed, error #%d", win::WSAGetLastError()));
    FDnsLookupHandle = nullptr;
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, win::WSAEINTR);
}

void TPing::WMAsyncGetHostByName(fw::TMessage& Msg) {
    if (reinterpret_cast<win::HANDLE>(Msg.WParam) != FDnsLookupHandle)
        return;
    FDnsLookupHandle = nullptr;
    const win::WORD error = win::WSAGETASYNCERROR(Msg.LParam);
    if (error == 0) {
        const auto* entry = reinterpret_cast<const win::hostent*>(FDnsLookupBuffer);
        in_addr address;
        std::memcpy(&address.s_addr, entry->h_addr_list[0], sizeof address.s_addr);
        FDnsResult = win::inet_ntoa(address);
    }
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

std::string TPing::Address() const {
    return FIcmp ? FIcmp->Address() : std::string();
}
void TPing::SetAddress(const std::string& value) {
    if (FIcmp)
        FIcmp->SetAddress(value);
}
int TPing::Size() const {
    return FIcmp ? FIcmp->Size : 0;
}
void TPing::SetSize(int value) {
    if (FIcmp)
        FIcmp->Size = value;
}
int TPing::Timeout() const {
    return FIcmp ? FIcmp->Timeout : 0;
}
void TPing::SetTimeout(int value) {
    if (FIcmp)
        FIcmp->Timeout = value;
}
int TPing::TTL() const {
    return FIcmp ? FIcmp->TTL : 0;
}
void TPing::SetTTL(int value) {
    if (FIcmp)
        FIcmp->TTL = value;
}
int TPing::Flags() const {
    return FIcmp ? FIcmp->Flags : 0;
}
void TPing::SetFlags(int value) {
    if (FIcmp)
        FIcmp->Flags = value;
}
