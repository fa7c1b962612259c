#include "platform/sound.h"

#include <canberra.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/kernel.h"

namespace win {

namespace {

// The Windows sound aliases and the sound theme names that stand for them.
struct Alias {
    std::string_view alias;
    std::string_view eventId;
};
constexpr Alias kAliases[] = {
    {".Default", "bell"},
    {"SystemDefault", "bell"},
    {"SystemAsterisk", "dialog-information"},
    {"SystemExclamation", "dialog-warning"},
    {"SystemHand", "dialog-error"},
    {"SystemQuestion", "dialog-question"},
    {"SystemNotification", "message"},
    {"SystemStart", "desktop-login"},
    {"SystemExit", "desktop-logout"},
    {"WindowsLogon", "desktop-login"},
    {"WindowsLogoff", "desktop-logout"},
    {"Minimize", "window-minimized"},
    {"Maximize", "window-maximized"},
    {"RestoreUp", "window-unminimized"},
    {"RestoreDown", "window-unmaximized"},
    {"Open", "window-new"},
    {"Close", "window-close"},
    {"AppGPFault", "dialog-error"},
    {"MailBeep", "message-new-email"},
    {"Notification.Default", "message"},
    {"DeviceConnect", "device-added"},
    {"DeviceDisconnect", "device-removed"},
    {"EmptyRecycleBin", "trash-empty"},
};

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsFile(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// One request to the sound thread.
struct Request {
    enum class Kind { Play, Stop } kind = Kind::Play;
    bool file = false;  // `what` names a file, else a sound theme event
    std::string what;
    std::shared_ptr<std::promise<bool>> done;  // set for a synchronous play
};

// The thread that talks to the sound system. It sleeps on its queue while
// there is nothing to play; it is never ended (a hung sound device must not
// hold up the end of the program).
class Player {
public:
    Player() {
        std::thread([this] { Run(); }).detach();
    }

    void Push(Request r) {
        std::lock_guard l(lock_);
        queue_.push_back(std::move(r));
        wake_.notify_one();
    }

private:
    static constexpr std::uint32_t kSoundId = 1;

    static void Finished(ca_context*, std::uint32_t, int error, void* data) {
        auto* done = static_cast<std::promise<bool>*>(data);
        done->set_value(error == CA_SUCCESS);
        delete done;
    }

    void Run() {
        for (;;) {
            Request r;
            {
                std::unique_lock l(lock_);
                wake_.wait(l, [this] { return !queue_.empty(); });
                r = std::move(queue_.front());
                queue_.pop_front();
            }
            Handle(r);
        }
    }

    bool Open() {
        if (ctx_)
            return true;
        if (ca_context_create(&ctx_) != CA_SUCCESS) {
            ctx_ = nullptr;
            return false;
        }
        ca_context_change_props(ctx_, CA_PROP_APPLICATION_NAME, "Quilvane", nullptr);
        if (ca_context_open(ctx_) != CA_SUCCESS) {
            // No sound device now; a later sound tries again.
            ca_context_destroy(ctx_);
            ctx_ = nullptr;
            return false;
        }
        return true;
    }

    void Handle(const Request& r) {
        if (r.kind == Request::Kind::Stop) {
            if (ctx_)
                ca_context_cancel(ctx_, kSoundId);
            return;
        }
        int rc = CA_ERROR_NOTAVAILABLE;
        if (Open()) {
            ca_context_cancel(ctx_, kSoundId);
            ca_proplist* props = nullptr;
            ca_proplist_create(&props);
            ca_proplist_sets(props, r.file ? CA_PROP_MEDIA_FILENAME : CA_PROP_EVENT_ID,
                             r.what.c_str());
            if (r.done) {
                auto* done = new std::promise<bool>;
                auto future = done->get_future();
                rc = ca_context_play_full(ctx_, kSoundId, props, &Player::Finished, done);
                if (rc == CA_SUCCESS) {
                    // The sound system says when the sound ended; wait for it, bounded.
                    const bool ended =
                        future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
                    if (!ended)
                        ca_context_cancel(ctx_, kSoundId);
                    r.done->set_value(ended && future.get());
                    ca_proplist_destroy(props);
                    return;
                }
                delete done;
            } else {
                rc = ca_context_play_full(ctx_, kSoundId, props, nullptr, nullptr);
            }
            ca_proplist_destroy(props);
        }
        if (r.done)
            r.done->set_value(rc == CA_SUCCESS);
    }

    std::mutex lock_;  // guards queue_
    std::condition_variable wake_;
    std::deque<Request> queue_;
    ca_context* ctx_ = nullptr;  // the sound thread's own
};

Player& ThePlayer() {
    static Player* player = new Player;  // never destroyed, see Player
    return *player;
}

}  // namespace

std::string SoundThemeEventId(const std::string& alias) {
    for (const Alias& a : kAliases)
        if (SameText(a.alias, alias))
            return std::string(a.eventId);
    return {};
}

BOOL PlaySoundA(LPCSTR name, HMODULE, DWORD flags) {
    if (!name) {
        ThePlayer().Push({Request::Kind::Stop, false, {}, nullptr});
        return TRUE;
    }
    if ((flags & SND_MEMORY) || (flags & SND_RESOURCE) == SND_RESOURCE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Request r;
    if (std::string id = (flags & SND_FILENAME) ? std::string() : SoundThemeEventId(name);
        !id.empty()) {
        r.what = std::move(id);
    } else if (!(flags & SND_ALIAS) && IsFile(name)) {
        r.file = true;
        r.what = name;
    } else if (flags & SND_NODEFAULT) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    } else {
        r.what = "bell";
    }
    if (flags & SND_ASYNC) {
        ThePlayer().Push(std::move(r));
        return TRUE;
    }
    r.done = std::make_shared<std::promise<bool>>();
    auto result = r.done->get_future();
    ThePlayer().Push(std::move(r));
    // The sound thread answers within its own bound, also when the device hangs
    // in opening; past that the caller goes on.
    if (result.wait_for(std::chrono::seconds(12)) != std::future_status::ready)
        return FALSE;
    return result.get() ? TRUE : FALSE;
}

}  // namespace win
