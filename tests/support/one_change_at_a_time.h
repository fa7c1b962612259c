#pragma once
// The settings save as a sequence of the store's single writes: every delete
// and write of the save replaces the file on its own, in the order the
// settings file's description gives. It is the reference that the batched
// save must match byte for byte (tests) and beat (bench/ini_bench).

#include <string>

#include "framework/memory_data.h"
#include "ini/ini_store.h"
#include "monitor/connection_table.h"

namespace quilvane_test {

inline void SaveOneChangeAtATime(TzIni& ini, fw::TRxMemoryData& table, const std::string& url) {
    using namespace quilvane;
    const int old = ini.ReadInteger("DriveCount", 0);
    const char* const stems[] = {field::HostName, field::UserName, field::Password,
                                 field::UNC,      field::Drive,    field::MaxPing};
    for (int i = 0; i < old; ++i) {
        for (const char* stem : stems)
            ini.DeleteKey(stem + std::to_string(i));
    }
    ini.WriteString("UpGradeURL", url, true);
    ini.WriteInteger("DriveCount", table.RecordCount(), true);
    const TConnectionRecord r(table);
    table.First();
    for (int i = 0; !table.Eof(); ++i) {
        const std::string n = std::to_string(i);
        ini.WriteString(field::HostName + n, r.HostName.Value(), true);
        ini.WriteString(field::UserName + n, r.UserName.Value(), true);
        ini.WriteString(field::Password + n, r.Password.Value(), true);
        ini.WriteString(field::UNC + n, r.UNC.Value(), true);
        ini.WriteString(field::Drive + n, r.Drive.Value(), true);
        ini.WriteInteger(field::MaxPing + n, r.MaxPing.Value(), false);
        table.Next();
    }
}

}  // namespace quilvane_test
