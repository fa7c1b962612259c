#include "app/monitor_cycle.h"

#include "app/connection_table.h"
#include "app/net_drive.h"
#include "platform/file.h"

namespace quilvane {

namespace {

class RealDrives : public TDriveOperations {
public:
    bool NetUse(const std::string& Drive, const std::string& RemoteName,
                const std::string& Password, const std::string& UserName) override {
        return quilvane::NetUse(Drive, RemoteName, Password, UserName);
    }
    bool NetDel(const std::string& Drive) override { return quilvane::NetDel(Drive); }
    std::string PathForDrive(const std::string& Drive) override {
        return quilvane::PathForDrive(Drive);
    }
    bool FolderExists(const std::string& Path) override {
        const win::DWORD attributes = win::GetFileAttributesA(Path.c_str());
        return attributes != win::INVALID_FILE_ATTRIBUTES &&
               (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
};

void NoReply(fw::TRxMemoryData& table, TDriveOperations& drives) {
    const TConnectionRecord r(table);
    table.Edit();
    if (r.FalseCount.Value() >= r.MaxPing.Value()) {
        if (r.Maped.Value() && drives.NetDel(Trim(r.Drive.Value())))
            r.Maped.Set(false);
        r.FalseCount.Set(0);
    }
    r.Connected.Set(false);
    // Wraps instead of overflowing on a count that can never be reached in
    // practice (2^31 silent passes).
    r.FalseCount.Set(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(r.FalseCount.Value()) + 1u));
    table.Post();
}

void Reply(fw::TRxMemoryData& table, TDriveOperations& drives) {
    const TConnectionRecord r(table);
    table.Edit();
    const std::string drive = r.Drive.Value();
    const std::string expected = "\\\\" + r.HostName.Value() + "\\" + r.UNC.Value();
    const std::string current = drives.PathForDrive(drive);
    if (current != expected) {
        // Taking the letter over: whether the old connection went is seen in
        // NetUse's result.
        if (!current.empty())
            drives.NetDel(Trim(drive));
        r.Maped.Set(drives.NetUse(Trim(drive), Trim(expected), Trim(r.Password.Value()),
                                  Trim(r.UserName.Value())));
    } else if (drives.FolderExists(Trim(drive + "\\"))) {
        r.Maped.Set(true);
    } else {
        // A stale mapping is dropped now and made again at the next answer.
        drives.NetDel(Trim(drive));
        r.Maped.Set(false);
    }
    r.Connected.Set(true);
    r.FalseCount.Set(0);
    table.Post();
}

}  // namespace

TDriveOperations& RealDriveOperations() {
    static RealDrives drives;
    return drives;
}

std::string Trim(const std::string& text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

void MonitorPass(fw::TRxMemoryData& table, const std::function<void(const std::string&)>& ping) {
    const TConnectionRecord r(table);
    table.First();
    while (!table.Eof()) {
        ping(r.HostName.Value());
        table.Next();
    }
}

bool HandleEchoReply(fw::TRxMemoryData& table, TDriveOperations& drives, int Status) {
    // Edit on an empty table would start a new record; there is none to update.
    if (table.IsEmpty())
        return false;
    switch (Status) {
        case 0:
            NoReply(table, drives);
            return true;
        case 1:
            Reply(table, drives);
            return true;
        default:
            return false;
    }
}

}  // namespace quilvane
