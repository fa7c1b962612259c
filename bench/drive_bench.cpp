// How long NetUse takes to map a share to a letter, beside a bare GIO mount of
// the same share in the same run, against a real smbd on a namespace test host.
// Each round mounts afresh: the bare mount, then NetUse, each undone before the
// next. Target: NetUse within 1.5 times the bare mount.
//
// Needs root, samba, gvfs and FUSE; runs in surroundings of its own (HOME,
// XDG_RUNTIME_DIR, drives folder, private session bus), removed at the end.

#include <gio/gio.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "monitor/net_drive.h"
#include "tests/support/private_session.h"
#include "tests/support/smb_host.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;

struct Credentials {
    std::string user;
    std::string password;
};

// A mount as any GIO program makes it: one password answer, never saved.
double BareMountMs(const std::string& uri, const Credentials& c) {
    // One context for every round: GIO's proxies keep the one they were made in.
    static GMainContext* const ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    GFile* file = g_file_new_for_uri(uri.c_str());
    GMountOperation* op = g_mount_operation_new();
    g_signal_connect(op, "ask-password",
                     G_CALLBACK(+[](GMountOperation* o, gchar*, gchar*, gchar*, GAskPasswordFlags,
                                    gpointer data) {
                         auto* cr = static_cast<const Credentials*>(data);
                         g_mount_operation_set_username(o, cr->user.c_str());
                         g_mount_operation_set_password(o, cr->password.c_str());
                         g_mount_operation_set_password_save(o, G_PASSWORD_SAVE_NEVER);
                         g_mount_operation_reply(o, G_MOUNT_OPERATION_HANDLED);
                     }),
                     const_cast<Credentials*>(&c));
    struct Result {
        bool done = false;
        bool ok = false;
    } result;
    const auto start = Clock::now();
    g_file_mount_enclosing_volume(
        file, G_MOUNT_MOUNT_NONE, op, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            auto* r = static_cast<Result*>(data);
            r->ok = g_file_mount_enclosing_volume_finish(G_FILE(source), res, nullptr);
            r->done = true;
        },
        &result);
    // Bounded by gvfs' own time-out on the mount call.
    while (!result.done)
        g_main_context_iteration(ctx, TRUE);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    g_object_unref(op);
    g_object_unref(file);
    g_main_context_pop_thread_default(ctx);
    return result.ok ? ms : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    return sum / static_cast<double>(v.size());
}

}  // namespace

int main() {
    if (std::string why = quilvane_test::SmbHost::Unavailable(); !why.empty()) {
        std::printf("drive_bench: skipped: %s\n", why.c_str());
        return 0;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        std::printf("drive_bench: skipped: needs FUSE (/dev/fuse)\n");
        return 0;
    }
    quilvane_test::PrivateSession session("quilvane-drive-bench");
    if (!session.Ok())
        return 1;
    session.Enter();
    quilvane_test::SmbHost smb("drivebench", 41, "qvbench", "bench pass");
    if (!smb.Ok()) {
        std::printf("drive_bench: no SMB host: %s\n", smb.Error().c_str());
        return 1;
    }
    const Credentials credentials{smb.User(), smb.Password()};
    const std::string uri = "smb://" + smb.Address() + "/" + smb.Share();

    // The first call starts the private session bus with gvfs: timed apart.
    auto start = Clock::now();
    if (!quilvane::NetUse("Y:", smb.Unc(), smb.Password(), smb.User())) {
        std::printf("drive_bench: the first NetUse failed\n");
        return 1;
    }
    const double firstMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    quilvane::NetDel("Y:");

    std::vector<double> bare, netUse;
    for (int round = 0; round < kRounds; ++round) {
        const double b = BareMountMs(uri, credentials);
        // Undone through the layer (a connection without a letter), which
        // waits until FUSE has let go too.
        quilvane::NetDel(smb.Unc());
        start = Clock::now();
        const bool mapped = quilvane::NetUse("Y:", smb.Unc(), smb.Password(), smb.User());
        const double n = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        quilvane::NetDel("Y:");
        if (b < 0 || !mapped) {
            std::printf("drive_bench: round %d failed (bare %s, NetUse %s)\n", round,
                        b < 0 ? "failed" : "ok", mapped ? "ok" : "failed");
            return 1;
        }
        bare.push_back(b);
        netUse.push_back(n);
    }

    const double ratio = Median(netUse) / Median(bare);
    std::printf("drive_bench: %d rounds against smbd on %s\n", kRounds, smb.Address().c_str());
    std::printf("  first NetUse, starting the private gvfs session: %8.1f ms\n", firstMs);
    std::printf("  bare GIO mount   median %8.1f ms  mean %8.1f ms\n", Median(bare), Mean(bare));
    std::printf("  NetUse           median %8.1f ms  mean %8.1f ms\n", Median(netUse),
                Mean(netUse));
    std::printf("  NetUse / bare mount (medians): %.2f  (target at most 1.50: %s)\n", ratio,
                ratio <= 1.5 ? "met" : "NOT met");
    return 0;
}
