#include "app/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quilvane {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool ConnectUnix(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

// A local X display (":N", ":N.S", "unix:N") must accept a connection on its
// socket; other forms (remote, forwarded) are left to the toolkit.
bool LocalXServerAnswers(const std::string& display) {
    std::string_view rest = display;
    if (rest.starts_with("unix:")) {
        rest.remove_prefix(4);
    }
    if (!rest.starts_with(':'))
        return true;
    rest.remove_prefix(1);
    const std::string number(rest.substr(0, rest.find('.')));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return true;
    const std::string path = "/tmp/.X11-unix/X" + number;
    return ConnectUnix(path, true) || ConnectUnix(path, false);
}

}  // namespace

std::string MissingDisplay() {
    const std::string platform = Env("QT_QPA_PLATFORM");
    const std::string x = Env("DISPLAY");
    const std::string wayland = Env("WAYLAND_DISPLAY");
    const bool wantsX = platform.empty() || platform.starts_with("xcb");
    const bool wantsWayland = platform.empty() || platform.starts_with("wayland");
    if (!wantsX && !wantsWayland)
        return {};  // offscreen, vnc, ...: no display needed
    if (wantsWayland && !wayland.empty())
        return {};
    if (wantsX && !x.empty()) {
        if (LocalXServerAnswers(x))
            return {};
        return "no X server answers on DISPLAY=" + x + " (is it running?)";
    }
    if (platform.empty()) {
        return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set; start Quilvane in a "
               "desktop session or set DISPLAY (for example to an Xvfb server)";
    }
    return "no display for QT_QPA_PLATFORM=" + platform + ": " +
           (wantsX ? "DISPLAY" : "WAYLAND_DISPLAY") + " is not set";
}

}  // namespace quilvane
