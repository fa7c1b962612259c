#include "platform/wnet.h"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixmounts.h>
#include <glib-unix.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/kernel.h"

namespace win {
namespace {

// Bounds on how long a caller waits for gvfs. A mount includes connecting to
// the server and logging on; an unmount of a share whose server has gone
// silent is given up on (the letter is freed all the same) rather than waited
// for as long as the SMB client library's own time-outs.
constexpr guint kMountTimeoutMs = 30000;
constexpr guint kUnmountTimeoutMs = 4000;
constexpr guint kLookupTimeoutMs = 5000;
constexpr guint kStartTimeoutMs = 10000;
// How long a new mount's FUSE folder may take to appear, and how often we look.
constexpr guint kLocalPathTimeoutMs = 3000;
constexpr guint kLocalPathProbeMs = 5;
// After a cancel, how long we still wait for gvfs to hand the call back.
constexpr guint kCancelGraceMs = 3000;
// How long the backend of an unmounted share may take to end by itself.
constexpr guint kBackendExitMs = 2000;

constexpr const char* kGvfsDaemonName = "org.gtk.vfs.Daemon";
constexpr const char* kGvfsd = "/usr/libexec/gvfsd";
constexpr const char* kGvfsdFuse = "/usr/libexec/gvfsd-fuse";
constexpr const char* kSessionFileName = "quilvane-session-bus";

// One process-wide lock: gvfs session set-up and every connection change.
std::mutex g_netLock;

template <typename T, void (*Free)(T*)>
struct GPtr {
    T* p = nullptr;
    GPtr() = default;
    explicit GPtr(T* q) : p(q) {}
    GPtr(const GPtr&) = delete;
    GPtr& operator=(const GPtr&) = delete;
    ~GPtr() {
        if (p)
            Free(p);
    }
    T* get() const { return p; }
    T** out() { return &p; }
    explicit operator bool() const { return p != nullptr; }
};
template <typename T>
void UnrefAny(T* o) {
    g_object_unref(o);
}
void FreeChars(char* p) {
    g_free(p);
}
using CharPtr = GPtr<char, FreeChars>;
template <typename T>
using ObjPtr = GPtr<T, UnrefAny<T>>;

// ---------------------------------------------------------------------------
// Names

std::optional<char> ParseDriveName(const char* name) {
    if (!name || !std::isalpha(static_cast<unsigned char>(name[0])) || name[1] != ':' || name[2])
        return std::nullopt;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
}

struct RemoteName {
    std::string host;
    std::string share;
    std::vector<std::string> folders;
};

std::optional<RemoteName> ParseRemoteName(const char* name) {
    if (!name || name[0] != '\\' || name[1] != '\\')
        return std::nullopt;
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = name + 2;; ++c) {
        const unsigned char ch = static_cast<unsigned char>(*c);
        if (ch == '\\' || ch == 0) {
            if (part.empty() && ch == '\\')
                return std::nullopt;  // "\\\\" inside the name
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (ch == 0)
                break;
            continue;
        }
        // Control bytes never belong to a share name; '/' would change the
        // meaning of the path on this side.
        if (ch < 32 || ch == '/')
            return std::nullopt;
        part += static_cast<char>(ch);
    }
    if (parts.size() < 2)
        return std::nullopt;
    for (const auto& p : parts) {
        if (p == "." || p == "..")
            return std::nullopt;
    }
    RemoteName r{parts[0], parts[1], {parts.begin() + 2, parts.end()}};
    return r;
}

// The share's location as gvfs names its mount: host and share names are
// case-blind in SMB, and gvfs finds the mount again only by the lowercase one.
std::string ShareUri(const RemoteName& r) {
    CharPtr lowerHost(g_ascii_strdown(r.host.c_str(), -1));
    CharPtr lowerShare(g_utf8_validate(r.share.c_str(), -1, nullptr)
                           ? g_utf8_strdown(r.share.c_str(), -1)
                           : g_ascii_strdown(r.share.c_str(), -1));
    CharPtr host(
        g_uri_escape_string(lowerHost.get(), G_URI_RESERVED_CHARS_SUBCOMPONENT_DELIMITERS, FALSE));
    CharPtr share(g_uri_escape_string(lowerShare.get(), nullptr, FALSE));
    return std::string("smb://") + host.get() + "/" + share.get();
}

// ---------------------------------------------------------------------------
// Folders

std::string HomeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

// A folder of our own: created 0700 when missing, refused when someone else
// owns it or can write to it (a shared /tmp).
bool EnsurePrivateFolder(const std::string& path) {
    if (g_mkdir_with_parents(path.c_str(), 0700) != 0)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return st.st_uid == ::getuid() && (st.st_mode & 022) == 0;
}

std::string RuntimeFolder() {
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x)
        return g_mkdir_with_parents(x, 0700) == 0 ? std::string(x) : std::string();
    std::string dir = "/tmp/quilvane-" + std::to_string(::getuid());
    return EnsurePrivateFolder(dir) ? dir : std::string();
}

std::string MetaFolder(const std::string& drives) {
    return drives + "/.quilvane";
}

std::string EntryPath(const std::string& drives, char letter) {
    return drives + "/" + std::string(1, letter);
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Serialises connection changes between processes of the user.
class DrivesFolderLock {
public:
    explicit DrivesFolderLock(const std::string& meta) {
        fd_ = ::open((meta + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~DrivesFolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DrivesFolderLock(const DrivesFolderLock&) = delete;
    DrivesFolderLock& operator=(const DrivesFolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// What the layer keeps beside a letter's link: the remote name as given, the
// share's URI, the local root of its mount and the link's target.
struct DriveRecord {
    std::string remote;
    std::string uri;
    std::string root;
    std::string target;
};

std::string RecordPath(const std::string& drives, char letter) {
    return MetaFolder(drives) + "/" + std::string(1, letter);
}

bool WriteRecord(const std::string& drives, char letter, const DriveRecord& r) {
    const std::string text = r.remote + "\n" + r.uri + "\n" + r.root + "\n" + r.target + "\n";
    return ReplaceFileContents(RecordPath(drives, letter), text) == 0;
}

// The letter's record when its entry is still the link the layer made.
std::optional<DriveRecord> OurDrive(const std::string& drives, char letter) {
    char buf[4096];
    const ssize_t n = ::readlink(EntryPath(drives, letter).c_str(), buf, sizeof buf);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buf))
        return std::nullopt;
    const auto text = ReadFile(RecordPath(drives, letter));
    if (!text)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    for (char c : *text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (lines.size() != 4)
        return std::nullopt;
    DriveRecord r{lines[0], lines[1], lines[2], lines[3]};
    if (r.target != std::string(buf, static_cast<size_t>(n)))
        return std::nullopt;
    return r;
}

bool OtherLetterUses(const std::string& drives, const std::string& root, char except) {
    for (char l = 'A'; l <= 'Z'; ++l) {
        if (l == except)
            continue;
        if (auto r = OurDrive(drives, l); r && r->root == root)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Blocking GIO calls on a private main context

// Runs the asynchronous GIO calls of the blocking calls: their callbacks are
// dispatched here, never in the caller's event loop. It is one context for
// the process's life, because GIO keeps proxies that deliver to the context
// they were made in; the calls take turns (g_netLock), so whichever thread
// calls may run it.
class PrivateContext {
public:
    PrivateContext() : ctx_(Shared()) { g_main_context_push_thread_default(ctx_); }
    ~PrivateContext() { g_main_context_pop_thread_default(ctx_); }
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;

    // Iterates until *done or until timeoutMs has passed; true when done.
    bool Wait(const bool& done, guint timeoutMs) {
        bool expired = false;
        GSource* timer = g_timeout_source_new(timeoutMs);
        g_source_set_callback(
            timer,
            [](gpointer flag) -> gboolean {
                *static_cast<bool*>(flag) = true;
                return G_SOURCE_REMOVE;
            },
            &expired, nullptr);
        g_source_attach(timer, ctx_);
        while (!done && !expired)
            g_main_context_iteration(ctx_, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        return done;
    }

    // Waits for an operation, cancelling it when it overruns; false when it
    // has not come back even after the cancel (the caller must then leave the
    // operation's state alive, since gvfs may still answer into it).
    bool WaitOrCancel(const bool& done, GCancellable* cancel, guint timeoutMs) {
        if (Wait(done, timeoutMs))
            return true;
        g_cancellable_cancel(cancel);
        return Wait(done, kCancelGraceMs);
    }

private:
    static GMainContext* Shared() {
        static GMainContext* const context = g_main_context_new();
        return context;
    }
    GMainContext* ctx_;
};

// ---------------------------------------------------------------------------
// The gvfs session

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

// Makes sure this process's GIO reaches a gvfs daemon: the user's session when
// it has one, else the private bus recorded in the runtime folder, else a new
// private bus with gvfsd and gvfsd-fuse, recorded for later runs.
bool EnsureGvfsSession() {
    static bool ready = false;
    if (ready)
        return true;

    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) {
        ObjPtr<GDBusConnection> bus(ConnectBus(a));
        if (bus && (GvfsRunning(bus.get()) || GvfsActivatable(bus.get())))
            return ready = true;
    }

    const std::string runtime = RuntimeFolder();
    if (runtime.empty())
        return false;
    const std::string sessionFile = runtime + "/" + kSessionFileName;

    std::string address;
    if (auto text = ReadFile(sessionFile))
        address = text->substr(0, text->find('\n'));
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
        if (!bus || ReplaceFileContents(sessionFile, *out) != 0)
            return false;
    }
    // Before anything of GIO runs: its first file object picks the VFS for
    // the whole process, and only one with a session bus is gvfs.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    if (!GvfsRunning(bus.get()) && !StartGvfs(bus.get(), address, runtime))
        return false;
    return ready = true;
}

// ---------------------------------------------------------------------------
// Mounts

struct Credentials {
    std::string user;
    std::string domain;
    std::string password;
    ~Credentials() { std::fill(password.begin(), password.end(), '\0'); }
};

struct MountCall {
    Credentials credentials;
    int questions = 0;
    bool done = false;
    GError* error = nullptr;
    ~MountCall() {
        if (error)
            g_error_free(error);
    }
};

void AnswerPassword(GMountOperation* op, const gchar*, const gchar*, const gchar*,
                    GAskPasswordFlags flags, gpointer data) {
    auto* call = static_cast<MountCall*>(data);
    // A second question means the first answer was refused: never ask again.
    if (++call->questions > 1) {
        g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        return;
    }
    const Credentials& c = call->credentials;
    if (c.user.empty() && c.password.empty() && (flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED)) {
        g_mount_operation_set_anonymous(op, TRUE);
    } else {
        if (!c.user.empty())
            g_mount_operation_set_username(op, c.user.c_str());
        if (!c.domain.empty())
            g_mount_operation_set_domain(op, c.domain.c_str());
        g_mount_operation_set_password(op, c.password.c_str());
    }
    g_mount_operation_set_password_save(op, G_PASSWORD_SAVE_NEVER);
    g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

void RefuseQuestion(GMountOperation* op, const gchar*, const gchar**, gpointer) {
    g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
}

DWORD MountErrorCode(const GError* e) {
    if (e->domain != G_IO_ERROR)
        return ERROR_BAD_NET_NAME;
    switch (e->code) {
        case G_IO_ERROR_FAILED_HANDLED:
        case G_IO_ERROR_PERMISSION_DENIED:
            return ERROR_INVALID_PASSWORD;
        case G_IO_ERROR_CANCELLED:
        case G_IO_ERROR_TIMED_OUT:
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_CONNECTION_REFUSED:
            return ERROR_BAD_NETPATH;
        case G_IO_ERROR_NOT_SUPPORTED:
            return ERROR_NO_NETWORK;
        default:
            return ERROR_BAD_NET_NAME;
    }
}

// Mounts the share; *mountedNow tells whether this call made the mount (it
// may have been there already, for another letter).
DWORD MountShare(const std::string& uri, Credentials credentials, bool* mountedNow) {
    *mountedNow = false;
    PrivateContext ctx;
    auto* call = new MountCall{std::move(credentials)};
    ObjPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
    ObjPtr<GMountOperation> op(g_mount_operation_new());
    g_signal_connect(op.get(), "ask-password", G_CALLBACK(AnswerPassword), call);
    g_signal_connect(op.get(), "ask-question", G_CALLBACK(RefuseQuestion), call);
    ObjPtr<GCancellable> cancel(g_cancellable_new());
    g_file_mount_enclosing_volume(
        file.get(), G_MOUNT_MOUNT_NONE, op.get(), cancel.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* c = static_cast<MountCall*>(data);
            g_file_mount_enclosing_volume_finish(G_FILE(source), result, &c->error);
            c->done = true;
        },
        call);
    if (!ctx.WaitOrCancel(call->done, cancel.get(), kMountTimeoutMs)) {
        // gvfs still holds the call: leave its state to it rather than free it.
        g_object_ref(op.get());
        return ERROR_BAD_NETPATH;
    }
    g_signal_handlers_disconnect_by_data(op.get(), call);
    DWORD code = NO_ERROR;
    if (call->error && !g_error_matches(call->error, G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED))
        code = MountErrorCode(call->error);
    *mountedNow = !call->error;
    delete call;
    return code;
}

// The local (FUSE) path of a location inside a mounted share; empty when the
// share is not mounted or has no local path.
std::string LocalPathOf(const std::string& uri) {
    ObjPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
    CharPtr path(g_file_get_path(file.get()));
    return path ? std::string(path.get()) : std::string();
}

// Whether the location is a folder, asked of gvfs itself (its FUSE view of a
// new mount may lag behind). Synchronous: like the enclosing-mount lookup, the
// asynchronous form never comes back in a process that made the mount; the
// server has just answered the mount, and D-Bus bounds the wait.
bool IsRemoteFolder(const std::string& uri) {
    ObjPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
    return g_file_query_file_type(file.get(), G_FILE_QUERY_INFO_NONE, nullptr) ==
           G_FILE_TYPE_DIRECTORY;
}

// Whether any process we can see has a file, a folder or its working folder
// open below root: gvfs does not count what is open through FUSE.
bool AnyOpenBelow(const std::string& root) {
    const std::string prefix = root + "/";
    auto below = [&](const std::string& link) {
        char buf[4096];
        const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
        if (n <= 0 || n == static_cast<ssize_t>(sizeof buf))
            return false;
        const std::string target(buf, static_cast<size_t>(n));
        return target == root || target.compare(0, prefix.size(), prefix) == 0;
    };
    GDir* proc = g_dir_open("/proc", 0, nullptr);
    if (!proc)
        return false;
    bool open = false;
    while (const char* pid = g_dir_read_name(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        const std::string base = std::string("/proc/") + pid;
        if (below(base + "/cwd"))
            open = true;
        if (GDir* fds = g_dir_open((base + "/fd").c_str(), 0, nullptr)) {
            while (const char* fd = g_dir_read_name(fds))
                if (below(base + "/fd/" + fd))
                    open = true;
            g_dir_close(fds);
        }
        if (open)
            break;
    }
    g_dir_close(proc);
    return open;
}

// Whether gvfsd-fuse lists the mount folder (the last part of path) in its
// root. Read from the listing, which FUSE never caches, rather than looked
// up: a lookup that misses is remembered by the kernel for a while and would
// hide the folder when it does appear.
bool FuseLists(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return false;
    const std::string name = path.substr(slash + 1);
    GDir* dir = g_dir_open(path.substr(0, slash).c_str(), 0, nullptr);
    if (!dir)
        return false;
    bool listed = false;
    while (const char* entry = g_dir_read_name(dir)) {
        if (name == entry) {
            listed = true;
            break;
        }
    }
    g_dir_close(dir);
    return listed;
}

// Whether the folder's listing can be read through FUSE.
bool Answers(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    errno = 0;
    while (::readdir(dir)) {
    }
    const bool read = errno == 0;
    ::closedir(dir);
    return read;
}

// Waits until the mount's FUSE folder is listed (present) or has gone.
// gvfsd-fuse learns of mounts and unmounts from D-Bus signals of gvfsd, some
// moments after the call has returned, and nothing lets another process
// observe that it has: so this looks again every few milliseconds, for a
// bounded time.
bool WaitForLocalPath(const std::string& path, bool present) {
    struct Probe {
        const std::string* path;
        bool present;
        bool settled = false;
        // Present also means answering: a miss that the kernel still
        // remembers from before the mount is waited out, and so are the
        // errors that gvfsd-fuse gives while it still holds a connection to
        // an earlier mount's backend.
        void Look() { settled = present ? FuseLists(*path) && Answers(*path) : !FuseLists(*path); }
    } probe{&path, present};
    probe.Look();
    if (probe.settled)
        return true;
    PrivateContext ctx;
    GSource* timer = g_timeout_source_new(kLocalPathProbeMs);
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            auto* p = static_cast<Probe*>(data);
            p->Look();
            return p->settled ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
        },
        &probe, nullptr);
    g_source_attach(timer, g_main_context_get_thread_default());
    ctx.Wait(probe.settled, kLocalPathTimeoutMs);
    g_source_destroy(timer);
    g_source_unref(timer);
    return probe.settled;
}

struct UnmountCall {
    bool done = false;
    GError* error = nullptr;
    GMount* mount = nullptr;
    ~UnmountCall() {
        if (error)
            g_error_free(error);
        if (mount)
            g_object_unref(mount);
    }
};

// The bus names of the gvfs backends that serve mounts, each with the local
// (FUSE) root of its mount; empty when gvfsd cannot be asked.
std::vector<std::pair<std::string, std::string>> ListBackends(GDBusConnection* bus) {
    std::vector<std::pair<std::string, std::string>> backends;
    GVariant* mounts = g_dbus_connection_call_sync(
        bus, kGvfsDaemonName, "/org/gtk/vfs/mounttracker", "org.gtk.vfs.MountTracker", "ListMounts",
        nullptr, G_VARIANT_TYPE("(a(sossssssbay(aya{sv})ay))"), G_DBUS_CALL_FLAGS_NONE,
        static_cast<int>(kLookupTimeoutMs), nullptr, nullptr);
    if (!mounts)
        return backends;
    GVariant* list = g_variant_get_child_value(mounts, 0);
    for (gsize i = 0; i < g_variant_n_children(list); ++i) {
        GVariant* info = g_variant_get_child_value(list, i);
        GVariant* id = g_variant_get_child_value(info, 0);
        GVariant* fuse = g_variant_get_child_value(info, 9);
        backends.emplace_back(g_variant_get_string(id, nullptr), g_variant_get_bytestring(fuse));
        g_variant_unref(fuse);
        g_variant_unref(id);
        g_variant_unref(info);
    }
    g_variant_unref(list);
    g_variant_unref(mounts);
    return backends;
}

// The bus name of the backend that serves the mount at root, or "".
std::string BackendOf(GDBusConnection* bus, const std::string& root) {
    if (root.empty())
        return {};
    for (const auto& [id, fuse] : ListBackends(bus)) {
        if (fuse == root)
            return id;
    }
    return {};
}

// Waits until the backend's bus name has no owner (its process has ended),
// first ending the process when `end`. True once it has gone.
bool BackendGone(GDBusConnection* bus, const std::string& backend, bool end, guint timeoutMs) {
    PrivateContext ctx;
    bool gone = false;
    const guint watch = g_bus_watch_name_on_connection(
        bus, backend.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; },
        &gone, nullptr);
    if (end) {
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetConnectionUnixProcessID", g_variant_new("(s)", backend.c_str()),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, static_cast<int>(kLookupTimeoutMs),
            nullptr, nullptr);
        // No reply: the name has no owner any more, which the watch reports.
        if (reply) {
            guint32 pid = 0;
            g_variant_get(reply, "(u)", &pid);
            g_variant_unref(reply);
            if (pid > 1)
                ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }
    ctx.Wait(gone, timeoutMs);
    g_bus_unwatch_name(watch);
    return gone;
}

// Sees the backend of an unmounted share out. gvfsd-fuse keeps using the
// connection it had to a share's backend for as long as that process lives,
// also after the unmount, and a new mount of the same share is then answered
// with errors (EIO) through FUSE until the old process ends, which a backend
// whose server has gone silent may not do for a long time. So the backend is
// given a moment to end by itself and is ended otherwise, unless it still
// serves another mount.
void RetireBackend(GDBusConnection* bus, const std::string& backend) {
    if (BackendGone(bus, backend, false, kBackendExitMs))
        return;
    for (const auto& entry : ListBackends(bus)) {
        if (entry.first == backend)
            return;
    }
    BackendGone(bus, backend, true, kStartTimeoutMs);
}

// Unmounts the share. NO_ERROR also when it was not mounted.
DWORD UnmountShare(const std::string& uri, bool force) {
    PrivateContext ctx;
    auto* call = new UnmountCall;
    ObjPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
    // Asked of gvfsd alone, which always answers; the asynchronous form of
    // this call never comes back once this process has mounted the share.
    call->mount = g_file_find_enclosing_mount(file.get(), nullptr, nullptr);
    if (!call->mount) {
        delete call;
        return NO_ERROR;
    }
    const std::string root = LocalPathOf(uri);
    if (!force && AnyOpenBelow(root)) {
        delete call;
        return ERROR_OPEN_FILES;
    }
    ObjPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    const std::string backend = bus ? BackendOf(bus.get(), root) : std::string();
    ObjPtr<GCancellable> cancelUnmount(g_cancellable_new());
    ObjPtr<GMountOperation> op(g_mount_operation_new());
    // Open files are our caller's decision (force), never a question.
    g_signal_connect(op.get(), "ask-question", G_CALLBACK(RefuseQuestion), nullptr);
    g_signal_connect(op.get(), "show-processes",
                     G_CALLBACK(+[](GMountOperation* o, gchar*, GArray*, gchar**, gpointer) {
                         g_mount_operation_reply(o, G_MOUNT_OPERATION_ABORTED);
                     }),
                     nullptr);
    g_mount_unmount_with_operation(
        call->mount, force ? G_MOUNT_UNMOUNT_FORCE : G_MOUNT_UNMOUNT_NONE, op.get(),
        cancelUnmount.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* c = static_cast<UnmountCall*>(data);
            g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &c->error);
            c->done = true;
        },
        call);
    bool ended = false;
    if (!ctx.Wait(call->done, kUnmountTimeoutMs)) {
        // The backend cannot finish (its server has gone silent, and it would
        // wait out the SMB client's own time-outs): a forced unmount ends it,
        // and gvfsd drops the mount when it sees the process go.
        ended = force && !backend.empty() && BackendGone(bus.get(), backend, true, kStartTimeoutMs);
        if (!ctx.WaitOrCancel(call->done, cancelUnmount.get(), kCancelGraceMs)) {
            // gvfs still holds the call: leave its state to it rather than free it.
            g_object_ref(op.get());
            if (!ended)
                return ERROR_BAD_NETPATH;
            WaitForLocalPath(root, false);
            return NO_ERROR;
        }
    }
    DWORD code = NO_ERROR;
    if (call->error && !ended) {
        code = (g_error_matches(call->error, G_IO_ERROR, G_IO_ERROR_BUSY) ||
                g_error_matches(call->error, G_IO_ERROR, G_IO_ERROR_FAILED_HANDLED))
                   ? ERROR_OPEN_FILES
                   : ERROR_BAD_NETPATH;
    }
    delete call;
    if (code == NO_ERROR) {
        if (!ended && !backend.empty())
            RetireBackend(bus.get(), backend);
        // Done means done for whoever looks next: the share's folder is gone.
        if (!root.empty())
            WaitForLocalPath(root, false);
    }
    return code;
}

Credentials SplitCredentials(LPCSTR user, LPCSTR password) {
    Credentials c;
    std::string u = user ? user : "";
    if (const auto slash = u.find('\\'); slash != std::string::npos) {
        c.domain = u.substr(0, slash);
        u = u.substr(slash + 1);
    }
    c.user = u;
    c.password = password ? password : "";
    return c;
}

}  // namespace

// ---------------------------------------------------------------------------

std::string NetDrivesFolder() {
    std::string folder;
    if (const char* d = std::getenv("QUILVANE_DRIVES"); d && *d) {
        folder = d;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return {};
        folder = home + "/Drives";
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return {};
    return folder;
}

std::string LocalPathForWindowsPath(const std::string& path) {
    if (path.size() < 2 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':')
        return path;
    std::string local =
        NetDrivesFolder() + "/" +
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    for (size_t i = 2; i < path.size(); ++i)
        local += path[i] == '\\' ? '/' : path[i];
    return local;
}

bool NetDriveMounted(const std::string& path) {
    if (path.size() < 2 || path[1] != ':')
        return true;
    const auto letter = ParseDriveName(path.substr(0, 2).c_str());
    if (!letter)
        return true;
    std::lock_guard guard(g_netLock);
    const std::string drives = NetDrivesFolder();
    if (drives.empty())
        return true;
    const auto record = OurDrive(drives, *letter);
    return !record || FuseLists(record->root);
}

DWORD WNetAddConnection2A(const NETRESOURCEA* lpNetResource, LPCSTR lpPassword, LPCSTR lpUserName,
                          DWORD /*dwFlags*/) {
    auto fail = [](DWORD code) {
        SetLastError(code);
        return code;
    };
    if (!lpNetResource)
        return fail(ERROR_INVALID_PARAMETER);
    if (lpNetResource->dwType != RESOURCETYPE_DISK && lpNetResource->dwType != RESOURCETYPE_ANY)
        return fail(ERROR_BAD_DEV_TYPE);
    if (lpNetResource->lpProvider && *lpNetResource->lpProvider)
        return fail(ERROR_BAD_PROVIDER);
    const auto remote = ParseRemoteName(lpNetResource->lpRemoteName);
    if (!remote)
        return fail(ERROR_BAD_NET_NAME);
    std::optional<char> letter;
    if (lpNetResource->lpLocalName && *lpNetResource->lpLocalName) {
        letter = ParseDriveName(lpNetResource->lpLocalName);
        if (!letter)
            return fail(ERROR_BAD_DEVICE);
    }

    std::lock_guard guard(g_netLock);
    const std::string drives = NetDrivesFolder();
    if (drives.empty() || !EnsurePrivateFolder(MetaFolder(drives)))
        return fail(ERROR_BAD_DEVICE);
    DrivesFolderLock lock(MetaFolder(drives));
    if (!lock.Held())
        return fail(ERROR_BAD_DEVICE);

    struct stat st {};
    if (letter && ::lstat(EntryPath(drives, *letter).c_str(), &st) == 0)
        return fail(ERROR_ALREADY_ASSIGNED);
    if (!EnsureGvfsSession())
        return fail(ERROR_NO_NETWORK);

    const std::string uri = ShareUri(*remote);
    bool mountedNow = false;
    if (DWORD rc = MountShare(uri, SplitCredentials(lpUserName, lpPassword), &mountedNow))
        return fail(rc);

    // Undoes this call's mount when the letter cannot be made after all.
    auto undo = [&](DWORD code) {
        if (mountedNow)
            UnmountShare(uri, true);
        return fail(code);
    };
    const std::string root = LocalPathOf(uri);
    if (root.empty())
        return undo(ERROR_NOT_SUPPORTED);
    std::string target = root;
    std::string folderUri = uri;
    for (const auto& f : remote->folders) {
        target += "/" + f;
        CharPtr escaped(g_uri_escape_string(f.c_str(), nullptr, FALSE));
        folderUri += std::string("/") + escaped.get();
    }
    if (!remote->folders.empty() && !IsRemoteFolder(folderUri)) {
        if (!OtherLetterUses(drives, root, letter.value_or(0)))
            return undo(ERROR_BAD_NET_NAME);
        return fail(ERROR_BAD_NET_NAME);
    }
    if (!WaitForLocalPath(root, true))
        return undo(ERROR_NOT_SUPPORTED);
    if (!letter)
        return NO_ERROR;

    const std::string entry = EntryPath(drives, *letter);
    if (::symlink(target.c_str(), entry.c_str()) != 0) {
        const DWORD code = errno == EEXIST ? ERROR_ALREADY_ASSIGNED : ERROR_BAD_DEVICE;
        if (!OtherLetterUses(drives, root, *letter))
            return undo(code);
        return fail(code);
    }
    if (!WriteRecord(drives, *letter, {lpNetResource->lpRemoteName, uri, root, target})) {
        ::unlink(entry.c_str());
        if (!OtherLetterUses(drives, root, *letter))
            return undo(ERROR_BAD_DEVICE);
        return fail(ERROR_BAD_DEVICE);
    }
    return NO_ERROR;
}

DWORD WNetCancelConnection2A(LPCSTR lpName, DWORD /*dwFlags*/, BOOL fForce) {
    auto result = [](DWORD code) {
        SetLastError(code);
        return code;
    };
    const auto letter = ParseDriveName(lpName);
    const auto remote = letter ? std::nullopt : ParseRemoteName(lpName);
    if (!letter && !remote)
        return result(ERROR_NOT_CONNECTED);

    std::lock_guard guard(g_netLock);
    const std::string drives = NetDrivesFolder();
    if (drives.empty() || !EnsurePrivateFolder(MetaFolder(drives)))
        return result(ERROR_NOT_CONNECTED);
    DrivesFolderLock lock(MetaFolder(drives));

    if (remote) {
        // A connection without a letter: the share's mount that no letter uses.
        if (!EnsureGvfsSession())
            return result(ERROR_NOT_CONNECTED);
        const std::string uri = ShareUri(*remote);
        const std::string root = LocalPathOf(uri);
        if (root.empty() || OtherLetterUses(drives, root, 0))
            return result(ERROR_NOT_CONNECTED);
        return result(UnmountShare(uri, fForce));
    }

    const auto record = OurDrive(drives, *letter);
    if (!record)
        return result(ERROR_NOT_CONNECTED);
    if (!OtherLetterUses(drives, record->root, *letter) && EnsureGvfsSession()) {
        const DWORD rc = UnmountShare(record->uri, fForce);
        // Forced, the letter goes whatever the share's server says.
        if (rc != NO_ERROR && !fForce)
            return result(rc);
    }
    ::unlink(EntryPath(drives, *letter).c_str());
    ::unlink(RecordPath(drives, *letter).c_str());
    return result(NO_ERROR);
}

DWORD WNetGetConnectionA(LPCSTR lpLocalName, LPSTR lpRemoteName, DWORD* lpnLength) {
    auto result = [](DWORD code) {
        SetLastError(code);
        return code;
    };
    if (!lpnLength)
        return result(ERROR_INVALID_PARAMETER);
    const auto letter = ParseDriveName(lpLocalName);
    if (!letter)
        return result(ERROR_BAD_DEVICE);

    std::lock_guard guard(g_netLock);
    const std::string drives = NetDrivesFolder();
    if (drives.empty())
        return result(ERROR_NOT_CONNECTED);
    const auto record = OurDrive(drives, *letter);
    if (!record)
        return result(ERROR_NOT_CONNECTED);
    const DWORD needed = static_cast<DWORD>(record->remote.size() + 1);
    if (!lpRemoteName || *lpnLength < needed) {
        *lpnLength = needed;
        return result(ERROR_MORE_DATA);
    }
    std::memcpy(lpRemoteName, record->remote.c_str(), needed);
    return result(NO_ERROR);
}

}  // namespace win
