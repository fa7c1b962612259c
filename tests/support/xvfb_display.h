#pragma once
// XvfbDisplay: a private X display for whole-program tests. The constructor
// starts Xvfb on a free display number (Xvfb picks it and reports it) and waits,
// bounded, until the server accepts clients; the destructor ends the server.
// Also a small helper to run the X tools (xdotool, import) against it.
//
// Threads: one test thread.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

class XvfbDisplay {
public:
    // width x height x 24 bits; waits at most `startMs` for the server.
    explicit XvfbDisplay(int width = 1024, int height = 768, int startMs = 15000);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // True when the server runs; otherwise Error() says why.
    bool Ok() const { return !display_.isEmpty(); }
    const QString& Error() const { return error_; }
    // The DISPLAY value, e.g. ":3".
    const QString& Display() const { return display_; }
    // An environment for programs that should use this display only.
    QProcessEnvironment Environment() const;

    struct Result {
        bool finished = false;  // false: it did not end within the time and was killed
        int exitCode = -1;
        QString output;
    };
    // Runs `program` with `arguments` on this display, waiting at most `timeoutMs`.
    Result Run(const QString& program, const QStringList& arguments, int timeoutMs = 10000) const;

    // Waits at most `timeoutMs` for a visible window whose title matches the
    // regular expression `title`; its X id, or "" when none appeared.
    QString FindWindow(const QString& title, int timeoutMs = 20000) const;

    // Whether `program` can be found on PATH.
    static bool HaveProgram(const QString& program);

    // Kills a program that a test started, if it still runs, when the test
    // leaves its scope (also on a failed assertion).
    struct KillOnExit {
        QProcess& process;
        ~KillOnExit() {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    };

private:
    std::unique_ptr<QProcess> server_;
    QString display_;
    QString error_;
};
