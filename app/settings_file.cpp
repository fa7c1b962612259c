#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "ini/ini_text.h"
#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"

namespace quilvane {
namespace {

// A grid on the table is redrawn once, when the object goes, not once per
// record.
struct TControlsHeld {
    fw::TRxMemoryData& Table;
    explicit TControlsHeld(fw::TRxMemoryData& table) : Table(table) { Table.DisableControls(); }
    ~TControlsHeld() { Table.EnableControls(); }
    TControlsHeld(const TControlsHeld&) = delete;
    TControlsHeld& operator=(const TControlsHeld&) = delete;
};

// The stems of the per-record keys, in the order a record's lines are written.
const char* const kRecordStems[] = {field::HostName, field::UserName, field::Password,
                                    field::UNC,      field::Drive,    field::MaxPing};

// The per-record key `name` stands for, as (index, stem), when it is one of
// the stems followed by an index below `below` in decimal without leading
// zeros; matched as the store matches names.
std::optional<std::pair<std::int64_t, int>> RecordKey(std::string_view name, std::int64_t below) {
    std::size_t digits = 0;
    while (digits < name.size() && digits < 11 && name[name.size() - 1 - digits] >= '0' &&
           name[name.size() - 1 - digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 10 || digits == name.size())
        return std::nullopt;
    const std::string_view number = name.substr(name.size() - digits);
    if (number.size() > 1 && number[0] == '0')
        return std::nullopt;
    std::int64_t index = 0;
    for (const char c : number)
        index = index * 10 + (c - '0');
    if (index >= below)
        return std::nullopt;
    for (int stem = 0; stem < static_cast<int>(std::size(kRecordStems)); ++stem) {
        if (zini::SameName(name, kRecordStems[stem] + std::string(number)))
            return std::make_pair(index, stem);
    }
    return std::nullopt;
}

}  // namespace

void SetUpSettingsStore(TzIni& ini) {
    ini.SetFormSave(fsfNone);
    ini.SetFileNameAutoSet(fspNone);
    ini.SetEncryptValues(true);
}

win::FileLock SettingsChangeLock(const std::string& settingsPath) {
    return win::FileLock(settingsPath + ".lock", 0644, SettingsLockWait);
}

win::FileLock WindowRunningGuard(const std::string& settingsPath) {
    return win::FileLock(settingsPath + ".running", 0644, std::chrono::seconds(2), true);
}

bool WindowRunning(const std::string& settingsPath) {
    return win::FileLockBusy(settingsPath + ".running");
}

std::string SettingsLockProblem(const std::string& settingsPath, int err) {
    switch (err) {
        case ETIMEDOUT:
            return "another Quilvane process has been changing " + settingsPath + " for " +
                   std::to_string(SettingsLockWait.count()) + " seconds (it holds " + settingsPath +
                   ".lock); try again when it is done";
        case ELOOP:
        case EPERM:
        case EINVAL:
            return "the lock files beside " + settingsPath +
                   " (.lock, .running) must be regular files of this user's that no one else "
                   "may write, not links; remove the ones in the way";
        default:
            return "cannot lock " + settingsPath + ": " + std::strerror(err);
    }
}

std::string SettingsFilePath(const std::string& exeDir) {
    std::string path = exeDir;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + "Quilvane.ini";
}

int LoadedRecordCount(const TzIniEntries& entries) {
    const std::int32_t count = entries.ReadInteger("DriveCount", 0);
    if (count <= MaxLoadedRecords)
        return count;
    // No list is that long: the count is damaged. The records the file holds
    // are kept.
    std::int64_t highest = -1;
    for (const std::string_view name : entries.Names()) {
        if (const auto key = RecordKey(name, MaxLoadedRecords))
            highest = std::max(highest, key->first);
    }
    return static_cast<int>(highest + 1);
}

void LoadSettings(TzIni& ini, fw::TRxMemoryData& table, std::string& infoFileURL,
                  const std::string& exeDir) {
    const std::string path = SettingsFilePath(exeDir);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Owner-only: the file will hold passwords. A failure shows later, on
        // the first save.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    ini.SetFileName(path);
    // One read of the file answers every name.
    const TzIniEntries entries = ini.ReadEntries();
    infoFileURL = entries.ReadString("UpGradeURL", infoFileURL);
    const int count = LoadedRecordCount(entries);
    const TConnectionRecord r(table);
    const TControlsHeld held(table);
    for (int i = 0; i < count; ++i) {
        const std::string index = std::to_string(i);
        table.Append();
        for (const TRecordField<std::string>* text :
             {&r.HostName, &r.UserName, &r.Password, &r.UNC, &r.Drive}) {
            text->Set(entries.ReadString(text->Name() + index, ""));
        }
        r.MaxPing.Set(entries.ReadInteger(r.MaxPing.Name() + index, 5));
        r.FalseCount.Set(0);
        table.Post();
    }
}

void SaveSettings(TzIni& ini, fw::TRxMemoryData& table, const std::string& infoFileURL) {
    const int old = ini.ReadInteger("DriveCount", 0);
    const TConnectionRecord r(table);
    TzIniBatch batch(ini);
    // The old records' keys, each removed once, as deleting every key of
    // every index below the old count would: only keys the file holds can go,
    // so a damaged count costs nothing.
    std::set<std::pair<std::int64_t, int>> stale;
    for (const std::string_view name : ini.WorkingNames()) {
        if (const auto key = RecordKey(name, old))
            stale.insert(*key);
    }
    for (const auto& [index, stem] : stale)
        ini.DeleteKey(kRecordStems[stem] + std::to_string(index));
    ini.WriteString("UpGradeURL", infoFileURL, true);
    ini.WriteInteger("DriveCount", table.RecordCount(), true);
    table.First();
    for (int i = 0; !table.Eof(); ++i) {
        const std::string index = std::to_string(i);
        for (const TRecordField<std::string>* text :
             {&r.HostName, &r.UserName, &r.Password, &r.UNC, &r.Drive}) {
            ini.WriteString(text->Name() + index, text->Value(), true);
        }
        ini.WriteInteger(r.MaxPing.Name() + index, r.MaxPing.Value(), false);
        table.Next();
    }
    batch.Commit();
}

namespace {

// A record's stored fields and the monitor's state of it.
struct TReloadedRecord {
    TMonitorConfig Config;
    TMonitorState State;
};

std::vector<TReloadedRecord> Records(fw::TRxMemoryData& table) {
    std::vector<TReloadedRecord> out;
    for (table.First(); !table.Eof(); table.Next())
        out.push_back({ReadConfig(table), ReadState(table)});
    return out;
}

}  // namespace

int ReloadSettings(TzIni& ini, fw::TRxMemoryData& table, std::string& infoFileURL,
                   const std::string& exeDir,
                   const std::function<void(const std::string& drive)>& disconnect) {
    fw::TRxMemoryData loaded(nullptr, ConnectionFields());
    std::string url = infoFileURL;
    LoadSettings(ini, loaded, url, exeDir);
    std::vector<TReloadedRecord> fresh = Records(loaded);
    std::vector<TReloadedRecord> old = Records(table);
    std::vector<bool> kept(old.size(), false);
    for (TReloadedRecord& rec : fresh) {
        for (std::size_t i = 0; i < old.size(); ++i) {
            if (!kept[i] && old[i].Config == rec.Config) {
                kept[i] = true;
                rec.State = old[i].State;
                break;
            }
        }
    }

    const TConnectionRecord r(table);
    {
        const TControlsHeld held(table);
        while (!table.IsEmpty())
            table.Delete();
        for (const TReloadedRecord& rec : fresh) {
            table.Append();
            r.HostName.Set(rec.Config.HostName);
            r.UserName.Set(rec.Config.UserName);
            r.Password.Set(rec.Config.Password);
            r.UNC.Set(rec.Config.UNC);
            r.Drive.Set(rec.Config.Drive);
            r.MaxPing.Set(rec.Config.MaxPing);
            if (rec.State.Connected)
                r.Connected.Set(*rec.State.Connected);
            if (rec.State.Maped)
                r.Maped.Set(*rec.State.Maped);
            r.FalseCount.Set(rec.State.FalseCount.value_or(0));
            table.Post();
        }
    }
    infoFileURL = url;

    for (std::size_t i = 0; i < old.size(); ++i) {
        if (kept[i] || !old[i].State.Maped.value_or(false))
            continue;
        const std::string drive = Trim(old[i].Config.Drive);
        const bool stillHeld = std::any_of(fresh.begin(), fresh.end(), [&](const auto& rec) {
            return rec.State.Maped.value_or(false) && SameDrive(rec.Config.Drive, drive);
        });
        if (!stillHeld)
            disconnect(drive);
    }
    return table.RecordCount();
}

}  // namespace quilvane
