#include "app/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace quilvane {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// DISPLAY as X names a display: [host]:number[.screen], the host possibly
// "unix" or prefixed by a protocol ("tcp/host").
bool WellFormedXDisplay(const std::string& display) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string_view number = std::string_view(display).substr(colon + 1);
    if (const std::size_t dot = number.find('.'); dot != std::string_view::npos) {
        const std::string_view screen = number.substr(dot + 1);
        if (!win::IsAllDigits(screen))
            return false;
        number = number.substr(0, dot);
    }
    return win::IsAllDigits(number);
}

// Opens and closes a connection the way the toolkit's X platform does, so
// that a server that is gone, refuses us or was never there is seen here.
bool XServerAnswers(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection)
        xcb_disconnect(connection);
    return ok;
}

// A Wayland compositor listens on $XDG_RUNTIME_DIR/<name> (or on <name> when
// it is a full path).
bool WaylandCompositorAnswers(const std::string& name) {
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return false;
        path = runtime + "/" + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

// Whether the toolkit's Wayland platform plugin is installed where it looks.
bool WaylandPluginInstalled() {
    QStringList folders = {QLibraryInfo::path(QLibraryInfo::PluginsPath)};
    for (const QString& folder :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(':', Qt::SkipEmptyParts))
        folders << folder;
    for (const QString& folder : folders) {
        if (!QDir(folder + "/platforms").entryList({"libqwayland*.so"}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

// Empty when the X display named by DISPLAY takes a connection, else why not.
std::string XProblem(const std::string& display) {
    if (display.empty())
        return "DISPLAY is not set";
    if (!WellFormedXDisplay(display))
        return "DISPLAY=" + display + " is not a display name (it looks like :0 or host:0)";
    if (!XServerAnswers(display))
        return "no X server answers on DISPLAY=" + display + " (is it running?)";
    return {};
}

// Empty when the compositor named by WAYLAND_DISPLAY takes a connection and
// the toolkit can talk to it, else why not.
std::string WaylandProblem(const std::string& display) {
    if (display.empty())
        return "WAYLAND_DISPLAY is not set";
    if (!WaylandCompositorAnswers(display))
        return "no Wayland compositor answers on WAYLAND_DISPLAY=" + display + " (is it running?)";
    if (!WaylandPluginInstalled())
        return "Qt's Wayland platform plugin is not installed (package qt6-wayland)";
    return {};
}

}  // namespace

std::string MissingDisplay() {
    const std::string platform = Env("QT_QPA_PLATFORM");
    const std::string x = Env("DISPLAY");
    const std::string wayland = Env("WAYLAND_DISPLAY");
    if (platform.starts_with("xcb")) {
        const std::string problem = XProblem(x);
        return problem.empty() ? std::string()
                               : "no display for QT_QPA_PLATFORM=" + platform + ": " + problem;
    }
    if (platform.starts_with("wayland")) {
        const std::string problem = WaylandProblem(wayland);
        return problem.empty() ? std::string()
                               : "no display for QT_QPA_PLATFORM=" + platform + ": " + problem;
    }
    if (!platform.empty())
        return {};  // offscreen, vnc, ...: no display needed
    // The toolkit tries Wayland first when WAYLAND_DISPLAY is set, then X.
    if (x.empty() && wayland.empty()) {
        return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set; start Quilvane in a "
               "desktop session or set DISPLAY (for example to an Xvfb server)";
    }
    std::string problems;
    if (!wayland.empty()) {
        const std::string problem = WaylandProblem(wayland);
        if (problem.empty())
            return {};
        problems = problem;
    }
    if (!x.empty()) {
        const std::string problem = XProblem(x);
        if (problem.empty())
            return {};
        problems += (problems.empty() ? "" : "; ") + problem;
    } else {
        problems += "; DISPLAY is not set";
    }
    return problems;
}

}  // namespace quilvane
