#pragma once
// Private to the network drives area: what its parts share. The area reads in
// four parts:
//   wnet.cpp          the calls themselves, the rules for names and the answers
//   wnet_drives.cpp   the drives folder and the records of the letters, changed
//                     in one transaction at a time
//   wnet_session.cpp  reaching a gvfs daemon: the user's session or a private one
//   wnet_mounts.cpp   mounting and unmounting shares through GIO
//
// Locks: a DriveTransaction holds the process's drive lock and then the
// drives folder's file lock (shared by the user's processes), always in that
// order and never one without the other; every call that reaches GIO or
// changes a letter runs inside one, so the parts below take no locks of their
// own.

#include <mutex>
#include <optional>
#include <string>

// clang-format off
// The layer's headers first: GLib defines TRUE and FALSE as macros.
#include "platform/file.h"
#include "platform/wnet.h"
#include <gio/gio.h>
#include <gio/gunixmounts.h>
#include <glib-unix.h>
// clang-format on

namespace win::wnet {

// Bounds on how long a caller waits for gvfs. A mount includes connecting to
// the server and logging on; an unmount of a share whose server has gone
// silent is given up on (the letter is freed all the same) rather than waited
// for as long as the SMB client library's own time-outs.
inline constexpr guint kMountTimeoutMs = 30000;
inline constexpr guint kUnmountTimeoutMs = 4000;
inline constexpr guint kLookupTimeoutMs = 5000;
inline constexpr guint kStartTimeoutMs = 10000;
// How long a new mount's FUSE folder may take to appear, and how often we look.
inline constexpr guint kLocalPathTimeoutMs = 3000;
inline constexpr guint kLocalPathProbeMs = 5;
// After a cancel, how long we still wait for gvfs to hand the call back.
inline constexpr guint kCancelGraceMs = 3000;
// How long the backend of an unmounted share may take to end by itself.
inline constexpr guint kBackendExitMs = 2000;

inline constexpr const char* kGvfsDaemonName = "org.gtk.vfs.Daemon";
inline constexpr const char* kGvfsd = "/usr/libexec/gvfsd";
inline constexpr const char* kGvfsdFuse = "/usr/libexec/gvfsd-fuse";

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
inline void FreeChars(char* p) {
    g_free(p);
}
using CharPtr = GPtr<char, FreeChars>;
template <typename T>
using ObjPtr = GPtr<T, UnrefAny<T>>;

// Runs the asynchronous GIO calls of the blocking calls: their callbacks are
// dispatched here, never in the caller's event loop. It is one context for
// the process's life, because GIO keeps proxies that deliver to the context
// they were made in; the calls take turns (a DriveTransaction), so whichever thread
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
// The gvfs session (wnet_session.cpp)

// Makes sure this process's GIO reaches a gvfs daemon: the user's session when
// it has one, else the private bus recorded in the runtime folder, else a new
// private bus with gvfsd and gvfsd-fuse, recorded for later runs.
bool EnsureGvfsSession();

// Names the gvfs session that mounts live in now: this boot and the identity
// of the bus whose gvfs daemon EnsureGvfsSession uses or would use (without
// starting one). A mount outlives neither, so a letter recorded under another
// session is not connected any more.
std::string GvfsSessionId();

// ---------------------------------------------------------------------------
// Mounts (wnet_mounts.cpp)

struct Credentials {
    std::string user;
    std::string domain;
    std::string password;
    ~Credentials() { std::fill(password.begin(), password.end(), '\0'); }
};

// Mounts the share; *mountedNow tells whether this call made the mount (it
// may have been there already, for another letter).
DWORD MountShare(const std::string& uri, Credentials credentials, bool* mountedNow);

// Unmounts the share. NO_ERROR also when it was not mounted.
DWORD UnmountShare(const std::string& uri, bool force);

// The local (FUSE) path of a location inside a mounted share; empty when the
// share is not mounted or has no local path.
std::string LocalPathOf(const std::string& uri);

// Whether the location is a folder, asked of gvfs itself.
bool IsRemoteFolder(const std::string& uri);

// Whether gvfsd-fuse lists the mount folder (the last part of path).
bool FuseLists(const std::string& path);

// Waits until the mount's FUSE folder is listed (present) or has gone.
bool WaitForLocalPath(const std::string& path, bool present);

// ---------------------------------------------------------------------------
// Drive records (wnet_drives.cpp)

// What the layer keeps beside a letter's link: the remote name as given, the
// share's URI, the local root of its mount, the link's target, and the gvfs
// session the mount was made in.
struct DriveRecord {
    std::string remote;
    std::string uri;
    std::string root;
    std::string target;
    std::string session;
};

// One change of the drives folder, or one look at it: holds the process's
// drive lock and the user's file lock for its life.
class DriveTransaction {
public:
    DriveTransaction();
    DriveTransaction(const DriveTransaction&) = delete;
    DriveTransaction& operator=(const DriveTransaction&) = delete;

    // False when the drives folder cannot be made or locked.
    bool Ok() const { return ok_; }

    // The letter's record while its entry is still the link the layer made in
    // the current gvfs session. A letter of an earlier session (an earlier
    // login, boot or gvfs daemon) is not connected: its link and record are
    // removed here, so it neither lingers nor blocks a new mapping.
    std::optional<DriveRecord> Find(char letter);
    // Whether the letter's entry exists at all (ours or not).
    bool EntryExists(char letter) const;
    // Whether a letter other than `except` links into the mount at root.
    bool OtherLetterUses(const std::string& root, char except);
    // Makes the letter's link to r.target and its record (in the current
    // session). NO_ERROR, ERROR_ALREADY_ASSIGNED or ERROR_BAD_DEVICE.
    DWORD Link(char letter, DriveRecord r);
    // Removes the letter's link and record.
    void Remove(char letter);

private:
    const std::string& Session();

    std::unique_lock<std::mutex> process_;
    std::string drives_;
    std::optional<FileLock> user_;
    std::optional<std::string> session_;
    bool ok_ = false;
};

}  // namespace win::wnet
