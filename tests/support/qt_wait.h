#pragma once
// RunUntil: keeps the main thread's event loop (and so its window messages)
// going until a condition holds or a time limit passes; returns the condition.
//
// Threads: the thread that runs the Qt event loop.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <thread>

namespace quilvane_test {

inline bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

}  // namespace quilvane_test
