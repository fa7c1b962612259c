#include "tests/support/xvfb_display.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

XvfbDisplay::XvfbDisplay(int width, int height, int startMs) : server_(new QProcess) {
    if (!HaveProgram("Xvfb")) {
        error_ = "Xvfb is not installed";
        return;
    }
    // -displayfd 1: Xvfb chooses a free display, and writes its number to
    // stdout once it accepts connections.
    server_->setProgram("Xvfb");
    server_->setArguments({"-displayfd", "1", "-screen", "0",
                           QString("%1x%2x24").arg(width).arg(height), "-nolisten", "tcp",
                           "-noreset"});
    server_->setProcessChannelMode(QProcess::SeparateChannels);
    server_->setStandardErrorFile(QProcess::nullDevice());
    server_->start();
    if (!server_->waitForStarted(startMs)) {
        error_ = "Xvfb did not start: " + server_->errorString();
        return;
    }
    QDeadlineTimer deadline(startMs);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (server_->state() != QProcess::Running)
            break;
        if (server_->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            out += server_->readAllStandardOutput();
        }
    }
    bool number = false;
    const int n = out.trimmed().toInt(&number);
    if (!out.contains('\n') || !number) {
        error_ = "Xvfb reported no display";
        return;
    }
    display_ = QString(":%1").arg(n);
}

XvfbDisplay::~XvfbDisplay() {
    if (server_->state() != QProcess::NotRunning) {
        server_->terminate();
        if (!server_->waitForFinished(5000)) {
            server_->kill();
            server_->waitForFinished(5000);
        }
    }
}

QProcessEnvironment XvfbDisplay::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
}

XvfbDisplay::Result XvfbDisplay::Run(const QString& program, const QStringList& arguments,
                                     int timeoutMs) const {
    Result result;
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        result.output = process.errorString();
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

bool XvfbDisplay::HaveProgram(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QString XvfbDisplay::FindWindow(const QString& title, int timeoutMs) const {
    // --sync waits until the window is mapped; Run bounds the wait.
    const Result search =
        Run("xdotool", {"search", "--sync", "--onlyvisible", "--name", title}, timeoutMs);
    if (!search.finished || search.exitCode != 0)
        return {};
    return search.output.split('\n', Qt::SkipEmptyParts).value(0).trimmed();
}
