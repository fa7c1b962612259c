// Quilvane keeps network shares mapped to drive letters while their servers
// answer pings.
#include <unistd.h>

#include <cstdio>

#include "app/program.h"
#include "monitor/drive_worker.h"

int main(int argc, char** argv) {
    const int status = quilvane::RunProgram(argc, argv);
    // A monitor thread may still wait on a dead server (its mount or unmount
    // is bounded by the platform, not by our end): end without running the
    // exit handlers it could meet. Everything the program wrote is flushed.
    if (quilvane::MonitorThreadsRunning() > 0) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
