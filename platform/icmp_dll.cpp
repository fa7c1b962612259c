// The ICMP library "icmp.dll" (libquilvane_icmp.so): IcmpCreateFile,
// IcmpCloseHandle and IcmpSendEcho over Linux ICMP sockets. See
// platform/icmp.h for the contract.

// linux/errqueue.h uses struct timespec without declaring it.
#include <time.h>
// clang-format off
#include <linux/errqueue.h>
// clang-format on

#include <errno.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

// Only the error codes of the kernel area are used here: the library is linked
// with no undefined symbols, and reports errors through the program's last
// error, which WinAttachModule hands over.
#include "platform/icmp.h"
#include "platform/icmp_packet.h"
#include "platform/kernel.h"
#include "platform/module.h"

using namespace win;

namespace {

using Clock = std::chrono::steady_clock;

constexpr WORD kMaxRequestSize = 65500;

// Our own last error until the program attaches us.
thread_local DWORD t_ownLastError = 0;
void OwnSetLastError(DWORD code) {
    t_ownLastError = code;
}
std::atomic<void (*)(DWORD)> g_setLastError{&OwnSetLastError};

void SetError(DWORD code) {
    g_setLastError.load()(code);
}

constexpr std::uint32_t kHandleMagic = 0x49434D50;  // "ICMP"

// The options a socket was last set to, so unchanged ones cost no call.
struct AppliedOptions {
    int ttl = -1, tos = -1, pmtu = -1;
};

struct IcmpHandle {
    std::uint32_t magic = kHandleMagic;
    std::uint16_t id;
    std::atomic<std::uint16_t> seq;

    // The socket of the thread that used the handle first, kept between
    // calls; other threads, and calls that overlap, open their own. A socket
    // keeps the network namespace and rights of the thread that opened it.
    std::mutex lock;  // guards the fields below
    int fd = -1;
    bool datagram = false;
    pid_t owner = 0;
    std::uint16_t boundId = 0;  // a datagram socket's identifier, once known
    AppliedOptions applied;

    ~IcmpHandle() {
        if (fd >= 0)
            ::close(fd);
    }
};

pid_t ThisThread() {
    thread_local const pid_t tid = ::gettid();
    return tid;
}

IcmpHandle* FromHandle(HANDLE h) {
    auto* handle = static_cast<IcmpHandle*>(h);
    if (!handle || h == INVALID_HANDLE_VALUE || handle->magic != kHandleMagic)
        return nullptr;
    return handle;
}

std::uint16_t RandomWord() {
    std::uint16_t v = 0;
    if (::getrandom(&v, sizeof v, GRND_NONBLOCK) != sizeof v)
        v = static_cast<std::uint16_t>(Clock::now().time_since_epoch().count() ^ ::getpid());
    return v;
}

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(Socket&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int fd() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

ULONG StatusForErrno(int error) {
    switch (error) {
        case ENETUNREACH:
        case ENETDOWN:
            return IP_DEST_NET_UNREACHABLE;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return IP_DEST_HOST_UNREACHABLE;
        case EMSGSIZE:
            return IP_PACKET_TOO_BIG;
        case EACCES:
            return IP_BAD_DESTINATION;  // broadcast
        case ENOBUFS:
        case ENOMEM:
            return IP_NO_RESOURCES;
        default:
            return IP_GENERAL_FAILURE;
    }
}

// One request in flight: the socket it went out on and where the answer goes.
// One recvmsg into the caller's buffer, keeping the sender's address and the
// control data (received options, queued errors) for the caller to read.
struct Reception {
    Reception(void* data, std::size_t size) : iov{data, size} {
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
    }
    Reception(const Reception&) = delete;
    Reception& operator=(const Reception&) = delete;
    ssize_t Receive(int fd, int flags) { return ::recvmsg(fd, &msg, flags); }

    sockaddr_in from{};
    std::uint8_t control[512];
    iovec iov;
    msghdr msg{};
};

class Exchange {
public:
    Exchange(bool datagram, int fd, const icmp::Request& request, ICMP_ECHO_REPLY* record,
             std::uint8_t* replyData, std::size_t replyRoom, Clock::time_point sent)
        : datagram_(datagram),
          fd_(fd),
          request_(request),
          record_(record),
          replyData_(replyData),
          replyRoom_(replyRoom),
          sent_(sent) {}

    // Reads everything waiting on the socket; true once the answer is in.
    bool Drain() {
        for (;;) {
            std::uint8_t buffer[65536 + 64];
            Reception in(buffer, sizeof buffer);
            ssize_t n = in.Receive(fd_, MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // An ICMP error on a datagram socket is reported here first.
                if (datagram_ && errno != EAGAIN && errno != EWOULDBLOCK)
                    return DrainErrors();
                return datagram_ && DrainErrors();
            }
            const auto size = static_cast<std::size_t>(n);
            icmp::Answer answer =
                datagram_ ? icmp::FromDatagram(buffer, size, in.from.sin_addr.s_addr, request_)
                          : icmp::FromRawPacket(buffer, size, request_);
            if (!answer.matches)
                continue;
            if (datagram_)
                ReadReceivedOptions(in.msg, &answer);
            Complete(answer);
            return true;
        }
    }

    DWORD Result() const { return record_->Status == IP_SUCCESS ? 1 : 0; }

private:
    // Errors queued on a datagram socket: ICMP errors about our requests.
    bool DrainErrors() {
        for (;;) {
            std::uint8_t quoted[576];
            Reception in(quoted, sizeof quoted);
            ssize_t n = in.Receive(fd_, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            const sock_extended_err* err = nullptr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&in.msg); c; c = CMSG_NXTHDR(&in.msg, c))
                if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR)
                    err = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            if (!err)
                continue;
            // The quoted request: its sequence says whether it is ours.
            if (n < static_cast<ssize_t>(icmp::kHeaderSize) || quoted[0] != icmp::kEchoRequest ||
                ((quoted[6] << 8) | quoted[7]) != request_.seq ||
                in.from.sin_addr.s_addr != request_.destination)
                continue;
            icmp::Answer answer;
            if (err->ee_origin == SO_EE_ORIGIN_ICMP) {
                answer.status = icmp::ErrorStatus(err->ee_type, err->ee_code);
            } else if (err->ee_origin == SO_EE_ORIGIN_LOCAL) {
                answer.status = StatusForErrno(static_cast<int>(err->ee_errno));
            }
            if (answer.status == IP_SUCCESS)
                continue;
            const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(err));
            answer.from =
                offender->sin_family == AF_INET ? offender->sin_addr.s_addr : request_.destination;
            answer.matches = true;
            Complete(answer);
            return true;
        }
    }

    static void ReadReceivedOptions(msghdr& msg, icmp::Answer* answer) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_IP)
                continue;
            if (c->cmsg_type == IP_TTL) {
                int ttl;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                answer->ttl = static_cast<UCHAR>(ttl);
            } else if (c->cmsg_type == IP_TOS) {
                answer->tos = *CMSG_DATA(c);
            }
        }
    }

    void Complete(const icmp::Answer& answer) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent_);
        std::size_t copied = std::min(answer.dataSize, replyRoom_);
        if (copied)
            std::memcpy(replyData_, answer.data, copied);
        record_->Address = answer.from;
        record_->Status = answer.status;
        record_->RoundTripTime = static_cast<ULONG>(elapsed.count());
        record_->DataSize = static_cast<USHORT>(copied);
        record_->Reserved = 0;
        record_->Data = copied ? static_cast<ULONG>(sizeof(ICMP_ECHO_REPLY)) : 0;
        record_->Options = {answer.ttl, answer.tos, answer.flags, 0, 0};
    }

    bool datagram_;
    int fd_;
    icmp::Request request_;
    ICMP_ECHO_REPLY* record_;
    std::uint8_t* replyData_;
    std::size_t replyRoom_;
    Clock::time_point sent_;
};

// An ICMP socket of the kind the calling thread may open: datagram first.
// Returns -1 with errno set when neither is allowed.
int OpenIcmpSocket(bool* datagram) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        *datagram = true;
        return fd;
    }
    if (errno != EACCES && errno != EPERM && errno != EPROTONOSUPPORT && errno != EAFNOSUPPORT)
        return -1;
    *datagram = false;
    return ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

// The settings a socket keeps for its life.
bool ConfigureOnce(int fd, bool datagram) {
    int on = 1;
    if (datagram) {
        return ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on) == 0 &&
               ::setsockopt(fd, SOL_IP, IP_RECVTTL, &on, sizeof on) == 0 &&
               ::setsockopt(fd, SOL_IP, IP_RECVTOS, &on, sizeof on) == 0;
    }
    // A raw socket sees every ICMP packet of the host; let only the types that
    // can answer an echo request through.
    icmp_filter filter{};
    filter.data =
        ~((1U << icmp::kEchoReply) | (1U << icmp::kDestUnreachable) | (1U << icmp::kSourceQuench) |
          (1U << icmp::kTimeExceeded) | (1U << icmp::kParameterProblem));
    return ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

bool SetOption(int fd, int name, int value, int* applied) {
    if (*applied == value)
        return true;
    if (::setsockopt(fd, SOL_IP, name, &value, sizeof value) != 0)
        return false;
    *applied = value;
    return true;
}

bool ApplyOptions(int fd, const IP_OPTION_INFORMATION* options, AppliedOptions* applied) {
    if (!options)
        return true;
    return SetOption(fd, IP_TTL, options->Ttl, &applied->ttl) &&
           SetOption(fd, IP_TOS, options->Tos, &applied->tos) &&
           SetOption(fd, IP_MTU_DISCOVER,
                     (options->Flags & IP_FLAG_DF) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT,
                     &applied->pmtu);
}

// Throws away what a kept socket received since its last request: late
// replies, other programs' traffic, errors about earlier requests.
void DiscardWaiting(int fd, bool datagram) {
    std::uint8_t byte;
    for (int i = 0; i < 100000; ++i) {
        if (::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_TRUNC) < 0 &&
            (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
    }
    if (!datagram)
        return;
    for (int i = 0; i < 100000; ++i) {
        std::uint8_t control[256];
        iovec iov{&byte, 1};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            break;
    }
}

DWORD SendEcho(IcmpHandle* handle, IPAddr destination, LPVOID requestData, WORD requestSize,
               IP_OPTION_INFORMATION* options, LPVOID replyBuffer, DWORD replySize, DWORD timeout) {
    if (!replyBuffer || replySize < sizeof(ICMP_ECHO_REPLY)) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if ((requestSize && !requestData) || requestSize > kMaxRequestSize ||
        (options && (options->Ttl == 0 || options->OptionsSize != 0))) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (destination == 0 || destination == 0xFFFFFFFF) {
        SetError(IP_BAD_DESTINATION);
        return 0;
    }
    auto* record = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
    auto* replyData = static_cast<std::uint8_t*>(replyBuffer) + sizeof(ICMP_ECHO_REPLY);
    const std::size_t replyRoom = replySize - sizeof(ICMP_ECHO_REPLY);

    // The handle's kept socket when this thread owns it and no other call
    // uses it, else a socket for this call only.
    std::unique_lock keep(handle->lock, std::try_to_lock);
    const bool kept = keep.owns_lock() && (handle->fd < 0 || handle->owner == ThisThread());
    if (!kept && keep.owns_lock())
        keep.unlock();
    Socket temporary;
    AppliedOptions temporaryOptions;
    int fd;
    bool datagram = false;
    if (kept && handle->fd >= 0) {
        fd = handle->fd;
        datagram = handle->datagram;
        DiscardWaiting(fd, datagram);
    } else {
        fd = OpenIcmpSocket(&datagram);
        if (fd < 0) {
            SetError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : IP_NO_RESOURCES);
            return 0;
        }
        temporary = Socket(fd);
        if (!ConfigureOnce(fd, datagram)) {
            SetError(IP_GENERAL_FAILURE);
            return 0;
        }
        if (kept) {
            handle->fd = temporary.Release();
            handle->datagram = datagram;
            handle->owner = ThisThread();
            handle->boundId = 0;
            handle->applied = {};
        }
    }
    if (!ApplyOptions(fd, options, kept ? &handle->applied : &temporaryOptions)) {
        SetError(IP_GENERAL_FAILURE);
        return 0;
    }

    icmp::Request request{destination, handle->id, handle->seq.fetch_add(1)};
    std::vector<std::uint8_t> packet =
        icmp::EchoRequest(request.id, request.seq, requestData, requestSize);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const Clock::time_point sent = Clock::now();
    const Clock::time_point deadline = sent + std::chrono::milliseconds(timeout);
    if (::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <
        0) {
        *record = ICMP_ECHO_REPLY{};
        record->Address = destination;
        record->Status = StatusForErrno(errno);
        SetError(record->Status);
        return 0;
    }
    if (datagram) {
        // The system numbers a datagram socket's requests with its own port.
        if (kept && handle->boundId) {
            request.id = handle->boundId;
        } else {
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
                request.id = ntohs(local.sin_port);
            if (kept)
                handle->boundId = request.id;
        }
    }

    Exchange exchange(datagram, fd, request, record, replyData, replyRoom, sent);
    for (;;) {
        if (exchange.Drain()) {
            DWORD result = exchange.Result();
            SetError(result ? 0 : record->Status);
            return result;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0 && Clock::now() >= deadline)
            break;
    }
    *record = ICMP_ECHO_REPLY{};
    record->Status = IP_REQ_TIMED_OUT;
    SetError(IP_REQ_TIMED_OUT);
    return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void WinAttachModule(const KernelServices* services) {
    if (services && services->SetLastError)
        g_setLastError.store(services->SetLastError);
}

__attribute__((visibility("default"))) HANDLE IcmpCreateFile() {
    // A system that lets this caller open no kind of ICMP socket fails here,
    // with the reason, rather than at every later echo as if no host answered.
    // The probe is not kept: each thread opens its own socket at its first send.
    bool datagram = false;
    const int probe = OpenIcmpSocket(&datagram);
    if (probe < 0) {
        SetError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : IP_NO_RESOURCES);
        return INVALID_HANDLE_VALUE;
    }
    ::close(probe);
    auto* handle = new (std::nothrow) IcmpHandle;
    if (!handle) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    handle->id = RandomWord();
    handle->seq.store(RandomWord());
    return handle;
}

__attribute__((visibility("default"))) BOOL IcmpCloseHandle(HANDLE icmpHandle) {
    IcmpHandle* handle = FromHandle(icmpHandle);
    if (!handle) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    handle->magic = 0;
    delete handle;
    return TRUE;
}

__attribute__((visibility("default"))) DWORD IcmpSendEcho(
    HANDLE icmpHandle, IPAddr destinationAddress, LPVOID requestData, WORD requestSize,
    IP_OPTION_INFORMATION* requestOptions, LPVOID replyBuffer, DWORD replySize, DWORD timeout) {
    IcmpHandle* handle = FromHandle(icmpHandle);
    if (!handle) {
        SetError(ERROR_INVALID_HANDLE);
        return 0;
    }
    try {
        return SendEcho(handle, destinationAddress, requestData, requestSize, requestOptions,
                        replyBuffer, replySize, timeout);
    } catch (const std::bad_alloc&) {
        SetError(IP_NO_RESOURCES);
        return 0;
    }
}

}  // extern "C"
