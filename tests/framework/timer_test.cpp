// The periodic timer: ticks never burst after a slow handler and never
// overlap while a handler runs a nested loop.
#include "framework/timer.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>
#include <vector>

#include "framework_fixture.h"

namespace fw {
namespace {

using Clock = std::chrono::steady_clock;
using test::EventWait;
using test::FrameworkTest;

constexpr unsigned kInterval = 20;

TEST_F(FrameworkTest, HandlerSlowerThanTheIntervalIsFollowedByOneTickNotABurst) {
    TTimer timer(nullptr);
    timer.SetInterval(kInterval);
    std::vector<Clock::time_point> starts;
    Clock::time_point slowEnd;
    EventWait wait;
    timer.OnTimer = [&](TObject*) {
        starts.push_back(Clock::now());
        if (starts.size() == 1) {
            // Stands for a handler that works through ten intervals without
            // returning to the event loop; nothing waits on this.
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * kInterval));
            slowEnd = Clock::now();
        }
        if (starts.size() == 3) {
            timer.SetEnabled(false);
            wait.Quit();
        }
    };
    ASSERT_TRUE(wait.Run(5000));
    ASSERT_EQ(starts.size(), 3u);
    // The ten missed intervals made one tick at most: the tick after it is a
    // whole interval later (a burst would follow at once).
    EXPECT_GE(starts[2] - slowEnd, std::chrono::milliseconds(kInterval));
}

TEST_F(FrameworkTest, TickDuringANestedLoopDoesNotReenterTheHandlerButFollowsIt) {
    TTimer timer(nullptr);
    timer.SetInterval(kInterval);
    int depth = 0, maxDepth = 0, runs = 0;
    EventWait wait;
    timer.OnTimer = [&](TObject*) {
        ++runs;
        maxDepth = std::max(maxDepth, ++depth);
        if (runs == 1) {
            // A modal box would run such a loop; ticks fall due meanwhile.
            QEventLoop nested;
            QTimer::singleShot(6 * kInterval, &nested, &QEventLoop::quit);
            nested.exec();
        } else {
            timer.SetEnabled(false);
            wait.Quit();
        }
        --depth;
    };
    ASSERT_TRUE(wait.Run(5000));
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(runs, 2);
}

TEST_F(FrameworkTest, DisabledOrZeroIntervalTimerDoesNotTick) {
    for (bool disable : {true, false}) {
        TTimer timer(nullptr);
        int runs = 0;
        timer.OnTimer = [&](TObject*) { ++runs; };
        timer.SetInterval(kInterval);
        if (disable)
            timer.SetEnabled(false);
        else
            timer.SetInterval(0);
        EventWait wait;
        EXPECT_FALSE(wait.Run(5 * kInterval));
        EXPECT_EQ(runs, 0) << (disable ? "disabled" : "interval 0");
    }
}

}  // namespace
}  // namespace fw
