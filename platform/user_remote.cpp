// Messages between the user's processes. A process with windows listens on a
// Unix socket "p<pid>" in the windows folder (0700, the user's own) and answers
// only peers of the same user. A request names one window; a post is queued
// and acknowledged at once, a send is queued like a send from another thread
// and answered when the window's thread has handled it. Only the integer
// parameters travel. The listening thread never waits for a window's thread,
// so a process whose main thread is blocked or in a modal loop still answers
// at once whether a window exists, and its sends wait in its queue.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/kernel.h"
#include "platform/user_internal.h"

namespace win::user {
namespace {

// How long a sender waits for the other process, and a listener for a request.
constexpr int kAnswerSeconds = 5;
constexpr int kRequestSeconds = 1;

constexpr std::uint32_t kMagic = 0x51574D31;  // names this protocol and its version

enum class Kind : std::uint32_t { Post = 1, Send = 2, Query = 3 };
enum class Status : std::uint32_t { Done = 1, NoWindow = 2 };

struct Request {
    std::uint32_t magic = kMagic;
    Kind kind = Kind::Query;
    std::uint32_t hwnd = 0;
    std::uint32_t msg = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

struct Reply {
    std::uint32_t magic = kMagic;
    Status status = Status::NoWindow;
    std::int64_t result = 0;
    std::uint32_t threadId = 0;
    std::uint32_t processId = 0;
};

std::string SocketPath(pid_t pid) {
    return WindowsFolder() + "/p" + std::to_string(pid);
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
    *addr = sockaddr_un{};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

void SetTimeouts(int fd, int seconds) {
    const timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool PeerIsOurUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

template <typename T>
bool SendPacket(int fd, const T& packet) {
    return ::send(fd, &packet, sizeof packet, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof packet);
}

// Receives one packet; false with errno EAGAIN on a time-out.
template <typename T>
bool ReceivePacket(int fd, T* packet) {
    for (;;) {
        const ssize_t n = ::recv(fd, packet, sizeof *packet, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(sizeof *packet)) {
            if (n >= 0)
                errno = ECONNRESET;
            return false;
        }
        return packet->magic == kMagic;
    }
}

// Answers the other processes of the user; lives from the first window to the
// end of the process.
class Listener {
public:
    Listener() {
        if (WindowsFolder().empty())
            return;
        sockaddr_un addr;
        const std::string path = SocketPath(::getpid());
        if (!FillAddress(path, &addr))
            return;
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (fd.get() < 0)
            return;
        // A socket of ours by this name was left by an ended process with our id.
        ::unlink(path.c_str());
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd.get(), 64) != 0)
            return;
        socket_.emplace(std::move(fd));
        path_ = path;
        thread_ = std::make_unique<std::thread>([this] { Run(); });
    }

    ~Listener() {
        if (!socket_)
            return;
        if (::getpid() != owner_) {
            // A child forked from us has our memory but not our thread.
            (void)thread_.release();
            return;
        }
        stopping_ = true;
        ::shutdown(socket_->get(), SHUT_RDWR);
        thread_->join();
        ::unlink(path_.c_str());
    }

private:
    void Run() {
        for (;;) {
            const int fd = ::accept4(socket_->get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (stopping_) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            if (fd >= 0)
                Serve(UniqueFd(fd));
            else if (errno != EINTR && errno != ECONNABORTED)
                return;  // the socket is broken; the process stays reachable no more
        }
    }

    static void Serve(UniqueFd fd) {
        if (!PeerIsOurUser(fd.get()))
            return;
        SetTimeouts(fd.get(), kRequestSeconds);
        Request request;
        if (!ReceivePacket(fd.get(), &request))
            return;
        const HWND hwnd = request.hwnd;
        auto queue = QueueOfLiveWindow(hwnd);
        Reply reply;
        reply.processId = static_cast<std::uint32_t>(::getpid());
        if (!queue) {
            SendPacket(fd.get(), reply);
            return;
        }
        reply.status = Status::Done;
        reply.threadId = queue->threadId;
        switch (request.kind) {
            case Kind::Query:
                SendPacket(fd.get(), reply);
                return;
            case Kind::Post:
                PostToQueue(queue.get(), hwnd, request.msg, request.wParam, request.lParam);
                SendPacket(fd.get(), reply);
                return;
            case Kind::Send: {
                // Answered by the window's thread when it has handled the message;
                // the connection goes with the answer.
                auto connection = std::make_shared<UniqueFd>(std::move(fd));
                auto sm = std::make_shared<SentMessage>();
                *sm = {hwnd, request.msg, static_cast<WPARAM>(request.wParam),
                       static_cast<LPARAM>(request.lParam), [connection, reply](LRESULT r) mutable {
                           reply.result = r;
                           ::send(connection->get(), &reply, sizeof reply,
                                  MSG_NOSIGNAL | MSG_DONTWAIT);
                       }};
                if (!QueueSend(queue.get(), sm)) {
                    reply.status = Status::NoWindow;
                    SendPacket(connection->get(), reply);
                }
                return;
            }
        }
    }

    std::optional<UniqueFd> socket_;
    std::string path_;
    const pid_t owner_ = ::getpid();
    std::atomic<bool> stopping_{false};
    std::unique_ptr<std::thread> thread_;
};

// A connection to the process that owns `hwnd`, checked to be the user's own;
// none, with ERROR_INVALID_WINDOW_HANDLE, where no live process owns it.
std::optional<UniqueFd> ConnectToOwner(HWND hwnd) {
    const pid_t pid = OwnerOfHandle(hwnd);
    sockaddr_un addr;
    if (pid > 0 && FillAddress(SocketPath(pid), &addr)) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (fd.get() >= 0) {
            SetTimeouts(fd.get(), kAnswerSeconds);
            if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                if (PeerIsOurUser(fd.get()))
                    return fd;
            } else if (errno == ECONNREFUSED || errno == ENOENT) {
                ForgetOwnerOfHandle(hwnd);
            }
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return std::nullopt;
}

// One request with its immediate reply; nullopt with the last error set.
std::optional<Reply> Ask(HWND hwnd, Kind kind, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto fd = ConnectToOwner(hwnd);
    if (!fd)
        return std::nullopt;
    Request request;
    request.kind = kind;
    request.hwnd = static_cast<std::uint32_t>(hwnd);
    request.msg = msg;
    request.wParam = wParam;
    request.lParam = lParam;
    Reply reply;
    if (!SendPacket(fd->get(), request) || !ReceivePacket(fd->get(), &reply)) {
        SetLastError(errno == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
        return std::nullopt;
    }
    if (reply.status != Status::Done) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return std::nullopt;
    }
    return reply;
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ListenToOtherProcesses() {
    static Listener listener;
}

BOOL PostToOtherProcess(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Ask(hwnd, Kind::Post, msg, wParam, lParam) ? TRUE : FALSE;
}

DWORD ThreadOfOtherProcessWindow(HWND hwnd, DWORD* processId) {
    auto reply = Ask(hwnd, Kind::Query, 0, 0, 0);
    if (!reply)
        return 0;
    if (processId)
        *processId = reply->processId;
    return reply->threadId;
}

LRESULT SendToOtherProcess(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto fd = ConnectToOwner(hwnd);
    if (!fd)
        return 0;
    Request request;
    request.kind = Kind::Send;
    request.hwnd = static_cast<std::uint32_t>(hwnd);
    request.msg = msg;
    request.wParam = wParam;
    request.lParam = lParam;
    if (!SendPacket(fd->get(), request)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // The answer is read beside us while this thread goes on handling sends
    // to its own windows (the other process may be sending to us meanwhile).
    auto self = CurrentQueue();
    Answer answer;
    Reply reply;
    bool received = false;
    int error = 0;
    std::thread reader([&] {
        received = ReceivePacket(fd->get(), &reply);
        error = errno;
        std::lock_guard l(self->lock);
        answer.done = true;
        self->cv.notify_all();
    });
    WaitForAnswer(self.get(), answer);
    reader.join();
    if (!received || reply.status != Status::Done) {
        SetLastError(!received && error == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return reply.result;
}

}  // namespace win::user
