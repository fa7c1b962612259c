#pragma once
// The headless mode (`quilvane --headless`): the same program without any
// window. The main window is made on Qt's offscreen platform and never shown,
// so the settings are loaded as at start and the monitor runs as usual; each
// record the monitor posts is printed as one line on standard output. SIGTERM
// and SIGINT end the program within 2 seconds, whatever it is doing (a pass
// over silent hosts, a lookup that waits for DNS, the start-up), without
// writing the settings file, as a logoff does. Errors that would go to the
// error box go to standard error; an error while the settings are loaded ends
// the program with status 1. An empty list is said once on standard error,
// with the file's path and the command that adds a record.
//
// The settings file is watched: when it changes (the list commands of
// app/list_commands.h replace it, or a user edits it), the list is loaded
// again between monitor passes (ReloadSettings in app/settings_file.h) and a
// line on standard error says so.
//
// Threads: RunHeadless on the main thread; it starts one watcher thread for
// the end signals.

#include <ctime>
#include <exception>
#include <string>
#include <string_view>

#include "framework/memory_data.h"

namespace quilvane {

// The line for the table's current record, without its line end:
// "2026-12-10T01:02:03 HostName=srv1 Connected=True FalseCount=0 Drive=Y: UNC=data Maped=True"
// (local time to the second; the grid's fields in the grid's order, each
// Name=value with the value as the grid shows it, so an unset value is empty).
// Values go through LineValue, so every line splits one way at its blanks.
std::string MonitorLine(const fw::TRxMemoryData& table, std::time_t when);

// A value as a line shows it. A value without blanks, "=", quotes (" or ')
// and control characters stands as it is (backslashes included). Any other
// is put in double quotes, inside which \" is a quote, \\ a backslash, \t,
// \n and \r a tab, line feed and carriage return, and \xHH any other control
// byte; every other byte stands for itself. So a plain value never starts
// with a quote, and a quoted one ends at the first quote not escaped.
std::string LineValue(std::string_view value);

// What the program says when making its main window failed: the error, and
// for a system that allows this user no ICMP socket, what would allow one.
// One or two lines, each ending in a line feed.
std::string StartFailureText(const std::exception& e);

// Runs the program headless until SIGTERM or SIGINT; returns the exit status.
int RunHeadless(int argc, char** argv);

}  // namespace quilvane
