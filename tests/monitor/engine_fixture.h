#pragma once
// What the monitor engine's tests share: drive operations over an in-memory
// list that the drive thread may call while the test reads them (and whose
// NetUse can be held), records made in one line, and the grid's view of the
// monitor fields.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"

namespace quilvane {

// An in-memory list of connections; NetUse waits while Hold is set. Every
// call is logged with its arguments.
class GatedDrives : public TDriveOperations {
public:
    explicit GatedDrives(std::map<std::string, std::string> connections = {})
        : Connections(std::move(connections)) {}

    bool NetUse(const std::string& Drive, const std::string& RemoteName, const std::string&,
                const std::string&) override {
        std::unique_lock lock(Lock);
        Calls.push_back("NetUse " + Drive + " " + RemoteName);
        ++InNetUse;
        Changed.notify_all();
        Changed.wait(lock, [this] { return !Hold; });
        --InNetUse;
        ++NetUsesDone;
        Changed.notify_all();
        if (Connections.count(Drive))
            return false;
        Connections[Drive] = RemoteName;
        return true;
    }
    bool NetDel(const std::string& Drive) override {
        std::lock_guard lock(Lock);
        Calls.push_back("NetDel " + Drive);
        return Connections.erase(Drive) == 1;
    }
    std::string PathForDrive(const std::string& Drive) override {
        std::lock_guard lock(Lock);
        Calls.push_back("PathForDrive " + Drive);
        const auto it = Connections.find(Drive);
        return it == Connections.end() ? "" : it->second;
    }
    bool FolderExists(const std::string& Path) override {
        std::lock_guard lock(Lock);
        Calls.push_back("FolderExists " + Path);
        return !FolderGone && Connections.count(Path.substr(0, 2));
    }

    void SetHold(bool hold) {
        std::lock_guard lock(Lock);
        Hold = hold;
        Changed.notify_all();
    }
    // Delivers the main thread's events (the pings' results) until a NetUse
    // waits at the gate.
    bool WaitInNetUse() {
        const QDeadlineTimer deadline(20000);
        for (;;) {
            {
                std::lock_guard lock(Lock);
                if (InNetUse > 0)
                    return true;
            }
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    }
    bool WaitNetUsesDone(int n) {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(20), [&] { return NetUsesDone >= n; });
    }
    std::vector<std::string> Log() {
        std::lock_guard lock(Lock);
        return Calls;
    }
    std::map<std::string, std::string> Mapped() {
        std::lock_guard lock(Lock);
        return Connections;
    }

    bool FolderGone = false;

private:
    // Guards every field below.
    std::mutex Lock;
    std::condition_variable Changed;
    std::map<std::string, std::string> Connections;
    std::vector<std::string> Calls;
    bool Hold = false;
    int InNetUse = 0;
    int NetUsesDone = 0;
};

struct Rec {
    std::string host, drive, unc = "data";
    int maxPing = 5;
};

inline void Append(fw::TRxMemoryData& table, const Rec& r) {
    const TConnectionRecord f(table);
    table.Append();
    f.HostName.Set(r.host);
    f.Drive.Set(r.drive);
    f.UNC.Set(r.unc);
    f.UserName.Set("u");
    f.Password.Set("p");
    f.MaxPing.Set(r.maxPing);
    f.FalseCount.Set(0);
    table.Post();
}

// "Connected/FalseCount/Maped" of every record, as the grid shows them.
inline std::vector<std::string> States(fw::TRxMemoryData& table) {
    std::vector<std::string> states;
    const int keep = table.RecNo();
    const TConnectionRecord f(table);
    for (table.First(); !table.Eof(); table.Next())
        states.push_back(f.Connected.DisplayText() + "/" + f.FalseCount.DisplayText() + "/" +
                         f.Maped.DisplayText());
    table.SetRecNo(keep);
    return states;
}

}  // namespace quilvane
