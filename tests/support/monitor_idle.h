#pragma once
// Waits (bounded) until a monitor engine has no pass, request or drive work
// left, delivering the main thread's events meanwhile, as the program's loop
// would. Header-only; needs a QCoreApplication.
#include <QCoreApplication>
#include <QDeadlineTimer>

#include "monitor/monitor_engine.h"

namespace quilvane_test {

inline bool WaitMonitorIdle(const quilvane::TMonitorEngine& engine, int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    while (!engine.Idle() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return engine.Idle();
}

}  // namespace quilvane_test
