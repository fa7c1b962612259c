#include "monitor/monitor_engine.h"

#include <QObject>
#include <QTimer>
#include <cctype>
#include <mutex>

#include "monitor/connection_table.h"

namespace quilvane {

// The way back to the main thread. Threads post through it; once the engine
// is gone (Receiver null) what they post is dropped, and what was posted but
// not yet delivered goes with the receiver.
struct TMonitorEngine::TMailbox {
    // Guards Receiver.
    std::mutex Lock;
    QObject* Receiver = nullptr;

    void Post(std::function<void()> call) {
        std::lock_guard lock(Lock);
        if (Receiver)
            QMetaObject::invokeMethod(Receiver, std::move(call), Qt::QueuedConnection);
    }
};

namespace {

const std::string* TextAt(const fw::TRxMemoryData& table, int recNo, const fw::TField& field) {
    return std::get_if<std::string>(&table.ValueAt(recNo, field.Index()));
}

std::optional<std::int32_t> IntegerAt(const fw::TRxMemoryData& table, int recNo,
                                      const fw::TField& field) {
    if (const auto* v = std::get_if<std::int32_t>(&table.ValueAt(recNo, field.Index())))
        return *v;
    return std::nullopt;
}

std::optional<bool> BooleanAt(const fw::TRxMemoryData& table, int recNo, const fw::TField& field) {
    if (const auto* v = std::get_if<bool>(&table.ValueAt(recNo, field.Index())))
        return *v;
    return std::nullopt;
}

// A record's values without moving the cursor (which the user may be
// moving in the grid).
TMonitorConfig ConfigAt(const fw::TRxMemoryData& table, int recNo) {
    const TConnectionRecord r(table);
    const auto text = [&](const auto& f) {
        const std::string* s = TextAt(table, recNo, f.Field());
        return s ? *s : std::string();
    };
    return {text(r.HostName), text(r.UserName),
            text(r.Password), text(r.Drive),
            text(r.UNC),      IntegerAt(table, recNo, r.MaxPing.Field()).value_or(0)};
}

TMonitorState StateAt(const fw::TRxMemoryData& table, int recNo) {
    const TConnectionRecord r(table);
    return {BooleanAt(table, recNo, r.Connected.Field()),
            IntegerAt(table, recNo, r.FalseCount.Field()),
            BooleanAt(table, recNo, r.Maped.Field())};
}

// A drive as a key: trimmed, in upper case.
std::string DriveKey(const std::string& drive) {
    std::string key = Trim(drive);
    for (char& c : key)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

std::int32_t IDAt(const fw::TRxMemoryData& table, int recNo) {
    return IntegerAt(table, recNo, TConnectionRecord(table).ID.Field()).value_or(0);
}

}  // namespace

TMonitorEngine::TMonitorEngine(fw::TRxMemoryData& table, std::function<TDriveOperations&()> drives)
    : Table(table),
      Drives(std::move(drives)),
      Receiver(std::make_unique<QObject>()),
      Deadline(std::make_unique<QTimer>()),
      Mailbox(std::make_shared<TMailbox>()) {
    Mailbox->Receiver = Receiver.get();
    Deadline->setSingleShot(true);
    QObject::connect(Deadline.get(), &QTimer::timeout, Receiver.get(), [this] { EndPings(); });
}

TMonitorEngine::~TMonitorEngine() {
    {
        std::lock_guard lock(Mailbox->Lock);
        Mailbox->Receiver = nullptr;
    }
    Worker.Stop(kEndWaitMs);
}

bool TMonitorEngine::PassRunning() const {
    return Pass != nullptr;
}

bool TMonitorEngine::Idle() const {
    return !Pass && BusyRecords.empty() && OpenWork == 0 && LateRequests == 0;
}

void TMonitorEngine::Busy(std::int32_t id) {
    ++BusyRecords[id];
}

void TMonitorEngine::NotBusy(std::int32_t id) {
    const auto it = BusyRecords.find(id);
    if (it != BusyRecords.end() && --it->second <= 0)
        BusyRecords.erase(it);
}

int TMonitorEngine::Find(std::int32_t id, int hint) const {
    const int count = Table.RecordCount();
    if (hint >= 1 && hint <= count && IDAt(Table, hint) == id)
        return hint;
    for (int n = 1; n <= count; ++n) {
        if (IDAt(Table, n) == id)
            return n;
    }
    return 0;
}

bool TMonitorEngine::StartPass(const TEchoProbes::TRequest& echo) {
    if (Pass) {
        TickDuringPass = true;
        NextEcho = echo;
        return false;
    }
    auto pass = std::make_unique<TPass>();
    pass->Number = ++PassCount;
    for (int n = 1; n <= Table.RecordCount(); ++n) {
        const std::int32_t id = IDAt(Table, n);
        if (BusyRecords.count(id))
            continue;
        pass->Entries.push_back({id, n, ConfigAt(Table, n), StateAt(Table, n), {}, false});
    }
    pass->Outstanding = static_cast<int>(pass->Entries.size());
    Pass = std::move(pass);
    if (Pass->Entries.empty()) {
        EndPings();
        return true;
    }
    const std::uint64_t number = Pass->Number;
    for (std::size_t i = 0; i < Pass->Entries.size(); ++i) {
        const TEntry& e = Pass->Entries[i];
        Busy(e.ID);
        TEchoProbes::TRequest request = echo;
        request.Address = e.Config.HostName;
        Probes.Probe(std::move(request),
                     [mailbox = Mailbox, this, number, i, id = e.ID](std::optional<int> status) {
                         mailbox->Post([=, this] { ProbeBack(number, i, id, status); });
                     });
    }
    // The name and the reply each get the time-out.
    Deadline->start(2 * std::max(echo.Timeout, 0) + 50);
    return true;
}

void TMonitorEngine::ProbeBack(std::uint64_t pass, std::size_t index, std::int32_t id,
                               std::optional<int> status) {
    if (!Pass || Pass->Number != pass) {
        // Back after its pass's deadline: the record may be probed again.
        --LateRequests;
        NotBusy(id);
        return;
    }
    TEntry& e = Pass->Entries[index];
    e.Status = status;
    e.Back = true;
    if (--Pass->Outstanding == 0)
        EndPings();
}

void TMonitorEngine::GiveLettersOut(std::vector<TEntry>& entries) {
    const int count = Table.RecordCount();
    std::vector<std::string> keys(static_cast<std::size_t>(count) + 1);
    std::unordered_map<std::string, int> holder;  // drive key -> record number
    for (int n = 1; n <= count; ++n) {
        keys[n] = DriveKey(ConfigAt(Table, n).Drive);
        if (!keys[n].empty() && StateAt(Table, n).Maped.value_or(false))
            holder.emplace(keys[n], n);
    }
    std::vector<int> answered(entries.size(), 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TEntry& e = entries[i];
        answered[i] = e.Back && e.Status == 1 ? Find(e.ID, e.RecNo) : 0;
        if (answered[i] != 0 && !keys[answered[i]].empty())
            holder.emplace(keys[answered[i]], answered[i]);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int n = answered[i];
        if (n == 0 || keys[n].empty() || holder.at(keys[n]) == n)
            continue;
        entries[i].Blocked = true;
        const int h = holder.at(keys[n]);
        if (!Told.emplace(entries[i].ID, IDAt(Table, h)).second || !OnNotice)
            continue;
        const TMonitorConfig mine = ConfigAt(Table, n);
        const TMonitorConfig theirs = ConfigAt(Table, h);
        OnNotice("record " + std::to_string(n) + " (" + mine.HostName + ", " + mine.UNC +
                 ") is not mapped: its drive " + keys[n] + " belongs to record " +
                 std::to_string(h) + " (" + theirs.HostName + ", " + theirs.UNC +
                 "); give each record a letter of its own");
    }
}

void TMonitorEngine::EndPings() {
    Deadline->stop();
    const std::unique_ptr<TPass> pass = std::move(Pass);
    GiveLettersOut(pass->Entries);
    for (TEntry& e : pass->Entries) {
        if (!e.Back) {
            // Stays busy until the request comes back.
            ++LateRequests;
            continue;
        }
        const int recNo = (e.Status == 0 || e.Status == 1) ? Find(e.ID, e.RecNo) : 0;
        if (recNo == 0 || ConfigAt(Table, recNo) != e.Config) {
            // No event (the name did not resolve), or the record went or
            // changed while its host was pinged: nothing to do.
            NotBusy(e.ID);
            continue;
        }
        e.State = StateAt(Table, recNo);
        e.RecNo = recNo;
        ++OpenWork;
        TDriveOperations& drives = Drives();
        const int status = *e.Status;
        if (e.Blocked) {
            e.State = {true, 0, false};
            Apply(e, status);
        } else if (!NeedsDrives(status, e.Config, e.State)) {
            // Counting a silent pass waits for nobody's drive work.
            EchoReplySteps(status, e.Config, e.State, drives);
            Apply(e, status);
        } else {
            e.Queued = ++QueuedJobs;
            Worker.Post([mailbox = Mailbox, this, &drives, e, status]() mutable {
                EchoReplySteps(status, e.Config, e.State, drives);
                mailbox->Post([=, this] { Apply(e, status); });
            });
        }
    }
    if (OnPassEnd)
        OnPassEnd();
    if (TickDuringPass) {
        TickDuringPass = false;
        StartPass(NextEcho);
    }
}

void TMonitorEngine::Apply(const TEntry& outcome, int status) {
    if (Table.State() != fw::TDataSetState::dsBrowse) {
        // A handler is changing a record and runs a nested loop (a box):
        // the outcome waits until the change is posted or dropped.
        QTimer::singleShot(100, Receiver.get(),
                           [this, outcome, status] { Apply(outcome, status); });
        return;
    }
    --OpenWork;
    NotBusy(outcome.ID);
    const int recNo = Find(outcome.ID, outcome.RecNo);
    if (recNo == 0 || ConfigAt(Table, recNo) != outcome.Config) {
        // Edited or deleted while its drive work ran. The editor drops the
        // old record's drive itself, queued after this work; a share mapped
        // for a record that is gone without that (a reloaded list) is
        // dropped here, unless its letter now belongs to another record.
        const bool mapped = status == 1 && outcome.State.Maped.value_or(false);
        const auto dropped = LastDisconnect.find(DriveKey(outcome.Config.Drive));
        bool handled = dropped != LastDisconnect.end() && dropped->second > outcome.Queued;
        for (int n = 1; n <= Table.RecordCount() && !handled; ++n)
            handled = SameDrive(ConfigAt(Table, n).Drive, outcome.Config.Drive);
        if (mapped && recNo == 0 && !handled)
            Disconnect(Trim(outcome.Config.Drive));
        return;
    }
    const int keep = Table.RecNo();
    Table.SetRecNo(recNo);
    PostState(Table, outcome.State);
    if (OnPost)
        OnPost(Table);
    Table.SetRecNo(keep);
}

void TMonitorEngine::Disconnect(const std::string& drive) {
    LastDisconnect[DriveKey(drive)] = ++QueuedJobs;
    ++OpenWork;
    TDriveOperations& drives = Drives();
    Worker.Post([mailbox = Mailbox, this, &drives, drive] {
        (void)drives.NetDel(drive);  // a failure is ignored, as the editor always did
        mailbox->Post([this] { --OpenWork; });
    });
}

}  // namespace quilvane
