#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/product.h"
#include "platform/wnet_internal.h"

namespace win::wnet {
namespace {

// Beside gvfs's own folders in the runtime area.
std::string SessionFileName() {
    return ProductLowerName() + "-session-bus";
}

// The argument vector and environment (this process's plus `extraEnv`, each
// "NAME=value") of a program to start.
class SpawnArgs {
public:
    SpawnArgs(std::vector<std::string> argv, const std::vector<std::string>& extraEnv)
        : argv_(std::move(argv)), env_(g_get_environ()) {
        for (auto& a : argv_)
            args_.push_back(a.data());
        args_.push_back(nullptr);
        for (const auto& e : extraEnv) {
            const auto eq = e.find('=');
            env_ = g_environ_setenv(env_, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
        }
    }
    ~SpawnArgs() { g_strfreev(env_); }
    SpawnArgs(const SpawnArgs&) = delete;
    SpawnArgs& operator=(const SpawnArgs&) = delete;

    gchar** Args() { return args_.data(); }
    gchar** Env() { return env_; }

private:
    std::vector<std::string> argv_;
    std::vector<char*> args_;
    gchar** env_;
};

std::optional<std::string> SpawnOutput(std::vector<std::string> argv,
                                       const std::vector<std::string>& extraEnv) {
    SpawnArgs spawn(std::move(argv), extraEnv);
    gchar* out = nullptr;
    gint status = 0;
    const gboolean ok =
        g_spawn_sync(nullptr, spawn.Args(), spawn.Env(),
                     static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL |
                                              G_SPAWN_STDIN_FROM_DEV_NULL),
                     nullptr, nullptr, &out, nullptr, &status, nullptr);
    std::optional<std::string> result;
    if (ok && g_spawn_check_wait_status(status, nullptr) && out)
        result = out;
    g_free(out);
    return result;
}

// Starts a daemon in a session of its own that outlives this process.
bool SpawnDetached(std::vector<std::string> argv, const std::vector<std::string>& extraEnv) {
    SpawnArgs spawn(std::move(argv), extraEnv);
    return g_spawn_async(
        nullptr, spawn.Args(), spawn.Env(),
        static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL |
                                 G_SPAWN_STDIN_FROM_DEV_NULL),
        [](gpointer) { ::setsid(); }, nullptr, nullptr, nullptr);
}

GDBusConnection* ConnectBus(const std::string& address) {
    if (address.empty())
        return nullptr;
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

bool BusCallHasName(GDBusConnection* bus, const char* method, bool listResult) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        listResult ? nullptr : g_variant_new("(s)", kGvfsDaemonName), nullptr,
        G_DBUS_CALL_FLAGS_NONE, static_cast<int>(kLookupTimeoutMs), nullptr, nullptr);
    if (!reply)
        return false;
    bool found = false;
    if (listResult) {
        GVariantIter* it = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply, "(as)", &it);
        while (g_variant_iter_next(it, "&s", &name))
            found = found || !std::strcmp(name, kGvfsDaemonName);
        g_variant_iter_free(it);
    } else {
        gboolean has = FALSE;
        g_variant_get(reply, "(b)", &has);
        found = has;
    }
    g_variant_unref(reply);
    return found;
}

bool GvfsRunning(GDBusConnection* bus) {
    return BusCallHasName(bus, "NameHasOwner", false);
}
bool GvfsActivatable(GDBusConnection* bus) {
    return BusCallHasName(bus, "ListActivatableNames", true);
}

// Waits until the gvfs daemon owns its name on the bus.
bool WaitForGvfs(GDBusConnection* bus) {
    PrivateContext ctx;
    bool appeared = false;
    const guint watch = g_bus_watch_name_on_connection(
        bus, kGvfsDaemonName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer flag) {
            *static_cast<bool*>(flag) = true;
        },
        nullptr, &appeared, nullptr);
    ctx.Wait(appeared, kStartTimeoutMs);
    g_bus_unwatch_name(watch);
    return appeared;
}

bool IsMountPoint(const std::string& path) {
    GUnixMountEntry* e = g_unix_mount_at(path.c_str(), nullptr);
    if (!e)
        return false;
    g_unix_mount_free(e);
    return true;
}

// Starts gvfsd-fuse on RUNTIME/gvfs, where gvfsd (given the same runtime
// folder) expects it, and waits until the folder is mounted.
bool StartFuse(const std::string& runtime, const std::vector<std::string>& env) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return false;
    const std::string mountPoint = runtime + "/gvfs";
    if (IsMountPoint(mountPoint)) {
        // Left behind by a gvfsd-fuse that died: its folder answers nothing.
        if (::umount2(mountPoint.c_str(), MNT_DETACH) != 0)
            SpawnOutput({"fusermount", "-u", "-z", mountPoint}, {});
    }
    if (g_mkdir_with_parents(mountPoint.c_str(), 0700) != 0)
        return false;

    // The kernel flags the mount table file at every change of the table.
    const int table = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (table < 0)
        return false;
    PrivateContext ctx;
    struct Watch {
        const std::string* point;
        bool mounted;
    } watch{&mountPoint, false};
    GSource* changes = g_unix_fd_source_new(table, static_cast<GIOCondition>(G_IO_PRI | G_IO_ERR));
    g_source_set_callback(changes,
                          G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
                              auto* w = static_cast<Watch*>(data);
                              w->mounted = IsMountPoint(*w->point);
                              return G_SOURCE_CONTINUE;
                          }),
                          &watch, nullptr);
    g_source_attach(changes, g_main_context_get_thread_default());
    bool ok = SpawnDetached({kGvfsdFuse, mountPoint, "-f"}, env);
    if (ok) {
        watch.mounted = IsMountPoint(mountPoint);
        ok = ctx.Wait(watch.mounted, kStartTimeoutMs);
    }
    g_source_destroy(changes);
    g_source_unref(changes);
    ::close(table);
    return ok;
}

bool StartGvfs(GDBusConnection* bus, const std::string& address, const std::string& runtime) {
    const std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=" + address,
                                          "XDG_RUNTIME_DIR=" + runtime};
    if (!SpawnDetached({kGvfsd, "--no-fuse"}, env))
        return false;
    if (!WaitForGvfs(bus))
        return false;
    // Without FUSE the shares mount all the same but have no local path; the
    // drive calls then report that they cannot link a letter.
    StartFuse(runtime, env);
    return true;
}

// The bus address EnsureGvfsSession has chosen, or would choose now without
// starting anything; empty when there is none.
std::string SessionAddress(bool ready) {
    const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (ready)
        return env ? env : "";
    if (env && *env) {
        ObjPtr<GDBusConnection> bus(ConnectBus(env));
        if (bus && (GvfsRunning(bus.get()) || GvfsActivatable(bus.get())))
            return env;
    }
    const std::string runtime = UserRuntimeFolder();
    std::string text;
    // Only a record of the user's own names the bus: a planted one could lead
    // the drive calls, and the passwords they send, to a bus of its maker's.
    if (runtime.empty() || ReadPrivateFile(runtime + "/" + SessionFileName(), text, 4096) != 0)
        return {};
    return text.substr(0, text.find('\n'));
}

// The record of the private bus, written only over a file of the user's own
// (never through a link, which the replace would follow).
bool WriteSessionFile(const std::string& path, const std::string& text) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()))
        return false;
    return ReplaceFileContents(path, text) == 0;
}

bool g_ready = false;

}  // namespace

// Makes sure this process's GIO reaches a gvfs daemon: the user's session when
// it has one, else the private bus recorded in the runtime folder, else a new
// private bus with gvfsd and gvfsd-fuse, recorded for later runs.
bool EnsureGvfsSession() {
    if (g_ready)
        return true;

    std::string address = SessionAddress(false);
    if (const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        env && !address.empty() && address == env)
        return g_ready = true;

    const std::string runtime = UserRuntimeFolder();
    if (runtime.empty())
        return false;
    const std::string sessionFile = runtime + "/" + SessionFileName();
    ObjPtr<GDBusConnection> bus(ConnectBus(address));
    if (!bus) {
        auto out = SpawnOutput(
            {"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"},
            {"XDG_RUNTIME_DIR=" + runtime});
        if (!out)
            return false;
        // Two lines: the address, then the daemon's process id.
        address = out->substr(0, out->find('\n'));
        bus.p = ConnectBus(address);
        if (!bus || !WriteSessionFile(sessionFile, *out))
            return false;
    }
    // Before anything of GIO runs: its first file object picks the VFS for
    // the whole process, and only one with a session bus is gvfs.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    if (!GvfsRunning(bus.get()) && !StartGvfs(bus.get(), address, runtime))
        return false;
    return g_ready = true;
}

std::string GvfsSessionId() {
    static const std::string boot = [] {
        std::string text;
        ReadFileContents("/proc/sys/kernel/random/boot_id", text);
        return text.substr(0, text.find('\n'));
    }();
    // The drive records ask for the id on every look at a letter, which the
    // monitor makes for each drive on each pass. Once this process has made
    // sure of its gvfs session, that bus stays, so its id is asked only once
    // per address instead of with a new connection each time.
    static std::mutex cacheLock;
    static std::string cachedAddress, cachedId;
    const std::string address = SessionAddress(g_ready);
    if (g_ready) {
        std::lock_guard guard(cacheLock);
        if (!cachedId.empty() && address == cachedAddress)
            return cachedId;
    }
    ObjPtr<GDBusConnection> bus(ConnectBus(address));
    const char* guid = bus ? g_dbus_connection_get_guid(bus.get()) : nullptr;
    std::string id = boot + " " + (guid ? guid : "none");
    if (g_ready && guid) {
        std::lock_guard guard(cacheLock);
        cachedAddress = address;
        cachedId = id;
    }
    return id;
}

}  // namespace win::wnet
