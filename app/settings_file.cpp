#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quilvane {
namespace {

const char* const kRecordTexts[] = {"HostName", "UserName", "Password", "UNC", "Drive"};

}  // namespace

std::string SettingsFilePath(const std::string& exeDir) {
    std::string path = exeDir;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + "Quilvane.ini";
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
    infoFileURL = ini.ReadString("UpGradeURL", infoFileURL);
    const int count = ini.ReadInteger("DriveCount", 0);
    for (int i = 0; i < count; ++i) {
        const std::string index = std::to_string(i);
        table.Append();
        for (const char* key : kRecordTexts) {
            table.FieldByName(key).SetAsString(ini.ReadString(key + index, ""));
        }
        table.FieldByName("MaxPing").SetAsInteger(ini.ReadInteger("MaxPing" + index, 5));
        table.FieldByName("FalseCount").SetAsInteger(0);
        table.Post();
    }
}

void SaveSettings(TzIni& ini, fw::TRxMemoryData& table, const std::string& infoFileURL) {
    const int old = ini.ReadInteger("DriveCount", 0);
    for (int i = 0; i < old; ++i) {
        const std::string index = std::to_string(i);
        for (const char* key : kRecordTexts)
            ini.DeleteKey(key + index);
        ini.DeleteKey("MaxPing" + index);
    }
    ini.WriteString("UpGradeURL", infoFileURL, true);
    ini.WriteInteger("DriveCount", table.RecordCount(), true);
    table.First();
    for (int i = 0; !table.Eof(); ++i) {
        const std::string index = std::to_string(i);
        for (const char* key : kRecordTexts) {
            ini.WriteString(key + index, table.FieldByName(key).AsString(), true);
        }
        ini.WriteInteger("MaxPing" + index, table.FieldByName("MaxPing").AsInteger(), false);
        table.Next();
    }
}

}  // namespace quilvane
