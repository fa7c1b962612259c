#pragma once
// TMonitorEngine: the monitor's passes without the main thread ever waiting
// on the network, on DNS or on a gvfs/FUSE path.
//
// A pass (StartPass, on the monitor timer's tick):
//  1. takes a snapshot of every record that is not busy (below): its ID, its
//     configuration and its monitor fields;
//  2. sends all echo requests at once (monitor/echo_probes.h); the pings end
//     when every request came back, or at the pass's deadline, twice the
//     time-out (a name gets as long to resolve as the reply to arrive). A
//     request not back by then is taken as made to a host whose name did not
//     resolve: its record stays as it is, and busy until the request returns;
//  3. runs the described reply or no-reply steps (monitor/monitor_cycle.h)
//     on each record's values, in record order. Steps that call no drive
//     operation (an unanswered request short of MaxPing, a record whose
//     letter belongs to another) run at once and the record is posted; the
//     others go to the drive thread (monitor/drive_worker.h), which runs them
//     in the order they came, and their outcome comes back to the main thread
//     and is posted to the record it belongs to. So a slow mount delays the
//     records that wait for drive work, never the counting of silent hosts.
//     A record that was deleted or changed meanwhile does not get its
//     outcome (a share that the steps mapped for the old values is
//     disconnected, unless a record of the table now uses that letter).
// The pass ends with step 2: PassRunning() turns false and OnPassEnd runs.
// Drive work may outlast it (a mount that waits for a dead server); the
// records whose outcome has not been posted yet are busy and left alone by
// the next pass, so no record is ever probed or queued twice. At most one
// pass runs; a tick that comes during a pass starts the next pass as soon as
// this one ends (one, however many ticks came).
//
// One letter, one record: a list may hold two records on one drive letter (a
// file written by hand or by an older version). The letter belongs to the
// first record in list order that holds it mapped, else to the first whose
// host answered in the pass; another record on it that answers gets
// Connected true, FalseCount 0 and Maped false without any drive operation,
// so no pass re-points a letter from one record's share to another's.
// OnNotice says so once for each pair of records.
//
// Disconnect queues a NetDel behind the drive work already queued, for the
// editor and a reloaded list (a record's drive dropped when it is saved or
// deleted). Nothing here writes the settings file.
//
// Ending: the destructor drops drive work not yet started and waits at most
// kEndWaitMs for the running one; a mapping made stays as it is. A thread
// still waiting on the network then ends by itself (MonitorThreadsRunning).
//
// Threads: every member on the main thread (the table's). OnPost and
// OnPassEnd run there, from the event loop (also inside modal boxes' loops).

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/memory_data.h"
#include "monitor/drive_worker.h"
#include "monitor/echo_probes.h"
#include "monitor/monitor_cycle.h"

class QObject;
class QTimer;

namespace quilvane {

class TMonitorEngine {
public:
    static constexpr int kEndWaitMs = 1000;

    // `drives` is asked on the main thread each time drive work is queued;
    // what it returns is used on the drive thread.
    TMonitorEngine(fw::TRxMemoryData& table, std::function<TDriveOperations&()> drives);
    ~TMonitorEngine();
    TMonitorEngine(const TMonitorEngine&) = delete;
    TMonitorEngine& operator=(const TMonitorEngine&) = delete;

    // Starts a pass with these echo settings (its Address is unused); false
    // when a pass is running (the next starts when it ends).
    bool StartPass(const TEchoProbes::TRequest& echo);
    bool PassRunning() const;
    // No pass running, no request out and no drive work queued or running.
    bool Idle() const;
    // Drops the mapping of a drive once the drive work queued before is done.
    void Disconnect(const std::string& drive);

    // After a record was posted, with that record current; the cursor goes
    // back to where it was afterwards.
    std::function<void(fw::TRxMemoryData& Table)> OnPost;
    // After each pass's pings, when the pass ends.
    std::function<void()> OnPassEnd;
    // A sentence for the user: why a record is not mapped.
    std::function<void(const std::string& Text)> OnNotice;

    // What the shared part of the engine is (the threads keep it alive).
    struct TMailbox;

private:
    struct TEntry {
        std::int32_t ID = 0;
        int RecNo = 0;  // where it was at the snapshot: where to look first
        TMonitorConfig Config;
        TMonitorState State;
        std::optional<int> Status;
        bool Back = false;         // the request came back
        std::uint64_t Queued = 0;  // its place in the drive thread's queue
        bool Blocked = false;      // its letter belongs to another record
    };
    struct TPass {
        std::uint64_t Number = 0;
        std::vector<TEntry> Entries;
        int Outstanding = 0;
    };

    void ProbeBack(std::uint64_t pass, std::size_t index, std::int32_t id,
                   std::optional<int> status);
    void EndPings();
    // Marks the answered entries whose letter belongs to another record.
    void GiveLettersOut(std::vector<TEntry>& entries);
    void Apply(const TEntry& outcome, int status);
    // The record number of ID (0 when gone), looked for at hint first.
    int Find(std::int32_t id, int hint) const;
    void Busy(std::int32_t id);
    void NotBusy(std::int32_t id);

    fw::TRxMemoryData& Table;
    std::function<TDriveOperations&()> Drives;
    std::unique_ptr<QObject> Receiver;
    std::unique_ptr<QTimer> Deadline;
    std::shared_ptr<TMailbox> Mailbox;
    TEchoProbes Probes;
    TDriveWorker Worker;
    std::unique_ptr<TPass> Pass;
    std::uint64_t PassCount = 0;
    bool TickDuringPass = false;
    TEchoProbes::TRequest NextEcho;
    // Records (by ID) with a request out or an outcome not yet posted: how
    // many each.
    std::unordered_map<std::int32_t, int> BusyRecords;
    // Outcomes and disconnections handed on and not yet done.
    int OpenWork = 0;
    int LateRequests = 0;
    // Drive work handed to the drive thread so far, and for each drive (in
    // upper case) the place of the last Disconnect queued for it.
    std::uint64_t QueuedJobs = 0;
    std::unordered_map<std::string, std::uint64_t> LastDisconnect;
    // Pairs (record, holder of its letter) already told of, by ID.
    std::set<std::pair<std::int32_t, std::int32_t>> Told;
};

}  // namespace quilvane
