#include "ping/icmp_engine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/kernel.h"
#include "platform/winsock.h"

TICMP::TICMP() {
    win::WSADATA data;
    if (win::WSAStartup(win::MAKEWORD(1, 1), &data) != 0)
        throw TICMPException("Error initialising Winsock");
    FSocketsStarted = true;

    hICMPdll = win::LoadLibraryA("icmp.dll");
    if (!hICMPdll) {
        Cleanup();
        throw TICMPException("Unable to register icmp.dll");
    }
    IcmpCreateFile =
        reinterpret_cast<win::PIcmpCreateFile>(win::GetProcAddress(hICMPdll, "IcmpCreateFile"));
    IcmpCloseHandle =
        reinterpret_cast<win::PIcmpCloseHandle>(win::GetProcAddress(hICMPdll, "IcmpCloseHandle"));
    IcmpSendEcho =
        reinterpret_cast<win::PIcmpSendEcho>(win::GetProcAddress(hICMPdll, "IcmpSendEcho"));
    if (!IcmpCreateFile || !IcmpCloseHandle || !IcmpSendEcho) {
        Cleanup();
        throw TICMPException("Error loading dll functions");
    }
    hICMP = IcmpCreateFile();
    if (hICMP == win::INVALID_HANDLE_VALUE || !hICMP) {
        hICMP = win::INVALID_HANDLE_VALUE;
        // The library's reason (ERROR_ACCESS_DENIED: the system allows no
        // ICMP socket) stays the last error for whoever reports the failure.
        const win::DWORD reason = win::GetLastError();
        Cleanup();
        win::SetLastError(reason);
        throw TICMPException("Unable to get ping handle", reason);
    }
}

TICMP::~TICMP() {
    Cleanup();
}

void TICMP::Cleanup() {
    if (hICMP != win::INVALID_HANDLE_VALUE) {
        IcmpCloseHandle(hICMP);
        hICMP = win::INVALID_HANDLE_VALUE;
    }
    if (hICMPdll) {
        win::FreeLibrary(hICMPdll);
        hICMPdll = nullptr;
    }
    // Only a start that succeeded is ended: the count is shared with every
    // other user of the socket layer in the process.
    if (FSocketsStarted) {
        win::WSACleanup();
        FSocketsStarted = false;
    }
}

void TICMP::SetAddress(const std::string& value) {
    if (value == FAddress)
        return;
    FAddress = value;
    FAddressResolved = false;
}

void TICMP::ResolveAddress() {
    FIPAddress = win::inet_addr(FAddress.c_str());
    if (FIPAddress == INADDR_NONE) {
        win::hostent* entry = win::gethostbyname(FAddress.c_str());
        if (!entry) {
            FLastError = win::GetLastError();
            if (OnDisplay)
                OnDisplay(this, "Unable to resolve " + FAddress);
            return;
        }
        std::memcpy(&FIPAddress, entry->h_addr_list[0], sizeof FIPAddress);
        FResolvedName = entry->h_name;
    } else {
        FResolvedName = FAddress;
    }
    FResolvedIP = win::inet_ntoa(in_addr{FIPAddress});
    FAddressResolved = true;
}

int TICMP::Ping() {
    int result = 0;
    FLastError = 0;
    if (!FAddressResolved)
        ResolveAddress();
    if (FIPAddress == INADDR_NONE) {
        FLastError = win::IP_BAD_DESTINATION;
        if (OnDisplay)
            OnDisplay(this, "Invalid host address");
        return 0;
    }

    // A negative Size is refused below like an oversized one; until then it
    // allocates nothing rather than wrapping around.
    const size_t size = static_cast<size_t>(std::max(Size, 0));
    std::vector<char> request(size, ' ');
    if (size)
        std::memcpy(request.data(), EchoSignature, std::min<size_t>(size, EchoSignatureLength));
    std::vector<char> reply(size + sizeof(win::ICMP_ECHO_REPLY));
    std::memset(reply.data(), 0, sizeof(win::ICMP_ECHO_REPLY));

    if (OnEchoRequest)
        OnEchoRequest(this);

    if (TTL < 0 || TTL > 255 || Flags < 0 || Flags > 255 || Timeout < 0 || Size < 0 || Size > 65535)
        throw ERangeError();
    win::IP_OPTION_INFORMATION options;
    options.Ttl = static_cast<win::UCHAR>(TTL);
    options.Tos = 0;
    options.Flags = static_cast<win::UCHAR>(Flags);
    options.OptionsSize = 0;
    options.OptionsData = nullptr;

    result = static_cast<int>(IcmpSendEcho(
        hICMP, FIPAddress, request.data(), static_cast<win::WORD>(size), &options, reply.data(),
        static_cast<win::DWORD>(reply.size()), static_cast<win::DWORD>(Timeout)));
    FLastError = win::GetLastError();
    std::memcpy(&FReply, reply.data(), sizeof FReply);
    if (OnEchoReply)
        OnEchoReply(this, result);
    return result;
}
