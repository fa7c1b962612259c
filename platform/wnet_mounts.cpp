#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

#include "platform/wnet_internal.h"

namespace win::wnet {

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

static void AnswerPassword(GMountOperation* op, const gchar*, const gchar*, const gchar*,
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

static void RefuseQuestion(GMountOperation* op, const gchar*, const gchar**, gpointer) {
    g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
}

static DWORD MountErrorCode(const GError* e) {
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
    auto owned = std::make_unique<MountCall>(MountCall{std::move(credentials)});
    MountCall* call = owned.get();
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
        (void)owned.release();
        return ERROR_BAD_NETPATH;
    }
    g_signal_handlers_disconnect_by_data(op.get(), call);
    DWORD code = NO_ERROR;
    if (call->error && !g_error_matches(call->error, G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED))
        code = MountErrorCode(call->error);
    *mountedNow = !call->error;
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
static bool AnyOpenBelow(const std::string& root) {
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
static bool Answers(const std::string& path) {
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
static std::vector<std::pair<std::string, std::string>> ListBackends(GDBusConnection* bus) {
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
static std::string BackendOf(GDBusConnection* bus, const std::string& root) {
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
static bool BackendGone(GDBusConnection* bus, const std::string& backend, bool end,
                        guint timeoutMs) {
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
static void RetireBackend(GDBusConnection* bus, const std::string& backend) {
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
    auto owned = std::make_unique<UnmountCall>();
    UnmountCall* call = owned.get();
    ObjPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
    // Asked of gvfsd alone, which always answers; the asynchronous form of
    // this call never comes back once this process has mounted the share.
    call->mount = g_file_find_enclosing_mount(file.get(), nullptr, nullptr);
    if (!call->mount)
        return NO_ERROR;
    const std::string root = LocalPathOf(uri);
    if (!force && AnyOpenBelow(root))
        return ERROR_OPEN_FILES;
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
            (void)owned.release();
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
    owned.reset();
    if (code == NO_ERROR) {
        if (!ended && !backend.empty())
            RetireBackend(bus.get(), backend);
        // Done means done for whoever looks next: the share's folder is gone.
        if (!root.empty())
            WaitForLocalPath(root, false);
    }
    return code;
}

}  // namespace win::wnet
