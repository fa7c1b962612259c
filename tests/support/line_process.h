#pragma once
// LineProcess: a program that a test starts, its standard output read line by
// line with bounded waits (its standard error goes to the test's). The
// program is killed when the object goes, also after a failed assertion.
//
// Threads: the test thread.

#include <QDeadlineTimer>
#include <QProcess>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

class LineProcess {
public:
    LineProcess(const QProcessEnvironment& env, const QString& program, const QStringList& args) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, args);
    }
    ~LineProcess() { Kill(); }
    LineProcess(const LineProcess&) = delete;
    LineProcess& operator=(const LineProcess&) = delete;

    bool Started(int ms = 10000) { return process_.waitForStarted(ms); }
    bool Running() const { return process_.state() != QProcess::NotRunning; }

    // Waits (bounded) for a line starting with `prefix`; returns the line
    // without it, or "?" when none came. Lines before it are passed over.
    std::string WaitFor(const std::string& prefix, int ms = 8000) {
        QDeadlineTimer deadline(ms);
        for (;;) {
            while (process_.canReadLine()) {
                const std::string line = process_.readLine().trimmed().toStdString();
                all_.push_back(line);
                recent_.push_back(line);
                if (line.rfind(prefix, 0) == 0)
                    return line.substr(prefix.size());
            }
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return "?";
            process_.waitForReadyRead(
                static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }
    // Counts lines starting with `prefix` that arrive within `ms`.
    int Count(const std::string& prefix, int ms) {
        int n = 0;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (WaitFor(prefix, static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) !=
                "?")
                ++n;
        }
        return n;
    }
    // The lines read since the last call, after waiting `ms` for more.
    std::vector<std::string> Drain(int ms = 300) {
        recent_.clear();
        WaitFor("\x01never", ms);
        return std::exchange(recent_, {});
    }
    // Whether the program printed `line` among the lines read so far.
    bool Said(const std::string& line) const {
        return std::find(all_.begin(), all_.end(), line) != all_.end();
    }

    // Whether the program ends within `ms` with status 0; reads what is left.
    bool EndsWithZero(int ms = 8000) {
        if (!process_.waitForFinished(ms))
            return false;
        WaitFor("\x01never", 1);
        return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    // Writes to the program's standard input.
    void Tell(const char* text) { process_.write(text); }
    void Kill() {
        if (Running()) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    QProcess process_;
    std::vector<std::string> all_;
    std::vector<std::string> recent_;
};
