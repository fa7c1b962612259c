#include "platform/notify_icon.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/icon.h"
#include "platform/kernel.h"

namespace win {

namespace {

constexpr char kSniWatcher[] = "org.kde.StatusNotifierWatcher";

// The text of a fixed field, at most `chars` characters.
QString FieldText(const char* field, std::size_t size, int chars) {
    const QString s = QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
    qsizetype end = 0;
    for (int n = 0; n < chars && end < s.size(); ++n)
        end += (s[end].isHighSurrogate() && end + 1 < s.size()) ? 2 : 1;
    return s.left(end);
}

// A text with line feeds only: a tip or balloon written with CR LF line ends
// (as the taskbar takes them) would show the CRs on a StatusNotifierItem host.
QString LineFeedsOnly(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
}

// The host kinds a shown icon can live on.
enum class HostKind { XEmbed, StatusNotifier };

// One icon in the notification area.
class NotifyIcon : public QObject {
public:
    NotifyIcon(HWND hwnd, UINT id, HostKind kind) : hwnd_(hwnd), id_(id), kind_(kind) {
        connect(&tray_, &QSystemTrayIcon::activated, this, &NotifyIcon::Activated);
        connect(&tray_, &QSystemTrayIcon::messageClicked, this,
                [this] { EndBalloon(NIN_BALLOONUSERCLICK); });
        balloonTimer_.setSingleShot(true);
        connect(&balloonTimer_, &QTimer::timeout, this, [this] { EndBalloon(NIN_BALLOONTIMEOUT); });
    }
    ~NotifyIcon() override { EndBalloon(NIN_BALLOONHIDE); }

    HostKind Kind() const { return kind_; }

    // Takes what the record's flags say; a basic record shows a shorter tip
    // and no balloon.
    void Apply(const NOTIFYICONDATAA& d, bool added) {
        const bool extended = d.cbSize >= NOTIFYICONDATAA_V2_SIZE;
        if (d.uFlags & NIF_MESSAGE)
            callback_ = d.uCallbackMessage;
        if ((d.uFlags & NIF_ICON) || added) {
            QIcon image = (d.uFlags & NIF_ICON) ? IconImage(d.hIcon) : QIcon();
            tray_.setIcon(image.isNull() ? BlankImage() : image);
        }
        if (d.uFlags & NIF_TIP)
            tray_.setToolTip(LineFeedsOnly(FieldText(
                d.szTip, sizeof d.szTip, extended ? kNotifyTipChars : kNotifyBasicTipChars)));
        if (added)
            tray_.show();
        if (extended && (d.uFlags & NIF_INFO))
            ShowBalloon(d);
    }

    void Post(UINT code) const {
        if (callback_)
            PostMessageA(hwnd_, callback_, id_, static_cast<LPARAM>(code));
    }

private:
    static QIcon BlankImage() {
        QPixmap p(16, 16);
        p.fill(Qt::transparent);
        return QIcon(p);
    }

    void ShowBalloon(const NOTIFYICONDATAA& d) {
        const QString text = FieldText(d.szInfo, sizeof d.szInfo, kNotifyInfoChars);
        EndBalloon(NIN_BALLOONHIDE);
        if (text.isEmpty())
            return;  // an empty text only takes the balloon away
        static constexpr QSystemTrayIcon::MessageIcon kIcons[] = {
            QSystemTrayIcon::NoIcon, QSystemTrayIcon::Information, QSystemTrayIcon::Warning,
            QSystemTrayIcon::Critical};
        // The time-out is kept within what the taskbar allows, 10 to 30 s.
        const int ms = std::clamp(static_cast<int>(d.uTimeout), 10000, 30000);
        tray_.showMessage(FieldText(d.szInfoTitle, sizeof d.szInfoTitle, kNotifyInfoTitleChars),
                          LineFeedsOnly(text), kIcons[d.dwInfoFlags & 3], ms);
        balloonOpen_ = true;
        balloonTimer_.start(ms);
        Post(NIN_BALLOONSHOW);
    }

    void EndBalloon(UINT code) {
        if (!balloonOpen_)
            return;
        balloonOpen_ = false;
        balloonTimer_.stop();
        Post(code);
    }

    // Tray hosts report clicks; the down and up pair follows from each, and a
    // second left click within the double-click time is the double click.
    void Activated(QSystemTrayIcon::ActivationReason reason) {
        const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
        switch (reason) {
            case QSystemTrayIcon::Trigger:
                // GTK hosts report the second press of a double click twice, as
                // a press and as a double press: no hand clicks that fast.
                if (last_.isValid() && last_.elapsed() < kSamePressMs)
                    return;
                last_.start();
                if (click_.isValid() && click_.elapsed() <= interval && !doubled_) {
                    Post(WM_LBUTTONDBLCLK);
                    doubled_ = true;
                } else {
                    Post(WM_LBUTTONDOWN);
                    doubled_ = false;
                    click_.start();
                }
                Post(WM_LBUTTONUP);
                return;
            case QSystemTrayIcon::DoubleClick:
                // Hosts that report the second click only as a double click.
                if (!doubled_) {
                    Post(WM_LBUTTONDBLCLK);
                    Post(WM_LBUTTONUP);
                    doubled_ = true;
                }
                return;
            case QSystemTrayIcon::Context:
                Post(WM_RBUTTONDOWN);
                Post(WM_RBUTTONUP);
                return;
            case QSystemTrayIcon::MiddleClick:
                Post(WM_MBUTTONDOWN);
                Post(WM_MBUTTONUP);
                return;
            default:
                return;
        }
    }

    HWND hwnd_;
    UINT id_;
    HostKind kind_;
    UINT callback_ = 0;
    QSystemTrayIcon tray_;
    static constexpr int kSamePressMs = 40;
    QElapsedTimer click_;  // since the last click that was not a double click
    QElapsedTimer last_;   // since the last left click reported
    bool doubled_ = false;
    bool balloonOpen_ = false;
    QTimer balloonTimer_;
};

std::map<std::pair<HWND, UINT>, std::unique_ptr<NotifyIcon>> g_icons;

// Tells the program when a tray host appears or goes away, from the desktop's
// own events: the XEmbed tray's manager announcement and the destruction of
// its selection window, and the StatusNotifierWatcher's bus name.
class TrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    TrayWatch() {
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
            WatchXEmbed(x11->connection());
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            // A StatusNotifier tray is there once a host registered with the
            // watcher; it is gone with the watcher.
            sniWatch_ = new QDBusServiceWatcher(kSniWatcher, bus,
                                                QDBusServiceWatcher::WatchForUnregistration, this);
            connect(sniWatch_, &QDBusServiceWatcher::serviceUnregistered, this,
                    [] { HostGone(HostKind::StatusNotifier); });
            bus.connect(kSniWatcher, "/StatusNotifierWatcher", kSniWatcher,
                        "StatusNotifierHostRegistered", this, SLOT(SniHostRegistered()));
            QDBusInterface watcher(kSniWatcher, "/StatusNotifierWatcher", kSniWatcher, bus);
            sniRunning_ =
                watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
        }
    }
    ~TrayWatch() override {
        if (conn_)
            qApp->removeNativeEventFilter(this);
    }

    // The kind of host that takes a new icon now (Qt's tray icon prefers a
    // StatusNotifier watcher).
    HostKind CurrentKind() const {
        return sniRunning_ ? HostKind::StatusNotifier : HostKind::XEmbed;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        switch (ev->response_type & ~0x80) {
            case XCB_CLIENT_MESSAGE: {
                auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
                if (cm->type == manager_ && cm->format == 32 && cm->data.data32[1] == selection_) {
                    WatchOwner(cm->data.data32[2]);
                    HostAppeared();
                }
                break;
            }
            case XCB_DESTROY_NOTIFY: {
                auto* dn = reinterpret_cast<xcb_destroy_notify_event_t*>(ev);
                if (owner_ && dn->window == owner_) {
                    owner_ = 0;
                    HostGone(HostKind::XEmbed);
                }
                break;
            }
            default:
                break;
        }
        return false;
    }

    void SetSniRunning(bool running) { sniRunning_ = running; }

private slots:
    void SniHostRegistered() {
        sniRunning_ = true;
        HostAppeared();
    }

private:
    xcb_atom_t Atom(const std::string& name) {
        auto reply = xcb_intern_atom_reply(
            conn_, xcb_intern_atom(conn_, 0, static_cast<uint16_t>(name.size()), name.c_str()),
            nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return a;
    }

    // Adds StructureNotify to what this client already selects on `window`.
    void SelectStructure(xcb_window_t window) {
        auto attrs = xcb_get_window_attributes_reply(
            conn_, xcb_get_window_attributes(conn_, window), nullptr);
        if (!attrs)
            return;
        const uint32_t mask = attrs->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        free(attrs);
        xcb_change_window_attributes(conn_, window, XCB_CW_EVENT_MASK, &mask);
    }

    void WatchOwner(xcb_window_t owner) {
        owner_ = owner;
        if (owner_)
            SelectStructure(owner_);
        xcb_flush(conn_);
    }

    void WatchXEmbed(xcb_connection_t* conn) {
        if (!conn)
            return;
        conn_ = conn;
        int screen = 0;
        const QString display = qEnvironmentVariable("DISPLAY");
        if (const qsizetype dot = display.lastIndexOf('.'); dot > display.lastIndexOf(':'))
            screen = display.mid(dot + 1).toInt();
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem)
            return;
        const xcb_window_t root = it.data->root;
        selection_ = Atom("_NET_SYSTEM_TRAY_S" + std::to_string(screen));
        manager_ = Atom("MANAGER");
        qApp->installNativeEventFilter(this);
        // The manager announces itself to the root window.
        SelectStructure(root);
        auto reply = xcb_get_selection_owner_reply(
            conn_, xcb_get_selection_owner(conn_, selection_), nullptr);
        WatchOwner(reply ? reply->owner : 0);
        free(reply);
    }

    static void HostAppeared() {
        PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    }

    static void HostGone(HostKind kind);

    xcb_connection_t* conn_ = nullptr;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    xcb_atom_t manager_ = XCB_ATOM_NONE;
    xcb_window_t owner_ = 0;
    QDBusServiceWatcher* sniWatch_ = nullptr;
    bool sniRunning_ = false;
};

TrayWatch* g_watch = nullptr;

void TrayWatch::HostGone(HostKind kind) {
    if (kind == HostKind::StatusNotifier && g_watch)
        g_watch->SetSniRunning(false);
    for (auto it = g_icons.begin(); it != g_icons.end();) {
        if (it->second->Kind() == kind) {
            it->second->Post(NIN_HOSTGONE);
            it = g_icons.erase(it);
        } else {
            ++it;
        }
    }
}

// Starts watching for tray hosts on first use; it lives as long as the Qt
// application object.
TrayWatch* Watch() {
    if (!g_watch) {
        g_watch = new TrayWatch;
        g_watch->setParent(qApp);
        QObject::connect(g_watch, &QObject::destroyed, [] {
            g_watch = nullptr;
            g_icons.clear();
        });
    }
    return g_watch;
}

}  // namespace

BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data) {
    if (!data || data->cbSize < NOTIFYICONDATAA_V1_SIZE || !qobject_cast<QApplication*>(qApp)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TrayWatch* watch = Watch();
    const auto key = std::make_pair(data->hWnd, data->uID);
    auto it = g_icons.find(key);
    switch (message) {
        case NIM_ADD: {
            if (it != g_icons.end() || !IsWindow(data->hWnd) ||
                !QSystemTrayIcon::isSystemTrayAvailable())
                return FALSE;
            auto icon = std::make_unique<NotifyIcon>(data->hWnd, data->uID, watch->CurrentKind());
            icon->Apply(*data, true);
            g_icons.emplace(key, std::move(icon));
            return TRUE;
        }
        case NIM_MODIFY:
            if (it == g_icons.end())
                return FALSE;
            it->second->Apply(*data, false);
            return TRUE;
        case NIM_DELETE:
            if (it == g_icons.end())
                return FALSE;
            g_icons.erase(it);
            return TRUE;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

}  // namespace win

#include "notify_icon.moc"
