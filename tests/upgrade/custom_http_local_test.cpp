// The HTTP download component on "file" URLs, which need no server: a run
// whose blocking start times out is stopped before its buffer and stream go.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>

#include "tests/support/qt_wait.h"
#include "upgrade/custom_http.h"

namespace {

using quilvane_test::RunUntil;

TEST(CustomHttpLocal, WaitTimeoutStopsTheWorkerBeforeFreeingItsBuffer) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Long enough in small blocks that the worker is still reading when the
    // wait gives up.
    const std::string big = dir.filePath("big.bin").toStdString();
    std::ofstream(big).close();
    ASSERT_EQ(::truncate(big.c_str(), 64 << 20), 0);
    const std::string small = dir.filePath("small.txt").toStdString();
    std::ofstream(small) << "small";

    TacCustomHTTP http(nullptr);
    http.TransferBufferSize = 255;
    http.Thread()->WaitForFinish = true;
    http.Thread()->WaitTimeout = 20;
    int offered = 0;
    std::vector<std::string> events;
    http.OnWaitTimeout = [&](fw::TObject*, bool&) { ++offered; };
    http.OnDone = [&](fw::TObject*, const std::string&, std::int64_t n, fw::TStream*) {
        events.push_back("Done " + std::to_string(n));
    };
    http.OnFailure = [&](fw::TObject*) { events.push_back("Failure"); };

    http.URL = "file://" + big;
    http.Start();
    EXPECT_EQ(offered, 1);
    EXPECT_FALSE(http.Busy());
    // The stopped run raises nothing, now or later.
    RunUntil([] { return false; }, 200);
    EXPECT_TRUE(events.empty());

    // The component is whole: the next run completes.
    http.Thread()->WaitTimeout = 0;
    http.URL = "file://" + small;
    http.Start();
    ASSERT_TRUE(RunUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{"Done 5"});
}

}  // namespace
