#pragma once
// The monitor cycle's logic: the handling of each echo reply, which keeps a
// record's share mapped to its drive while the host answers and drops it once
// the host has been silent for MaxPing + 1 passes, and the sequential pass
// that pings one record after the other.
//
// The steps work on a record's values (TMonitorConfig, TMonitorState), so the
// same code serves the engine (monitor/monitor_engine.h), which runs them on
// its drive thread and applies the outcome on the main thread, and the
// sequential cycle below, which runs them on the table's current record.
//
// Threads: the step functions on any one thread at a time with their own
// values; the table functions on the thread that owns the table.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "framework/memory_data.h"

namespace quilvane {

// What the cycle does to drives: the three network-drive operations and the
// folder check. Callers pass the texts trimmed or untrimmed as the cycle says;
// implementations change nothing in what they are given. The engine calls
// them on its drive thread, one call at a time.
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

// The platform's operations (monitor/net_drive.h and GetFileAttributesA).
TDriveOperations& RealDriveOperations();

// The text without its leading and trailing bytes of value 32 or less.
std::string Trim(const std::string& text);

// Drive letters name one drive in either case ("y:" is "Y:"); blanks around
// them do not count.
bool SameDrive(const std::string& a, const std::string& b);

// A record's configuration fields, as stored.
struct TMonitorConfig {
    std::string HostName, UserName, Password, Drive, UNC;
    std::int32_t MaxPing = 0;
    bool operator==(const TMonitorConfig&) const = default;
};

// A record's monitor fields; an unset field stays unset until a step sets it.
struct TMonitorState {
    std::optional<bool> Connected;
    std::optional<std::int32_t> FalseCount;
    std::optional<bool> Maped;
};

// The current record's values, and its monitor fields written back (Edit,
// the set fields, Post).
TMonitorConfig ReadConfig(const fw::TRxMemoryData& table);
TMonitorState ReadState(const fw::TRxMemoryData& table);
void PostState(fw::TRxMemoryData& table, const TMonitorState& state);

// Whether handling Status for a record in this state calls a drive
// operation: every answered request does, an unanswered one only when it
// drops a mapped drive.
bool NeedsDrives(int Status, const TMonitorConfig& config, const TMonitorState& state);

// The reply handling on a record's values: Status 1 the reply steps, 0 the
// no-reply steps (both return true), anything else nothing (false).
bool EchoReplySteps(int Status, const TMonitorConfig& config, TMonitorState& state,
                    TDriveOperations& drives);

// One sequential monitor pass: from the first record to the last,
// ping(HostName as stored) for each; the reply, if any, is handled inside
// that call. Leaves the cursor on the last record; an empty table gives a
// pass that does nothing. (The engine replaces it in the program; it stays
// as the reference the engine is measured and tested against.)
void MonitorPass(fw::TRxMemoryData& table, const std::function<void(const std::string&)>& ping);

// Handles an echo reply for the current record: Status 1 answered, 0 not
// answered (both post the record and return true), anything else is ignored
// (returns false, the record untouched).
bool HandleEchoReply(fw::TRxMemoryData& table, TDriveOperations& drives, int Status);

}  // namespace quilvane
