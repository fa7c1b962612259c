#pragma once
// Real tray hosts on a private Xvfb display for the notification-area tests:
// trayer (an XEmbed system tray) and, where installed, a StatusNotifierItem
// host (gtk-sni-tray-standalone with its own watcher) on a private session
// bus. Each stops its processes when it leaves its scope. Also helpers to find
// a program's tray icon on screen and to read a child's output lines.
//
// Threads: one test thread.

#include <QDeadlineTimer>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <memory>

#include "tests/support/xvfb_display.h"

// trayer along the top-left edge of the screen, 160 x 28 pixels.
class TrayerHost {
public:
    explicit TrayerHost(const XvfbDisplay& display) : display_(display) { Start(); }
    ~TrayerHost() { Stop(); }

    bool Start() {
        Stop();
        process_ = std::make_unique<QProcess>();
        process_->setProcessEnvironment(display_.Environment());
        process_->setStandardOutputFile(QProcess::nullDevice());
        process_->setStandardErrorFile(QProcess::nullDevice());
        process_->start("trayer", {"--edge", "top", "--align", "left", "--widthtype", "pixel",
                                   "--width", "160", "--heighttype", "pixel", "--height", "28",
                                   "--SetDockType", "false", "--SetPartialStrut", "false"});
        if (!process_->waitForStarted(10000))
            return false;
        // Its panel window is mapped once it owns the tray selection.
        return display_
                   .Run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^panel$"},
                        10000)
                   .exitCode == 0;
    }
    void Stop() {
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
    }

private:
    const XvfbDisplay& display_;
    std::unique_ptr<QProcess> process_;
};

// A private session bus, and on it (StartHost) a StatusNotifierWatcher and a
// StatusNotifierItem host (gtk-sni-tray-standalone). Ok() is false when they
// are not installed or did not start.
class SniHost {
public:
    explicit SniHost(const XvfbDisplay& display) {
        if (!XvfbDisplay::HaveProgram("dbus-daemon") ||
            !XvfbDisplay::HaveProgram("gtk-sni-tray-standalone")) {
            error_ = "dbus-daemon or gtk-sni-tray-standalone is not installed";
            return;
        }
        bus_.setProcessEnvironment(display.Environment());
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!bus_.waitForStarted(10000) || !bus_.waitForReadyRead(10000)) {
            error_ = "dbus-daemon did not start";
            return;
        }
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    }
    // Starts the watcher and the host on the bus; false (see Error()) when
    // they did not come up.
    bool StartHost(const XvfbDisplay& display) {
        if (!error_.isEmpty())
            return false;
        host_.setProcessEnvironment(Environment(display));
        host_.setStandardOutputFile(QProcess::nullDevice());
        host_.setStandardErrorFile(QProcess::nullDevice());
        // Started again right after a kill on a loaded machine, the host has
        // been seen to show no bar at all: a few tries.
        for (int attempt = 0; attempt < 3; ++attempt) {
            StopHost();
            host_.start("gtk-sni-tray-standalone",
                        {"--top", "--beginning", "--watcher", "--no-strut"});
            if (host_.waitForStarted(10000) &&
                display.Run("xdotool",
                            {"search", "--sync", "--onlyvisible", "--classname",
                             "gtk-sni-tray-standalone"},
                            10000)
                        .exitCode == 0)
                return true;
        }
        error_ = "gtk-sni-tray-standalone did not show its bar";
        return false;
    }
    void StopHost() {
        if (host_.state() != QProcess::NotRunning) {
            host_.kill();
            host_.waitForFinished(5000);
        }
    }
    ~SniHost() {
        for (QProcess* p : {&host_, &bus_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    bool Ok() const { return error_.isEmpty(); }
    const QString& Error() const { return error_; }
    // The display's environment with this session bus.
    QProcessEnvironment Environment(const XvfbDisplay& display) const {
        QProcessEnvironment env = display.Environment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        return env;
    }

private:
    QProcess bus_;
    QProcess host_;
    QString address_;
    QString error_;
};

namespace quilvane_test {

// The centre of the smallest visible window of the X class `className` that is
// at most 64 pixels wide (a tray icon of its own), or with `largest` of the
// largest one (a tray that draws its icons itself), in screen coordinates;
// {-1, -1} when none appeared within `timeoutMs`.
inline QPoint TrayIconCentre(const XvfbDisplay& display, const QString& className,
                             bool largest = false, int timeoutMs = 10000) {
    static const QRegularExpression re(
        "WINDOW=(\\d+)\\s+X=(-?\\d+)\\s+Y=(-?\\d+)\\s+WIDTH=(\\d+)\\s+HEIGHT=(\\d+)");
    // --sync waits until such a window is mapped; Run bounds the wait.
    const auto r = display.Run("xdotool",
                               {"search", "--sync", "--onlyvisible", "--classname", className,
                                "getwindowgeometry", "--shell", "%@"},
                               timeoutMs);
    QPoint best(-1, -1);
    int bestArea = largest ? -1 : 1 << 30;
    for (auto it = re.globalMatch(r.output); it.hasNext();) {
        const auto m = it.next();
        const int w = m.captured(4).toInt(), h = m.captured(5).toInt();
        if (largest ? w * h > bestArea : (w <= 64 && w * h < bestArea)) {
            bestArea = w * h;
            best = QPoint(m.captured(2).toInt() + w / 2, m.captured(3).toInt() + h / 2);
        }
    }
    return best;
}

// Clicks at `at` as a user would: one button ("1" left, "3" right, "2"
// middle) or a left double click ("double").
inline void ClickAt(const XvfbDisplay& display, QPoint at, const QString& how) {
    QStringList args = {"mousemove", QString::number(at.x()), QString::number(at.y()), "click"};
    if (how == "double")
        args << "--repeat"
             << "2"
             << "--delay"
             << "80"
             << "1";
    else
        args << how;
    display.Run("xdotool", args);
}

// Reads `process`'s output lines until one equals `line` (true) or `timeoutMs`
// passed (false). Every line read is appended to `seen`.
inline bool WaitForLine(QProcess& process, const QString& line, QStringList* seen,
                        int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (process.canReadLine()) {
            const QString l = QString::fromUtf8(process.readLine()).trimmed();
            if (seen)
                seen->append(l);
            if (l == line)
                return true;
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

}  // namespace quilvane_test
