#include "platform/winsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/kernel.h"
#include "platform/product.h"
#include "platform/user.h"

namespace win {
namespace {

struct AsyncRequest {
    HWND hwnd;
    UINT msg;
    std::string name;
    char* buffer;
    int length;
};

// Guards the start-up count and the table of running lookups. Replies are
// posted under it, so a cancel either wins (nothing is written or posted) or
// finds the request finished.
struct SocketState {
    std::mutex lock;
    int startups = 0;
    std::unordered_map<UINT_PTR, std::shared_ptr<AsyncRequest>> running;
    UINT_PTR lastHandle = 0;
};

SocketState& State() {
    // Never destroyed: resolver threads may still finish while the process exits.
    static auto* state = new SocketState;
    return *state;
}

bool Started() {
    std::lock_guard l(State().lock);
    return State().startups > 0;
}

int ResolverError(int eai) {
    switch (eai) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
        case EAI_MEMORY:
            return WSAENOBUFS;
        default:
            return WSANO_RECOVERY;
    }
}

struct Resolved {
    std::string name;
    ULONG address = 0;  // network byte order
};

// First IPv4 address of `name` and its official name; 0 or a socket error.
int Resolve(const char* name, Resolved* out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry an address, not one a socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0)
        return ResolverError(rc);
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, ::freeaddrinfo);
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET)
            continue;
        out->address = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        out->name = list->ai_canonname ? list->ai_canonname : name;
        return 0;
    }
    return WSANO_DATA;
}

// A host entry laid out in one block that starts at `base`: the entry, the
// empty alias list, the address list, the address and the name.
struct EntryLayout {
    static constexpr size_t kAliases = sizeof(hostent);
    static constexpr size_t kAddrList = kAliases + sizeof(char*);
    static constexpr size_t kAddr = kAddrList + 2 * sizeof(char*);
    static constexpr size_t kName = kAddr + sizeof(ULONG);

    static size_t Size(const Resolved& r) { return kName + r.name.size() + 1; }

    // `block` has Size(r) bytes; its pointers are made for `base`.
    static void Write(const Resolved& r, char* block, char* base) {
        hostent entry{};
        entry.h_name = base + kName;
        entry.h_aliases = reinterpret_cast<char**>(base + kAliases);
        entry.h_addrtype = AF_INET;
        entry.h_length = sizeof(ULONG);
        entry.h_addr_list = reinterpret_cast<char**>(base + kAddrList);
        char* none = nullptr;
        char* addr = base + kAddr;
        std::memcpy(block, &entry, sizeof entry);
        std::memcpy(block + kAliases, &none, sizeof none);
        std::memcpy(block + kAddrList, &addr, sizeof addr);
        std::memcpy(block + kAddrList + sizeof(char*), &none, sizeof none);
        std::memcpy(block + kAddr, &r.address, sizeof r.address);
        std::memcpy(block + kName, r.name.c_str(), r.name.size() + 1);
    }
};

void RunLookup(UINT_PTR handle, std::shared_ptr<AsyncRequest> request) {
    Resolved resolved;
    int error = Resolve(request->name.c_str(), &resolved);
    std::vector<char> block;
    size_t needed = 0;
    if (error == 0) {
        needed = EntryLayout::Size(resolved);
        if (needed > static_cast<size_t>(request->length)) {
            error = WSAENOBUFS;
        } else {
            block.resize(needed);
            EntryLayout::Write(resolved, block.data(), request->buffer);
        }
    }
    auto& state = State();
    std::lock_guard l(state.lock);
    auto it = state.running.find(handle);
    if (it == state.running.end())
        return;  // cancelled: the buffer may be gone
    state.running.erase(it);
    if (!block.empty())
        std::memcpy(request->buffer, block.data(), block.size());
    PostMessageA(
        request->hwnd, request->msg, static_cast<WPARAM>(handle),
        MAKELONG(static_cast<WORD>(std::min<size_t>(needed, 0xFFFF)), static_cast<WORD>(error)));
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    if (!data)
        return WSAEFAULT;
    const BYTE major = versionRequested & 0xFF;
    const BYTE minor = versionRequested >> 8;
    if (major == 0)
        return WSAVERNOTSUPPORTED;
    *data = WSADATA{};
    data->wVersion = (major > 1 || minor >= 1) ? MAKEWORD(1, 1) : MAKEWORD(1, 0);
    data->wHighVersion = MAKEWORD(1, 1);
    std::snprintf(data->szDescription, sizeof data->szDescription, "%s sockets 1.1",
                  ProductName().c_str());
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0x7FFF;
    data->iMaxUdpDg = 65467;
    std::lock_guard l(State().lock);
    ++State().startups;
    return 0;
}

int WSACleanup() {
    auto& state = State();
    std::lock_guard l(state.lock);
    if (state.startups <= 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (--state.startups == 0)
        state.running.clear();
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}
void WSASetLastError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

ULONG inet_addr(const char* text) {
    if (!text || !*text)
        return INADDR_NONE;
    return ::inet_addr(text);
}

char* inet_ntoa(in_addr address) {
    thread_local char text[16];
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

hostent* gethostbyname(const char* name) {
    if (!Started()) {
        WSASetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    if (!name) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    Resolved resolved;
    if (int error = Resolve(name, &resolved)) {
        WSASetLastError(error);
        return nullptr;
    }
    // The entry's pointers refer to its own block, so the block must not move
    // while the caller reads it: it is rebuilt only by the next call.
    thread_local std::vector<char> storage;
    storage.assign(EntryLayout::Size(resolved), 0);
    EntryLayout::Write(resolved, storage.data(), storage.data());
    return reinterpret_cast<hostent*>(storage.data());
}

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buffer,
                             int bufferLength) {
    if (!name || !buffer || bufferLength <= 0) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    if (!IsWindow(hwnd)) {
        WSASetLastError(WSAEINVAL);
        return nullptr;
    }
    auto request =
        std::make_shared<AsyncRequest>(AsyncRequest{hwnd, msg, name, buffer, bufferLength});
    UINT_PTR handle;
    {
        auto& state = State();
        std::lock_guard l(state.lock);
        if (state.startups <= 0) {
            WSASetLastError(WSANOTINITIALISED);
            return nullptr;
        }
        handle = ++state.lastHandle;
        state.running.emplace(handle, request);
    }
    try {
        std::thread(RunLookup, handle, request).detach();
    } catch (const std::system_error&) {
        std::lock_guard l(State().lock);
        State().running.erase(handle);
        WSASetLastError(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(handle);
}

int WSACancelAsyncRequest(HANDLE asyncTask) {
    const auto handle = reinterpret_cast<UINT_PTR>(asyncTask);
    auto& state = State();
    std::lock_guard l(state.lock);
    if (state.running.erase(handle))
        return 0;
    WSASetLastError(handle != 0 && handle <= state.lastHandle ? WSAEALREADY : WSAEINVAL);
    return SOCKET_ERROR;
}

}  // namespace win
