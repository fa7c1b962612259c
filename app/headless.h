#pragma once
// The headless mode (`quilvane --headless`): the same program without any
// window. The main window is made on Qt's offscreen platform and never shown,
// so the settings are loaded as at start and the monitor runs as usual; each
// record the monitor posts is printed as one line on standard output. SIGTERM
// and SIGINT end the program without writing the settings file, as a logoff
// does. Errors that would go to the error box go to standard error.
//
// Threads: main thread only.

#include <ctime>
#include <string>

#include "framework/memory_data.h"

namespace quilvane {

// The line for the table's current record, without its line end:
// "2026-12-10T01:02:03 HostName=srv1 Connected=True FalseCount=0 Drive=Y: UNC=data Maped=True"
// (local time to the second; the grid's fields in the grid's order, each as
// the grid shows it, so an unset value is empty).
std::string MonitorLine(const fw::TRxMemoryData& table, std::time_t when);

// Runs the program headless until SIGTERM or SIGINT; returns the exit status.
int RunHeadless(int argc, char** argv);

}  // namespace quilvane
