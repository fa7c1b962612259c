#pragma once
// The program's three network-drive operations over the platform's network
// connection functions. They report success as a Boolean, or the path as text,
// and drop the platform's error codes: no message, no retry, no exception.
// Texts are passed on exactly as given (the callers trim what they trim).
//
// Threads: any thread (the monitor's drive thread, in the program); the
// platform runs one drive call of the process at a time. Each call blocks
// until the platform has answered (bounded by the platform's own time-outs).

#include <string>

namespace quilvane {

// Maps RemoteName ("\\host\share[\folders]") to Drive ("Y:"), or connects it
// without a letter when Drive is empty. Not remembered for the next logon and
// never prompting. True exactly when the connection was made.
bool NetUse(const std::string& Drive, const std::string& RemoteName, const std::string& Password,
            const std::string& UserName);

// Cancels Drive's connection even with files open on it, and forgets it in the
// user's remembered connections. True exactly when it was cancelled.
bool NetDel(const std::string& Drive);

// The remote name Drive is connected to, or the empty text on any error (not
// connected, a local drive, not a drive name, a name longer than 255 bytes).
std::string PathForDrive(const std::string& Drive);

}  // namespace quilvane
