#include "monitor/monitor_cycle.h"

#include <algorithm>
#include <cctype>

#include "monitor/connection_table.h"
#include "monitor/net_drive.h"
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

void NoReplySteps(const TMonitorConfig& config, TMonitorState& state, TDriveOperations& drives) {
    std::int32_t falseCount = state.FalseCount.value_or(0);
    if (falseCount >= config.MaxPing) {
        if (state.Maped.value_or(false) && drives.NetDel(Trim(config.Drive)))
            state.Maped = false;
        falseCount = 0;
    }
    state.Connected = false;
    // Wraps instead of overflowing on a count that can never be reached in
    // practice (2^31 silent passes).
    state.FalseCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(falseCount) + 1u);
}

void ReplySteps(const TMonitorConfig& config, TMonitorState& state, TDriveOperations& drives) {
    const std::string& drive = config.Drive;
    const std::string expected = "\\\\" + config.HostName + "\\" + config.UNC;
    const std::string current = drives.PathForDrive(drive);
    if (current != expected) {
        // Taking the letter over: whether the old connection went is seen in
        // NetUse's result.
        if (!current.empty())
            drives.NetDel(Trim(drive));
        state.Maped = drives.NetUse(Trim(drive), Trim(expected), Trim(config.Password),
                                    Trim(config.UserName));
    } else if (drives.FolderExists(Trim(drive + "\\"))) {
        state.Maped = true;
    } else {
        // A stale mapping is dropped now and made again at the next answer.
        drives.NetDel(Trim(drive));
        state.Maped = false;
    }
    state.Connected = true;
    state.FalseCount = 0;
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

bool SameDrive(const std::string& a, const std::string& b) {
    const std::string x = Trim(a);
    const std::string y = Trim(b);
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
        return std::toupper(static_cast<unsigned char>(p)) ==
               std::toupper(static_cast<unsigned char>(q));
    });
}

TMonitorConfig ReadConfig(const fw::TRxMemoryData& table) {
    const TConnectionRecord r(table);
    return {r.HostName.Value(), r.UserName.Value(), r.Password.Value(),
            r.Drive.Value(),    r.UNC.Value(),      r.MaxPing.Value()};
}

TMonitorState ReadState(const fw::TRxMemoryData& table) {
    const TConnectionRecord r(table);
    TMonitorState state;
    if (!r.Connected.Field().IsNull())
        state.Connected = r.Connected.Value();
    if (!r.FalseCount.Field().IsNull())
        state.FalseCount = r.FalseCount.Value();
    if (!r.Maped.Field().IsNull())
        state.Maped = r.Maped.Value();
    return state;
}

void PostState(fw::TRxMemoryData& table, const TMonitorState& state) {
    const TConnectionRecord r(table);
    table.Edit();
    if (state.Connected)
        r.Connected.Set(*state.Connected);
    if (state.FalseCount)
        r.FalseCount.Set(*state.FalseCount);
    if (state.Maped)
        r.Maped.Set(*state.Maped);
    table.Post();
}

bool NeedsDrives(int Status, const TMonitorConfig& config, const TMonitorState& state) {
    if (Status == 1)
        return true;
    return Status == 0 && state.FalseCount.value_or(0) >= config.MaxPing &&
           state.Maped.value_or(false);
}

bool EchoReplySteps(int Status, const TMonitorConfig& config, TMonitorState& state,
                    TDriveOperations& drives) {
    switch (Status) {
        case 0:
            NoReplySteps(config, state, drives);
            return true;
        case 1:
            ReplySteps(config, state, drives);
            return true;
        default:
            return false;
    }
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
    TMonitorState state = ReadState(table);
    if (!EchoReplySteps(Status, ReadConfig(table), state, drives))
        return false;
    PostState(table, state);
    return true;
}

}  // namespace quilvane
