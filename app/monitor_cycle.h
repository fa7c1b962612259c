#pragma once
// The monitor cycle's logic: one pass over the connection table, pinging each
// record's host, and the handling of each echo reply, which keeps the record's
// share mapped to its drive while the host answers and drops it once the host
// has been silent for MaxPing + 1 passes.
//
// TForm1 runs these with its Ping1 and the real drive operations; tests run
// them with a fake pinger and fake drive operations. Both work on the table's
// current record, so each reply must be handled before the pass moves on.
//
// Threads: the thread that owns the table (the main thread in the program).

#include <functional>
#include <string>

#include "framework/memory_data.h"

namespace quilvane {

// What the cycle does to drives: the three network-drive operations and the
// folder check. Callers pass the texts trimmed or untrimmed as the cycle says;
// implementations change nothing in what they are given.
class TDriveOperations {
public:
    virtual ~TDriveOperations() = default;
    virtual bool NetUse(const std::string& Drive, const std::string& RemoteName,
                        const std::string& Password, const std::string& UserName) = 0;
    virtual bool NetDel(const std::string& Drive) = 0;
    virtual std::string PathForDrive(const std::string& Drive) = 0;
    // The path exists and is a folder.
    virtual bool FolderExists(const std::string& Path) = 0;
};

// The platform's operations (app/net_drive.h and GetFileAttributesA).
TDriveOperations& RealDriveOperations();

// The text without its leading and trailing bytes of value 32 or less.
std::string Trim(const std::string& text);

// One monitor pass: from the first record to the last, ping(HostName as
// stored) for each; the reply, if any, is handled inside that call. Leaves the
// cursor on the last record; an empty table gives a pass that does nothing.
void MonitorPass(fw::TRxMemoryData& table, const std::function<void(const std::string&)>& ping);

// Handles an echo reply for the current record: Status 1 answered, 0 not
// answered (both post the record and return true), anything else is ignored
// (returns false, the record untouched).
bool HandleEchoReply(fw::TRxMemoryData& table, TDriveOperations& drives, int Status);

}  // namespace quilvane
